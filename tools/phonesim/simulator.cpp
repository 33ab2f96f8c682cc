#include "tools/phonesim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <system_error>

#include "platform/clock.h"
#include "platform/text.h"

namespace phone::sim {
namespace {

constexpr char kOk[] = "\r\nOK\r\n";
constexpr char kError[] = "\r\nERROR\r\n";
constexpr char kTrickleText[] = "busy\r\n";

uint64_t RealNow() {
  return platform::SystemClock().Milliseconds();
}

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

std::string CmsError(int code) {
  return "\r\n+CMS ERROR: " + std::to_string(code) + "\r\n";
}

std::string Info(const std::string& text) {
  return "\r\n" + text + "\r\n" + kOk;
}

bool StartsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

// The decimal number that makes up all of `s`, or nullopt.
std::optional<int> Number(const std::string& s) {
  int value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return value;
}

// Octets of the TPDU in a PDU text (the service-centre address not counted), as phones
// report it in the +CMGR header.
int TpduLength(const std::string& pdu) {
  int smsc = 0;
  if (pdu.size() >= 2) std::from_chars(pdu.data(), pdu.data() + 2, smsc, 16);
  return std::max(0, static_cast<int>(pdu.size() / 2) - 1 - smsc);
}

}  // namespace

PhoneSimulator::PhoneSimulator() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) ThrowErrno("posix_openpt");
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name))
    ThrowErrno("pseudo-terminal setup");
  device_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) ThrowErrno("open pseudo-terminal");
  termios t{};
  if (tcgetattr(slave_, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) ThrowErrno("pipe2");
  thread_ = std::thread([this] { Run(); });
}

PhoneSimulator::~PhoneSimulator() {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  Wake();
  thread_.join();
  for (int fd : {master_, slave_, wake_[0], wake_[1]})
    if (fd >= 0) ::close(fd);
}

void PhoneSimulator::SetManufacturer(std::string text) {
  std::lock_guard lock(mu_);
  maker_ = std::move(text);
}

void PhoneSimulator::SetModel(std::string text) {
  std::lock_guard lock(mu_);
  model_ = std::move(text);
}

void PhoneSimulator::SetSlotCount(int count) {
  std::lock_guard lock(mu_);
  slot_count_ = count;
  std::erase_if(slots_, [count](const auto& s) { return s.first > count; });
}

int PhoneSimulator::SlotCount() const {
  std::lock_guard lock(mu_);
  return slot_count_;
}

void PhoneSimulator::SetSlot(int index, int status, std::string pdu) {
  std::lock_guard lock(mu_);
  if (index >= 1 && index <= slot_count_) slots_[index] = SimSlot{status, std::move(pdu)};
}

void PhoneSimulator::ClearSlot(int index) {
  std::lock_guard lock(mu_);
  slots_.erase(index);
}

std::optional<SimSlot> PhoneSimulator::Slot(int index) const {
  std::lock_guard lock(mu_);
  auto it = slots_.find(index);
  if (it == slots_.end()) return std::nullopt;
  return it->second;
}

void PhoneSimulator::SetPin(std::string pin, int tries) {
  std::lock_guard lock(mu_);
  pin_ = std::move(pin);
  pin_tries_ = tries;
  sim_ready_ = pin_.empty();
}

void PhoneSimulator::SetNetwork(bool available) {
  std::lock_guard lock(mu_);
  network_ = available;
}

void PhoneSimulator::SetEcho(bool on) {
  std::lock_guard lock(mu_);
  echo_ = on;
}

void PhoneSimulator::SetBehaviour(std::string command_prefix, Behaviour behaviour) {
  std::lock_guard lock(mu_);
  rules_[platform::AnsiUpper(command_prefix)] = behaviour;
  trickling_ = false;
}

void PhoneSimulator::ClearBehaviours() {
  std::lock_guard lock(mu_);
  rules_.clear();
  late_.reset();
  trickling_ = false;
}

void PhoneSimulator::AnswerLate(LateAnswer late) {
  std::lock_guard lock(mu_);
  late.command = platform::AnsiUpper(late.command);
  late_ = std::move(late);
  commands_since_late_ = 0;
}

void PhoneSimulator::SetReading(bool on) {
  {
    std::lock_guard lock(mu_);
    reading_ = on;
  }
  Wake();
}

void PhoneSimulator::Unplug() {
  std::unique_lock lock(mu_);
  unplug_ = true;
  lock.unlock();
  Wake();
  lock.lock();
  changed_.wait(lock, [&] { return unplugged_ || stop_; });
}

bool PhoneSimulator::Unplugged() const {
  std::lock_guard lock(mu_);
  return unplugged_;
}

void PhoneSimulator::CloseIfUnplugged() {
  if (!unplug_ || unplugged_) return;
  ::close(master_);
  ::close(slave_);
  master_ = slave_ = -1;
  outbox_.clear();
  held_.clear();
  trickling_ = false;
  unplugged_ = true;
  changed_.notify_all();
}

