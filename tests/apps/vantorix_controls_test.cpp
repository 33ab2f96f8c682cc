// The main window's operator controls on a real main window over temporary folders: the track
// bars' fields and captions, what the check boxes send to the laser library stand-in, the
// offline text, the font dialog's choice reaching the glyph converter (answered from a timer),
// the offline text's length against the outline list's room, and every control worked while
// the receive loop runs against the phone simulator. Screenshots where a control changes what
// the preview shows.
#include <QApplication>
#include <QFontDialog>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>

#include "apps/vantorix/Protocol.h"
#include "apps/vantorix/Verbote.h"
#include "apps/vantorix/Werbung.h"
#include "apps/vantorix/einstellungen.h"
#include "apps/vantorix/noad.h"
#include "platform/qt/qt_text.h"
#include "platform/testing/qt_testing.h"
#include "vantorix_sim.h"

namespace laser {
// Points print as "(x, y, kind)" in a failure.
void PrintTo(const TTextPoint& p, std::ostream* out) {
  *out << "(" << p.X << ", " << p.Y << ", " << int(p.Kind) << ")";
}
}  // namespace laser

namespace vantorix {
namespace {

using Clock = std::chrono::steady_clock;

class Controls : public ConnectTest {
 protected:
  static size_t Frames() { return platform::ld2000::ShownFrames().size(); }

