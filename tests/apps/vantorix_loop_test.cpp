// The receive and display loop of the main window, end to end against the phone simulator and
// the laser library stand-in: what the phone is sent, what protocol.dbf holds afterwards (read
// by python3-dbfread), which frames the laser got, and the filters, prefixes and
// advertisements on the way; also a protocol table another program holds locked, a phone that
// goes silent or away in the middle of a scan, and the processor time of a running loop.
#include <sys/resource.h>

#include <QApplication>
#include <QStatusBar>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "laser/ld.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/testing/qt_testing.h"
#include "platform/testing/small_filesystem.h"
#include "tables/index/tzndx.h"
#include "ui_Protocol.h"
#include "vantorix_sim.h"

namespace vantorix {
namespace {

using phone::sim::Behaviour;
using Clock = std::chrono::steady_clock;

std::vector<std::string> Then(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Advertisement {
  std::string text;
  bool active;
};

class LoopTest : public ConnectTest {
 protected:
  // Fills the forbidden words and numbers and the advertisements through a first run of the
  // window (which creates the tables and their indexes) and closes it again.
  void SeedLists(const std::vector<std::string>& words, const std::vector<std::string>& numbers,
                 const std::vector<Advertisement>& ads = {}) {
    TMainForm& form = OpenForm();
    bool raise = tz::DbRaiseErrors;
    tz::DbRaiseErrors = true;
    auto append = [](tz::TTzDbf& table,
                     const std::vector<std::pair<std::string, std::string>>& row) {
      ASSERT_TRUE(table.ALock());
      for (const auto& [field, value] : row) table.FieldPutStr(field, value);
      table.AppendRec();
      table.UnLock();
    };
    for (const std::string& word : words) append(form.DBVerbWordList, {{"wort", word}});
    for (const std::string& number : numbers) append(form.DBVerbTelList, {{"telnr", number}});
    for (const Advertisement& ad : ads)
      append(form.DBWerbung, {{"werbetext", ad.text}, {"aktiv", ad.active ? "T" : "F"}});
    tz::DbRaiseErrors = raise;
    CloseForm();
    ui_.Clear();
  }

  // Clicks Start and runs `on_pump` on every pump of the running loop (Stop enabled) until it
  // clicks Stop; a loop still running after `limit_ms` is stopped and fails the test.
  void RunLoop(TMainForm& form, std::function<void()> on_pump, int limit_ms = 20000) {
    Clock::time_point start = Clock::now();
    ui_.OnProcessEvents([&, start] {
      if (!form.LoopRunning() || !form.ui->BitBtn2->isEnabled()) return;
      if (Clock::now() - start > std::chrono::milliseconds(limit_ms)) {
        ADD_FAILURE() << "the loop was still running after " << limit_ms << " ms";
        form.ui->BitBtn2->click();
        return;
      }
      on_pump();
    });
    form.ui->BitBtn1->click();
    ui_.OnProcessEvents(nullptr);
    EXPECT_FALSE(form.LoopRunning());
  }

  // Another program (the engine suite's table holder) holding protocol.dbf's append lock;
  // nullptr, after a failure, when it could not take it.
  std::unique_ptr<platform::ChildProcess> HoldProtocolAppendLock() {
    auto holder = std::make_unique<platform::ChildProcess>(TABLE_HOLDER, std::vector<std::string>{});
    bool held = holder->WriteLine("use " + (dir_ / "program" / "protocol.dbf").string()) &&
                holder->ReadLine() == "ok" && holder->WriteLine("alock") &&
                holder->ReadLine() == "true";
    EXPECT_TRUE(held) << "the table holder did not take the append lock";
    return held ? std::move(holder) : nullptr;
  }
  std::vector<std::string> ProtocolRows() { return PeerRows(dir_ / "program" / "protocol.dbf"); }
  // The protocol and the filter tables made anew, with the word BAD and the number
  // 01701234567 on the lists; the standard phone, no advertisements.
  void FreshFilters() {
    for (const char* file :
         {"protocol.dbf", "verbtel.dbf", "verbtel.MDX", "verbwort.dbf", "verbwort.MDX"})
      std::filesystem::remove(dir_ / "program" / file);
    SeedLists({"BAD"}, {"01701234567"});
    WriteRegistry("ID", "0000000001");
    WriteRegistry("Werbeinterval", "0");
  }
  // How often the status bar has shown `text` from now on.
  static std::shared_ptr<int> CountStatus(TMainForm& form, const std::string& text) {
    auto count = std::make_shared<int>(0);
    QObject::connect(form.ui->StatusBar1, &QStatusBar::messageChanged,
                     [count, text](const QString& shown) {
                       if (shown.toStdString() == text) ++*count;
                     });
    return count;
  }
  // Connects the phone, scans `slot_count` slots per pass without scrolling, and runs the loop;
  // `after_scan` runs when the n-th SIM scan (from 1) has ended, until it clicks Stop.
  void RunScans(TMainForm& form, int slot_count, const std::function<void(int)>& after_scan) {
    form.ui->btnConnect->click();
    form.ui->Edit2->setText(QString::number(slot_count));
    form.Laser.SmsRepeat = 0;
    int scans = 0;
    bool in_scan = false;
    RunLoop(form, [&] {
      if (form.ReaderBusy) {
        in_scan = true;
        return;
      }
      if (!in_scan) return;
      in_scan = false;
      after_scan(++scans);
    });
  }
  int CountReceived(const std::string& line) const {
    std::vector<std::string> lines = sim_->LogTexts();
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
  }
  bool Deleted(int slot) const { return !sim_->Slot(slot).has_value(); }
};

// --- Tables of cases -----------------------------------------------------------------------

TEST(LoopRules, ControlPrefixes) {
  struct Case {
    const char* text;
    const char* shown;
    bool no_mask, sinus, phrase;
  };
  const Case cases[] = {
      {"!%1bad day", "bad day", true, false, false},
      {"!%2wave", "wave", false, true, false},
      {"!%3hello", "hello", false, false, true},
      {"!%Xhi", "Kestrova Vantorix", false, false, false},
      {"!%", "Kestrova Vantorix", false, false, false},
      {"%!1x", "%!1x", false, false, false},
      {"!%1", "", true, false, false},
      {"!%2  two blanks\t", "two blanks", false, true, false},
      {"plain text", "plain text", false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TPrefixFlags flags;
    EXPECT_EQ(ApplyControlPrefix(c.text, kBuiltInDisplayText, flags), c.shown);
    EXPECT_EQ(flags.NoMask, c.no_mask);
    EXPECT_EQ(flags.Sinus, c.sinus);
    EXPECT_EQ(flags.Phrase, c.phrase);
  }
}

TEST(LoopRules, ForbiddenNumberKeys) {
  const std::pair<const char*, const char*> cases[] = {
      {"+491701234567", "01701234567"},
      {"+491701234567   ", "01701234567"},
      {"01701234567", "01701234567"},
      {"491701234567", "491701234567"},
      {"+49", "0"},
      {"", ""},
      {"    ", ""},
  };
  for (const auto& [number, key] : cases) EXPECT_EQ(ForbiddenNumberKey(number), key) << number;
}

TEST(LoopRules, StackSizes) {
  const std::pair<const char*, int32_t> cases[] = {
      {"", 10}, {"x", 10}, {"0", 0}, {"-3", -3}, {"7", 7}, {"5x", 10}, {" 5", 10},
  };
  for (const auto& [text, size] : cases) EXPECT_EQ(StackSizeOf(text), size) << '"' << text << '"';
}

TEST_F(LoopTest, NumbersAndWordsAreLookedUpInTheirTables) {
  SeedLists({"BAD", "Ugly"}, {"01701234567"});
  TMainForm& form = OpenForm();
  const std::pair<const char*, bool> numbers[] = {
      {"+491701234567", true},  {"01701234567", true},   {"+431701234567", true},
      {"+491701234568", false}, {"491701234567", false}, {"", false},
      {"   ", false},
  };
  for (const auto& [number, forbidden] : numbers)
    EXPECT_EQ(form.IsForbiddenNumber(number), forbidden) << number;
  const std::pair<const char*, const char*> texts[] = {
      {"a bad day", "a ... day"},
      {"A BAD DAY", "A ... DAY"},
      {"Bad", "..."},
      {"bad!", "bad!"},
      {"bad, worse", "bad, worse"},
      {"badly bad", "badly ..."},
      {"ugly  and  bad ", "....  and  ... "},
      {" bad", " ..."},
      {"", ""},
      {"nothing here", "nothing here"},
  };
  for (const auto& [text, masked] : texts) {
    std::string result = form.MaskForbiddenWords(text);
    EXPECT_EQ(result, masked) << text;
    EXPECT_EQ(result.size(), std::string(text).size());
  }
}

// --- The whole loop ------------------------------------------------------------------------

TEST_F(LoopTest, EndToEndSmsAreLoggedDeletedAndShown) {
  SeedLists({"BAD"}, {"01701234567"});
  WriteRegistry("ID", "0000000001");
  WriteRegistry("Werbeinterval", "0");
  sim_->SetSlot(1, 1, DeliverPdu("+491701234567", "hello"));
  sim_->SetSlot(2, 2, DeliverPdu("+491709876543", "a draft"));
  sim_->SetSlot(3, 0, DeliverPdu("+491709876543", "a bad day"));
  sim_->SetSlot(4, 0, DeliverPdu("+491709876543", "!%2wave"));
  TMainForm& form = OpenForm();
  form.ui->TrackBar3->setValue(50);
  size_t still_from = 0;
  RunLoop(form, [&] {
    if (still_from == 0 && Deleted(3)) {
      // The text is on show now; held still, each frame is the same.
      form.ui->TrackBar3->setValue(0);
      still_from = platform::ld2000::ShownFrames().size();
    }
    if (still_from != 0 && platform::ld2000::ShownFrames().size() >= still_from + 3) {
      EXPECT_EQ(form.ui->StatusBar1->currentMessage(), "Displaying SMS slot 3...");
      QApplication::processEvents();  // the status bar lays its message out on an event
      EXPECT_FALSE(platform::testing::SaveScreenshot(form, "vantorix_loop_still").empty());
      form.ui->BitBtn2->click();
    }
  });
  ASSERT_NE(still_from, 0u) << "slot 3 was never deleted";

  EXPECT_EQ(Commands(), Then(kInitCommands, {"AT+CNMI=1,0,0,0,1", "AT+CNMI=0,0,0,0,1", "AT+CMGR=1",
                                             "AT+CMGD=1", "AT+CMGR=2", "AT+CMGR=3", "AT+CMGD=3"}));
  EXPECT_TRUE(sim_->Slot(2).has_value()) << "the stored message was deleted";
  EXPECT_TRUE(sim_->Slot(4).has_value());
  EXPECT_EQ(form.Laser.DisplayText, "a ... day");
  EXPECT_EQ(form.ui->StatusBar1->currentMessage(), "Please Press Start SMS Recive");
  EXPECT_TRUE(form.ui->BitBtn1->isEnabled());
  EXPECT_FALSE(form.ui->BitBtn2->isEnabled());

  std::vector<std::string> rows = ProtocolRows();
  ASSERT_EQ(rows.size(), 2u);
  const std::string stamp = "11.12.26 14:30,00 ZZ00";
  ASSERT_EQ(stamp.size(), 22u);
  EXPECT_EQ(rows[0], "FB +491701234567|" + stamp + "|hello|+491710760000");
  EXPECT_EQ(rows[1], "+491709876543|" + stamp + "|a ... day|+491710760000");

  // Every frame is well formed.
  const auto& frames = platform::ld2000::ShownFrames();
  ASSERT_GE(frames.size(), still_from + 3);
  for (const auto& frame : frames) {
    EXPECT_EQ(frame.header.Flags, 0);
    EXPECT_EQ(frame.header.Scale, 100);
    EXPECT_EQ(frame.header.Reserved, 0);
    EXPECT_LE(frame.header.NumPoints, laser::LDOutputPointLimit);
    EXPECT_EQ(frame.points.size(), static_cast<size_t>(frame.header.NumPoints));
    for (const TLDPoint& p : frame.points) {
      EXPECT_TRUE(p.X >= 0 && p.X <= 4095 && p.Y >= 0 && p.Y <= 4095);
      EXPECT_TRUE(p.Color == 0 || p.Color == 0xFFFFFF);
    }
  }
  // A still frame is the masked text's points, centred.
  laser::TLaserState expected = form.Laser;
  laser::BuildTextPoints(expected, form.ttf1, "a ... day");
  laser::ClipFrame(expected, (expected.TextWidth + 4096) / 2);
  laser::InterpolatePoints(expected);
  expected.OutputToLaser = false;
  laser::OutputFrame(expected);
  laser::OutputFrame(expected);
  const auto& still = frames[still_from + 1];
  ASSERT_EQ(still.points.size(),
            static_cast<size_t>(std::min(expected.FramePoints.Count, laser::LDOutputPointLimit)));
  ASSERT_GT(still.points.size(), 10u);
  for (size_t i = 0; i < still.points.size(); ++i) {
    EXPECT_EQ(still.points[i].X, laser::LDFrameBuffer[i].X) << i;
    EXPECT_EQ(still.points[i].Y, laser::LDFrameBuffer[i].Y) << i;
    EXPECT_EQ(still.points[i].Color, laser::LDFrameBuffer[i].Color) << i;
  }
  // After Stop the laser got the empty frame and nothing else.
  EXPECT_EQ(frames.back().points.size(), 0u);
  std::vector<std::string> calls = LdCalls();
  auto last_write = std::find_if(calls.rbegin(), calls.rend(), [](const std::string& call) {
    return call.starts_with("WriteFrame");
  });
  ASSERT_NE(last_write, calls.rend());
  EXPECT_TRUE(last_write->ends_with(", 0)")) << *last_write;

  // The phone's message for the empty slot 5 never came: the scan ended at slot 3.
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Texts().front();
  CloseForm();
  std::vector<std::string> log = PeerRows(dir_ / "windows" / "sysilog.dat");
  ASSERT_EQ(log.size(), 4u);  // the seeding run's two, then this run's
  EXPECT_TRUE(log[2].ends_with("|Start"));
  EXPECT_TRUE(log[3].ends_with("|Stop"));
}

TEST_F(LoopTest, AdvertisementsRotateOverTheActiveRowsOnly) {
  // The texts are padded to the field's 100 characters in the table.
  SeedLists({}, {}, {{"Alpha", true}, {"Beta", false}, {"Gamma", true}});
  struct Case {
    int interval;
    // The text every pass ended with, "-" for a pass that was not an advertisement.
    std::vector<std::string> passes;
    // Alpha is switched off (as the list dialog does) after this pass; 0 never.
    size_t switch_off_after = 0;
  };
  const std::vector<std::string> five_plain(5, "-");
  auto series = [&](std::vector<std::string> ads) {
    std::vector<std::string> passes;
    for (const std::string& ad : ads) {
      passes.insert(passes.end(), five_plain.begin(), five_plain.end());
      passes.push_back(ad);
    }
    return passes;
  };
  const Case cases[] = {
      {1, {"-", "Alpha", "-", "Gamma", "-", "Alpha", "-", "Gamma"}},
      {5, series({"Alpha", "Gamma", "Alpha"})},
      {1, {"-", "Alpha", "-", "Gamma", "-", "Gamma", "-", "Gamma"}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("interval " + std::to_string(c.interval));
    WriteRegistry("ID", "0000000099");  // no phone: the loop shows texts only
    WriteRegistry("Werbeinterval", std::to_string(c.interval));
    TMainForm& form = OpenForm();
    ASSERT_TRUE(form.AdsEnabled);
    form.Laser.SmsRepeat = 0;  // no scrolling: each pass ends at its one pump
    std::vector<std::string> passes;
    RunLoop(form, [&] {
      passes.push_back(form.AdCounter == 1 ? form.Laser.DisplayText : "-");
      if (passes.size() == c.switch_off_after) {
        form.DBWerbung.GoTop();
        ASSERT_TRUE(form.DBWerbung.RLock());
        form.DBWerbung.FieldPutStr("aktiv", "F");
        form.DBWerbung.ReplaceRec();
        form.DBWerbung.UnLock();
      }
      if (passes.size() == c.passes.size()) form.ui->BitBtn2->click();
    });
    EXPECT_EQ(passes, c.passes);
    EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"Mobile not found in database."});
    if (c.switch_off_after) {
      // Put back for the next case.
      form.DBWerbung.GoTop();
      ASSERT_TRUE(form.DBWerbung.RLock());
      form.DBWerbung.FieldPutStr("aktiv", "T");
      form.DBWerbung.ReplaceRec();
      form.DBWerbung.UnLock();
    }
    CloseForm();
    ui_.Clear();
  }
}

TEST_F(LoopTest, APhraseByPrefixAppliesToItsOwnSmsOnly) {
  SeedLists({}, {}, {{"Alpha", true}});
  WriteRegistry("ID", "0000000001");
  WriteRegistry("Werbeinterval", "1");
  sim_->SetSlot(1, 0, DeliverPdu("+491709876543", "!%3hello"));
  TMainForm& form = OpenForm();
  form.Laser.SmsRepeat = 0;
  std::vector<std::string> shown;
  RunLoop(form, [&] {
    if (form.ReaderBusy) return;  // pumps inside the scan
    shown.push_back(form.Laser.DisplayText);
    if (shown.size() == 3) form.ui->BitBtn2->click();
  });
  // The SMS asked for the phrase; the advertisement after it is shown as itself.
  EXPECT_EQ(shown, (std::vector<std::string>{"Kestrova Vantorix", "Alpha", "Alpha"}));
  std::vector<std::string> rows = ProtocolRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_TRUE(rows[0].starts_with("+491709876543|")) << rows[0];
  EXPECT_NE(rows[0].find("|hello|"), std::string::npos) << rows[0];
}

TEST_F(LoopTest, PollingOffNeverTouchesThePhone) {
  WriteRegistry("ID", "0000000001");
  WriteRegistry("Werbeinterval", "0");
  sim_->SetSlot(1, 0, DeliverPdu("+491709876543", "hello"));
  TMainForm& form = OpenForm();
  form.ui->btnConnect->click();
  ASSERT_NE(form.MobilKomm, nullptr);
  form.ui->CheckBox4->setChecked(false);
  form.Laser.SmsRepeat = 0;
  int passes = 0;
  RunLoop(form, [&] {
    ++passes;
    // Start again from inside the running loop (a second click the pump let through)
    // starts no second loop: it neither sends the CNMI commands again nor returns late.
    if (passes == 5) {
      EXPECT_FALSE(form.ui->BitBtn1->isEnabled());
      form.BitBtn1Click();
      EXPECT_EQ(passes, 5);
    }
    if (passes == 20) form.ui->BitBtn2->click();
  });
  EXPECT_EQ(Commands(), Then(kInitCommands, {"AT+CNMI=1,0,0,0,1", "AT+CNMI=0,0,0,0,1"}));
  EXPECT_TRUE(sim_->Slot(1).has_value());
  EXPECT_EQ(form.Laser.DisplayText, DefaultDisplayText);
}

TEST_F(LoopTest, StacksizeDecidesHowManySlotsAScanReads) {
  const std::pair<const char*, int> cases[] = {{"", 10}, {"x", 10}, {"0", 0}, {"-3", 0}, {"2", 2}};
  WriteRegistry("ID", "0000000001");
  WriteRegistry("Werbeinterval", "0");
  TMainForm& form = OpenForm();
  form.ui->btnConnect->click();
  ASSERT_NE(form.MobilKomm, nullptr);
  form.Laser.SmsRepeat = 0;
  for (const auto& [text, count] : cases) {
    SCOPED_TRACE(std::string("Stacksize \"") + text + "\"");
    form.ui->Edit2->setText(text);
    sim_->ClearLog();
    std::string edit_in_scan;
    RunLoop(form, [&] {
      if (form.ReaderBusy) {
        if (edit_in_scan.empty()) edit_in_scan = form.ui->Edit2->text().toStdString();
        // Changing the edit inside the scan changes nothing in it.
        form.ui->Edit2->setText("1");
        return;
      }
      form.ui->BitBtn2->click();
    });
    int reads = 0;
    for (const std::string& line : sim_->LogTexts()) reads += line.starts_with("AT+CMGR=");
    EXPECT_EQ(reads, count);
    // Start wrote the number it read back into the edit.
    if (count > 0) {
      EXPECT_EQ(edit_in_scan, std::to_string(count));
    }
  }
}

// The operator's three ways to end the running loop.
struct StopPress {
  const char* name;
  void (*press)(TMainForm&);
};
const StopPress kStopPresses[] = {
    {"Stop", [](TMainForm& form) { form.ui->BitBtn2->click(); }},
    {"Esc", [](TMainForm& form) { form.FormKeyDown(27); }},
    {"EXIT", [](TMainForm& form) { form.ui->BitBtn7->click(); }},
};

TEST_F(LoopTest, StoppedInsideAScanTheLoopSendsNoFrameAfterTheEmptyOne) {
  WriteRegistry("ID", "0000000001");
  WriteRegistry("Werbeinterval", "0");
  for (const StopPress& c : kStopPresses) {
    SCOPED_TRACE(c.name);
    sim_->ClearLog();
    sim_->SetSlot(3, 0, DeliverPdu("+491709876543", "too late"));
    TMainForm& form = OpenForm();
    form.ui->btnConnect->click();
    form.ui->Edit2->setText("3");
    bool stopped = false;
    RunLoop(form, [&] {
      if (!stopped && form.ui->StatusBar1->currentMessage() == "Processing SMS slot 2...") {
        stopped = true;
        c.press(form);
      }
    });
    ASSERT_TRUE(stopped);
    // The scan ended between the slots, and the pass sent nothing after the empty frame.
    EXPECT_EQ(CountReceived("AT+CMGR=3"), 0);
    EXPECT_TRUE(sim_->Slot(3).has_value());
    const auto& frames = platform::ld2000::ShownFrames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().points.size(), 0u);
    std::vector<std::string> calls = LdCalls();
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                            [](const std::string& call) { return call.starts_with("WriteFrame"); }),
              1)
        << "a frame went out besides the empty one";
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    CloseForm();
    platform::ld2000::Reset();
  }
}

