#include "platform/ui.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/text.h"

namespace platform {
namespace {

Ui* g_installed = nullptr;

std::string& Title() {
  static std::string title;
  return title;
}

}  // namespace

Ui& CurrentUi() {
  static ConsoleUi console;
  return g_installed ? *g_installed : console;
}

void InstallUi(Ui* ui) { g_installed = ui; }

int MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  return CurrentUi().MessageBox(text, caption, flags);
}

void ShowMessage(const std::string& text) { CurrentUi().MessageBox(text, Title(), kMbOk); }

void ProcessEvents() { CurrentUi().ProcessEvents(); }

void Halt(int code) {
  CurrentUi().Halt(code);
  std::abort();  // not reached: every Ui's Halt ends the program or throws
}

bool Terminating() { return CurrentUi().Terminating(); }

void SetApplicationTitle(const std::string& title) { Title() = title; }
const std::string& ApplicationTitle() { return Title(); }

int HaltExitStatus(int code) { return code >= 1 && code <= 255 ? code : 255; }

namespace {

void WriteHalt(int code) {
  std::fprintf(stderr, "Program halted with code %d", code);
  if (HaltExitStatus(code) != code) std::fprintf(stderr, " (exit status %d)", HaltExitStatus(code));
  std::fprintf(stderr, "\n");
  std::fflush(nullptr);
}

}  // namespace

void ExitForHalt(int code) {
  WriteHalt(code);
  std::exit(HaltExitStatus(code));
}

void ExitNowForHalt(int code) {
  WriteHalt(code);
  _exit(HaltExitStatus(code));
}

int FirstButtonAnswer(unsigned flags) {
  switch (flags & kMbButtonMask) {
    case kMbAbortRetryIgnore: return kIdAbort;
    case kMbYesNoCancel:
    case kMbYesNo: return kIdYes;
    case kMbRetryCancel: return kIdRetry;
    default: return kIdOk;
  }
}

int ConsoleUi::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  std::string line = AnsiToUtf8(caption.empty() ? text : caption + ": " + text);
  std::fprintf(stderr, "%s\n", line.c_str());
  return FirstButtonAnswer(flags);
}

void ConsoleUi::Halt(int code) { ExitForHalt(code); }

ScopedUi::ScopedUi(Ui& ui) : previous_(g_installed) { g_installed = &ui; }
ScopedUi::~ScopedUi() { g_installed = previous_; }

}  // namespace platform
