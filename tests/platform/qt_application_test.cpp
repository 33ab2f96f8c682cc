// The programs' application object on a real event loop (offscreen), with the recording Ui:
// what an event handler throws (caught by notify, by a handler connected through Handler, or
// handed to the dataset framework's application exception handler) is shown and the loop goes
// on with the next event, in the main loop, under a real button click, in a nested pump and in
// a modal exec(); before the loop runs, the first exception is kept and Exec hands it to the
// program block, which ends the start-up with its message.
//
// The application must be the process's only one, so this suite has a main of its own. The
// start-up case comes first: from the first Exec on the application is running. (ctest runs
// each case in a process of its own.)
#include "platform/qt/application.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QPushButton>
#include <QShowEvent>
#include <QTest>
#include <QTimer>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/dataset/dataset.h"
#include "platform/testing/recording_ui.h"
#include "platform/ui.h"

namespace platform {
namespace {

TApplication& App() {
  return *static_cast<TApplication*>(QCoreApplication::instance());
}

// Runs `action` as an event of its own, as soon as the loop running then gets to it; never
// after `context` is gone.
void Post(QObject& context, std::function<void()> action) {
  QTimer::singleShot(0, &context, std::move(action));
}

class ApplicationTest : public ::testing::Test {
 protected:
  ApplicationTest() : use_ui_(ui_) { SetApplicationTitle("Vazor"); }
  ~ApplicationTest() override { SetApplicationTitle(""); }

  // Runs the message loop until a handler quits it; its exit code.
  int RunLoopUntilQuit() { return App().Exec(); }

  RecordingUi ui_;
  ScopedUi use_ui_;
  QObject context_;  // cancels what a case posted and did not get to
  std::vector<std::string> ran_;
};

// A window whose set-up, run when it is first shown, throws (as Vazor's does).
class FailingWindow : public QWidget {
 public:
  explicit FailingWindow(std::vector<std::string>& ran) : ran_(ran) {}

 protected:
  void showEvent(QShowEvent*) override {
    ran_.push_back("shown");
    throw std::runtime_error("the window's own");
  }

 private:
  std::vector<std::string>& ran_;
};

TEST_F(ApplicationTest, AHandlerThatThrowsDuringStartUpEndsTheStartUpWithItsMessage) {
  // Events delivered before the loop: the first handler throws, the next ones still run and
  // may throw too; so may what a grid hands to the dataset framework's handler.
  Post(context_, [this] {
    ran_.push_back("first");
    throw dataset::EDatabaseError(
        "Error # 32 (File sharing violation)\r\nUnable to open index: telstamm.MDX");
  });
  Post(context_, [this] {
    ran_.push_back("second");
    throw std::runtime_error("a later one");
  });
  QCoreApplication::processEvents();
  FailingWindow window(ran_);
  window.show();
  try {
    throw std::runtime_error("a grid's");
  } catch (...) {
    dataset::ApplicationHandleException();
    ran_.push_back("grid goes on");
  }
  EXPECT_EQ(ran_, (std::vector<std::string>{"first", "second", "shown", "grid goes on"}));
  EXPECT_TRUE(ui_.Messages().empty()) << "shown before the program block decides";

  Post(context_, [this] {
    ran_.push_back("loop");
    QCoreApplication::quit();
  });
  int status = -1;
  ::testing::internal::CaptureStderr();
  try {
    App().Exec();
    ADD_FAILURE() << "Exec ran the loop";
  } catch (...) {
    status = TApplication::ReportStartupFailure();
  }
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 1);
  EXPECT_EQ(ran_, (std::vector<std::string>{"first", "second", "shown", "grid goes on"}));
  EXPECT_EQ(err,
            "Vazor: Error # 32 (File sharing violation)\nUnable to open index: telstamm.MDX\n");
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].text,
            "Error # 32 (File sharing violation)\r\nUnable to open index: telstamm.MDX");
  EXPECT_EQ(ui_.Messages()[0].caption, "Vazor");
  EXPECT_EQ(ui_.Messages()[0].flags, kMbOk | kMbIconStop);
}

