// The display program's start-up, settings, tables, start/stop log, laser session and preview.
#include <QImage>
#include <QTest>
#include <algorithm>
#include <cstdint>
#include <regex>

#include "platform/ini.h"
#include "platform/testing/qt_testing.h"
#include "tables/engine/tzutils.h"
#include "vantorix_fixture.h"

namespace vantorix {
namespace {

namespace fs = std::filesystem;

uint16_t RecordLength(const fs::path& table) {
  std::string bytes = platform::TempDir::Read(table);
  if (bytes.size() < 12) return 0;
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[10]) | static_cast<uint8_t>(bytes[11])
                                                                     << 8);
}

using StartUp = VantorixTest;

TEST_F(StartUp, CreatesTheSixTablesAndTheThreeIndexes) {
  TMainForm& form = OpenForm();
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Texts().front();
  struct Table {
    fs::path file;
    uint16_t record_length;
  };
  const fs::path program = dir_ / "program", windows = dir_ / "windows";
  const Table tables[] = {
      {program / "telstamm.dbf", 115}, {program / "protocol.dbf", 263},
      {program / "verbwort.dbf", 41},  {program / "verbtel.dbf", 21},
      {program / "werbung.dbf", 102},  {windows / "sysilog.dat", 24},
  };
  for (const Table& t : tables) EXPECT_EQ(RecordLength(t.file), t.record_length) << t.file;
  for (const char* index : {"telstamm.MDX", "verbwort.MDX", "verbtel.MDX"})
    EXPECT_TRUE(fs::exists(program / index)) << index;
  EXPECT_FALSE(fs::exists(program / "protocol.MDX"));
  for (tz::TTzDbf* table : {&form.DBMobilTel, &form.DBProtocol, &form.DBVerbWordList,
                            &form.DBVerbTelList, &form.DBWerbung, &form.DBStartPro})
    EXPECT_TRUE(table->Active()) << table->Name();
}

TEST_F(StartUp, AppliesTheRegistryDefaultsAndTheIniText) {
  platform::IniFile(apps::WindowsDirectory() + "/tamsil.ini")
      .WriteString("Orvalis", "DefaultText", "Welcome to the show");
  TMainForm& form = OpenForm();
  EXPECT_EQ(form.MobileId, "0000000001");
  EXPECT_EQ(form.ComPortNo, 1);
  EXPECT_EQ(form.MobilePin, "");
  EXPECT_EQ(form.AdInterval, 5);
  EXPECT_TRUE(form.CheckNumbers);
  EXPECT_TRUE(form.CheckWords);
  EXPECT_EQ(DefaultDisplayText, "Welcome to the show");
  EXPECT_EQ(form.ComPortNames, (std::vector<std::string>{"Com 1", "Com 2", "Com 3", "Com 4"}));
  EXPECT_EQ(form.ui->StatusBar1->currentMessage(), "OK");
  EXPECT_EQ(form.ui->lblMobilTel->text(), "Not connected");
}

TEST_F(StartUp, ReadsTheStoredSettingsAndFallsBackWhenOneDoesNotRead) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> values;
    std::string id;
    int port, interval;
    bool numbers, words;
  };
  const Case cases[] = {
      {{{"ID", "0000000007"}, {"Port", "3"}, {"Werbeinterval", "0"}, {"PruefTel", "0"}},
       "0000000007",
       3,
       0,
       false,
       true},
      {{{"ID", "0000000007"}, {"Port", "three"}}, "0000000001", 1, 5, true, true},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(platform::RegIniFile::FileName());
    for (const auto& [name, value] : c.values) WriteRegistry(name, value);
    TMainForm& form = OpenForm();
    EXPECT_EQ(form.MobileId, c.id);
    EXPECT_EQ(form.ComPortNo, c.port);
    EXPECT_EQ(form.AdInterval, c.interval);
    EXPECT_EQ(form.CheckNumbers, c.numbers);
    EXPECT_EQ(form.CheckWords, c.words);
    CloseForm();
  }
}

TEST_F(StartUp, AnEmptyOrMissingIniTextKeepsTheBuiltInText) {
  OpenForm();
  EXPECT_EQ(DefaultDisplayText, "   Kestrova Vantorix");
  CloseForm();
  platform::IniFile(apps::WindowsDirectory() + "/tamsil.ini")
      .WriteString("Orvalis", "DefaultText", "");
  OpenForm();
  EXPECT_EQ(DefaultDisplayText, "   Kestrova Vantorix");
}