void PhoneSimulator::SendRaw(std::string bytes) {
  {
    std::lock_guard lock(mu_);
    Queue(RealNow(), std::move(bytes));
  }
  Wake();
}

std::vector<ReceivedLine> PhoneSimulator::Log() const {
  std::lock_guard lock(mu_);
  return log_;
}

std::vector<std::string> PhoneSimulator::LogTexts() const {
  std::lock_guard lock(mu_);
  std::vector<std::string> texts;
  for (const auto& line : log_) texts.push_back(line.text);
  return texts;
}

std::string PhoneSimulator::RawReceived() const {
  std::lock_guard lock(mu_);
  return raw_;
}

void PhoneSimulator::ClearLog() {
  std::lock_guard lock(mu_);
  log_.clear();
  raw_.clear();
}

bool PhoneSimulator::WaitForLines(size_t count, int timeout_ms) const {
  std::unique_lock lock(mu_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return log_.size() >= count; });
}

bool PhoneSimulator::WaitUntilSent(int timeout_ms) const {
  std::unique_lock lock(mu_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return outbox_.empty() && held_.empty(); });
}

void PhoneSimulator::OnLine(std::function<void(const ReceivedLine&)> callback) {
  std::lock_guard lock(mu_);
  on_line_ = std::move(callback);
}

void PhoneSimulator::Wake() {
  char c = 1;
  (void)!::write(wake_[1], &c, 1);
}

void PhoneSimulator::Queue(uint64_t due_ms, std::string bytes) {
  if (bytes.empty()) return;
  // A phone answers one command after the other: nothing overtakes what is queued.
  if (!outbox_.empty()) due_ms = std::max(due_ms, outbox_.back().due_ms);
  outbox_.push_back({due_ms, std::move(bytes)});
}

void PhoneSimulator::Run() {
  for (;;) {
    bool want_read, want_write = false;
    int timeout = -1;
    {
      std::lock_guard lock(mu_);
      if (stop_) return;
      CloseIfUnplugged();
      const uint64_t now = RealNow();
      Flush(now);
      if (!held_.empty() && busy_until_ <= now) {
        std::vector<std::string> lines;
        lines.swap(held_);
        for (size_t i = 0; i < lines.size(); ++i) {
          if (busy_until_ > now) {  // one of them is answered late too: the rest wait again
            held_.assign(lines.begin() + static_cast<std::ptrdiff_t>(i), lines.end());
            break;
          }
          Process(lines[i], now);
        }
        Flush(now);
        changed_.notify_all();
      }
      want_read = reading_;
      auto until = [&](uint64_t due) {
        int ms = due <= now ? 0 : static_cast<int>(due - now);
        timeout = timeout < 0 ? ms : std::min(timeout, ms);
      };
      if (!outbox_.empty()) {
        if (outbox_.front().due_ms <= now)
          want_write = true;  // the line is full: wait until it takes more
        else
          until(outbox_.front().due_ms);
      }
      if (trickling_) until(trickle_due_);
      if (!held_.empty()) until(busy_until_);
    }
    pollfd fds[2] = {{wake_[0], POLLIN, 0}, {master_, 0, 0}};
    if (want_read) fds[1].events |= POLLIN;
    if (want_write) fds[1].events |= POLLOUT;
    const nfds_t count = master_ >= 0 ? 2 : 1;
    if (poll(fds, count, timeout) < 0 && errno != EINTR) return;
    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (::read(wake_[0], drain, sizeof drain) > 0) {
      }
    }
    if (count == 2 && (fds[1].revents & POLLIN)) {
      char buf[4096];
      ssize_t n = ::read(master_, buf, sizeof buf);
      if (n > 0) {
        std::lock_guard lock(mu_);
        HandleBytes(buf, static_cast<size_t>(n), RealNow());
      }
    }
  }
}

void PhoneSimulator::Flush(uint64_t now) {
  if (master_ < 0) return;
  while (!outbox_.empty() && outbox_.front().due_ms <= now) {
    std::string& bytes = outbox_.front().bytes;
    ssize_t n = ::write(master_, bytes.data(), bytes.size());
    if (n < 0) return;  // full (or no reader): the rest waits
    bytes.erase(0, static_cast<size_t>(n));
    if (!bytes.empty()) return;
    outbox_.erase(outbox_.begin());
    changed_.notify_all();
  }
  while (trickling_ && outbox_.empty() && trickle_due_ <= now) {
    char c = kTrickleText[trickle_pos_ % (sizeof kTrickleText - 1)];
    if (::write(master_, &c, 1) != 1) return;
    ++trickle_pos_;
    trickle_due_ += static_cast<uint64_t>(trickle_interval_);
  }
}

void PhoneSimulator::HandleBytes(const char* data, size_t n, uint64_t now) {
  raw_.append(data, n);
  for (size_t i = 0; i < n; ++i) {
    if (data[i] == '\r') {
      std::string line;
      line.swap(partial_);
      HandleLine(line, now);
    } else if (data[i] != '\n') {
      partial_ += data[i];
    }
  }
  changed_.notify_all();
}