// --- Hostile cases -------------------------------------------------------------------------

TEST_F(LoopTest, ARowThatCannotBeStoredLeavesTheSmsOnTheSimUntilItIsLogged) {
  SeedLists({}, {});
  WriteRegistry("ID", "0000000001");
  WriteRegistry("Werbeinterval", "0");
  sim_->SetSlot(1, 0, DeliverPdu("+491709876543", "keep me"));
  std::unique_ptr<platform::ChildProcess> holder = HoldProtocolAppendLock();
  ASSERT_NE(holder, nullptr);
  TMainForm& form = OpenForm();
  form.ui->btnConnect->click();
  form.ui->Edit2->setText("1");
  form.ui->TrackBar3->setValue(50);
  bool released = false, on_sim_after_refusal = false;
  RunLoop(form, [&] {
    if (form.ReaderBusy) return;
    if (!released && !ui_.Messages().empty()) {
      on_sim_after_refusal = sim_->Slot(1).has_value();
      ASSERT_TRUE(holder->WriteLine("unlock"));
      ASSERT_EQ(holder->ReadLine(), "ok");
      released = true;
    }
    // One more scan after the one that logged it.
    if (Deleted(1) && CountReceived("AT+CMGR=1") >= 3) form.ui->BitBtn2->click();
  });
  ASSERT_TRUE(released);
  EXPECT_TRUE(on_sim_after_refusal) << "the SMS was deleted though its row was not stored";
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"Dataset could not be stored in database."});
  EXPECT_EQ(CountReceived("AT+CMGD=1"), 1);
  std::vector<std::string> rows = ProtocolRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_NE(rows[0].find("|keep me|"), std::string::npos) << rows[0];
  EXPECT_EQ(form.Laser.DisplayText, "keep me");
}

