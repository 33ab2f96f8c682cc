// TTzPrimDataset and the dataset framework against the in-memory Tzi backend: navigation, the
// edit cycle with the Tzi calls it ends in, bookmarks, the result codes and the framework's
// texts.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "platform/testing/recording_ui.h"
#include "tests/tables/components/memory_dataset.h"

namespace tz::testing {
namespace {

using Calls = std::vector<std::string>;

// --- Navigation ---------------------------------------------------------------------------------

struct Step {
  const char* op;  // open, first, last, next, prior, moveby
  int distance;    // for moveby
  const char* name;
  bool bof;
  bool eof;
  int moved;  // MoveBy's answer (next and prior too)
};

void RunSteps(int row_count, const std::vector<Step>& steps) {
  MemoryDataset ds(NumberedRows(row_count));
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    std::string op = s.op;
    int moved = 0;
    if (op == "open") ds.Open();
    if (op == "first") ds.First();
    if (op == "last") ds.Last();
    if (op == "next") moved = ds.MoveBy(1);
    if (op == "prior") moved = ds.MoveBy(-1);
    if (op == "moveby") moved = ds.MoveBy(s.distance);
    SCOPED_TRACE(std::to_string(row_count) + " records, step " + std::to_string(i) + " " + op);
    EXPECT_EQ(ds.CurrentName(), s.name);
    EXPECT_EQ(ds.Bof(), s.bof);
    EXPECT_EQ(ds.Eof(), s.eof);
    EXPECT_EQ(moved, s.moved);
  }
}

TEST(PrimaryDatasetNavigation, ThreeRecords) {
  RunSteps(3, {
                  {"open", 0, "r1", true, false, 0},
                  {"next", 0, "r2", false, false, 1},
                  {"next", 0, "r3", false, false, 1},
                  {"next", 0, "r3", false, true, 0},
                  {"next", 0, "r3", false, true, 0},
                  {"prior", 0, "r2", false, false, -1},
                  {"last", 0, "r3", false, true, 0},
                  {"moveby", -5, "r1", true, false, -2},
                  {"prior", 0, "r1", true, false, 0},
                  {"moveby", 2, "r3", false, false, 2},
                  {"moveby", 1, "r3", false, true, 0},
                  {"first", 0, "r1", true, false, 0},
                  {"moveby", 0, "r1", true, false, 0},
              });
}

TEST(PrimaryDatasetNavigation, OneRecord) {
  RunSteps(1, {
                  {"open", 0, "r1", true, false, 0},
                  {"next", 0, "r1", false, true, 0},
                  {"prior", 0, "r1", true, false, 0},
                  {"last", 0, "r1", false, true, 0},
                  {"first", 0, "r1", true, false, 0},
                  {"moveby", 3, "r1", false, true, 0},
                  {"moveby", -3, "r1", true, false, 0},
              });
}

TEST(PrimaryDatasetNavigation, NoRecords) {
  RunSteps(0, {
                  {"open", 0, "", true, true, 0},
                  {"next", 0, "", true, true, 0},
                  {"prior", 0, "", true, true, 0},
                  {"last", 0, "", true, true, 0},
                  {"first", 0, "", true, true, 0},
                  {"moveby", 2, "", true, true, 0},
              });
}

TEST(PrimaryDatasetNavigation, ScrollEventsOnlyWhenTheDatasetCanMove) {
  MemoryDataset ds(NumberedRows(2));
  int before = 0, after = 0;
  ds.BeforeScroll = [&](TDataSet&) { ++before; };
  ds.AfterScroll = [&](TDataSet&) { ++after; };
  ds.Open();
  EXPECT_EQ(after, 1);  // the first record of the open
  ds.Next();
  ds.Next();  // runs into the end: still a scroll
  ds.Next();  // at the end already: no move, no after-scroll
  EXPECT_EQ(before, 3);
  EXPECT_EQ(after, 3);
}

TEST(PrimaryDatasetNavigation, RecordNumbersCountsAndFindRecord) {
  MemoryDataset ds(NumberedRows(3));
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_TRUE(ds.FindLast());
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_TRUE(ds.FindPrior());
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_TRUE(ds.FindNext());
  EXPECT_FALSE(ds.FindNext());  // off the end: not found, still on record 3
  EXPECT_FALSE(ds.Found());
  EXPECT_EQ(ds.CurrentName(), "r3");
  EXPECT_TRUE(ds.FindFirst());
  EXPECT_EQ(ds.CurrentName(), "r1");
  ds.Close();
  EXPECT_EQ(ErrorOf([&] { ds.RecordCount(); }),
            "Cannot perform this operation on a closed dataset");
}

// Going to a record number no record has leaves the dataset where it was, even when the
// cursor stood elsewhere: nothing is re-read and no scroll is reported.
TEST(PrimaryDatasetNavigation, RecordNumberBeyondTheTableStays) {
  MemoryDataset ds(NumberedRows(3));
  ds.Open();
  ds.Next();
  int after = 0;
  ds.AfterScroll = [&](TDataSet&) { ++after; };
  ds.MoveCursorBehindTheBack(1);
  ds.ClearCalls();
  ds.SetRecNo(7);
  EXPECT_EQ(ds.calls, (Calls{"SetToRecNo(7)"}));
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_EQ(ds.CurrentName(), "r2");
  EXPECT_EQ(after, 0);
  ds.ClearCalls();
  ds.Next();  // from record 2, not from where the cursor was left
  EXPECT_EQ(ds.calls, (Calls{"GotoBookmark(2)", "GetNextRecord(3)"}));
  EXPECT_EQ(ds.CurrentName(), "r3");

  ds.ClearCalls();
  ds.SetRecNo(3);  // the current number: nothing at all
  EXPECT_TRUE(ds.calls.empty());
  ds.SetRecNo(1);
  EXPECT_EQ(ds.CurrentName(), "r1");
  EXPECT_EQ(after, 2);
}

// --- The edit cycle and the Tzi calls it ends in ------------------------------------------------

// Edit re-reads, Post writes and Delete deletes the active record even when the cursor was
// moved away (another row read, a lookup, a missed search): each goes to the active bookmark
// first.
TEST(PrimaryDatasetEditing, EditAndPostGoToTheActiveBookmarkFirst) {
  MemoryDataset ds(NumberedRows(3));
  ds.Open();
  ds.Next();
  ds.MoveCursorBehindTheBack(3);
  ds.ClearCalls();
  ds.Edit();
  EXPECT_EQ(ds.calls, (Calls{"GotoBookmark(2)", "GetRecord(2)"}));
  EXPECT_EQ(ds.State(), dsEdit);
  EXPECT_EQ(ds.CurrentName(), "r2");

  ds.FieldByName("NAME").SetAsString("changed");
  EXPECT_TRUE(ds.Modified());
  ds.MoveCursorBehindTheBack(1);
  ds.ClearCalls();
  ds.Post();
  EXPECT_EQ(ds.calls, (Calls{"GotoBookmark(2)", "UpdateRecord(2,changed,1)", "GetRecord(2)"}));
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.rows, (std::vector<Row>{{1, "r1", 10}, {2, "changed", 20}, {3, "r3", 30}}));
  EXPECT_EQ(ds.CurrentName(), "changed");
}

