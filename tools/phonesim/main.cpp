// phonesim: a GSM phone on a pseudo-terminal for running the programs without a phone.
//
//   phonesim [--link PATH] [--sms FILE] [--slots N] [--pin PIN] [--maker TEXT]
//            [--model TEXT] [--no-echo] [--log FILE] [--late COMMAND MS | --late-nth N MS]
//
// Prints the device path on the first line of standard output and, with --link, makes PATH a
// symbolic link to it (point COM1 at it through KESTROVA_COM1 or ports.ini). --sms loads
// messages into slots 1, 2, ...: one per line, "<status> <pdu>" or just "<pdu>" (status 0,
// unread); empty lines and lines starting with # are skipped. --pin locks the SIM until
// AT+CPIN=<PIN>. --late answers the first line that is COMMAND (e.g. AT+CMGR=1) MS
// milliseconds late, once; --late-nth does so for the N-th command line received; the phone
// is busy meanwhile (lines that come wait for the late answer). Every received line is
// logged as "<milliseconds> <line>" to the --log file (standard error by default). Runs
// until SIGINT or SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include "tools/phonesim/simulator.h"

namespace {

int Usage() {
  std::cerr << "usage: phonesim [--link PATH] [--sms FILE] [--slots N] [--pin PIN]"
               " [--maker TEXT] [--model TEXT] [--no-echo] [--log FILE]"
               " [--late COMMAND MS | --late-nth N MS]\n";
  return 2;
}

bool LoadSms(phone::sim::PhoneSimulator& sim, const std::string& file) {
  std::ifstream in(file);
  if (!in) return false;
  std::string line;
  int slot = 0;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    int status = 0;
    std::string pdu = line;
    if (size_t blank = line.find(' '); blank != std::string::npos) {
      std::from_chars(line.data(), line.data() + blank, status);
      pdu = line.substr(line.find_first_not_of(' ', blank));
    }
    sim.SetSlot(++slot, status, pdu);
  }
  return true;
}

bool ParseInt(const std::string& text, int& out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

int main(int argc, char** argv) {
  std::string link, sms, pin, maker, model, log;
  int slots = 10;
  bool echo = true;
  std::optional<phone::sim::LateAnswer> late;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string number;
    bool ok = true;
    if (arg == "--link")
      ok = value(link);
    else if (arg == "--sms")
      ok = value(sms);
    else if (arg == "--pin")
      ok = value(pin);
    else if (arg == "--maker")
      ok = value(maker);
    else if (arg == "--model")
      ok = value(model);
    else if (arg == "--log")
      ok = value(log);
    else if (arg == "--no-echo")
      echo = false;
    else if (arg == "--slots")
      ok = value(number) && ParseInt(number, slots);
    else if (arg == "--late" || arg == "--late-nth") {
      phone::sim::LateAnswer answer;
      std::string delay;
      ok = value(arg == "--late" ? answer.command : number) && value(delay) &&
           ParseInt(delay, answer.delay_ms) && answer.delay_ms >= 0;
      if (arg == "--late-nth") ok = ok && ParseInt(number, answer.nth) && answer.nth >= 1;
      if (arg == "--late") ok = ok && !answer.command.empty();
      late = answer;
    } else
      ok = false;
    if (!ok) return Usage();
  }

  // Block the stop signals before the simulator's thread starts so that only sigwait sees them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  std::FILE* log_file = stderr;
  if (!log.empty() && !(log_file = std::fopen(log.c_str(), "a"))) {
    std::cerr << "phonesim: cannot write " << log << ": " << std::strerror(errno) << "\n";
    return 1;
  }

  phone::sim::PhoneSimulator sim;
  sim.SetSlotCount(slots);
  if (!maker.empty()) sim.SetManufacturer(maker);
  if (!model.empty()) sim.SetModel(model);
  if (!pin.empty()) sim.SetPin(pin);
  sim.SetEcho(echo);
  if (late) sim.AnswerLate(*late);
  if (!sms.empty() && !LoadSms(sim, sms)) {
    std::cerr << "phonesim: cannot read " << sms << "\n";
    return 1;
  }
  sim.OnLine([log_file](const phone::sim::ReceivedLine& line) {
    std::fprintf(log_file, "%llu %s\n", static_cast<unsigned long long>(line.ms),
                 line.text.c_str());
    std::fflush(log_file);
  });
  if (!link.empty()) {
    ::unlink(link.c_str());
    if (::symlink(sim.DevicePath().c_str(), link.c_str()) != 0) {
      std::cerr << "phonesim: cannot link " << link << ": " << std::strerror(errno) << "\n";
      return 1;
    }
  }
  std::cout << sim.DevicePath() << std::endl;

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  if (!link.empty()) ::unlink(link.c_str());
  return 0;
}
