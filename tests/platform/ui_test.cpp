#include "platform/ui.h"

#include <gtest/gtest.h>

#include "platform/testing/recording_ui.h"

namespace platform {
namespace {

TEST(Ui, RecordingUiRecordsAndAnswersFromItsScript) {
  RecordingUi ui;
  ScopedUi use(ui);
  SetApplicationTitle("Vantorix");
  ShowMessage("Mobile not found in database.");
  ui.QueueAnswer(kIdNo);
  EXPECT_EQ(MessageBox("Delete?", "Confirm", kMbYesNo | kMbIconQuestion), kIdNo);
  EXPECT_EQ(MessageBox("Again?", "Confirm", kMbYesNo), kIdYes);  // unscripted: first button
  ASSERT_EQ(ui.Messages().size(), 3u);
  EXPECT_EQ(ui.Messages()[0].caption, "Vantorix");
  EXPECT_EQ(ui.Messages()[0].flags, kMbOk);
  EXPECT_EQ(ui.Messages()[1].flags, 0x24u);
  EXPECT_EQ(ui.Texts()[2], "Again?");
  SetApplicationTitle("");
}

TEST(Ui, PumpsRunTheTestsCallback) {
  RecordingUi ui;
  ScopedUi use(ui);
  int pressed = 0;
  ui.OnProcessEvents([&] { ++pressed; });
  ProcessEvents();
  ProcessEvents();
  EXPECT_EQ(ui.PumpCount(), 2);
  EXPECT_EQ(pressed, 2);
  EXPECT_FALSE(Terminating());
  ui.SetTerminating(true);
  EXPECT_TRUE(Terminating());
}

TEST(Ui, HaltInTestsThrowsTheCode) {
  RecordingUi ui;
  ScopedUi use(ui);
  try {
    Halt(1280);
    FAIL();
  } catch (const HaltRequested& h) {
    EXPECT_EQ(h.code, 1280);
  }
}

TEST(Ui, ExitStatusOfAHaltIsNeverSuccess) {
  struct Case { int code, status; } cases[] = {
      {1, 1}, {33, 33}, {255, 255}, {256, 255}, {1280, 255}, {0, 255}, {-3, 255},
  };
  for (auto c : cases) EXPECT_EQ(HaltExitStatus(c.code), c.status) << c.code;
}

TEST(UiDeathTest, ConsoleHaltExitsWithTheStatusAndPrintsTheFullCode) {
  EXPECT_EXIT(ConsoleUi().Halt(1280), ::testing::ExitedWithCode(255), "1280");
  EXPECT_EXIT(ConsoleUi().Halt(33), ::testing::ExitedWithCode(33), "33");
}

TEST(Ui, ConsoleAnswersWithTheFirstButton) {
  struct Case { unsigned flags; int answer; } cases[] = {
      {kMbOk, kIdOk}, {kMbOkCancel, kIdOk}, {kMbYesNo, kIdYes}, {kMbYesNoCancel, kIdYes},
      {kMbRetryCancel, kIdRetry}, {kMbAbortRetryIgnore, kIdAbort},
  };
  ConsoleUi console;
  for (auto c : cases) EXPECT_EQ(console.MessageBox("t", "c", c.flags | kMbIconStop), c.answer);
}

}  // namespace
}  // namespace platform