TEST(PrimaryDatasetEditing, DeleteGoesToTheActiveBookmarkFirst) {
  MemoryDataset ds(NumberedRows(3));
  ds.Open();
  ds.Next();
  ds.MoveCursorBehindTheBack(3);
  ds.ClearCalls();
  ds.Delete();
  EXPECT_EQ(ds.calls, (Calls{"GotoBookmark(2)", "DeleteRecord(2)", "GetRecord(3)"}));
  EXPECT_EQ(ds.CurrentName(), "r3");

  ds.MoveCursorBehindTheBack(1);
  ds.ClearCalls();
  ds.Delete();  // the last record: the dataset falls back to the one before
  EXPECT_EQ(ds.calls, (Calls{"GotoBookmark(3)", "DeleteRecord(3)", "GetRecord:1403",
                             "GetNextRecord:1403", "GetPriorRecord(1)"}));
  EXPECT_EQ(ds.CurrentName(), "r1");

  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ErrorOf([&] { ds.Delete(); }), "Cannot perform this operation on an empty dataset");
}

TEST(PrimaryDatasetEditing, InsertAndPostWriteANewRecord) {
  MemoryDataset ds(NumberedRows(2));
  ds.Open();
  ds.ClearCalls();
  ds.Insert();
  EXPECT_EQ(ds.calls, (Calls{"InitRecord"}));
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_EQ(ds.CurrentName(), "");
  ds.FieldByName("NAME").SetAsString("new");
  ds.FieldByName("QTY").SetAsInteger(7);
  ds.ClearCalls();
  ds.Post();
  EXPECT_EQ(ds.calls, (Calls{"InsertRecord(new)", "GetRecord(3)"}));
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_EQ(ds.rows.back(), (Row{3, "new", 7}));
}

