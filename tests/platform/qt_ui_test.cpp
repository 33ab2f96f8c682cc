// The desktop programs' Ui on a real QApplication (offscreen): the boxes the flags make, the
// answers of their buttons, boxes shown for real and answered from a timer, a box whose
// owner is destroyed while it is up, event pumping, the quit state and the halt.
#include "platform/qt/qt_ui.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "platform/qt/qt_text.h"
#include "platform/testing/qt_testing.h"

namespace platform {
namespace {

using B = QMessageBox;
using platform::testing::AnswerNextBox;

TEST(QtUi, TheFlagsChooseButtonsDefaultAndIcon) {
  struct Case {
    unsigned flags;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton first;
    QMessageBox::Icon icon;
  } cases[] = {
      {kMbOk, B::Ok, B::Ok, B::NoIcon},
      {kMbOk | kMbIconStop, B::Ok, B::Ok, B::Critical},
      {kMbOkCancel | kMbIconQuestion, B::Ok | B::Cancel, B::Ok, B::Question},
      {kMbAbortRetryIgnore | kMbIconExclamation, B::Abort | B::Retry | B::Ignore, B::Abort, B::Warning},
      {kMbYesNoCancel | kMbIconInformation, B::Yes | B::No | B::Cancel, B::Yes, B::Information},
      {kMbYesNo | kMbIconQuestion, B::Yes | B::No, B::Yes, B::Question},
      {kMbRetryCancel | kMbIconStop, B::Retry | B::Cancel, B::Retry, B::Critical},
      {0x06 | 0x50, B::Ok, B::Ok, B::NoIcon},  // values the flags do not name
  };
  for (const Case& c : cases) {
    auto box = BuildMessageBox("text", "caption", c.flags);
    EXPECT_EQ(box->standardButtons(), c.buttons) << std::hex << c.flags;
    EXPECT_EQ(box->defaultButton(), box->button(c.first)) << std::hex << c.flags;
    EXPECT_EQ(box->icon(), c.icon) << std::hex << c.flags;
  }
}

TEST(QtUi, CaptionAndTextComeFromWindows1252AsPlainText) {
  auto box = BuildMessageBox("Preis \x80 5 <b>fett</b>\r\nZeile 2", "Gr\xF6\xDF" "e", kMbOk);
  EXPECT_EQ(box->windowTitle(), QString::fromUtf8("Größe"));
  EXPECT_EQ(box->text(), QString::fromUtf8("Preis € 5 <b>fett</b>\nZeile 2"));
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
  EXPECT_EQ(FromQString(box->windowTitle()), "Gr\xF6\xDF" "e");
}

TEST(QtUi, EachButtonHasItsAnswerAndClosingAnswersAsEsc) {
  struct Case {
    int result;
    unsigned flags;
    int answer;
  } cases[] = {
      {B::Ok, kMbOk, kIdOk},           {B::Ok, kMbOkCancel, kIdOk},
      {B::Cancel, kMbOkCancel, kIdCancel}, {B::Abort, kMbAbortRetryIgnore, kIdAbort},
      {B::Retry, kMbAbortRetryIgnore, kIdRetry}, {B::Ignore, kMbAbortRetryIgnore, kIdIgnore},
      {B::Yes, kMbYesNo, kIdYes},      {B::No, kMbYesNoCancel, kIdNo},
      {B::Retry, kMbRetryCancel, kIdRetry},
      // Closed without a button (rejected, or destroyed with its owner).
      {-1, kMbOk, kIdOk},              {0, kMbOkCancel, kIdCancel},
      {-1, kMbYesNoCancel, kIdCancel}, {-1, kMbRetryCancel, kIdCancel},
      {-1, kMbYesNo, kIdNo},           {-1, kMbAbortRetryIgnore, kIdAbort},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MessageBoxAnswerOf(c.result, c.flags), c.answer) << c.result << " " << c.flags;
}

// A box shown for real by QtUi::MessageBox and answered from a timer, by a click on a button
// or by a key.
TEST(QtUi, ShowsAModalBoxAndAnswersWithThePressedButton) {
  struct Case {
    unsigned flags;
    QMessageBox::StandardButton click;  // NoButton: press `key` instead
    int key;
    int answer;
  } cases[] = {
      {kMbYesNoCancel | kMbIconQuestion, B::No, 0, kIdNo},
      {kMbOkCancel, B::NoButton, Qt::Key_Escape, kIdCancel},
      {kMbYesNo, B::NoButton, Qt::Key_Escape, kIdNo},
      {kMbOk | kMbIconStop, B::NoButton, Qt::Key_Return, kIdOk},
      {kMbOkCancel, B::NoButton, Qt::Key_Return, kIdOk},  // the first button is the default
      {kMbRetryCancel, B::Retry, 0, kIdRetry},
      {kMbAbortRetryIgnore, B::Ignore, 0, kIdIgnore},
  };
  QtUi ui;
  for (const Case& c : cases) {
    bool timed_out = false;
    QString seen_title, seen_text;
    AnswerNextBox(
        [&](QMessageBox& box) {
          seen_title = box.windowTitle();
          seen_text = box.text();
          if (c.click != B::NoButton) box.button(c.click)->click();
          else QTest::keyClick(&box, static_cast<Qt::Key>(c.key));
        },
        &timed_out);
    EXPECT_EQ(ui.MessageBox("Delete Record ?", "Confirm", c.flags), c.answer) << c.flags;
    EXPECT_FALSE(timed_out) << c.flags;
    EXPECT_EQ(seen_title, "Confirm");
    EXPECT_EQ(seen_text, "Delete Record ?");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  }
}

TEST(QtUi, TheBoxBelongsToTheWindowHoldingTheMouseElseToTheActiveOne) {
  QWidget main_form, dialog;
  main_form.show();
  dialog.show();
  QApplication::setActiveWindow(&main_form);
  EXPECT_EQ(MessageBoxOwner(), &main_form);
  auto* button = new QPushButton("grab", &dialog);
  button->grabMouse();
  EXPECT_EQ(MessageBoxOwner(), &dialog);
  button->releaseMouse();
  EXPECT_EQ(MessageBoxOwner(), &main_form);
}

// A handler running inside the box's loop destroys the window that owns the box (and so the
// box): the call returns the answer of Esc and nothing is freed twice.
TEST(QtUi, AnOwnerDestroyedWhileItsBoxIsUpEndsTheBox) {
  QtUi ui;
  auto* owner = new QWidget;
  owner->show();
  QApplication::setActiveWindow(owner);
  ASSERT_EQ(MessageBoxOwner(), owner);
  bool timed_out = false;
  bool owned_by_owner = false;
  AnswerNextBox(
      [&](QMessageBox& box) {
        owned_by_owner = box.parentWidget() == owner;
        delete owner;
      },
      &timed_out);
  EXPECT_EQ(ui.MessageBox("Lock failed [x]", "", kMbOkCancel), kIdCancel);
  EXPECT_TRUE(owned_by_owner);
  EXPECT_FALSE(timed_out);
}

TEST(QtUi, ProcessEventsRunsWhatIsPendingAndReturns) {
  QtUi ui;
  int timers = 0;
  QTimer::singleShot(0, [&] { ++timers; });
  QTimer::singleShot(0, [&] { ++timers; });
  QElapsedTimer clock;
  clock.start();
  ui.ProcessEvents();
  EXPECT_EQ(timers, 2);
  ui.ProcessEvents();  // nothing pending: returns at once
  EXPECT_LT(clock.elapsed(), 1000);
}

// A window that refuses to close the first time it is asked, as a main window does while its
// receive loop runs.
class VetoingWindow : public QWidget {
 public:
  int refusals = 1;

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (refusals > 0) {
      --refusals;
      event->ignore();
    } else {
      event->accept();
    }
  }
};

// A long operation pumps events until the Ui says the program is quitting. A quit that a
// window vetoes does not end it; the next one, accepted, does.
TEST(QtUi, TerminatingOnceTheApplicationAcceptsToQuit) {
  QtUi ui;
  VetoingWindow window;
  window.show();
  EXPECT_FALSE(ui.Terminating());
  bool after_vetoed_quit = true;
  bool ended_by_quit = false;
  QTimer::singleShot(0, [&] {
    QTimer::singleShot(20, [&] {
      QCoreApplication::quit();
      after_vetoed_quit = ui.Terminating();
      QTimer::singleShot(20, [] { QCoreApplication::quit(); });
    });
    QElapsedTimer clock;
    clock.start();
    while (!ui.Terminating() && clock.elapsed() < 5000) {
      ui.ProcessEvents();
      QTest::qSleep(1);
    }
    ended_by_quit = ui.Terminating();
  });
  QApplication::exec();
  // The window closed by the quit was the last one, and Qt posts one more quit for that; it
  // must not end the event loops of the tests that follow.
  QCoreApplication::removePostedEvents(qApp, QEvent::Quit);
  EXPECT_FALSE(after_vetoed_quit);
  EXPECT_TRUE(ended_by_quit);
  EXPECT_TRUE(ui.Terminating());
  EXPECT_FALSE(QtUi().Terminating());  // a new run of the application starts afresh
}

// A window that says on stderr when it is hidden.
class TellingWindow : public QWidget {
 protected:
  void hideEvent(QHideEvent*) override { std::fprintf(stderr, "window hidden\n"); }
};

TEST(QtUiDeathTest, HaltHidesTheWindowsAndExitsWithTheStatus) {
  auto halt = [](int code) {
    QtUi ui;
    TellingWindow window;
    window.show();
    ui.Halt(code);
  };
  EXPECT_EXIT(halt(1280), ::testing::ExitedWithCode(255), "window hidden(.|\n)*1280");
  EXPECT_EXIT(halt(33), ::testing::ExitedWithCode(33), "window hidden(.|\n)*33");
}

}  // namespace
}  // namespace platform