const Behaviour* PhoneSimulator::RuleFor(const std::string& upper) const {
  const Behaviour* best = nullptr;
  size_t best_len = 0;
  for (const auto& [prefix, behaviour] : rules_) {
    if (StartsWith(upper, prefix.c_str()) && (!best || prefix.size() >= best_len)) {
      best = &behaviour;
      best_len = prefix.size();
    }
  }
  return best;
}

void PhoneSimulator::HandleLine(const std::string& line, uint64_t now) {
  log_.push_back({now, line});
  if (on_line_) on_line_(log_.back());
  trickling_ = false;
  if (line.empty()) return;
  if (busy_until_ > now || !held_.empty()) {
    held_.push_back(line);
    return;
  }
  Process(line, now);
}

void PhoneSimulator::Process(const std::string& line, uint64_t now) {
  const std::string upper = platform::AnsiUpper(line);
  int delay_ms = 0;
  if (late_) {
    ++commands_since_late_;
    if (late_->command.empty() ? commands_since_late_ == late_->nth : upper == late_->command) {
      delay_ms = late_->delay_ms;
      late_.reset();
    }
  }
  const Behaviour* rule = RuleFor(upper);
  const Behaviour behaviour = rule ? *rule : Behaviour{};
  if (delay_ms == 0) delay_ms = behaviour.delay_ms;
  if (behaviour.kind == Behaviour::kSilent) return;
  if (behaviour.kind == Behaviour::kUnplug) {
    unplug_ = true;  // the thread closes the pseudo-terminal before it polls again
    return;
  }
  if (echo_) Queue(now, line + "\r");
  const uint64_t due = now + static_cast<uint64_t>(std::max(0, delay_ms));
  if (due > now) busy_until_ = due;
  switch (behaviour.kind) {
    case Behaviour::kError:
      Queue(due, kError);
      break;
    case Behaviour::kCmsError:
      Queue(due, CmsError(behaviour.cms_error));
      break;
    case Behaviour::kTrickle:
      trickling_ = true;
      trickle_due_ = due;
      trickle_interval_ = std::max(1, behaviour.trickle_interval_ms);
      trickle_pos_ = 0;
      break;
    default:
      Queue(due, Answer(line));
      break;
  }
}

std::string PhoneSimulator::Answer(const std::string& line) {
  const std::string cmd = platform::AnsiUpper(line);
  if (cmd == "AT") return kOk;
  if (cmd == "ATE0" || cmd == "ATE1") {
    echo_ = cmd == "ATE1";
    return kOk;
  }
  if (cmd == "AT+CGMI") return Info(maker_);
  if (cmd == "AT+CGMM") return Info(model_);
  if (cmd == "AT+CMGF=0") return kOk;
  if (StartsWith(cmd, "AT+CNMI=")) return kOk;
  if (cmd == "AT+CPIN?")
    return Info(std::string("+CPIN: ") + (sim_ready_       ? "READY"
                                          : pin_tries_ > 0 ? "SIM PIN"
                                                           : "SIM PUK"));
  if (StartsWith(cmd, "AT+CPIN=")) {
    std::string entered = line.substr(8);
    if (entered.size() >= 2 && entered.front() == '"' && entered.back() == '"')
      entered = entered.substr(1, entered.size() - 2);
    if (sim_ready_ || pin_tries_ <= 0) return kError;
    if (entered != pin_) {
      --pin_tries_;
      return kError;
    }
    sim_ready_ = true;
    pin_tries_ = 3;
    return kOk;
  }
  if (cmd == "AT+CPINC") return Info("+CPINC: " + std::to_string(pin_tries_) + ",10");
  if (cmd == "AT+COPS?") {
    if (!sim_ready_ || !network_) return kError;
    return Info("+COPS: 0,0,\"KESTROVA NET\"");
  }

  const bool sim_command = cmd == "AT+CPMS=\"SM\",\"SM\",\"SM\"" || StartsWith(cmd, "AT+CMGR=") ||
                           StartsWith(cmd, "AT+CMGD=");
  if (!sim_command) return kError;
  if (!sim_ready_) return CmsError(311);  // SIM PIN required
  if (StartsWith(cmd, "AT+CPMS=")) {
    const std::string used = std::to_string(slots_.size()), total = std::to_string(slot_count_);
    const std::string pair = used + "," + total;
    return Info("+CPMS: " + pair + "," + pair + "," + pair);
  }
  std::optional<int> slot = Number(cmd.substr(8));
  if (!slot || *slot < 1 || *slot > slot_count_) return CmsError(321);  // invalid index
  if (StartsWith(cmd, "AT+CMGD=")) {
    slots_.erase(*slot);
    return kOk;
  }
  auto it = slots_.find(*slot);
  if (it == slots_.end()) return CmsError(321);
  SimSlot& sms = it->second;
  std::string header =
      "+CMGR: " + std::to_string(sms.status) + ",," + std::to_string(TpduLength(sms.pdu));
  if (sms.status == 0) sms.status = 1;
  return Info(header + "\r\n" + sms.pdu);
}

}  // namespace phone::sim