TEST(PrimaryDatasetEditing, EditOnAnEmptyDatasetInsertsAndPostAppends) {
  MemoryDataset ds;
  ds.Open();
  int new_records = 0;
  ds.OnNewRecord = [&](TDataSet& d) {
    ++new_records;
    EXPECT_EQ(d.State(), dsInsert);
  };
  ds.Edit();
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_EQ(new_records, 1);
  ds.FieldByName("NAME").SetAsString("first");
  ds.Post();
  EXPECT_EQ(ds.rows, (std::vector<Row>{{1, "first", 0}}));
  EXPECT_FALSE(ds.IsEmpty());
  EXPECT_FALSE(ds.Bof());
  EXPECT_FALSE(ds.Eof());

  ds.Append();
  ds.FieldByName("NAME").SetAsString("second");
  ds.Post();
  EXPECT_EQ(ds.CurrentName(), "second");
  EXPECT_EQ(ds.RecordCount(), 2);
}

TEST(PrimaryDatasetEditing, CancelLeavesTheRecordsAlone) {
  MemoryDataset ds(NumberedRows(3));
  ds.Open();
  ds.Next();
  int cancels = 0;
  ds.AfterCancel = [&](TDataSet&) { ++cancels; };

  ds.Edit();
  ds.FieldByName("NAME").SetAsString("dropped");
  ds.MoveCursorBehindTheBack(3);
  ds.ClearCalls();
  ds.Cancel();
  EXPECT_EQ(ds.calls, (Calls{"GotoBookmark(2)", "GetRecord(2)"}));
  EXPECT_EQ(ds.CurrentName(), "r2");

  ds.Insert();
  ds.FieldByName("NAME").SetAsString("dropped");
  ds.Cancel();
  EXPECT_EQ(ds.CurrentName(), "r2");  // back on the record the insert stood before
  ds.Append();
  ds.Cancel();
  EXPECT_EQ(ds.CurrentName(), "r3");  // an append cancelled stands on the last record

  EXPECT_EQ(cancels, 3);
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.rows, NumberedRows(3));
}

TEST(PrimaryDatasetEditing, MovingPostsAModifiedRecordAndCancelsAnUnmodifiedOne) {
  MemoryDataset ds(NumberedRows(2));
  ds.Open();
  ds.Edit();
  ds.FieldByName("QTY").SetAsInteger(99);
  ds.Next();
  EXPECT_EQ(ds.rows[0], (Row{1, "r1", 99}));
  ds.Edit();
  ds.ClearCalls();
  ds.First();
  EXPECT_EQ(ds.calls[0], "GotoBookmark(2)");  // the cancel's re-read, no UpdateRecord
  EXPECT_EQ(ds.rows[1], (Row{2, "r2", 20}));
}

TEST(PrimaryDatasetEditing, RefreshRereadsTheActiveRecord) {
  MemoryDataset ds(NumberedRows(3));
  ds.Open();
  ds.Next();
  ds.rows[1].name = "other";  // another program changed it
  ds.MoveCursorBehindTheBack(1);
  ds.ClearCalls();
  ds.Refresh();
  EXPECT_EQ(ds.calls, (Calls{"GotoBookmark(2)", "ForceReread", "GetRecord(2)"}));
  EXPECT_EQ(ds.CurrentName(), "other");
}