  static void Screenshot(TMainForm& form, const std::string& name) {
    QApplication::processEvents();  // the status bar lays its message out on an event
    EXPECT_FALSE(platform::testing::SaveScreenshot(form, name).empty());
  }
};

// Answers the next font dialog as soon as it is the modal window: `answer` picks the font and
// says whether to confirm. Polls from a timer; a dialog not up within 5 s fails the test.
void AnswerFontDialog(QFontDialog* dialog, std::function<bool(QFontDialog&)> answer) {
  auto* timer = new QTimer(dialog);
  const Clock::time_point start = Clock::now();
  QObject::connect(timer, &QTimer::timeout, dialog, [=] {
    if (QApplication::activeModalWidget() == dialog) {
      timer->stop();
      timer->deleteLater();
      if (answer(*dialog))
        dialog->accept();
      else
        dialog->reject();
    } else if (Clock::now() - start > std::chrono::seconds(5)) {
      timer->stop();
      timer->deleteLater();
      ADD_FAILURE() << "the font dialog did not come up";
    }
  });
  timer->start(5);
}

// The outline points of `text` through a converter on `family` as the main window loads its
// own (character height 37 pixels, one stroke per curve piece).
std::vector<laser::TTextPoint> PointsIn(const std::string& family, bool bold, bool italic,
                                        const std::string& text) {
  laser::TTTFToVectorConverter converter;
  converter.Font().SetName(family);
  converter.Font().SetHeight(-37);
  converter.Font().SetBold(bold);
  converter.Font().SetItalic(italic);
  converter.SetPrecision(1);
  laser::TLaserState state;
  laser::BuildTextPoints(state, converter, text);
  return {state.TextPoints.Points.begin(),
          state.TextPoints.Points.begin() + state.TextPoints.Count};
}

std::vector<laser::TTextPoint> PointsOf(TMainForm& form, const std::string& text) {
  laser::TLaserState state;
  laser::BuildTextPoints(state, form.ttf1, text);
  return {state.TextPoints.Points.begin(),
          state.TextPoints.Points.begin() + state.TextPoints.Count};
}

TEST_F(Controls, TrackBarsDriveTheirFieldsAndCaptions) {
  TMainForm& form = OpenForm();
  // Showing the window sets the first three.
  EXPECT_EQ(form.ui->pnlScanSpeed->text(), "Scanspeed: 13000");
  EXPECT_EQ(form.ui->pnlBlankShift->text(), "Blankshift: -1");
  EXPECT_EQ(form.ui->pnlScrollSpeed->text(), "Scrollspeed: 12");
  EXPECT_EQ(form.ui->pnlSmsRepeat->text(), "SMS Repeat 1");
  EXPECT_EQ(form.ui->pnlFontSize->text(), "Fontsize: 100 %");
  EXPECT_EQ(form.Laser.ScanSpeed, 13000);
  EXPECT_EQ(form.Laser.BlankShift, -1);
  EXPECT_EQ(form.Laser.ScrollSpeed, 12);

  struct Case {
    QSlider* bar;
    int position;
    QLabel* panel;
    const char* caption;
    std::function<double()> field;
    double value;
  };
  const laser::TLaserState& l = form.Laser;
  Ui::TMainForm& u = *form.ui;
  auto scan = [&] { return double(l.ScanSpeed); };
  auto blank = [&] { return double(l.BlankShift); };
  auto scroll = [&] { return double(l.ScrollSpeed); };
  auto repeat = [&] { return double(l.SmsRepeat); };
  auto scale = [&] { return l.FontScale; };
  auto percent = [&] { return double(l.FontPercent); };
  const Case cases[] = {
      {u.TrackBar1, 20000, u.pnlScanSpeed, "Scanspeed: 20000", scan, 20000},
      {u.TrackBar1, 99999, u.pnlScanSpeed, "Scanspeed: 30000", scan, 30000},
      {u.TrackBar2, -8, u.pnlBlankShift, "Blankshift: -8", blank, -8},
      {u.TrackBar2, 8, u.pnlBlankShift, "Blankshift: 8", blank, 8},
      {u.TrackBar3, 0, u.pnlScrollSpeed, "Scrollspeed: 0", scroll, 0},
      {u.TrackBar3, 50, u.pnlScrollSpeed, "Scrollspeed: 50", scroll, 50},
      {u.TrackBar5, 3, u.pnlSmsRepeat, "SMS Repeat 3", repeat, 3},
      {u.TrackBar5, 9, u.pnlSmsRepeat, "SMS Repeat 5", repeat, 5},
      {u.TrackBar6, 150, u.pnlFontSize, "Fontsize: 150 %", scale, 1.5},
      {u.TrackBar6, 50, u.pnlFontSize, "Fontsize: 50 %", scale, 0.5},
      {u.TrackBar6, 73, u.pnlFontSize, "Fontsize: 73 %", percent, 73},
      {u.TrackBar6, 100, u.pnlFontSize, "Fontsize: 100 %", percent, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caption);
    c.bar->setValue(c.position);
    EXPECT_EQ(c.panel->text(), c.caption);
    EXPECT_DOUBLE_EQ(c.field(), c.value);
  }
}

TEST_F(Controls, ScanSpeedsBelowTheLasersLowestReachItClampedWhileTheCaptionShowsThem) {
  TMainForm& form = OpenForm();
  const std::pair<int, const char*> cases[] = {
      {500, "DisplayFreq3(1000, 1000, 1000)"},
      {1, "DisplayFreq3(1000, 1000, 1000)"},
      {1000, "DisplayFreq3(1000, 1000, 1000)"},
      {25000, "DisplayFreq3(25000, 25000, 25000)"},
  };
  for (const auto& [speed, call] : cases) {
    SCOPED_TRACE(speed);
    form.ui->TrackBar1->setValue(speed);
    EXPECT_EQ(form.ui->pnlScanSpeed->text(), QString("Scanspeed: %1").arg(speed));
    EXPECT_EQ(form.Laser.ScanSpeed, speed);
    std::vector<std::string> calls = LdCalls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2], call);
    EXPECT_EQ(calls.back(), "DisplayUpdate()");
  }
}

