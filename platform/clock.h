// Time for the whole system: a 64-bit monotonic millisecond clock (it does not wrap after
// 49.7 days the way a 32-bit tick count does), a high-resolution performance counter, and
// short sleeps. All of it goes through one installable Clock so that tests can run code
// that spins on the clock against a virtual clock with exact times.
#pragma once

#include <cstdint>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary fixed start; never goes backwards.
  virtual uint64_t Milliseconds() = 0;
  // Performance counter ticks since an arbitrary fixed start; never goes backwards.
  virtual int64_t PerformanceCounter() = 0;
  // Ticks of PerformanceCounter per second; constant for the life of the clock.
  virtual int64_t PerformanceFrequency() = 0;
  // Blocks the calling thread for about `microseconds` (a virtual clock advances instead).
  virtual void SleepMicroseconds(uint64_t microseconds) = 0;
};

// The clock the system uses: the installed one, else the real monotonic clock.
Clock& CurrentClock();
// Installs `clock` for the whole process (nullptr restores the real clock). The caller keeps
// ownership and must uninstall it before destroying it. Not thread-safe: install before use.
void InstallClock(Clock* clock);

// Shorthands on CurrentClock().
inline uint64_t NowMs() { return CurrentClock().Milliseconds(); }
inline int64_t PerfCounter() { return CurrentClock().PerformanceCounter(); }
inline int64_t PerfFrequency() { return CurrentClock().PerformanceFrequency(); }
inline void SleepMs(uint64_t ms) { CurrentClock().SleepMicroseconds(ms * 1000); }
inline void SleepUs(uint64_t us) { CurrentClock().SleepMicroseconds(us); }

// The real clock: CLOCK_MONOTONIC in milliseconds and nanoseconds (frequency 1e9).
Clock& SystemClock();

// A clock for tests. Every read of Milliseconds() returns the current time and then advances
// it by `ms_step`; every read of PerformanceCounter() does the same with `counter_step`.
// Sleeping advances the time by the sleep (rounded up to whole milliseconds for the
// millisecond clock). Set() and Advance() move it by hand.
class VirtualClock : public Clock {
 public:
  explicit VirtualClock(uint64_t start_ms = 0, uint64_t ms_step = 0, int64_t counter_step = 0,
                        int64_t frequency = 1000000)
      : ms_(start_ms), ms_step_(ms_step), counter_step_(counter_step), frequency_(frequency) {}

  uint64_t Milliseconds() override;
  int64_t PerformanceCounter() override;
  int64_t PerformanceFrequency() override { return frequency_; }
  void SleepMicroseconds(uint64_t microseconds) override;

  void Set(uint64_t ms) { ms_ = ms; }
  void Advance(uint64_t ms) { ms_ += ms; }
  void SetMsStep(uint64_t step) { ms_step_ = step; }
  void SetCounter(int64_t ticks) { counter_ = ticks; }
  void SetCounterStep(int64_t step) { counter_step_ = step; }
  uint64_t Peek() const { return ms_; }
  int64_t PeekCounter() const { return counter_; }

 private:
  uint64_t ms_;
  uint64_t ms_step_;
  int64_t counter_ = 0;
  int64_t counter_step_;
  int64_t frequency_;
};

// Installs a clock for the lifetime of the object and restores the previous one after.
class ScopedClock {
 public:
  explicit ScopedClock(Clock& clock);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Clock* previous_;
};

}  // namespace platform