TEST(PrimaryDatasetEditing, TheFrameworksTexts) {
  MemoryDataset ds(NumberedRows(2));
  ds.Open();
  TField& name = ds.FieldByName("NAME");
  TField& qty = ds.FieldByName("QTY");
  EXPECT_EQ(ErrorOf([&] { name.SetAsString("x"); }), "Dataset not in edit or insert mode");
  EXPECT_EQ(ErrorOf([&] { ds.Post(); }), "Dataset not in edit or insert mode");
  qty.SetReadOnly(true);
  ds.Edit();
  EXPECT_EQ(ErrorOf([&] { qty.SetAsInteger(5); }), "Field 'QTY' cannot be modified");
  qty.SetDisplayLabel("Quantity");
  EXPECT_EQ(ErrorOf([&] { qty.SetAsInteger(5); }), "Field 'Quantity' cannot be modified");
  EXPECT_EQ(ErrorOf([&] { ds.FieldByName("nosuch"); }), "Field 'nosuch' not found");
  EXPECT_EQ(&ds.FieldByName("name"), &name);  // names ignore case
  ds.Cancel();
  ds.Close();
  EXPECT_EQ(ErrorOf([&] { ds.First(); }), "Cannot perform this operation on a closed dataset");
}

// The value is validated once per put, before anything is stored; the validate event reads the
// value under test; an exception from it rejects the value.
TEST(PrimaryDatasetEditing, AValueIsValidatedOncePerPut) {
  MemoryDataset ds(NumberedRows(1));
  ds.Open();
  TField& name = ds.FieldByName("NAME");
  std::vector<std::string> seen;
  name.OnValidate = [&](TField& f) {
    seen.push_back(f.AsString());
    if (f.AsString() == "bad") throw std::runtime_error("rejected");
  };
  ds.Edit();
  name.SetAsString("good");
  EXPECT_EQ(seen, (std::vector<std::string>{"good"}));
  EXPECT_EQ(ErrorOf([&] { name.SetAsString("bad"); }), "rejected");
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_EQ(name.AsString(), "good");
  name.Clear();
  EXPECT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen.back(), "");  // Null under test
  EXPECT_TRUE(name.IsNull());
}

// --- Lookup and Locate --------------------------------------------------------------------------

// A lookup while a record is being edited leaves the state, the pending edit and the record the
// edit belongs to as they were, although the backend left its cursor on the found record.
TEST(PrimaryDatasetSearching, LookupKeepsStateAndPendingEdits) {
  MemoryDataset ds(NumberedRows(3));
  ds.Open();
  ds.Next();
  ds.Edit();
  ds.FieldByName("NAME").SetAsString("pending");
  EXPECT_EQ(ds.Lookup("NAME", "r3", "QTY"), TVariant(30));
  EXPECT_EQ(ds.State(), dsEdit);
  EXPECT_TRUE(ds.Modified());
  EXPECT_EQ(ds.CurrentName(), "pending");
  EXPECT_EQ(ds.RecNo(), 2);
  ds.ClearCalls();
  ds.Post();
  EXPECT_EQ(ds.calls[0], "GotoBookmark(2)");
  EXPECT_EQ(ds.calls[1], "UpdateRecord(2,pending,1)");
  EXPECT_EQ(ds.rows, (std::vector<Row>{{1, "r1", 10}, {2, "pending", 20}, {3, "r3", 30}}));
}

TEST(PrimaryDatasetSearching, LookupResults) {
  MemoryDataset ds(NumberedRows(3));
  ds.Open();
  EXPECT_TRUE(ds.Lookup("NAME", "zz", "QTY").IsNull());
  TVariant both = ds.Lookup("QTY", 20, "NAME;QTY");
  ASSERT_EQ(both.Count(), 2u);
  EXPECT_EQ(both.Item(0), TVariant("r2"));
  EXPECT_EQ(both.Item(1), TVariant(20));
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.CurrentName(), "r1");
  ds.ClearCalls();
  ds.Next();  // from record 1 again
  EXPECT_EQ(ds.calls, (Calls{"GotoBookmark(1)", "GetNextRecord(2)"}));
}