TEST_F(Controls, TheCheckBoxesReachTheFrameOutputAndUncheckingOutputBlanksAtOnce) {
  TMainForm& form = OpenForm();
  struct Case {
    QCheckBox* box;
    bool* field;
  };
  const Case boxes[] = {
      {form.ui->CheckBox2, &form.Laser.InvertX},
      {form.ui->CheckBox3, &form.Laser.InvertY},
      {form.ui->CheckBox5, &form.Laser.Sinus},
      {form.ui->CheckBox6, &form.Laser.DisableInt},
  };
  for (const Case& c : boxes) {
    SCOPED_TRACE(c.box->text().toStdString());
    EXPECT_FALSE(*c.field);
    c.box->click();
    EXPECT_TRUE(*c.field);
    c.box->click();
    EXPECT_FALSE(*c.field);
  }

  ASSERT_TRUE(form.Laser.OutputToLaser);
  form.ShowStillText("hi");
  const size_t frames = Frames();
  ASSERT_GT(platform::ld2000::ShownFrames().back().header.NumPoints, 0);
  form.ui->CheckBox1->click();
  EXPECT_FALSE(form.Laser.OutputToLaser);
  ASSERT_EQ(Frames(), frames + 1) << "unchecking did not blank the laser at once";
  EXPECT_EQ(platform::ld2000::ShownFrames().back().header.NumPoints, 0);
  // The preview goes on; the laser gets nothing.
  form.ui->PaintBox1->Clear();
  const QImage blank = form.ui->PaintBox1->Image().copy();
  form.ShowStillText("hi");
  EXPECT_EQ(Frames(), frames + 1);
  EXPECT_NE(form.ui->PaintBox1->Image(), blank) << "the preview stopped";
  Screenshot(form, "vantorix_controls_laser_off");
  // Checking sends nothing by itself; the next frame goes out again.
  form.ui->CheckBox1->click();
  EXPECT_EQ(Frames(), frames + 1);
  form.ShowStillText("hi");
  EXPECT_EQ(Frames(), frames + 2);
  EXPECT_GT(platform::ld2000::ShownFrames().back().header.NumPoints, 0);
}

TEST_F(Controls, ThePointViewMarksAPointOfTheFrameAndTakesItsCountAsMaximum) {
  TMainForm& form = OpenForm();
  form.ShowStillText("Kestrova");
  const int32_t count = form.Laser.FramePoints.Count;
  ASSERT_GT(count, 20);
  form.ui->TrackBar4->setValue(7);
  EXPECT_EQ(form.windowTitle(), "7");
  EXPECT_EQ(form.ui->TrackBar4->maximum(), count);
  form.ui->TrackBar4->setValue(count + 50);
  EXPECT_EQ(form.ui->TrackBar4->value(), count);
  EXPECT_EQ(form.windowTitle(), QString::number(count));
  form.ui->TrackBar4->setValue(count / 2);
  EXPECT_EQ(form.Laser.PointViewPosition, count / 2);
  Screenshot(form, "vantorix_controls_point_view");
}

TEST_F(Controls, AnOfflineTextIsShownNextWithItsBlanksCutAtTheRight) {
  struct Case {
    const char* typed;
    bool enter;          // Enter in the edit, else SEND
    const char* edit;    // the edit afterwards
    const char* shown;   // DisplayText afterwards
    const char* status;  // the status bar afterwards
  };
  const char* before = "before";
  const Case cases[] = {
      {"hi  ", false, "hi", "hi", "Next SMS will be : hi"},
      {"hi  ", true, "hi", "hi", "OK"},
      {"  two words ", false, "  two words", "  two words", "Next SMS will be :   two words"},
      {"   ", false, "", "before", "OK"},
      {"", false, "", "before", "OK"},
      {"   ", true, "", "before", "OK"},
      {"Gr\xC3\xBC\xC3\x9F  ", false, "Gr\xC3\xBC\xC3\x9F", "Gr\xFC\xDF",
       "Next SMS will be : Gr\xC3\xBC\xC3\x9F"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.typed) + (c.enter ? " Enter" : " SEND"));
    TMainForm& form = OpenForm();
    form.Laser.DisplayText = before;
    form.activateWindow();
    form.ui->Edit1->setFocus();
    form.ui->Edit1->setText(QString::fromUtf8(c.typed));
    if (c.enter)
      QTest::keyClick(form.ui->Edit1, Qt::Key_Return);
    else
      form.ui->Button1->click();
    EXPECT_EQ(form.ui->Edit1->text(), QString::fromUtf8(c.edit));
    EXPECT_EQ(form.Laser.DisplayText, c.shown);
    EXPECT_EQ(form.ui->StatusBar1->currentMessage(), QString::fromUtf8(c.status));
    if (c.typed == std::string("hi  ") && !c.enter)
      Screenshot(form, "vantorix_controls_offline_text");
    CloseForm();
  }
}

