// The message and progress windows on the offscreen screen: hidden until the first text,
// growing for a wider text and keeping their size for a shorter one, centred over the form
// that was active when they were made, or over the screen once that form is gone; the
// progress bar over its steps; and screenshots of both.
#include "tables/components/tzmsg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <memory>

#include "platform/qt/qt_ui.h"
#include "platform/testing/qt_testing.h"

namespace tz {
namespace {

class MessageWindows : public ::testing::Test {
 protected:
  MessageWindows() : use_ui_(ui_) {
    form_ = std::make_unique<QWidget>();
    form_->setWindowTitle("Vantorix");
    form_->setGeometry(60, 50, 520, 360);
    form_->show();
    QApplication::setActiveWindow(form_.get());
  }

  // The centre of a window's frame.
  static QPoint Centre(const QWidget& w) { return w.frameGeometry().center(); }
  static QPoint ScreenCentre() {
    return QGuiApplication::primaryScreen()->availableGeometry().center();
  }
  static QString Shown(const TTzMsg& msg) { return msg.findChild<QLabel*>()->text(); }

  platform::QtUi ui_;
  platform::ScopedUi use_ui_;
  std::unique_ptr<QWidget> form_;
};

// Within a pixel: an odd size cannot be centred exactly.
#define EXPECT_CENTRED(a, b)                           \
  do {                                                 \
    EXPECT_LE(((a) - (b)).manhattanLength(), 2) << #a; \
  } while (0)

TEST_F(MessageWindows, HiddenBorderlessAndOnTopUntilTheFirstText) {
  TTzMsg msg;
  EXPECT_FALSE(msg.isVisible());
  EXPECT_EQ(msg.size(), QSize(0, 0));
  EXPECT_EQ(msg.CentreForm(), form_.get());
  EXPECT_TRUE(msg.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(msg.windowFlags() & Qt::WindowStaysOnTopHint);
  msg.ShowText("Building index ...");
  EXPECT_TRUE(msg.isVisible());
  EXPECT_EQ(Shown(msg), "Building index ...");
  EXPECT_TRUE(msg.windowFlags() & Qt::WindowDoesNotAcceptFocus);  // the form keeps the keys
}

// A second window made while the first is up centres over the same form.
TEST_F(MessageWindows, ASecondWindowCentresOverTheSameForm) {
  TTzMsg first;
  first.ShowText("Opening the tables");
  QApplication::setActiveWindow(&first);  // as a window system may do on show
  TTzProgress100 second(nullptr, "Index werbung.mdx");
  EXPECT_EQ(second.CentreForm(), form_.get());
  EXPECT_CENTRED(Centre(second), Centre(*form_));
}

TEST_F(MessageWindows, GrowsForAWiderTextKeepsItsSizeForAShorterOneAndStaysCentred) {
  TTzMsg msg;
  msg.ShowText("Sorting");
  QSize small = msg.size();
  EXPECT_GT(small.width(), 30);
  EXPECT_GT(small.height(), 30);
  EXPECT_CENTRED(Centre(msg), Centre(*form_));

  msg.ShowText("Sorting the records of telstamm.dbf by HERSTELLER");
  QSize wide = msg.size();
  EXPECT_GT(wide.width(), small.width());
  EXPECT_EQ(wide.height(), small.height());
  EXPECT_CENTRED(Centre(msg), Centre(*form_));
  QPoint where = msg.pos();

  msg.ShowText("Done");
  EXPECT_EQ(msg.size(), wide);
  EXPECT_EQ(msg.pos(), where);
  EXPECT_EQ(Shown(msg), "Done");

  msg.ShowText("");  // the stored text again
  EXPECT_EQ(msg.Text(), "Done");
  EXPECT_EQ(Shown(msg), "Done");
  EXPECT_EQ(msg.size(), wide);
}

TEST_F(MessageWindows, ShowsWindows1252Text) {
  TTzMsg msg;
  msg.ShowText("Gr\xF6\xDF" "e: 5 \x80");
  EXPECT_EQ(Shown(msg), QString::fromUtf8("Größe: 5 €"));
  EXPECT_EQ(msg.Text(), "Gr\xF6\xDF" "e: 5 \x80");
}

// The form it centres on may be closed, or closed and deleted, before the window shows a
// text: it is centred over the screen then.
TEST_F(MessageWindows, CentresOverTheScreenOnceTheFormIsGone) {
  form_->move(0, 0);
  TTzMsg closed_first;
  form_->close();
  closed_first.ShowText("Packing protocol.dbf");
  EXPECT_CENTRED(Centre(closed_first), ScreenCentre());

  form_->show();
  QApplication::setActiveWindow(form_.get());
  TTzMsg deleted_first;
  form_.reset();
  EXPECT_EQ(deleted_first.CentreForm(), nullptr);
  deleted_first.ShowText("Packing protocol.dbf");
  EXPECT_TRUE(deleted_first.isVisible());
  EXPECT_CENTRED(Centre(deleted_first), ScreenCentre());
}

TEST_F(MessageWindows, ACaptionGivesATitleBarAndTheLeastWidthOfTheCaption) {
  TTzMsg msg;
  msg.SetCaption("Reindexing all tables of the program folder, please wait");
  msg.ShowText("x");
  EXPECT_FALSE(msg.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(msg.windowFlags() & Qt::WindowTitleHint);
  EXPECT_FALSE(msg.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(msg.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(msg.isVisible());
  QFontMetrics system(QFont("System"));
  EXPECT_GE(msg.width(), system.horizontalAdvance(msg.windowTitle()));
  EXPECT_CENTRED(Centre(msg), Centre(*form_));

  msg.SetCaption("");  // back to no border: a forced resize, centred again
  form_->move(100, 100);
  msg.ShowText("x");
  EXPECT_TRUE(msg.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(msg.isVisible());
  EXPECT_LT(msg.width(), system.horizontalAdvance("Reindexing all tables"));
  EXPECT_CENTRED(Centre(msg), Centre(*form_));
}

// ShowText processes events last: a handler run there may delete the window.
TEST_F(MessageWindows, AHandlerMayDeleteTheWindowWhileItsTextIsShown) {
  auto* msg = new TTzMsg;
  bool ran = false;
  QTimer::singleShot(0, [&] {
    delete msg;
    ran = true;
  });
  msg->ShowText("Closing");
  EXPECT_TRUE(ran);
}

TEST_F(MessageWindows, TheProgressBarShrinksAStepAndIsFullAgainAfterTheHundredth) {
  struct Case {
    int steps;
    size_t bar;    // the bar text
    size_t shown;  // what the window shows
  } cases[] = {
      {0, 100, 100}, {1, 99, 99}, {99, 1, 1}, {100, 0, 1}, {101, 100, 100}, {201, 0, 1},
  };
  for (const Case& c : cases) {
    TTzProgress100 progress;
    QSize full = progress.size();
    for (int i = 0; i < c.steps; ++i) progress.StepBar();
    EXPECT_EQ(progress.Bar(), std::string(c.bar, '|')) << c.steps;
    EXPECT_EQ(Shown(progress), QString(static_cast<qsizetype>(c.shown), '|')) << c.steps;
    EXPECT_EQ(progress.size(), full) << c.steps;  // a shorter bar keeps the size
    EXPECT_TRUE(progress.isVisible());
  }
}

TEST_F(MessageWindows, AProgressWindowIsCaptionedAndShownAtOnce) {
  TTzProgress100 untitled;
  EXPECT_EQ(untitled.Caption(), "Progress");
  EXPECT_TRUE(untitled.isVisible());
  EXPECT_TRUE(untitled.windowFlags() & Qt::WindowTitleHint);
  EXPECT_CENTRED(Centre(untitled), Centre(*form_));
  TTzProgress100 titled(nullptr, "Index telstamm.mdx");
  EXPECT_EQ(titled.windowTitle(), "Index telstamm.mdx");
  EXPECT_EQ(titled.Bar().size(), 100u);
}

TEST_F(MessageWindows, Screenshots) {
  TTzMsg msg;
  msg.ShowText("Creating protocol.dbf ...");
  EXPECT_FALSE(platform::testing::SaveScreenshot(msg, "TTzMsg").empty());
  TTzProgress100 progress(nullptr, "Building index telstamm.mdx");
  for (int i = 0; i < 40; ++i) progress.StepBar();
  EXPECT_FALSE(platform::testing::SaveScreenshot(progress, "TTzProgress100").empty());
}

}  // namespace
}  // namespace tz