TEST(PrimaryDatasetSearching, Locate) {
  MemoryDataset ds(NumberedRows(3));
  ds.Open();
  int after = 0;
  ds.AfterScroll = [&](TDataSet&) { ++after; };
  EXPECT_TRUE(ds.Locate("NAME", "R3", loCaseInsensitive));
  EXPECT_EQ(ds.CurrentName(), "r3");
  EXPECT_EQ(after, 1);
  EXPECT_FALSE(ds.Locate("NAME", "R", 0));
  EXPECT_EQ(ds.CurrentName(), "r3");
  EXPECT_EQ(after, 1);
  ds.Prior();  // from record 3, not from where the missed search left the cursor
  EXPECT_EQ(ds.CurrentName(), "r2");
  EXPECT_TRUE(ds.Locate("NAME", "r", loPartialKey));
  EXPECT_EQ(ds.CurrentName(), "r1");

  ds.Edit();  // a pending edit is posted before the dataset moves
  ds.FieldByName("QTY").SetAsInteger(11);
  EXPECT_TRUE(ds.Locate("QTY", 30, 0));
  EXPECT_EQ(ds.rows[0], (Row{1, "r1", 11}));
  EXPECT_EQ(ds.State(), dsBrowse);
}

// --- Bookmarks ----------------------------------------------------------------------------------

TEST(PrimaryDatasetBookmarks, Comparison) {
  MemoryDataset ds(NumberedRows(3));
  ds.Open();
  TBookmark b1 = ds.GetBookmark();
  ds.Next();
  TBookmark b2 = ds.GetBookmark();
  TBookmark none;
  struct Case {
    const TBookmark& a;
    const TBookmark& b;
    int expected;
  } cases[] = {
      {b1, b2, -1}, {b2, b1, 1}, {b2, b2, 0}, {b2, none, -1}, {none, b2, 1}, {none, none, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ds.CompareBookmarks(c.a, c.b), c.expected);
  ds.Close();
  EXPECT_EQ(ds.CompareBookmarks(b1, b2), 0);  // undecided while closed
  EXPECT_EQ(ds.CompareBookmarks(b1, none), -1);
}

TEST(PrimaryDatasetBookmarks, GotoAndValidity) {
  MemoryDataset ds(NumberedRows(3));
  ds.Open();
  ds.Last();
  TBookmark b3 = ds.GetBookmark();
  ASSERT_EQ(b3.size(), 4u);
  ds.First();
  ds.GotoBookmark(b3);
  EXPECT_EQ(ds.CurrentName(), "r3");
  EXPECT_FALSE(ds.Eof());
  EXPECT_TRUE(ds.BookmarkValid(b3));
  ds.rows.pop_back();  // record 3 goes away underneath
  EXPECT_FALSE(ds.BookmarkValid(b3));
  EXPECT_FALSE(ds.BookmarkValid(TBookmark{}));
  EXPECT_EQ(ErrorOf([&] { ds.GotoBookmark(b3); }), "Record not found");
  ds.Close();
  EXPECT_FALSE(ds.BookmarkValid(b3));
  EXPECT_TRUE(ds.GetBookmark().empty());
}

// --- Result codes -------------------------------------------------------------------------------

class TextedDataset : public MemoryDataset {
 public:
  std::string ErrorCodeText(int32_t code) override { return "text of " + std::to_string(code); }
};

TEST(PrimaryDatasetCodes, TziCheck) {
  MemoryDataset plain;
  TextedDataset texted;
  struct Case {
    int32_t code;
    const char* plain;
    const char* texted;
  } cases[] = {
      {0, "", ""},
      {1401, "Dataset error: 1401", "Dataset error: 1401"},
      {1402, "Dataset error: 1402", "Dataset error: 1402"},
      {1403, "Dataset error: 1403", "Dataset error: 1403"},
      {1404, "Missing DbfFilename property", "Missing DbfFilename property"},
      {7, "Dataset error: 7", "Dataset error: text of 7"},
      {-3, "Dataset error: -3", "Dataset error: text of -3"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorOf([&] { plain.TziCheck(c.code); }), c.plain) << c.code;
    EXPECT_EQ(ErrorOf([&] { texted.TziCheck(c.code); }), c.texted) << c.code;
  }
}

TEST(PrimaryDatasetCodes, FetchCodes) {
  MemoryDataset ds(NumberedRows(3));
  ds.Open();
  struct Case {
    int32_t code;
    bool check;
    TGetResult result;
    const char* error;
  } cases[] = {
      {0, false, grOK, ""},          {1402, false, grBOF, ""},
      {1403, false, grEOF, ""},      {99, false, grError, ""},
      {1402, true, grBOF, ""},       {1403, true, grEOF, ""},
      {99, true, grError, "Dataset error: 99"},
  };
  char* buffer = ds.TempBuffer();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    std::memset(buffer, 0, ds.TotalBufferSize());
    ds.SetBookmarkFlag(buffer, bfEOF);
    ds.scripted_fetch_codes = {c.code};
    TGetResult result = grOK;
    EXPECT_EQ(ErrorOf([&] { result = ds.GetRecord(buffer, gmNext, c.check); }), c.error);
    if (*c.error) continue;
    EXPECT_EQ(result, c.result);
    if (c.code == 0) {
      EXPECT_EQ(buffer[ds.RecordInfoStart() + 5], bfCurrent);
      EXPECT_EQ(ds.RecordNumberOf(buffer), 1);  // the cursor stood on record 1
      int32_t bookmark;
      std::memcpy(&bookmark, buffer + ds.BookmarkStart(), 4);
      EXPECT_EQ(bookmark, 1);
    } else {
      EXPECT_EQ(buffer[ds.RecordInfoStart() + 5], bfEOF);  // untouched
    }
  }
}

