// A Ui for tests: records every message box and event pump, answers boxes from a script,
// runs a test's callback on each pump (to press a button "while" a loop waits), and turns a
// halt into a HaltRequested exception so the test can see the code.
#pragma once

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace platform {

struct RecordedMessage {
  std::string text;
  std::string caption;
  unsigned flags;
};

// Thrown by RecordingUi::Halt.
class HaltRequested : public std::runtime_error {
 public:
  explicit HaltRequested(int code)
      : std::runtime_error("halt with code " + std::to_string(code)), code(code) {}
  int code;
};

class RecordingUi : public Ui {
 public:
  // Answers the next message box with `answer` (first in, first out); when none is queued
  // a box is answered with its first button.
  void QueueAnswer(int answer) { answers_.push_back(answer); }
  // Runs on every ProcessEvents call, after counting it.
  void OnProcessEvents(std::function<void()> callback) { on_pump_ = std::move(callback); }
  void SetTerminating(bool terminating) { terminating_ = terminating; }

  const std::vector<RecordedMessage>& Messages() const { return messages_; }
  // Just the texts, in order.
  std::vector<std::string> Texts() const;
  long PumpCount() const { return pumps_; }
  void Clear() {
    messages_.clear();
    pumps_ = 0;
  }

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void ProcessEvents() override;
  [[noreturn]] void Halt(int code) override { throw HaltRequested(code); }
  bool Terminating() override { return terminating_; }

 private:
  std::vector<RecordedMessage> messages_;
  std::deque<int> answers_;
  std::function<void()> on_pump_;
  long pumps_ = 0;
  bool terminating_ = false;
};

}  // namespace platform