TEST_F(Controls, TheFontChosenInTheDialogReachesTheConverter) {
  TMainForm& form = OpenForm();
  const std::string text = "Kestrova 1.52";
  const std::vector<laser::TTextPoint> dejavu = PointsIn("DejaVu Sans", false, false, text);
  const std::vector<laser::TTextPoint> before = PointsOf(form, text);
  EXPECT_EQ(before, PointsIn("Arial", false, false, text));

  // The dialog opens on the face the converter draws with (fontconfig's stand-in for Arial);
  // confirmed as it is, the points stay the same.
  QFont offered;
  AnswerFontDialog(form.FontDialog1, [&](QFontDialog& dialog) {
    offered = dialog.currentFont();
    return true;
  });
  form.ui->BitBtn6->click();
  EXPECT_EQ(offered.family(), "Liberation Sans");
  EXPECT_EQ(offered.styleName(), "Regular");
  EXPECT_EQ(form.ttf1.Font().Name(), "Liberation Sans");
  EXPECT_EQ(PointsOf(form, text), before);

  // Cancelled: the converter keeps its font.
  AnswerFontDialog(form.FontDialog1, [](QFontDialog& dialog) {
    dialog.setCurrentFont(QFont("DejaVu Serif"));
    return false;
  });
  form.ui->BitBtn6->click();
  EXPECT_EQ(form.ttf1.Font().Name(), "Liberation Sans");
  EXPECT_EQ(PointsOf(form, text), before);

  struct Case {
    const char* family;
    const char* style;  // as the dialog lists it
    bool bold, italic;
  };
  const Case cases[] = {
      {"Liberation Serif", "Bold Italic", true, true},
      {"DejaVu Sans Mono", "Book", false, false},
      {"DejaVu Serif", "Italic", false, true},
      {"DejaVu Serif", "Bold", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.family + std::string(" ") + c.style);
    AnswerFontDialog(form.FontDialog1, [&](QFontDialog& dialog) {
      QFont font(c.family);
      font.setStyleName(c.style);
      dialog.setCurrentFont(font);
      return true;
    });
    form.ui->BitBtn6->click();
    EXPECT_EQ(form.ttf1.Font().Name(), c.family);
    EXPECT_EQ(form.ttf1.Font().Bold(), c.bold);
    EXPECT_EQ(form.ttf1.Font().Italic(), c.italic);
    // The next text's points are the chosen font's, not the start font's nor DejaVu Sans's.
    const std::vector<laser::TTextPoint> chosen = PointsOf(form, text);
    EXPECT_EQ(chosen, PointsIn(c.family, c.bold, c.italic, text));
    EXPECT_NE(chosen, dejavu);
    EXPECT_NE(chosen, before);
    // The offline text's limit follows the font.
    EXPECT_EQ(form.ui->Edit1->maxLength(), LongestUncutText(form.ttf1));
  }
  // The dialog opens on the converter's font.
  AnswerFontDialog(form.FontDialog1, [&](QFontDialog& dialog) {
    offered = dialog.currentFont();
    return false;
  });
  form.ui->BitBtn6->click();
  EXPECT_EQ(offered.family(), "DejaVu Serif");
  EXPECT_EQ(offered.styleName(), "Bold");

  form.ShowStillText(text);
  Screenshot(form, "vantorix_controls_font");
  form.ui->TrackBar6->setValue(150);
  form.ShowStillText(text);
  Screenshot(form, "vantorix_controls_fontsize_150");
}

