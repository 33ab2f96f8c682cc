// What the tests of the table components TTzCDataSet and TTzDbf share: the ucommon fixture
// (errors raised as ETarazedError) with a temporary folder, a recording progress window
// factory, a maker of TTzDbf components over files in the folder, and the phone-model table's
// field lines.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/testing/temp_dir.h"
#include "tables/components/tzprogress.h"
#include "tables/components/utzfds.h"
#include "ucommon_test_support.h"

namespace tz {

// The progress windows made while it is installed: per window its title and the steps taken.
class RecordingProgress {
 public:
  struct Window {
    std::string title;
    int steps = 0;
  };
  RecordingProgress() {
    previous_ = SetProgressFactory([this](const std::string& title) {
      windows_.push_back({title, 0});
      return std::make_unique<Recorder>(*this, windows_.size() - 1);
    });
  }
  ~RecordingProgress() { SetProgressFactory(std::move(previous_)); }
  RecordingProgress(const RecordingProgress&) = delete;
  RecordingProgress& operator=(const RecordingProgress&) = delete;

  const std::vector<Window>& Windows() const { return windows_; }
  void Clear() { windows_.clear(); }

 private:
  class Recorder : public TTzProgressWindow {
   public:
    Recorder(RecordingProgress& owner, size_t index) : owner_(owner), index_(index) {}
    void StepBar() override { ++owner_.windows_[index_].steps; }

   private:
    RecordingProgress& owner_;
    size_t index_;
  };

  std::vector<Window> windows_;
  TTzProgressFactory previous_;
};

// The field lines of the phone-model table telstamm.dbf, as both programs declare them.
inline const std::vector<std::string> kTelstammFields = {
    "id, C, 10, 0",       "hersteller, C, 20, 0", "modell, C, 20, 0",  "smsstack, N, 3, 0",
    "comport, N, 1, 0",   "baudrate, C, 6, 0",    "databits, C, 4, 0", "stopbits, C, 4, 0",
    "parity, C, 1, 0",    "flowcontr, C, 20, 0",  "inputbuf, N, 4, 0", "outputbuf, N, 4, 0",
    "waitopen, N, 4, 0",  "waitclose, N, 4, 0",   "waitsend, N, 4, 0", "waitrec, N, 4, 0",
    "smsc_omit, L, 1, 0",
};

class TzDbfTest : public UCommonTest {
 protected:
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  // A closed TTzDbf named `name` for the file `file` of the folder.
  std::unique_ptr<TTzDbf> Make(const std::string& name, const std::string& file,
                               const std::vector<std::string>& fields,
                               const std::vector<std::string>& index_lines = {}) {
    auto dbf = std::make_unique<TTzDbf>();
    dbf->SetName(name);
    dbf->DbfFields() = fields;
    dbf->IndexList() = index_lines;
    dbf->SetDbfFileName(PathOf(file));
    return dbf;
  }
  // The same, opened.
  std::unique_ptr<TTzDbf> Open(const std::string& name, const std::string& file,
                               const std::vector<std::string>& fields,
                               const std::vector<std::string>& index_lines = {}) {
    auto dbf = Make(name, file, fields, index_lines);
    dbf->Open();
    return dbf;
  }
  // Appends one record with the texts put into the fields, in the programs' own pattern.
  static void AppendRow(TTzDbf& dbf, const std::vector<std::pair<std::string, std::string>>& puts) {
    ASSERT_TRUE(dbf.ALock());
    for (const auto& [field, text] : puts) dbf.FieldPutStr(field, text);
    dbf.AppendRec();
    dbf.UnLock();
  }
  // The values of a field from GoTop to the end.
  static std::vector<std::string> Column(TTzDbf& dbf, const std::string& field) {
    std::vector<std::string> values;
    for (dbf.GoTop(); !dbf.AtEof(); dbf.Skip(1)) values.push_back(RTrim(dbf.FieldGet(field)));
    return values;
  }

  platform::TempDir dir_;
  RecordingProgress progress_;
};

}  // namespace tz