TEST_F(StartUp, ListsThePhoneModelsInMakerOrder) {
  WritePhones({{"0000000001", "Wavecom", "Fasttrack"},
               {"0000000002", "Siemens", "S45"},
               {"0000000003", "alcatel", "One Touch"},
               {"0000000004", "Siemens", "C35"}});
  TMainForm& form = OpenForm();
  EXPECT_EQ(form.MobileNames, (std::vector<std::string>{"alcatel One Touch", "Siemens C35",
                                                        "Siemens S45", "Wavecom Fasttrack"}));
  EXPECT_EQ(form.MobileIds,
            (std::vector<std::string>{"0000000003", "0000000004", "0000000002", "0000000001"}));
  EXPECT_EQ(form.DBMobilTel.CurrentTag(), "ID");
}

TEST_F(StartUp, AdvertisementsNeedAnIntervalAndAnActiveRow) {
  struct Ad {
    std::string text;
    bool active;
  };
  struct Case {
    std::string interval;
    std::vector<Ad> ads;
    bool enabled;
    std::string current;  // the row werbung.dbf stands on
  };
  const Case cases[] = {
      {"0", {{"A", true}}, false, "A"},
      {"5", {{"A", false}, {"B", false}}, false, ""},
      {"5", {{"A", false}, {"B", true}, {"C", true}}, true, "B"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(dir_ / "program");
    WriteRegistry("Werbeinterval", c.interval);
    {
      TMainForm seed;  // creates werbung.dbf as the program declares it
      ASSERT_TRUE(seed.DBWerbung.Active());
      for (const Ad& ad : c.ads) {
        ASSERT_TRUE(seed.DBWerbung.ALock());
        seed.DBWerbung.FieldPutStr("werbetext", ad.text);
        seed.DBWerbung.FieldPutStr("aktiv", ad.active ? "T" : "F");
        seed.DBWerbung.AppendRec();
        seed.DBWerbung.UnLock();
      }
    }
    TMainForm& form = OpenForm();
    EXPECT_EQ(form.AdsEnabled, c.enabled) << "interval " << c.interval;
    if (!c.current.empty()) {
      EXPECT_EQ(tz::RTrim(form.DBWerbung.FieldGet("werbetext")), c.current);
    } else {
      EXPECT_TRUE(form.DBWerbung.AtEof());
    }
    CloseForm();
  }
}

TEST_F(StartUp, ATableThatDoesNotOpenIsReportedAndStartUpGoesOn) {
  WritePhones({{"0000000001", "Siemens", "S45"}});
  // Not a table: the engine refuses to open it.
  dir_.Write("program/verbwort.dbf", "this is no table");
  TMainForm* form = nullptr;
  ASSERT_NO_THROW(form = &OpenForm()) << "start-up halted the program";
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_NE(ui_.Messages()[0].text.find("Error # "), std::string::npos) << ui_.Messages()[0].text;
  EXPECT_EQ(ui_.Messages()[0].flags, platform::kMbOk | platform::kMbIconStop);
  // The steps before it ran, and so did the ones after it: a filter table that did not open
  // left the other filter and the advertisements closed.
  EXPECT_TRUE(form->DBProtocol.Active());
  EXPECT_EQ(form->MobileNames, (std::vector<std::string>{"Siemens S45"}));
  EXPECT_FALSE(form->DBVerbWordList.Active());
  EXPECT_TRUE(form->DBVerbTelList.Active());
  EXPECT_TRUE(form->DBWerbung.Active());
  // The window still runs: the laser session is up and the log has its "Start".
  EXPECT_TRUE(platform::ld2000::SessionRunning());
  CloseForm();
}

TEST_F(StartUp, TheStartStopTimeHasLeadingZeros) {
  struct Case {
    int hour, minute;
    const char* text;
  };
  const Case cases[] = {
      {9, 5, "09:05"}, {0, 0, "00:00"}, {12, 7, "12:07"}, {23, 59, "23:59"}, {10, 30, "10:30"},
  };
  for (const Case& c : cases) EXPECT_EQ(StartStopTime(c.hour, c.minute), c.text);
}

TEST_F(StartUp, LogsStartAndStopAndRunsTheLaserSessionWithTheWindow) {
  TMainForm& form = OpenForm();
  std::vector<std::string> calls = LdCalls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "BeginSession(6000, 15632, 16384, 5)"),
            calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(), "DisplayFreq3(13000, 13000, 13000)"),
            calls.end());
  EXPECT_TRUE(platform::ld2000::SessionRunning());
  EXPECT_EQ(form.Laser.ScanSpeed, 13000);
  EXPECT_EQ(form.Laser.BlankShift, -1);
  EXPECT_EQ(form.Laser.ScrollSpeed, 12);
  EXPECT_EQ(form.ui->pnlScanSpeed->text(), "Scanspeed: 13000");
  EXPECT_EQ(form.ui->pnlBlankShift->text(), "Blankshift: -1");
  EXPECT_EQ(form.ui->pnlScrollSpeed->text(), "Scrollspeed: 12");
  EXPECT_FALSE(form.ui->BitBtn2->isEnabled());
  EXPECT_TRUE(form.ui->BitBtn1->isEnabled());

  form.close();
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(platform::ld2000::SessionRunning());
  CloseForm();
  OpenForm().close();  // a second start and close add two rows
  CloseForm();

  std::vector<std::string> rows = PeerRows(dir_ / "windows" / "sysilog.dat");
  ASSERT_EQ(rows.size(), 4u);
  const std::regex row(R"(\d{4}-\d\d-\d\d\|\d\d:\d\d\|(Start|Stop))");
  const char* comments[] = {"Start", "Stop", "Start", "Stop"};
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_TRUE(std::regex_match(rows[i], row)) << rows[i];
    EXPECT_EQ(rows[i].substr(rows[i].rfind('|') + 1), comments[i]);
  }
}

