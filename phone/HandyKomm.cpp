#include "phone/HandyKomm.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace phone {
namespace {

constexpr uint64_t kSilenceMs = 2000;
constexpr uint64_t kReplyMs = 4000;
constexpr uint64_t kWriteRetryMs = 1000;
// How long the line must stay quiet after a reading gave up before the next command goes
// out, and how long that wait may last at most (see SendLine in the header).
constexpr uint64_t kDrainQuietMs = 3000;
constexpr uint64_t kDrainMaxMs = 4000;

const char kNotOpened[] = "Communication Port not opened ";

// A line that ends a reply: it begins with "OK", "ERROR" or "+CMS ERROR".
bool IsFinalLine(const std::string& line) {
  return line.compare(0, 2, "OK") == 0 || line.compare(0, 5, "ERROR") == 0 ||
         line.compare(0, 10, "+CMS ERROR") == 0;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The V.250 command that switches the echo off, alone on its line.
bool IsEchoOff(const std::string& command) {
  const std::string upper = platform::AnsiUpper(command);
  return upper == "ATE0" || upper == "ATE";
}

// Delay's wait, which also ends once `*stop` is set (by a handler it let run).
void PumpFor(int ms, const bool* stop) {
  if (ms <= 0) return;
  const uint64_t deadline = platform::NowMs() + static_cast<uint64_t>(ms);
  for (;;) {
    uint64_t now = platform::NowMs();
    if (now >= deadline || (stop && *stop) || platform::Terminating()) return;
    platform::ProcessEvents();
    platform::SleepUs(std::min<uint64_t>(1000, (deadline - now) * 1000));
  }
}

}  // namespace

TMobilKomm::~TMobilKomm() {
  if (SerialPort) SerialFree(SerialPort);
}

void TMobilKomm::SetDefaults() {
  // SerialPort stays as it is (nil on a new object): clearing a held record would leak it.
  LastResult = 0;
  ComPort = 1;
  InputBuf = 1024;
  OutputBuf = 1024;
  BaudRate = 115200;
  DataBits = 8;
  StopBits = 1;
  Parity = 'N';
  WaitOpen = 1000;
  WaitClose = 800;
  WaitSend = 200;
  WaitRec = 200;
  FillGsmTables();
}

void TMobilKomm::ForgetPhone() {
  // A reading that gave up stays unsettled: the phone on the line may still be answering.
  sent_.clear();
  echoes_ = false;
}

bool TMobilKomm::OpenPort() {
  bool ok = true;
  if (SerialPort) SerialFree(SerialPort);
  ForgetPhone();
  SerialPort =
      SerialCreate(ComPort, static_cast<uint32_t>(InputBuf), static_cast<uint32_t>(OutputBuf));
  if (!SerialPort) {
    platform::ShowMessage("Com Port not initialized");
    ok = false;
  }
  LastResult =
      SerialSetParams(SerialPort, static_cast<uint32_t>(BaudRate), DataBits, StopBits, Parity);
  if (LastResult != 0) {
    platform::ShowMessage("Com Port Parameter error: " + std::to_string(LastResult));
    ok = false;
  }
  LastResult = SerialOpen(SerialPort);
  if (LastResult != 0) {
    platform::ShowMessage("Com Port open error: " + std::to_string(LastResult));
    ok = false;
  }
  Wait(WaitOpen);
  return ok;
}

bool TMobilKomm::ClosePort() {
  bool ok = true;
  ForgetPhone();
  LastResult = SerialClose(SerialPort);
  if (LastResult != 0) {
    platform::ShowMessage("Com Port close error: " + std::to_string(LastResult));
    ok = false;
  }
  LastResult = SerialFree(SerialPort);
  if (LastResult != 0) {
    platform::ShowMessage("Com Port Exit error: " + std::to_string(LastResult));
    ok = false;
  }
  Wait(WaitClose);
  return ok;
}

bool TMobilKomm::InitPhone() {
  std::string reply;
  Exchange("AT+CGMI", reply);
  if (reply.empty()) return false;
  if (Command("AT+CMGF=0", reply) != 0)
    platform::ShowMessage("Mobile could not be set to PDU Mode");
  if (Command("AT+CPMS=\"SM\",\"SM\",\"SM\"", reply) != 0)
    platform::ShowMessage("Mobile could not set Preferred Message Storrage to SIM Card");
  return true;
}

int TMobilKomm::Exchange(const std::string& text, std::string& reply) {
  SendLine(text);
  if (port_failed_ || interrupted_) {
    // Nothing went out that the phone could answer, or the owner wants no answer any more.
    reply.clear();
    return port_failed_ ? kReplyPortFailed : kReplyInterrupted;
  }
  Wait(WaitRec);
  if (interrupted_) {
    // The command went out: its answer, if one comes, is left to the next command's wait.
    reply.clear();
    unsettled_ = true;
    unsettled_since_ = platform::NowMs();
    return kReplyInterrupted;
  }
  return ReadReply(reply);
}

void TMobilKomm::Wait(int ms) {
  PumpFor(ms, &interrupted_);
}

bool TMobilKomm::PumpAndLookForInterrupt() {
  if (Interruptible && !interrupted_) platform::ProcessEvents();
  return interrupted_;
}

void TMobilKomm::ShowAfterWait(const std::string& text) {
  platform::ProcessEvents();
  platform::ShowMessage(text);
}

int TMobilKomm::Command(const std::string& text, std::string& reply) {
  int code = Exchange(text, reply);
  if (code != 0) {
    if (code != kReplyPortFailed && code != kReplyInterrupted)
      ShowAfterWait("An error occured during comunication to handy");
    reply.clear();
  }
  return code;
}

void TMobilKomm::SendLine(const std::string& text) {
  if (!SerialPort) {
    platform::ShowMessage(kNotOpened);
    return;
  }
  port_failed_ = false;
  if (interrupted_) return;
  if (unsettled_) DrainLateAnswer();
  if (interrupted_) return;
  // What is still waiting belongs to an earlier reply; read after this command it would
  // pass for this command's reply. (A device that has gone fails these reads; the write
  // below then says so.)
  uint8_t stale;
  while (SerialGetByte(SerialPort, stale) == 1) {
  }

  sent_ = text;
  const std::string line = text + '\r';
  for (char c : line) {
    const uint64_t give_up = platform::NowMs() + kWriteRetryMs;
    for (;;) {
      LastResult = SerialPutByte(SerialPort, static_cast<uint8_t>(c));
      if (LastResult == 1) break;
      // 0: the line takes nothing now, -1: the output queue is full. Anything else will not
      // get better by waiting.
      const bool may_pass = LastResult == 0 || LastResult == kSerialNoPort;
      if (!may_pass || platform::NowMs() >= give_up) {
        // A line with a byte missing could be another valid command ("AT+CMGD=12" without
        // its "1" deletes slot 2), so the rest is not sent.
        port_failed_ = true;
        ShowAfterWait("Com Port write error: " + std::to_string(LastResult));
        return;
      }
      platform::SleepMs(1);
    }
  }
}

void TMobilKomm::DrainLateAnswer() {
  unsettled_ = false;
  const uint64_t start = platform::NowMs();
  uint64_t quiet_since = unsettled_since_;
  std::string line;
  for (;;) {
    uint8_t byte;
    bool got = false;
    int result;
    while ((result = SerialGetByte(SerialPort, byte)) == 1) {
      got = true;
      line += static_cast<char>(byte);
      if (EndsWith(line, "\r\n")) {
        if (IsFinalLine(line)) return;  // the late answer is complete
        line.clear();
      }
    }
    if (result == kSerialOsError) return;  // the device has gone: nothing more will come
    const uint64_t now = platform::NowMs();
    // Bytes found waiting may have come at any time since the last look: the quiet counts
    // from now.
    if (got) quiet_since = now;
    if (now >= quiet_since + kDrainQuietMs || now >= start + kDrainMaxMs) return;
    if (PumpAndLookForInterrupt()) {
      // Not settled yet: after a Resume the next command waits again.
      unsettled_ = true;
      unsettled_since_ = quiet_since;
      return;
    }
    platform::SleepMs(1);
  }
}

int TMobilKomm::ReadReply(std::string& reply) {
  reply.clear();
  if (!SerialPort) {
    platform::ShowMessage(kNotOpened);
    return kReplyComplete;
  }
  const std::string echo = sent_.empty() ? std::string() : sent_ + '\r';
  bool echo_seen = false;
  std::string line;
  bool silent = false;
  uint64_t silent_since = 0;
  const uint64_t t0 = platform::NowMs();
  auto gave_up = [&](int code) {
    reply.clear();
    unsettled_ = true;
    unsettled_since_ = platform::NowMs();
    return code;
  };
  for (;;) {
    uint8_t byte;
    const int result = SerialGetByte(SerialPort, byte);
    if (result == kSerialOsError) {
      reply.clear();
      port_failed_ = true;
      ShowAfterWait("Com Port read error: " + std::to_string(result));
      return kReplyPortFailed;
    }
    const bool got = result == 1;
    if (got) {
      reply += static_cast<char>(byte);
      line += static_cast<char>(byte);
      silent = false;
      if (!echo_seen && !echo.empty() && EndsWith(reply, echo)) {
        // The reply begins here; before its echo the phone was still answering another
        // command.
        echo_seen = echoes_ = true;
        reply = line = echo;
      }
      if (EndsWith(line, "\r\n")) {
        if (IsFinalLine(line) && (echo_seen || !echoes_)) {
          if (IsEchoOff(sent_)) echoes_ = false;
          return kReplyComplete;
        }
        line.clear();
      }
    } else if (!silent) {
      silent = true;
      silent_since = platform::NowMs();
    } else if (silent_since + kSilenceMs < platform::NowMs()) {
      return gave_up(kReplySilence);
    }
    if (platform::NowMs() > t0 + kReplyMs) return gave_up(kReplyTimeout);
    if (!got) {
      if (PumpAndLookForInterrupt()) return gave_up(kReplyInterrupted);
      platform::SleepMs(1);
    }
  }
}

void TMobilKomm::ReadSms(int slot, std::string& reply) {
  int code = Exchange("AT+CMGR=" + std::to_string(slot), reply);
  if (code != 0 && code != kReplyPortFailed && code != kReplyInterrupted)
    ShowAfterWait("An Error occured on AT+CMGR=" + std::to_string(slot) +
                  ". Error No: " + std::to_string(code));
}

void TMobilKomm::Query(const std::string& text, std::string& reply) {
  Wait(WaitSend);
  Exchange(text, reply);
}

void TMobilKomm::DeleteSms(int slot, std::string& reply) {
  Query("AT+CMGD=" + std::to_string(slot), reply);
}

void TMobilKomm::GetManufacturer(std::string& reply) {
  Query("AT+CGMI", reply);
}

void TMobilKomm::GetModel(std::string& reply) {
  Query("AT+CGMM", reply);
}

void TMobilKomm::Delay(int ms) {
  PumpFor(ms, nullptr);
}

}  // namespace phone