// The point list holds 20000 points and the outline builder stops adding strokes when it is
// full: the edit takes no more characters than the list holds of the font's worst one.
TEST_F(Controls, TheLongestOfflineTextOfTheWorstCharacterIsNotCut) {
  TMainForm& form = OpenForm();
  struct Case {
    const char* family;
    const char* style;  // nullptr: the font the window starts with
  };
  const Case fonts[] = {
      {"Arial", nullptr},
      {"DejaVu Sans", "Book"},
      {"DejaVu Serif", "Bold Italic"},
      {"Liberation Mono", "Italic"},
  };
  for (const Case& f : fonts) {
    SCOPED_TRACE(f.family);
    if (f.style) {
      AnswerFontDialog(form.FontDialog1, [&](QFontDialog& dialog) {
        QFont font(f.family);
        font.setStyleName(f.style);
        dialog.setCurrentFont(font);
        return true;
      });
      form.ui->BitBtn6->click();
    }
    ASSERT_EQ(form.ttf1.Font().Name(), f.family);

    // The character with the most strokes.
    unsigned char worst = 0;
    size_t most = 0;
    for (unsigned ch = 0x21; ch <= 0xFF; ++ch) {
      auto strokes = form.ttf1.ConvertChar(ch);
      if (strokes && strokes->Strokes().size() > most) {
        most = strokes->Strokes().size();
        worst = static_cast<unsigned char>(ch);
      }
    }
    ASSERT_GT(most, 0u);
    const int length = form.ui->Edit1->maxLength();
    EXPECT_GT(length, 20) << "an offline text this short is of no use";
    form.ui->Edit1->setText(QString(3 * laser::kPointListCapacity,
                                    platform::ToQString(std::string(1, char(worst)))[0]));
    form.ui->Button1->click();
    ASSERT_EQ(form.Laser.DisplayText, std::string(static_cast<size_t>(length), char(worst)));

    // The last stroke of the last character is in the list, just before the closing point.
    laser::TLaserState state;
    laser::BuildTextPoints(state, form.ttf1, form.Laser.DisplayText);
    auto strokes = form.ttf1.ConvertChar(worst);
    const laser::TRect box = strokes->BoundingRect();
    const int32_t advance = (length - 1) * (std::abs(box.Left) + std::abs(box.Right));
    const laser::TStroke& last = strokes->Strokes().back();
    ASSERT_GE(state.TextPoints.Count, 2);
    EXPECT_EQ(
        state.TextPoints[state.TextPoints.Count - 1],
        (laser::TTextPoint{(last.X2 + advance) / 3, (1024 - last.Y2) / 3 + 1877, laser::pkVisible}))
        << "the text of " << length << " x '" << char(worst) << "' (" << most
        << " strokes each) was cut";
  }
}