TEST(PrimaryDatasetCodes, AFailedOpenLeavesTheDatasetClosed) {
  MemoryDataset ds(NumberedRows(1));
  ds.open_code = kTziOpenFailed;
  EXPECT_EQ(ErrorOf([&] { ds.Open(); }), "Dataset error: 1401");
  EXPECT_FALSE(ds.Active());
  EXPECT_FALSE(ds.IsOpen());
  EXPECT_EQ(ds.calls, (Calls{"Open"}));  // nothing to close
  ds.open_code = 0;
  ds.Open();
  EXPECT_TRUE(ds.IsOpen());
  EXPECT_TRUE(ds.IsTableKind());
  EXPECT_EQ(ds.FieldCount(), 2);
  ds.Close();
  EXPECT_EQ(ds.calls.back(), "Close");
  EXPECT_FALSE(ds.IsOpen());
  EXPECT_EQ(ds.FieldCount(), 0);  // default fields go with the close
}

TEST(PrimaryDatasetCodes, AddRecordEndsInAppendOrInsert) {
  MemoryDataset ds(NumberedRows(1));
  ds.Open();
  ds.ClearCalls();
  std::memcpy(ds.TempBuffer(), "x", 2);
  ds.InternalAddRecord(ds.TempBuffer(), true);
  ds.InternalAddRecord(ds.TempBuffer(), false);
  EXPECT_EQ(ds.calls, (Calls{"AppendRecord(x)", "InsertRecord(x)"}));
}

TEST(PrimaryDatasetCodes, CurrentRecordCopyAndSequence) {
  MemoryDataset ds(NumberedRows(2));
  ds.Open();
  ds.Next();
  std::vector<char> copy(ds.TotalBufferSize());
  ds.MoveCursorBehindTheBack(1);
  EXPECT_TRUE(ds.GetCurrentRecord(copy.data()));
  EXPECT_STREQ(copy.data(), "r2");
  EXPECT_TRUE(ds.IsSequenced());
  ds.SetFiltered(true);
  EXPECT_FALSE(ds.IsSequenced());
  MemoryDataset empty;
  empty.Open();
  EXPECT_FALSE(empty.GetCurrentRecord(copy.data()));
}

TEST(PrimaryDatasetCodes, ExceptionsGoToTheApplicationsHandler) {
  platform::RecordingUi ui;
  platform::ScopedUi scoped(ui);
  MemoryDataset ds;
  try {
    throw std::runtime_error("Lock failed [Post]");
  } catch (...) {
    ds.HandleException();
  }
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_EQ(ui.Messages()[0].text, "Lock failed [Post]");
  EXPECT_EQ(ui.Messages()[0].flags, platform::kMbOk | platform::kMbIconStop);
}