// With 3 SMS waiting and the protocol locked by another program, every scan showed a box per
// SMS: 9 in 14 s. Now one per scan; the SMS wait on the SIM and are logged once the lock is
// gone.
TEST_F(LoopTest, AProtocolThatCannotBeWrittenCostsOneMessagePerScan) {
  SeedLists({}, {});
  WriteRegistry("ID", "0000000001");
  WriteRegistry("Werbeinterval", "0");
  const std::vector<std::string> texts = {"first", "second", "third"};
  for (int slot = 1; slot <= 3; ++slot)
    sim_->SetSlot(slot, 0, DeliverPdu("+491709876543", texts[static_cast<size_t>(slot - 1)]));
  std::unique_ptr<platform::ChildProcess> holder = HoldProtocolAppendLock();
  ASSERT_NE(holder, nullptr);
  TMainForm& form = OpenForm();
  std::vector<size_t> boxes_after_scan;
  bool all_on_sim = true;
  RunScans(form, 3, [&](int) {
    boxes_after_scan.push_back(ui_.Messages().size());
    if (boxes_after_scan.size() <= 3)
      for (int slot = 1; slot <= 3; ++slot) all_on_sim = all_on_sim && !Deleted(slot);
    if (boxes_after_scan.size() == 3) {
      ASSERT_TRUE(holder->WriteLine("unlock"));
      ASSERT_EQ(holder->ReadLine(), "ok");
    }
    if (Deleted(1) && Deleted(2) && Deleted(3)) form.ui->BitBtn2->click();
  });
  ASSERT_GE(boxes_after_scan.size(), 3u);
  EXPECT_EQ(std::vector<size_t>(boxes_after_scan.begin(), boxes_after_scan.begin() + 3),
            (std::vector<size_t>{1, 2, 3}));
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>(3, "Dataset could not be stored in database."));
  EXPECT_TRUE(all_on_sim) << "an SMS left the SIM though its row was not stored";
  std::vector<std::string> rows = apps_testing::DbfreadRows(dir_ / "program" / "protocol.dbf",
                                                            "TELNR TEXT", dir_ / "p.out");
  EXPECT_EQ(rows, (std::vector<std::string>{"+491709876543|first", "+491709876543|second",
                                            "+491709876543|third"}));
}

