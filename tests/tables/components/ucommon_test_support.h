// What the tests of the ucommon unit share: the engine's fixture (the library from its start
// values in the "C" language, a fixed century window, a RecordingUi) with errors raised as
// ETarazedError, as the components run them in design mode, so that a failure shows as an
// exception and never halts the test; and a runner for the peer programs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dataset/convert.h"
#include "platform/testing/child_process.h"
#include "tables/components/ucommon.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/tzutils.h"
#include "tests/tables/engine/engine_test_support.h"

namespace tz {

class UCommonTest : public EngineTest {
 protected:
  UCommonTest() { SetRaiseErrors(true); }
};

// A TTzDataSet over a real table file, with the writes of a file dataset cut down to what the
// tests need: a missing file is created from DbfFields, each write takes its lock, writes,
// moves to a visible record and releases the lock. A write whose lock another work area holds
// is made without it, so that the engine's own refusal shows (error 1200 "Record not locked").
class TableDataset : public TTzDataSet {
 public:
  explicit TableDataset(const std::string& name, bool designing = false)
      : TTzDataSet(designing) {
    SetName(name);
  }
  ~TableDataset() override { Close(); }

  bool exclusive = false;
  // The writes in order: "append", "delete 3", "recall 3", "replace 3".
  std::vector<std::string> writes;

  using TTzDataSet::SelectWorkArea;

 protected:
  bool OpenDbfTable(const std::string& file) override {
    if (!FileExistsS(DefaultExtension(file, "DBF")) && !CreateTableFromDbfFields())
      ShowUnitMessage("Could not create \"" + file + "\"");
    tz::Use(file + (exclusive ? " EXCLUSIVE" : "") + " ALIAS " + AllTrim(Name()));
    return DbLastError == 0;
  }
  void AppendWithLock() override {
    writes.push_back("append");
    bool locked = tz::ALock();
    tz::Append();
    Finish(locked);
  }
  void DeleteWithLock() override {
    writes.push_back("delete " + std::to_string(tz::RecNo()));
    bool locked = tz::RLock();
    tz::DeleteRec();
    Finish(locked);
  }
  void RestoreWithLock() override {
    writes.push_back("recall " + std::to_string(tz::RecNo()));
    bool locked = tz::RLock();
    tz::RecallRec();
    if (locked) tz::Unlock();
  }
  void ReplaceWithLock() override {
    writes.push_back("replace " + std::to_string(tz::RecNo()));
    bool locked = tz::RLock();
    tz::Replace();
    Finish(locked);
  }

 private:
  void Finish(bool locked) {
    uint16_t error = DbLastError;
    if (error == 0) tz::RepositionAfterWrite();
    if (locked) tz::Unlock();
    DbLastError = error;
  }
};

// The framework's format settings with a user's short date format (and its separators), and
// the engine's date format and century taken from them as the unit start takes them, for the
// lifetime of the object.
class UserDates {
 public:
  UserDates(const std::string& short_date_format, char date_separator, char decimal = '.',
            char thousands = ',')
      : saved_(platform::dataset::FormatSettings()) {
    platform::dataset::TFormatSettings& settings = platform::dataset::FormatSettings();
    settings.ShortDateFormat = short_date_format;
    settings.DateSeparator = date_separator;
    settings.DecimalSeparator = decimal;
    settings.ThousandSeparator = thousands;
    StartUCommon();
  }
  ~UserDates() { platform::dataset::FormatSettings() = saved_; }
  UserDates(const UserDates&) = delete;
  UserDates& operator=(const UserDates&) = delete;

 private:
  platform::dataset::TFormatSettings saved_;
};

// The settings as a German user has them (dd.MM.yyyy).
class GermanDates : public UserDates {
 public:
  GermanDates() : UserDates("dd.MM.yyyy", '.', ',', '.') {}
};

// Runs a program to its end and returns the lines it prints.
inline std::vector<std::string> Output(const std::string& program,
                                       const std::vector<std::string>& args) {
  platform::ChildProcess child(program, args);
  child.CloseInput();
  std::vector<std::string> lines;
  for (std::string line; !(line = child.ReadLine(30000)).empty();) lines.push_back(line);
  EXPECT_EQ(child.Wait(), 0) << program;
  return lines;
}

}  // namespace tz
