// A write of the table component that fails (refused by the engine, or on a full disk) leaves
// every stored row byte for byte as it was: the dataset is back in browse state on the stored
// record, and no later move, post or close writes the failed values over a row.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "platform/dataset/fields.h"
#include "platform/testing/small_filesystem.h"
#include "tables/engine/dbf4.h"
#include "tests/apps/dbfread_rows.h"
#include "tzdbf_test_support.h"

namespace tz {
namespace {

using platform::dataset::dsBrowse;

const std::vector<std::string> kFields = {"id, C, 10, 0", "name, C, 20, 0"};
// The deleted mark and the two fields.
constexpr size_t kRecordSize = 31;

class FailedWrites : public TzDbfTest {
 protected:
  // The table lives on a small file system of its own, filled up by the cases that need a
  // full disk.
  FailedWrites() : disk_(dir_ / "disk", 64 * 1024) {}

  void SetUp() override {
    if (!disk_.Mounted()) GTEST_SKIP() << disk_.Error();
    dbf_ = Open("DBTel", "disk/tel.dbf", kFields);
    // Rows until the file's last block has room for part of one more record, but not for all
    // of it with its end mark: an append there writes over the end mark and then runs out.
    for (int row = 1;; ++row) {
      size_t room = (SmallFileSystem::BlockSize() - Size() % SmallFileSystem::BlockSize()) %
                    SmallFileSystem::BlockSize();
      if (row > 3 && room > 0 && room <= kRecordSize) break;
      AppendRow(*dbf_, {{"id", std::to_string(row)}, {"name", "row " + std::to_string(row)}});
    }
    rows_ = Column(*dbf_, "name");
    before_ = platform::TempDir::Read(File());
  }
  using SmallFileSystem = platform::SmallFileSystem;

  std::filesystem::path File() const { return dir_ / "disk" / "tel.dbf"; }
  size_t Size() const { return platform::TempDir::Read(File()).size(); }

  // After the failed write: browse state on the stored record, the same rows after a walk over
  // them and after the close, and the file unchanged to the byte.
  void ExpectNothingWritten(const std::string& label, const std::string& current) {
    SCOPED_TRACE(label);
    EXPECT_EQ(dbf_->State(), dsBrowse);
    EXPECT_EQ(RTrim(dbf_->FieldGet("name")), current);
    EXPECT_EQ(Column(*dbf_, "name"), rows_);
    dbf_->GoBottom();
    EXPECT_EQ(RTrim(dbf_->FieldGet("name")), rows_.back());
    dbf_->Close();
    std::string after = platform::TempDir::Read(File());
    auto diff = std::mismatch(after.begin(), after.end(), before_.begin(), before_.end());
    EXPECT_TRUE(after == before_) << "the file changed from byte " << (diff.first - after.begin())
                                  << " on; sizes " << after.size() << " and " << before_.size();
    std::vector<std::string> names;
    for (const std::string& row :
         apps_testing::DbfreadRows(File(), "NAME", dir_ / "peer.out"))
      names.push_back(row);
    EXPECT_EQ(names, rows_);
  }

  platform::SmallFileSystem disk_;
  std::unique_ptr<TTzDbf> dbf_;
  std::vector<std::string> rows_;
  std::string before_;
};

TEST_F(FailedWrites, ADirectWriteThatFailsLeavesEveryStoredRowAsItWas) {
  struct Case {
    std::string label;
    bool report;  // the engine reports (raises) the error; otherwise it is left in DbLastError
    std::function<void()> write;
  };
  const Case cases[] = {
      {"an append without the append lock", true,
       [&] {
         dbf_->FieldPutStr("id", "99");
         dbf_->FieldPutStr("name", "failed");
         dbf_->AppendRec();
       }},
      {"a replace without the record lock, reporting off", false,
       [&] {
         dbf_->FieldPutStr("name", "failed");
         dbf_->ReplaceRec();
       }},
      {"an append on a full disk", true,
       [&] {
         disk_.Fill();
         ASSERT_TRUE(dbf_->ALock());
         dbf_->FieldPutStr("id", "99");
         dbf_->FieldPutStr("name", "failed");
         dbf_->AppendRec();
       }},
  };
  for (const Case& c : cases) {
    dbf_->Open();
    dbf_->Go(2);
    bool reporting = SetErrorReporting(c.report);
    bool threw = false;
    try {
      c.write();
    } catch (const ETarazedError&) {
      threw = true;
    }
    uint16_t code = DbLastError;
    SetErrorReporting(reporting);
    EXPECT_EQ(threw, c.report) << c.label;
    EXPECT_NE(code, 0) << c.label;
    dbf_->UnLock();
    ExpectNothingWritten(c.label, rows_[1]);
    disk_.Free();
  }
}

TEST_F(FailedWrites, APostThatFailsOnAFullDiskDropsTheNewRow) {
  disk_.Fill();
  dbf_->Go(2);
  dbf_->Append();
  dbf_->FieldByName("id").SetAsString("99");
  dbf_->FieldByName("name").SetAsString("failed");
  EXPECT_THROW(dbf_->Post(), ETarazedError);
  ExpectNothingWritten("post", rows_.back());
}

}  // namespace
}  // namespace tz