// A protocol row was written about 50 ms before "AT+CMGD" went out and nothing forced it to
// the disk: a power cut in between kept the row in the page cache only, with the SMS gone from
// the SIM. Every row is flushed, counted by the header, before its SMS is deleted.
TEST_F(LoopTest, EachProtocolRowIsOnTheDiskBeforeItsSmsIsDeleted) {
  SeedLists({}, {"01701234567"});
  WriteRegistry("ID", "0000000001");
  WriteRegistry("Werbeinterval", "0");
  // Two forbidden senders (logged, not shown: the scan goes on), then one that is shown.
  sim_->SetSlot(1, 0, DeliverPdu("+491701234567", "one"));
  sim_->SetSlot(2, 0, DeliverPdu("+491701234567", "two"));
  sim_->SetSlot(3, 0, DeliverPdu("+491709876543", "three"));
  const std::filesystem::path protocol = dir_ / "program" / "protocol.dbf";
  struct Flush {
    uint64_t ms;            // on the simulator's clock
    int records;            // the header's count on the disk at the flush
    int deletes_received;   // "AT+CMGD" lines the phone had received by then
  };
  std::vector<Flush> flushes;
  struct ObserverScope {
    explicit ObserverScope(std::function<void(const std::string&)> f) {
      platform::SetFlushObserver(std::move(f));
    }
    ~ObserverScope() { platform::SetFlushObserver(nullptr); }
  } observe([&](const std::string& path) {
    if (!path.ends_with("/protocol.dbf")) return;
    std::string bytes = platform::TempDir::Read(protocol);
    int deletes = 0;
    for (const std::string& line : sim_->LogTexts()) deletes += line.starts_with("AT+CMGD=");
    flushes.push_back({platform::SystemClock().Milliseconds(),
                       bytes.size() > 4 ? static_cast<uint8_t>(bytes[4]) : -1, deletes});
  });
  TMainForm& form = OpenForm();
  form.ui->btnConnect->click();
  form.ui->Edit2->setText("3");
  form.Laser.SmsRepeat = 0;
  RunLoop(form, [&] {
    if (!form.ReaderBusy && Deleted(3)) form.ui->BitBtn2->click();
  });
  std::vector<std::string> rows = apps_testing::DbfreadRows(protocol, "TELNR TEXT", dir_ / "p.out");
  EXPECT_EQ(rows, (std::vector<std::string>{"FB +491701234567|one", "FB +491701234567|two",
                                            "+491709876543|three"}));
  std::vector<phone::sim::ReceivedLine> deletes;
  for (const auto& line : sim_->Log())
    if (line.text.starts_with("AT+CMGD=")) deletes.push_back(line);
  ASSERT_EQ(deletes.size(), 3u);
  for (int k = 1; k <= 3; ++k) {
    SCOPED_TRACE(deletes[static_cast<size_t>(k - 1)].text);
    auto flush = std::find_if(flushes.begin(), flushes.end(),
                              [&](const Flush& f) { return f.records == k; });
    ASSERT_NE(flush, flushes.end()) << "row " << k << " was never flushed";
    EXPECT_EQ(flush->deletes_received, k - 1);
    EXPECT_LE(flush->ms, deletes[static_cast<size_t>(k - 1)].ms);
  }
}