TEST_F(ApplicationTest, WhatAHandlerThrowsInTheLoopIsShownAndTheLoopGoesOnWithTheNextEvent) {
  struct Case {
    const char* what;
    std::function<void()> raise;
    std::vector<std::string> shown;
  } cases[] = {
      {"runtime_error",
       [] { throw std::runtime_error("Field 'WAITREC' not found"); },
       {"Field 'WAITREC' not found"}},
      {"EDatabaseError",
       [] { throw dataset::EDatabaseError("Cannot access field 'COMPORT' as type Integer"); },
       {"Cannot access field 'COMPORT' as type Integer"}},
      {"EAbort, told already", [] { throw dataset::EAbort(); }, {}},
      {"no std::exception", [] { throw 42; }, {"Unknown exception"}},
      {"handed to the dataset framework's handler",
       [] {
         try {
           throw std::runtime_error("Field 'HERSTELLER' not found");
         } catch (...) {
           dataset::ApplicationHandleException();
         }
       },
       {"Field 'HERSTELLER' not found"}},
  };
  for (const Case& c : cases) {
    ui_.Clear();
    ran_.clear();
    Post(context_, [&] {
      ran_.push_back("throws");
      c.raise();
    });
    Post(context_, [this] {
      ran_.push_back("next");
      QCoreApplication::quit();
    });
    EXPECT_EQ(RunLoopUntilQuit(), 0) << c.what;
    EXPECT_EQ(ran_, (std::vector<std::string>{"throws", "next"})) << c.what;
    EXPECT_EQ(ui_.Texts(), c.shown) << c.what;
    for (const RecordedMessage& m : ui_.Messages()) {
      EXPECT_EQ(m.caption, "Vazor") << c.what;
      EXPECT_EQ(m.flags, kMbOk | kMbIconStop) << c.what;
    }
  }
}

TEST_F(ApplicationTest, AButtonWhoseClickThrowsIsShownAndClicksAgain) {
  // Connected as the forms connect their handlers; the toggle handler takes the signal's
  // argument.
  QPushButton button("Start");
  button.setCheckable(true);
  int clicks = 0;
  std::vector<bool> toggles;
  QObject::connect(&button, &QPushButton::clicked, &button, Handler([&] {
    ++clicks;
    throw std::runtime_error("Field 'BAUDRATE' not found");
  }));
  QObject::connect(&button, &QPushButton::toggled, &button, Handler([&](bool on) {
    toggles.push_back(on);
    throw dataset::EAbort();
  }));
  button.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&button));
  Post(context_, [&] { QTest::mouseClick(&button, Qt::LeftButton); });
  Post(context_, [&] { QTest::mouseClick(&button, Qt::LeftButton); });
  Post(context_, [] { QCoreApplication::quit(); });
  EXPECT_EQ(RunLoopUntilQuit(), 0);
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(toggles, (std::vector<bool>{true, false}));
  EXPECT_EQ(ui_.Texts(),
            (std::vector<std::string>{"Field 'BAUDRATE' not found", "Field 'BAUDRATE' not found"}));
  EXPECT_FALSE(button.isDown());
}

TEST_F(ApplicationTest, ANestedPumpAndAModalExecShowWhatTheirHandlersThrowAndGoOn) {
  Post(context_, [this] {
    // A long operation pumping events (as the waits do) while one of them throws.
    Post(context_, [] { throw std::runtime_error("in the pump"); });
    Post(context_, [this] { ran_.push_back("pumped after it"); });
    QCoreApplication::processEvents();
    ran_.push_back("operation goes on");

    // A modal dialog whose loop meets an exception, then is closed by the next event.
    QDialog dialog;
    Post(dialog, [] { throw std::runtime_error("in the dialog"); });
    Post(dialog, [&dialog] { dialog.accept(); });
    int result = dialog.exec();
    ran_.push_back(result == QDialog::Accepted ? "dialog accepted" : "dialog rejected");
    QCoreApplication::quit();
  });
  EXPECT_EQ(RunLoopUntilQuit(), 0);
  EXPECT_EQ(ran_,
            (std::vector<std::string>{"pumped after it", "operation goes on", "dialog accepted"}));
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{"in the pump", "in the dialog"}));
}

}  // namespace
}  // namespace platform

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  platform::TApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
