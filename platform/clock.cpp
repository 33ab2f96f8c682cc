#include "platform/clock.h"

#include <ctime>

#include <cerrno>

namespace platform {
namespace {

class MonotonicClock : public Clock {
 public:
  uint64_t Milliseconds() override { return static_cast<uint64_t>(Nanos() / 1000000); }
  int64_t PerformanceCounter() override { return Nanos(); }
  int64_t PerformanceFrequency() override { return 1000000000; }
  void SleepMicroseconds(uint64_t microseconds) override {
    timespec ts{static_cast<time_t>(microseconds / 1000000),
                static_cast<long>((microseconds % 1000000) * 1000)};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }

 private:
  static int64_t Nanos() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  }
};

Clock* g_installed = nullptr;

}  // namespace

Clock& SystemClock() {
  static MonotonicClock clock;
  return clock;
}

Clock& CurrentClock() { return g_installed ? *g_installed : SystemClock(); }

void InstallClock(Clock* clock) { g_installed = clock; }

uint64_t VirtualClock::Milliseconds() {
  uint64_t now = ms_;
  ms_ += ms_step_;
  return now;
}

int64_t VirtualClock::PerformanceCounter() {
  int64_t now = counter_;
  counter_ += counter_step_;
  return now;
}

void VirtualClock::SleepMicroseconds(uint64_t microseconds) {
  ms_ += (microseconds + 999) / 1000;
  counter_ += static_cast<int64_t>(microseconds) * frequency_ / 1000000;
}

ScopedClock::ScopedClock(Clock& clock) : previous_(g_installed) { g_installed = &clock; }
ScopedClock::~ScopedClock() { g_installed = previous_; }

}  // namespace platform