TEST_F(LoopTest, AnSmsWhoseDeleteFailedIsNotLoggedTwice) {
  SeedLists({}, {});
  WriteRegistry("ID", "0000000001");
  WriteRegistry("Werbeinterval", "0");
  sim_->SetSlot(1, 0, DeliverPdu("+491709876543", "once"));
  sim_->SetBehaviour("AT+CMGD", Behaviour{Behaviour::kError});
  TMainForm& form = OpenForm();
  form.ui->btnConnect->click();
  form.ui->Edit2->setText("1");
  form.Laser.SmsRepeat = 0;
  RunLoop(form, [&] {
    if (form.ReaderBusy) return;
    if (CountReceived("AT+CMGD=1") == 2) sim_->ClearBehaviours();
    if (Deleted(1) && CountReceived("AT+CMGR=1") >= 4) form.ui->BitBtn2->click();
  });
  EXPECT_EQ(CountReceived("AT+CMGD=1"), 3);
  EXPECT_EQ(ProtocolRows().size(), 1u);
  EXPECT_EQ(form.Laser.DisplayText, "once");
}

TEST_F(LoopTest, APhoneThatGoesSilentOrAwayMidScanLeavesTheLoopRunning) {
  SeedLists({}, {"01701234567"});
  WriteRegistry("ID", "0000000001");
  WriteRegistry("Werbeinterval", "0");
  sim_->SetSlot(1, 0, DeliverPdu("+491701234567", "forbidden"));
  sim_->SetSlot(2, 0, DeliverPdu("+491709876543", "never read"));
  TMainForm& form = OpenForm();
  form.ui->btnConnect->click();
  form.ui->Edit2->setText("2");
  form.ui->TrackBar3->setValue(50);
  bool silent = false, unplugged = false;
  size_t frames_after_unplug = 0;
  RunLoop(
      form,
      [&] {
        if (!silent && CountReceived("AT+CMGR=1") == 1) {
          // The phone answers this read and then nothing more.
          ASSERT_TRUE(sim_->WaitUntilSent(1000));
          sim_->SetBehaviour("", Behaviour{Behaviour::kSilent});
          silent = true;
        }
        if (silent && !unplugged && !form.ReaderBusy) {
          sim_.reset();  // unplugged
          unplugged = true;
          frames_after_unplug = platform::ld2000::ShownFrames().size();
        }
        if (unplugged && !form.ReaderBusy &&
            platform::ld2000::ShownFrames().size() > frames_after_unplug + 5)
          form.ui->BitBtn2->click();
      },
      30000);
  ASSERT_TRUE(unplugged);
  // The forbidden SMS was logged; its delete got no answer, so nothing else was logged.
  std::vector<std::string> rows = ProtocolRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_TRUE(rows[0].starts_with("FB +491701234567|")) << rows[0];
  EXPECT_EQ(platform::ld2000::ShownFrames().back().points.size(), 0u);
  EXPECT_FALSE(form.ui->BitBtn2->isEnabled());
}