// --- Buffer layout ------------------------------------------------------------------------------

// A record as wide as a table of 255 fields of 255 bytes (and more) gets its whole buffer: the
// record info and the bookmark lie beyond 64 KiB and do not overwrite the record data.
TEST(PrimaryDatasetLayout, AWideRecordGetsItsWholeBuffer) {
  MemoryDataset ds(NumberedRows(3));
  ds.record_size = 65533;
  ds.Open();
  EXPECT_EQ(ds.RecordDataSize(), 65533u);
  EXPECT_EQ(ds.RecordInfoStart(), 65533u);
  EXPECT_EQ(ds.BookmarkStart(), 65539u);
  EXPECT_EQ(ds.TotalBufferSize(), 65543u);
  ds.Next();
  TBookmark b2 = ds.GetBookmark();
  ds.Last();
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_EQ(ds.CurrentName(), "r3");
  EXPECT_EQ(ds.ActiveBuffer()[65532], 'Z');
  ds.GotoBookmark(b2);
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_EQ(ds.CurrentName(), "r2");
  EXPECT_EQ(ds.FieldByName("QTY").AsInteger(), 20);
}

// --- Calculated fields --------------------------------------------------------------------------

// Persistent fields NAME and QTY and a calculated DOUBLE = 2 * QTY, left without a value for a
// quantity of 20.
struct CalcFixture {
  MemoryDataset ds{NumberedRows(3)};
  std::vector<int32_t> numbers_seen;
  CalcFixture() {
    auto name = std::make_unique<TStringField>();
    name->SetFieldName("NAME");
    name->SetSize(10);
    ds.AddField(std::move(name));
    auto qty = std::make_unique<TIntegerField>();
    qty->SetFieldName("QTY");
    ds.AddField(std::move(qty));
    auto twice = std::make_unique<TIntegerField>();
    twice->SetFieldName("DOUBLE");
    twice->SetFieldKind(fkCalculated);
    ds.AddField(std::move(twice));
    ds.OnCalcFields = [this](TDataSet& d) {
      EXPECT_EQ(d.State(), dsCalcFields);
      numbers_seen.push_back(d.RecNo());
      int32_t qty = d.FieldByName("QTY").AsInteger();
      if (qty != 20) d.FieldByName("DOUBLE").SetAsInteger(2 * qty);
    };
  }
};

TEST(PrimaryDatasetCalcFields, ComputedPerRecordIntoTheirOwnPart) {
  CalcFixture f;
  f.ds.Open();
  EXPECT_FALSE(f.ds.DefaultFields());
  EXPECT_EQ(f.ds.CalcFieldsSize(), 5);
  EXPECT_EQ(f.ds.CalcFieldsStart(), 15u);
  EXPECT_EQ(f.ds.RecordInfoStart(), 20u);
  EXPECT_EQ(f.ds.TotalBufferSize(), 30u);
  TField& twice = f.ds.FieldByName("DOUBLE");
  EXPECT_EQ(twice.FieldNo(), -1);
  EXPECT_EQ(twice.AsInteger(), 20);
  f.ds.Last();
  EXPECT_EQ(twice.AsInteger(), 60);
  // While the record being fetched is calculated, the record number is the calculation
  // buffer's: 3, although the active buffer still held record 1.
  EXPECT_EQ(f.numbers_seen.back(), 3);

  f.ds.Prior();
  EXPECT_TRUE(twice.IsNull());
  int32_t target = 0x7777;
  EXPECT_FALSE(twice.GetData(&target));
  EXPECT_EQ(target, 0x7777);  // untouched

  f.ds.Edit();
  f.ds.FieldByName("QTY").SetAsInteger(21);  // a data field change recalculates
  EXPECT_EQ(twice.AsInteger(), 42);
  EXPECT_EQ(ErrorOf([&] { twice.SetAsInteger(1); }), "");  // calculated fields take values
  f.ds.Cancel();
  EXPECT_TRUE(twice.IsNull());
  f.ds.Close();
  EXPECT_EQ(f.ds.FieldCount(), 3);  // persistent fields stay
}

}  // namespace
}  // namespace tz::testing