TEST_F(StartUp, ARowOfTheLogIsLeftOutWhileAnotherProgramHoldsItsAppendLock) {
  OpenForm().close();  // creates the log with its first "Start" and "Stop"
  CloseForm();
  platform::ChildProcess holder(TABLE_HOLDER, {});
  ASSERT_TRUE(holder.WriteLine("use " + (dir_ / "windows" / "sysilog.dat").string()));
  ASSERT_EQ(holder.ReadLine(), "ok");
  ASSERT_TRUE(holder.WriteLine("alock"));
  ASSERT_EQ(holder.ReadLine(), "true");
  ui_.Clear();
  TMainForm& form = OpenForm();
  EXPECT_FALSE(form.LogDisabled);
  ASSERT_TRUE(holder.WriteLine("unlock"));
  ASSERT_EQ(holder.ReadLine(), "ok");
  form.close();
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Texts().front();
  CloseForm();
  std::vector<std::string> rows = PeerRows(dir_ / "windows" / "sysilog.dat");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_TRUE(rows[0].ends_with("|Start"));  // the first run's start
  EXPECT_TRUE(rows[1].ends_with("|Stop"));   // its stop
  EXPECT_TRUE(rows[2].ends_with("|Stop"));   // the second run's start was left out
}

TEST_F(StartUp, ALogThatDoesNotOpenIsLeftAloneSilently) {
  apps::WindowsDirectory();
  dir_.Write("windows/sysilog.dat", "no table at all");
  TMainForm& form = OpenForm();
  EXPECT_TRUE(form.LogDisabled);
  EXPECT_TRUE(form.DBWerbung.Active());
  form.close();
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Texts().front();
  EXPECT_EQ(platform::TempDir::Read(dir_ / "windows" / "sysilog.dat"), "no table at all");
}

TEST_F(StartUp, EscRunsStopOnlyWhileStopIsEnabled) {
  TMainForm& form = OpenForm();
  const size_t frames = platform::ld2000::ShownFrames().size();
  QTest::keyClick(form.ui->Edit1, Qt::Key_Escape);
  EXPECT_EQ(platform::ld2000::ShownFrames().size(), frames) << "Stop ran while it was disabled";

  form.ui->BitBtn2->setEnabled(true);
  form.ui->BitBtn1->setEnabled(false);
  form.activateWindow();
  form.ui->Edit1->setFocus();
  QTest::keyClick(form.ui->Edit1, Qt::Key_Escape);
  EXPECT_TRUE(form.Laser.StopFlag);
  EXPECT_FALSE(form.ui->BitBtn2->isEnabled());
  EXPECT_TRUE(form.ui->BitBtn1->isEnabled());
  EXPECT_EQ(form.ui->StatusBar1->currentMessage(), "Please Press Start SMS Recive");
  ASSERT_EQ(platform::ld2000::ShownFrames().size(), frames + 1);
  EXPECT_EQ(platform::ld2000::ShownFrames().back().header.NumPoints, 0);
}

TEST_F(StartUp, ThePreviewDrawsTheFrameSentToTheLaser) {
  TMainForm& form = OpenForm();
  const size_t frames = platform::ld2000::ShownFrames().size();
  form.ShowStillText("KV");
  ASSERT_EQ(platform::ld2000::ShownFrames().size(), frames + 1);
  EXPECT_GT(platform::ld2000::ShownFrames().back().points.size(), 20u);
  const QImage& image = form.ui->PaintBox1->Image();
  int blue = 0, other = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      QRgb p = image.pixel(x, y);
      if (qBlue(p) > 128 && qRed(p) < 64 && qGreen(p) < 64)
        ++blue;
      else if (p != qRgb(0, 0, 0))
        ++other;
    }
  EXPECT_GT(blue, 100);
  EXPECT_EQ(other, 0);
  form.ShowStillText(DefaultDisplayText);
  EXPECT_FALSE(platform::testing::SaveScreenshot(form, "vantorix_main").empty());
}

}  // namespace
}  // namespace vantorix