// Unplugged in the middle of a scan, the phone cost a box and a freeze of 2 s and more per
// slot, for ever. Now a failed port ends the scan at its slot with one message, at once; the
// next scan tries again.
TEST_F(LoopTest, APhoneThatGoesAwayMidScanCostsOneMessagePerScan) {
  WriteRegistry("ID", "0000000001");
  WriteRegistry("Werbeinterval", "0");
  sim_->SetSlot(1, 2, DeliverPdu("+491709876543", "a draft"));  // stays on the SIM
  sim_->SetBehaviour("AT+CMGR=2", Behaviour{Behaviour::kUnplug});
  TMainForm& form = OpenForm();
  form.ui->btnConnect->click();
  ASSERT_NE(form.MobilKomm, nullptr);
  form.ui->Edit2->setText("5");
  form.ui->TrackBar3->setValue(50);
  ui_.Clear();
  std::vector<std::chrono::milliseconds> scans;
  std::vector<size_t> boxes_after_scan;
  bool in_scan = false;
  Clock::time_point scan_start;
  RunLoop(form, [&] {
    if (form.ReaderBusy && !in_scan) {
      in_scan = true;
      scan_start = Clock::now();
    } else if (!form.ReaderBusy && in_scan) {
      in_scan = false;
      scans.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                                            scan_start));
      boxes_after_scan.push_back(ui_.Messages().size());
      if (scans.size() == 4) form.ui->BitBtn2->click();
    }
  });
  ASSERT_EQ(scans.size(), 4u);
  EXPECT_EQ(boxes_after_scan, (std::vector<size_t>{1, 2, 3, 4}));
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{"Com Port read error: -3",
                                                   "Com Port write error: -3",
                                                   "Com Port write error: -3",
                                                   "Com Port write error: -3"}));
  for (auto ms : scans) EXPECT_LT(ms.count(), 1000) << "a scan froze";
  EXPECT_TRUE(sim_->Unplugged());
  EXPECT_EQ(CountReceived("AT+CMGR=3"), 0);
  EXPECT_TRUE(ProtocolRows().empty());
  EXPECT_FALSE(form.LoopRunning());
  EXPECT_EQ(platform::ld2000::ShownFrames().back().points.size(), 0u);
}