// The operator works every control while the loop runs: no crash, every dialog comes and
// goes, the offline text is shown, and after Stop the laser gets nothing but the empty frame.
TEST_F(Controls, EveryControlWorkedWhileTheLoopRuns) {
  WriteRegistry("ID", "0000000001");
  WriteRegistry("Werbeinterval", "0");
  TMainForm& form = OpenWithDialogs();
  form.ui->TrackBar3->setValue(50);
  std::vector<std::function<void()>> steps;
  auto add = [&](std::function<void()> step) { steps.push_back(std::move(step)); };
  QSlider* bars[] = {form.ui->TrackBar1, form.ui->TrackBar2, form.ui->TrackBar3,
                     form.ui->TrackBar4, form.ui->TrackBar5, form.ui->TrackBar6};
  for (QSlider* bar : bars) {
    add([bar] { bar->setValue(bar->minimum()); });
    add([bar] { bar->setValue(bar->maximum()); });
    add([bar] { bar->setValue((bar->minimum() + bar->maximum()) / 2); });
  }
  // While OUTPUT TO LASER is off the loop goes on drawing the preview but sends nothing
  // after the one empty frame.
  size_t frames_off = 0;
  add([&] {
    form.ui->CheckBox1->click();
    frames_off = Frames();
    EXPECT_EQ(platform::ld2000::ShownFrames().back().header.NumPoints, 0);
  });
  add([&] {
    EXPECT_EQ(Frames(), frames_off) << "frames went out with OUTPUT TO LASER off";
    form.ui->CheckBox1->click();
  });
  QCheckBox* boxes[] = {form.ui->CheckBox2, form.ui->CheckBox3, form.ui->CheckBox4,
                        form.ui->CheckBox5, form.ui->CheckBox6};
  for (QCheckBox* box : boxes) {
    add([box] { box->click(); });
    add([box] { box->click(); });
  }
  add([&] {
    form.ui->Edit1->setText("offline  ");
    form.ui->Button1->click();
  });
  bool offline_shown = false;
  add([&] { offline_shown = form.Laser.DisplayText == "offline"; });
  add([&] { form.ui->Edit2->setText("3"); });
  add([&] {
    AnswerFontDialog(form.FontDialog1, [](QFontDialog& dialog) {
      dialog.setCurrentFont(QFont("DejaVu Serif"));
      return true;
    });
    form.ui->BitBtn6->click();
  });
  QDialog* dialogs[] = {form.SMSProtocol, form.frmEinstell, form.Werbetexte, form.frmVerbote};
  const char* menus[] = {"Protokoll1", "Grundeinstellungen1", "Werbetexte1", "Verbotsliste1"};
  int dialogs_seen = 0;
  for (int i = 0; i < 4; ++i) {
    add([&, i] {
      QTimer::singleShot(0, &form, [&, i] {
        if (QApplication::activeModalWidget() == dialogs[i]) ++dialogs_seen;
        dialogs[i]->reject();
      });
      form.findChild<QAction*>(menus[i])->trigger();
    });
  }
  size_t frames_at_stop = 0;
  add([&] {
    form.ui->BitBtn2->click();
    frames_at_stop = Frames();
  });

  size_t next = 0;
  int pumps = 0;
  size_t last_frames = 0;
  const Clock::time_point start = Clock::now();
  ui_.OnProcessEvents([&] {
    if (!form.LoopRunning() || !form.ui->BitBtn2->isEnabled() || next >= steps.size()) return;
    if (Clock::now() - start > std::chrono::seconds(20)) {
      ADD_FAILURE() << "the loop was still running after 20 s, at step " << next;
      next = steps.size();
      form.ui->BitBtn2->click();
      return;
    }
    // Each step on a pump of its own, a few frames apart, so that the frame output runs
    // between them (with OUTPUT TO LASER off no frame goes out to count by: a few pumps).
    if (form.Laser.OutputToLaser ? Frames() < last_frames + 2 : ++pumps % 3 != 0) return;
    last_frames = Frames();
    steps[next++]();
  });
  form.ui->BitBtn1->click();
  ui_.OnProcessEvents(nullptr);
  EXPECT_FALSE(form.LoopRunning());
  EXPECT_EQ(next, steps.size());
  EXPECT_EQ(dialogs_seen, 4);
  EXPECT_TRUE(offline_shown);
  EXPECT_EQ(form.StackSize, 3);
  EXPECT_EQ(form.ttf1.Font().Name(), "DejaVu Serif");
  EXPECT_TRUE(Received("AT+CMGR=1")) << "the loop never scanned the SIM";
  EXPECT_GT(frames_off, 10u) << "the loop sent hardly any frames";
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  ASSERT_NE(frames_at_stop, 0u);
  EXPECT_EQ(Frames(), frames_at_stop) << "a frame went out after Stop";
  EXPECT_EQ(platform::ld2000::ShownFrames().back().header.NumPoints, 0);
  // EXIT closes the window; whatever goes out then is empty.
  form.ui->BitBtn7->click();
  EXPECT_FALSE(form.isVisible());
  const auto& frames = platform::ld2000::ShownFrames();
  for (size_t i = frames_at_stop; i < frames.size(); ++i) EXPECT_EQ(frames[i].header.NumPoints, 0);
}

}  // namespace
}  // namespace vantorix
