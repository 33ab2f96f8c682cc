// The navigator's delete button on real tables: it deletes a live record and restores one
// that carries the deleted mark, asks first when told to, leaves the record alone on Cancel
// (and the navigator still fires OnClick) and on a record another program holds locked (the
// same), and does nothing without an enabled source, on a closed dataset or one that cannot
// be modified; other datasets get the framework's button.
#include "tables/components/atznav_decide.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "memory_dataset.h"
#include "platform/dataset/datasource.h"
#include "platform/testing/child_process.h"
#include "tables/components/utzfds.h"
#include "ucommon_test_support.h"

namespace tz {
namespace {

using platform::RecordedMessage;
using platform::dataset::TDataSource;
using R = TTzNavDeleteResult;

constexpr unsigned kQuestionFlags = platform::kMbOkCancel | platform::kMbIconQuestion;

// A dataset whose table may not be written.
class ReadOnlyDataset : public TableDataset {
 public:
  using TableDataset::TableDataset;

 protected:
  bool GetCanModify() override { return false; }
};

class NavigatorDelete : public UCommonTest {
 protected:
  NavigatorDelete() {
    dir_.Write("phones.dbf", RawTable(0x03, {{"NAME", 'C', 10}},
                                      {" Anna      ", "*Bernd     ", " Carla     "}));
  }

  std::string Path() const { return (dir_ / "phones.dbf").string(); }

  // Opens `ds` on the table and goes to the record named `name`.
  void OpenAt(TableDataset& ds, bool hide_deleted, const std::string& name) {
    ds.SetDbfFileName(Path());
    ds.SetHideDeletedRecs(hide_deleted);
    ds.Open();
    source_.SetDataSet(&ds);
    for (ds.First(); !ds.Eof() && ds.FieldByName("NAME").AsString() != name;) ds.Next();
    ASSERT_EQ(ds.FieldByName("NAME").AsString(), name);
  }

  // The deleted marks of the records as the file holds them, one character a record.
  std::string Marks() const {
    std::ifstream in(Path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t header = static_cast<unsigned char>(bytes[8]) | static_cast<unsigned char>(bytes[9]) << 8;
    size_t record = static_cast<unsigned char>(bytes[10]) | static_cast<unsigned char>(bytes[11]) << 8;
    uint32_t count = static_cast<unsigned char>(bytes[4]) | static_cast<unsigned char>(bytes[5]) << 8;
    std::string marks;
    for (uint32_t r = 0; r < count; ++r) marks += bytes[header + r * record];
    return marks;
  }

  GermanDates german_;
  platform::TempDir dir_;
  TDataSource source_;
};

// With deleted records shown, the one button restores a deleted record and deletes it again
// on the next press; the forms switch both questions off.
TEST_F(NavigatorDelete, RestoresADeletedRecordAndDeletesItAgainOnTheNextPress) {
  TableDataset ds("DBPhones");
  OpenAt(ds, false, "Bernd");
  TTzNavDeleteOptions quiet{.ConfirmDelete = false, .ConfirmRestore = false};
  ASSERT_EQ(Marks(), " * ");

  EXPECT_EQ(TzNavigatorDeleteClick(&source_, quiet), R::Restored);
  EXPECT_FALSE(ds.IsDeleted());
  EXPECT_EQ(Marks(), "   ");
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), "Bernd");

  EXPECT_EQ(TzNavigatorDeleteClick(&source_, quiet), R::Deleted);
  EXPECT_TRUE(ds.IsDeleted());
  EXPECT_EQ(Marks(), " * ");
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), "Bernd");

  EXPECT_EQ(TzNavigatorDeleteClick(&source_, quiet), R::Restored);
  EXPECT_EQ(Marks(), "   ");
  EXPECT_EQ(ds.writes, (std::vector<std::string>{"recall 2", "delete 2", "recall 2"}));
  EXPECT_TRUE(ui_.Messages().empty());
}

// The question comes before the write; only Cancel skips it, and the navigator fires OnClick
// after a Cancel as after a delete.
TEST_F(NavigatorDelete, AskedFirstOnlyCancelKeepsTheRecord) {
  struct Case {
    std::string record;  // Anna is live, Bernd deleted
    int answer;
    R result;
    std::string marks;
    std::string question;
  } cases[] = {
      {"Anna", platform::kIdCancel, R::Cancelled, " * ", "Delete Record ?"},
      {"Anna", platform::kIdOk, R::Deleted, "** ", "Delete Record ?"},
      {"Anna", platform::kIdIgnore, R::Deleted, "** ", "Delete Record ?"},  // not Cancel: yes
      {"Bernd", platform::kIdCancel, R::Cancelled, " * ", "Restore Record ?"},
      {"Bernd", platform::kIdOk, R::Restored, "   ", "Restore Record ?"},
  };
  for (const Case& c : cases) {
    dir_.Write("phones.dbf", RawTable(0x03, {{"NAME", 'C', 10}},
                                      {" Anna      ", "*Bernd     ", " Carla     "}));
    ui_.Clear();
    TableDataset ds("DBPhones");
    OpenAt(ds, false, c.record);
    ui_.QueueAnswer(c.answer);
    R result = TzNavigatorDeleteClick(&source_, TTzNavDeleteOptions{});
    EXPECT_EQ(result, c.result) << c.record << " " << c.answer;
    EXPECT_EQ(Marks(), c.marks) << c.record << " " << c.answer;
    ASSERT_EQ(ui_.Messages().size(), 1u);
    const RecordedMessage& asked = ui_.Messages()[0];
    EXPECT_EQ(asked.text, c.question);
    EXPECT_EQ(asked.caption, "Confirm");
    EXPECT_EQ(asked.flags, kQuestionFlags);
    EXPECT_EQ(ds.FieldByName("NAME").AsString(), c.record);
    EXPECT_TRUE(TzNavigatorFiresOnClick(result, false));
    source_.SetDataSet(nullptr);
  }
}