// Stop, Esc or EXIT pressed while a reading waits for a phone that does not answer (a wait that
// pumps no events): the box that followed swallowed the press, and the scan went on. Now the
// press runs before the box and the loop ends after the slot in progress.
TEST_F(LoopTest, StopPressedWhileAReadingWaitsEndsTheLoopAfterThatSlot) {
  WriteRegistry("ID", "0000000001");
  WriteRegistry("Werbeinterval", "0");
  for (const StopPress& c : kStopPresses) {
    SCOPED_TRACE(c.name);
    sim_->ClearLog();
    sim_->ClearBehaviours();
    sim_->SetSlot(3, 0, DeliverPdu("+491709876543", "not read"));
    sim_->SetBehaviour("AT+CMGR=2", Behaviour{Behaviour::kSilent});
    TMainForm& form = OpenForm();
    form.ui->btnConnect->click();
    ASSERT_NE(form.MobilKomm, nullptr);
    form.ui->Edit2->setText("3");
    ui_.Clear();
    // The press comes from the window system while the GUI thread waits for the reply; it is
    // delivered at the next pump.
    std::atomic<bool> pressed{false};
    std::thread presser([&] {
      for (int i = 0; CountReceived("AT+CMGR=2") == 0; ++i) {
        if (i == 2000) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      pressed = true;
    });
    RunLoop(form, [&] {
      if (pressed.exchange(false)) c.press(form);
    });
    presser.join();
    EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"An Error occured on AT+CMGR=2. Error No: 1"});
    EXPECT_EQ(CountReceived("AT+CMGR=3"), 0) << "the scan went on after the slot";
    EXPECT_TRUE(sim_->Slot(3).has_value());
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    CloseForm();
    platform::ld2000::Reset();
  }
}

TEST_F(LoopTest, ARunningLoopUsesWellUnderOneCore) {
  platform::ScopedEnv pace("LD2000_PACE", "1");
  platform::ld2000::Reset();
  WriteRegistry("ID", "0000000099");
  TMainForm& form = OpenForm();
  Clock::time_point begin{};
  double cpu_begin = 0;
  auto cpu_seconds = [] {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  };
  double share = 0;
  size_t frames_begin = 0;
  RunLoop(form, [&] {
    if (begin == Clock::time_point{}) {
      begin = Clock::now();
      cpu_begin = cpu_seconds();
      frames_begin = platform::ld2000::ShownFrames().size();
      return;
    }
    double wall = std::chrono::duration<double>(Clock::now() - begin).count();
    if (wall >= 1.5) {
      share = (cpu_seconds() - cpu_begin) / wall;
      form.ui->BitBtn2->click();
    }
  });
  EXPECT_GT(platform::ld2000::ShownFrames().size(), frames_begin + 10) << "no frames went out";
  EXPECT_LT(share, 0.5) << "the loop used " << share << " of a core";
}

// --- Tables that fail while the loop runs --------------------------------------------------

// A protocol row that could not be written (the program folder on a full disk) left the table
// in edit state with the SMS's values: the protocol dialog, the unattended run's listing or
// the close wrote them over a stored row, and the failed append had overwritten the file's end
// mark. Every earlier row stays byte for byte as it was; the SMS waits on the SIM and is logged
// once when there is room again.
TEST_F(LoopTest, AProtocolRowThatCannotBeWrittenLeavesEveryStoredRowAsItWas) {
  platform::SmallFileSystem disk(dir_ / "program", 512 * 1024);
  if (!disk.Mounted()) GTEST_SKIP() << disk.Error();
  WriteRegistry("ID", "0000000001");
  WriteRegistry("Werbeinterval", "0");
  const std::filesystem::path protocol = dir_ / "program" / "protocol.dbf";
  TMainForm& form = OpenWithDialogs();
  // Rows until the file's last block has room for the start of one more row only.
  constexpr size_t kRowSize = 263;
  const size_t block = platform::SmallFileSystem::BlockSize();
  for (int row = 1;; ++row) {
    size_t room = (block - platform::TempDir::Read(protocol).size() % block) % block;
    if (row > 2 && room > 0 && room <= kRowSize) break;
    ASSERT_TRUE(form.LogSms("+491710760000", "+49170000" + std::to_string(1000 + row),
                            "01.01.26 10:00,00", "row " + std::to_string(row)));
  }
  const std::string before = platform::TempDir::Read(protocol);
  const std::vector<std::string> rows = ProtocolRows();

  disk.Fill();
  sim_->SetSlot(1, 0, DeliverPdu("+491709876543", "the new one"));
  form.ui->btnConnect->click();
  form.ui->Edit2->setText("1");
  form.Laser.SmsRepeat = 0;
  RunLoop(form, [&] {
    if (!form.ReaderBusy && !ui_.Messages().empty()) form.ui->BitBtn2->click();
  });
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"Dataset could not be stored in database."});
  EXPECT_EQ(form.DBProtocol.State(), platform::dataset::dsBrowse);
  EXPECT_FALSE(Deleted(1));
  // The protocol dialog, its grid moved over every row.
  TSMSProtocol& dialog = *form.SMSProtocol;
  dialog.show();
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
  tz::TTzGrid& grid = *dialog.ui->grdProtokoll;
  for (int row = 0; row < grid.Model().rowCount(); ++row) {
    grid.setCurrentIndex(grid.Model().index(row, 0));
    QApplication::processEvents();
  }
  dialog.ui->btnClose->click();
  // The unattended run's listing.
  size_t listed = 0;
  for (form.DBProtocol.GoTop(); !form.DBProtocol.AtEof(); form.DBProtocol.Skip(1)) ++listed;
  EXPECT_EQ(listed, rows.size());
  CloseForm();
  std::string after = platform::TempDir::Read(protocol);
  auto diff = std::mismatch(after.begin(), after.end(), before.begin(), before.end());
  EXPECT_TRUE(after == before) << "protocol.dbf changed from byte " << (diff.first - after.begin())
                               << " on";
  EXPECT_EQ(ProtocolRows(), rows);

  disk.Free();
  ui_.Clear();
  TMainForm& again = OpenForm();
  again.ui->btnConnect->click();
  again.ui->Edit2->setText("1");
  again.Laser.SmsRepeat = 0;
  RunLoop(again, [&] {
    if (!again.ReaderBusy && Deleted(1)) again.ui->BitBtn2->click();
  });
  CloseForm();
  std::vector<std::string> logged = ProtocolRows();
  ASSERT_EQ(logged.size(), rows.size() + 1);
  EXPECT_EQ(std::vector<std::string>(logged.begin(), logged.end() - 1), rows);
  EXPECT_NE(logged.back().find("|the new one|"), std::string::npos) << logged.back();
  // The earlier rows are still those bytes (the header counts one more row now).
  EXPECT_TRUE(platform::TempDir::Read(protocol).compare(32, before.size() - 33, before, 32,
                                                         before.size() - 33) == 0);
}

