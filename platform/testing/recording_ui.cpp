#include "platform/testing/recording_ui.h"

namespace platform {

std::vector<std::string> RecordingUi::Texts() const {
  std::vector<std::string> texts;
  for (const auto& m : messages_) texts.push_back(m.text);
  return texts;
}

int RecordingUi::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  messages_.push_back({text, caption, flags});
  if (answers_.empty()) return FirstButtonAnswer(flags);
  int answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void RecordingUi::ProcessEvents() {
  ++pumps_;
  if (on_pump_) on_pump_();
}

}  // namespace platform