// A record another program holds locked: the file dataset's write is refused with "Lock
// failed [Delete]" (or "[Restore]") and writes nothing, and the press still counts as the
// delete or restore it tried, so the navigator fires OnClick. Without a place for the failure
// it passes on to the caller.
TEST_F(NavigatorDelete, ARecordLockHeldByAnotherProgramIsReportedAndThePressStillCounts) {
  struct Case {
    int recno;  // 1 Anna is live, 2 Bernd deleted
    R result;
    const char* message;
  } cases[] = {
      {1, R::Deleted, "Lock failed [Delete]"},
      {2, R::Restored, "Lock failed [Restore]"},
  };
  TTzNavDeleteOptions quiet{.ConfirmDelete = false, .ConfirmRestore = false};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TTzDbf dbf;
    dbf.SetName("DBPhones");
    dbf.SetDbfFileName(Path());
    dbf.Open();
    dbf.Go(c.recno);
    source_.SetDataSet(&dbf);
    platform::ChildProcess holder(TABLE_HOLDER, {});
    for (const std::string& line : {"use " + Path(), "go " + std::to_string(c.recno), std::string("rlock")}) {
      ASSERT_TRUE(holder.WriteLine(line));
      std::string answer = holder.ReadLine();
      ASSERT_TRUE(answer == "ok" || answer == "true") << line << ": " << answer;
    }
    ui_.Clear();
    std::exception_ptr failure;
    R result = TzNavigatorDeleteClick(&source_, quiet, &failure);
    EXPECT_EQ(result, c.result);
    ASSERT_TRUE(failure);
    EXPECT_THROW(std::rethrow_exception(failure), platform::dataset::EAbort);
    EXPECT_TRUE(TzNavigatorFiresOnClick(result, false));
    EXPECT_EQ(ui_.Texts(), std::vector<std::string>{c.message});
    EXPECT_EQ(Marks(), " * ");
    EXPECT_EQ(dbf.State(), platform::dataset::dsBrowse);
    EXPECT_EQ(dbf.RecNo(), c.recno);

    EXPECT_THROW(TzNavigatorDeleteClick(&source_, quiet), platform::dataset::EAbort);
    EXPECT_EQ(Marks(), " * ");
    source_.SetDataSet(nullptr);
  }
}

TEST_F(NavigatorDelete, WithDeletedRecordsHiddenTheDeletedRecordLeavesTheView) {
  TableDataset ds("DBPhones");
  OpenAt(ds, true, "Anna");
  EXPECT_EQ(TzNavigatorDeleteClick(&source_, {.ConfirmDelete = false}), R::Deleted);
  EXPECT_EQ(Marks(), "** ");
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), "Carla");
  EXPECT_FALSE(ds.IsDeleted());
}

TEST_F(NavigatorDelete, NothingWithoutAnEnabledSourceAnOpenOrAModifiableDataset) {
  EXPECT_EQ(TzNavigatorDeleteClick(nullptr, {}), R::Ignored);
  EXPECT_EQ(TzNavigatorDeleteClick(&source_, {}), R::Ignored);  // no dataset

  TableDataset closed("DBClosed");
  source_.SetDataSet(&closed);
  EXPECT_EQ(TzNavigatorDeleteClick(&source_, {}), R::Ignored);

  TableDataset ds("DBPhones");
  OpenAt(ds, false, "Anna");
  source_.SetEnabled(false);
  EXPECT_EQ(TzNavigatorDeleteClick(&source_, {}), R::Ignored);
  source_.SetEnabled(true);
  ds.Close();

  ReadOnlyDataset read_only("DBReadOnly");
  OpenAt(read_only, false, "Bernd");
  EXPECT_EQ(TzNavigatorDeleteClick(&source_, {}), R::Ignored);

  EXPECT_EQ(Marks(), " * ");
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_TRUE(read_only.writes.empty());
}

TEST_F(NavigatorDelete, OtherDatasetsGetTheFrameworksButton) {
  testing::MemoryDataset memory({{1, "Anna", 1}});
  memory.Open();
  source_.SetDataSet(&memory);
  EXPECT_EQ(TzNavigatorDeleteClick(&source_, {}), R::Framework);
  EXPECT_EQ(memory.rows.size(), 1u);  // the framework's button does the deleting
  EXPECT_TRUE(ui_.Messages().empty());
  source_.SetDataSet(nullptr);
}

TEST(NavigatorOnClick, FiresAfterItsOwnActionsOutsideDesignMode) {
  struct Case {
    R result;
    bool designing;
    bool fires;
  } cases[] = {
      {R::Deleted, false, true},    {R::Restored, false, true},  {R::Cancelled, false, true},
      {R::Ignored, false, false},   {R::Framework, false, false},
      {R::Deleted, true, false},    {R::Cancelled, true, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TzNavigatorFiresOnClick(c.result, c.designing), c.fires)
        << static_cast<int>(c.result) << " " << c.designing;
}

}  // namespace
}  // namespace tz