// The filters fail closed: while one that is switched on cannot be made, no SMS is shown on
// the laser; each is still logged (as it came: unmarked, unmasked by the filter that failed)
// and deleted from the SIM, and the operator is told once in the status bar and the memo.
// With a damaged verbtel.dbf (or verbwort.dbf) the forbidden sender's SMS was shown and logged
// without "FB ".
TEST_F(LoopTest, AFilterWhoseTableDidNotOpenKeepsEverySmsOffTheLaser) {
  struct Case {
    const char* table;
    const char* told;
    std::vector<std::string> logged;
  } cases[] = {
      {"verbtel.dbf", kNumbersUncheckable,
       {"+491701234567|from the list", "+491709876543|a ... day"}},
      {"verbwort.dbf", kWordsUncheckable,
       {"FB +491701234567|from the list", "+491709876543|a bad day"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    FreshFilters();
    dir_.Write(std::string("program/") + c.table, "this is no table");
    sim_->SetSlot(1, 0, DeliverPdu("+491701234567", "from the list"));
    sim_->SetSlot(2, 0, DeliverPdu("+491709876543", "a bad day"));
    TMainForm& form = OpenForm();
    ASSERT_EQ(ui_.Messages().size(), 1u) << "the open's error";
    std::shared_ptr<int> told = CountStatus(form, c.told);
    std::vector<std::string> memos;
    RunScans(form, 2, [&](int scan) {
      memos.push_back(form.ui->Memo1->toPlainText().toStdString());
      if (scan == 3) form.ui->BitBtn2->click();
    });
    EXPECT_EQ(*told, 1);
    ASSERT_EQ(memos.size(), 3u);
    EXPECT_EQ(memos[0], c.told);
    EXPECT_EQ(memos[1], "");
    EXPECT_NE(form.Laser.DisplayText, "from the list");
    EXPECT_EQ(form.Laser.DisplayText.find("day"), std::string::npos) << form.Laser.DisplayText;
    EXPECT_TRUE(Deleted(1));
    EXPECT_TRUE(Deleted(2));
    EXPECT_EQ(apps_testing::DbfreadRows(dir_ / "program" / "protocol.dbf", "TELNR TEXT",
                                        dir_ / "p.out"),
              c.logged);
    EXPECT_EQ(ui_.Messages().size(), 1u) << ui_.Texts().back();
    CloseForm();
    ui_.Clear();
  }
}

// Another program held bytes of a filter table's semaphore file while an SMS was checked: the
// lookup gave up after its lock wait and the library halted the program (no Stop row, the
// SMS left on the SIM). Now the lock's error is shown once, the SMS is logged, deleted and kept
// off the laser, and the loop goes on; once the lock is gone the filter works again.
TEST_F(LoopTest, AFilterTableAnotherProgramLocksWhileAnSmsIsCheckedIsReported) {
  struct Case {
    const char* semaphore;
    const char* told;
    const char* first_logged;
  } cases[] = {
      {"verbtel.@S@", kNumbersUncheckable, "+491701234567|held"},
      {"verbwort.@S@", kWordsUncheckable, "FB +491701234567|held"},
  };
  struct WaitScope {
    uint32_t saved = tz::SemaphoreLockWaitMs;
    WaitScope() { tz::SemaphoreLockWaitMs = 100; }
    ~WaitScope() { tz::SemaphoreLockWaitMs = saved; }
  } short_wait;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.semaphore);
    FreshFilters();
    sim_->SetSlot(1, 0, DeliverPdu("+491701234567", "held"));
    TMainForm& form = OpenForm();
    std::shared_ptr<int> told = CountStatus(form, c.told);
    auto holder = std::make_unique<platform::ChildProcess>(
        FILE_HOLDER, std::vector<std::string>{
                         "lock", (dir_ / "program" / c.semaphore).string(), "1", "4"});
    ASSERT_EQ(holder->ReadLine(), "ok");
    RunScans(form, 1, [&](int scans) {
      if (scans == 2) {
        // Still held: the lookup fails again, without a second box or status.
        holder.reset();
        sim_->SetSlot(1, 0, DeliverPdu("+491701234567", "free"));
      }
      if (scans == 3) sim_->SetSlot(1, 0, DeliverPdu("+491709876543", "shown"));
      if (scans == 4) form.ui->BitBtn2->click();
    });
    std::vector<std::string> texts = ui_.Texts();
    ASSERT_EQ(texts.size(), 1u) << texts.back();
    EXPECT_NE(texts[0].find("Error # 1202"), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find("INCREAD"), std::string::npos) << texts[0];
    EXPECT_EQ(*told, 1);
    EXPECT_EQ(form.Laser.DisplayText, "shown");
    CloseForm();
    std::vector<std::string> rows = apps_testing::DbfreadRows(
        dir_ / "program" / "protocol.dbf", "TELNR TEXT", dir_ / "p.out");
    EXPECT_EQ(rows, (std::vector<std::string>{c.first_logged, "FB +491701234567|free",
                                              "+491709876543|shown"}));
    std::vector<std::string> log = PeerRows(dir_ / "windows" / "sysilog.dat");
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(log.back().ends_with("|Stop")) << log.back();
    ui_.Clear();
  }
}

}  // namespace
}  // namespace vantorix
