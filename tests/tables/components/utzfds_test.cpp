// The file dataset's writes under locks held or refused by a second program, its USE text and
// read-only use, Locate in and out of index order, and the blob stream over memo values.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/dataset/datasource.h"
#include "platform/dataset/fields.h"
#include "platform/testing/child_process.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/tzutils.h"
#include "tzdbf_test_support.h"

namespace tz {
namespace {

namespace fs = std::filesystem;
using platform::dataset::dsBrowse;
using platform::dataset::dsEdit;
using platform::dataset::dsInsert;
using platform::dataset::EAbort;
using platform::dataset::TBlobStreamMode;
using platform::dataset::TDataSet;

const std::vector<std::string> kFields = {"id, C, 10, 0", "name, C, 20, 0"};

// A second program on the table (the engine suite's table_holder).
class Holder {
 public:
  explicit Holder(const std::string& path) : child_(TABLE_HOLDER, {}) {
    EXPECT_EQ(Ask("use " + path), "ok");
  }
  ~Holder() {
    child_.CloseInput();
    child_.Wait();
  }
  std::string Ask(const std::string& command) {
    child_.WriteLine(command);
    return child_.ReadLine();
  }

 private:
  platform::ChildProcess child_;
};

class LockedWrites : public TzDbfTest {
 protected:
  LockedWrites() {
    dbf_ = Open("DBTel", "tel.dbf", kFields);
    for (const char* id : {"1", "2", "3"}) AppendRow(*dbf_, {{"id", id}, {"name", "alt"}});
    reader_ = Open("DBReader", "tel.dbf", kFields);
  }
  // The name the file holds for record n, read by another work area.
  std::string Stored(int32_t n) {
    reader_->Go(n);
    return RTrim(reader_->FieldGet("name"));
  }
  std::unique_ptr<TTzDbf> dbf_;
  std::unique_ptr<TTzDbf> reader_;
};

TEST_F(LockedWrites, AFailedLockWithoutAHandlerKeepsTheEditAndSaysSo) {
  Holder holder(PathOf("tel.dbf"));
  ASSERT_EQ(holder.Ask("go 2"), "ok");
  ASSERT_EQ(holder.Ask("rlock"), "true");
  dbf_->Go(2);
  dbf_->Edit();
  dbf_->FieldByName("name").SetAsString("neu");
  EXPECT_THROW(dbf_->Post(), EAbort);
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{"Lock failed [Post]"}));
  // The program's exception handler adds no second message.
  try {
    dbf_->Post();
  } catch (...) {
    platform::dataset::ApplicationHandleException();
  }
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{"Lock failed [Post]", "Lock failed [Post]"}));
  EXPECT_EQ(dbf_->State(), dsEdit);
  EXPECT_EQ(dbf_->FieldByName("name").AsString(), "neu");
  EXPECT_EQ(Stored(2), "alt");
  // Once the other program lets go, the same edit is stored.
  ASSERT_EQ(holder.Ask("unlock"), "ok");
  dbf_->Post();
  EXPECT_EQ(dbf_->State(), dsBrowse);
  EXPECT_EQ(Stored(2), "neu");
}

TEST_F(LockedWrites, EachWriteNamesItsOperationWhenItsLockFails) {
  Holder holder(PathOf("tel.dbf"));
  dbf_->SetHideDeletedRecs(false);
  dbf_->Go(3);
  ASSERT_TRUE(dbf_->RLock());
  dbf_->DeleteRec();
  dbf_->UnLock();
  struct Case {
    std::string operation;
    std::string hold;  // what the other program locks
    std::function<void()> write;
    std::function<bool()> unchanged;
  };
  const Case cases[] = {
      {"Insert", "alock",
       [&] {
         dbf_->Append();
         dbf_->FieldByName("id").SetAsString("4");
         dbf_->Post();
       },
       [&] { return tz::RecCount() == 3 && dbf_->State() == dsInsert; }},
      {"Delete", "go 1\nrlock",
       [&] {
         dbf_->Go(1);
         dbf_->Delete();
       },
       [&] { return !dbf_->IsDeleted(); }},
      {"Restore", "go 3\nrlock",
       [&] {
         dbf_->Go(3);
         dbf_->SetDeleted(false);
       },
       [&] {
         dbf_->Go(3);
         return dbf_->IsDeleted();
       }},
      {"Post", "go 1\nrlock",
       [&] {
         dbf_->Go(1);
         dbf_->Edit();
         dbf_->FieldByName("name").SetAsString("neu");
         dbf_->Post();
       },
       [&] { return Stored(1) == "alt" && dbf_->State() == dsEdit; }},
  };
  for (const Case& c : cases) {
    for (size_t from = 0, to; from < c.hold.size(); from = to + 1) {
      to = std::min(c.hold.find('\n', from), c.hold.size());
      std::string answer = holder.Ask(c.hold.substr(from, to - from));
      ASSERT_TRUE(answer == "ok" || answer == "true") << c.operation << ": " << answer;
    }
    ui_.Clear();
    EXPECT_THROW(c.write(), EAbort) << c.operation;
    EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{"Lock failed [" + c.operation + "]"}));
    EXPECT_TRUE(c.unchanged()) << c.operation;
    dbf_->Cancel();
    ASSERT_EQ(holder.Ask("unlock"), "ok");
  }
}

TEST_F(LockedWrites, ARetryEventThatRetriesOnceGetsTheLock) {
  Holder holder(PathOf("tel.dbf"));
  ASSERT_EQ(holder.Ask("go 2"), "ok");
  ASSERT_EQ(holder.Ask("rlock"), "true");
  int calls = 0;
  dbf_->OnRLockFailedOnPost = [&](TDataSet& sender, bool& retry) {
    EXPECT_EQ(&sender, dbf_.get());
    ++calls;
    EXPECT_EQ(holder.Ask("unlock"), "ok");
    retry = true;
  };
  dbf_->Go(2);
  dbf_->Edit();
  dbf_->FieldByName("name").SetAsString("neu");
  dbf_->Post();
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(Stored(2), "neu");
  // The write let go of its lock: the other program gets it at once.
  EXPECT_EQ(holder.Ask("rlock"), "true");
}

TEST_F(LockedWrites, AHandlerThatDoesNotRetryEndsTheWriteQuietly) {
  Holder holder(PathOf("tel.dbf"));
  ASSERT_EQ(holder.Ask("alock"), "true");
  int calls = 0;
  dbf_->OnALockFailedOnInsert = [&](TDataSet&, bool&) { ++calls; };
  dbf_->Append();
  dbf_->FieldByName("id").SetAsString("4");
  EXPECT_THROW(dbf_->Post(), EAbort);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(dbf_->State(), dsInsert);
  EXPECT_EQ(tz::RecCount(), 3);
}

TEST_F(LockedWrites, TwoInsertsInARowAreBothStoredAndReleaseTheirLock) {
  for (const char* id : {"4", "5"}) {
    dbf_->Append();
    dbf_->FieldByName("id").SetAsString(id);
    dbf_->FieldByName("name").SetAsString("neu");
    dbf_->Post();
    EXPECT_EQ(dbf_->State(), dsBrowse) << id;
  }
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(tz::RecCount(), 5);
  EXPECT_EQ(Stored(4), "neu");
  EXPECT_EQ(Stored(5), "neu");
  // Neither the append lock nor a record lock is left behind for another program to wait on.
  Holder holder(PathOf("tel.dbf"));
  EXPECT_EQ(holder.Ask("alock"), "true");
  EXPECT_EQ(holder.Ask("unlock"), "ok");
  EXPECT_EQ(holder.Ask("go 5"), "ok");
  EXPECT_EQ(holder.Ask("rlock"), "true");
}

TEST_F(LockedWrites, ALockTheProgramTookItselfStaysItsOwn) {
  dbf_->Go(1);
  ASSERT_TRUE(dbf_->RLock());
  dbf_->Edit();
  dbf_->FieldByName("name").SetAsString("neu");
  dbf_->Post();
  EXPECT_EQ(Stored(1), "neu");
  Holder holder(PathOf("tel.dbf"));
  ASSERT_EQ(holder.Ask("go 1"), "ok");
  EXPECT_EQ(holder.Ask("rlock"), "false");
  dbf_->UnLock();
  EXPECT_EQ(holder.Ask("rlock"), "true");
}

TEST_F(LockedWrites, ARestoreRecallsUnderItsLockBetweenItsEvents) {
  dbf_->SetHideDeletedRecs(false);
  dbf_->Go(2);
  ASSERT_TRUE(dbf_->RLock());
  dbf_->DeleteRec();
  dbf_->UnLock();
  ASSERT_TRUE(dbf_->IsDeleted());
  std::vector<std::string> events;
  dbf_->BeforeRestore = [&](TDataSet&) { events.push_back("before " + Stored(2)); };
  dbf_->AfterRestore = [&](TDataSet&) { events.push_back("after"); };
  dbf_->SetDeleted(false);
  EXPECT_EQ(events, (std::vector<std::string>{"before alt", "after"}));
  EXPECT_FALSE(dbf_->IsDeleted());
  EXPECT_EQ(dbf_->RecNo(), 2);
  Holder holder(PathOf("tel.dbf"));
  ASSERT_EQ(holder.Ask("go 2"), "ok");
  EXPECT_EQ(holder.Ask("rlock"), "true");
}

// --- The USE text and read-only use ---------------------------------------------------------

using FileDataset = TzDbfTest;

TEST_F(FileDataset, TheUseTextAndWhatItLetsAnotherProgramDo) {
  Open("DBTel", "tel.dbf", kFields)->Close();
  const std::string path = PathOf("tel.dbf");
  struct Case {
    bool exclusive;
    bool read_only;
    std::string name;
    std::string use_text;
    std::string other_program;  // the other program's USE
  };
  const Case cases[] = {
      {false, false, "DBTel", path + " ALIAS DBTel", "ok"},
      {false, true, "DBTel", path + " ALIAS DBTel", "ok"},
      {true, false, "DBTel", path + " EXCLUSIVE ALIAS DBTel", "error 32"},
      {true, true, "DBTel", path + " EXCLUSIVE ALIAS DBTel", "error 32"},
      {false, false, "", path, "ok"},
      {false, true, "", path, "ok"},
      {true, false, "", path + " EXCLUSIVE", "error 32"},
      {true, true, " ", path + " EXCLUSIVE", "error 32"},
  };
  for (const Case& c : cases) {
    std::string label = c.use_text + (c.read_only ? " read-only" : "");
    auto dbf = Make(c.name, "tel.dbf", kFields);
    dbf->SetExclusive(c.exclusive);
    dbf->SetReadOnly(c.read_only);
    EXPECT_EQ(dbf->UseText(), c.use_text) << label;
    dbf->Open();
    ASSERT_TRUE(dbf->Active()) << label;
    EXPECT_EQ(tz::SelectedArea()->Exclusive, c.exclusive) << label;
    EXPECT_EQ(DbForcedFileMode, 0xFFFF) << label;  // put back after the USE
    {
      platform::ChildProcess other(TABLE_HOLDER, {});
      other.WriteLine("use " + path);
      EXPECT_EQ(other.ReadLine(), c.other_program) << label;
      other.CloseInput();
      other.Wait();
    }
  }
}

TEST_F(FileDataset, AMissingTableIsCreatedOnlyWhenItCanBe) {
  auto bad = Make("DBBad", "bad.dbf", {});
  EXPECT_THROW(bad->Open(), ETarazedError);  // the engine's open error
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{"FieldList.Count is <= 0 trying to create a database",
                                                   "Could not create \"" + PathOf("bad.dbf") + "\""}));
  EXPECT_FALSE(bad->Active());
  ui_.Clear();
  auto none = Make("DBNone", "none.dbf", kFields);
  none->SetCreateIfNotFound(false);
  EXPECT_THROW(none->Open(), ETarazedError);
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_FALSE(fs::exists(dir_ / "none.dbf"));
}

TEST_F(FileDataset, ChangingExclusiveReopensTheTable) {
  auto dbf = Open("DBTel", "tel.dbf", kFields);
  dbf->SetExclusive(true);
  EXPECT_TRUE(dbf->Active());
  EXPECT_TRUE(tz::SelectedArea()->Exclusive);
  dbf->SetExclusive(false);
  EXPECT_TRUE(dbf->Active());
  EXPECT_FALSE(tz::SelectedArea()->Exclusive);
}

TEST_F(FileDataset, AReadOnlyPostWritesNothingAndTakesNoLock) {
  auto dbf = Open("DBTel", "tel.dbf", kFields);
  AppendRow(*dbf, {{"id", "1"}, {"name", "alt"}});
  dbf->Edit();
  dbf->FieldByName("name").SetAsString("neu");
  dbf->SetReadOnly(true);
  Holder holder(PathOf("tel.dbf"));
  ASSERT_EQ(holder.Ask("go 1"), "ok");
  ASSERT_EQ(holder.Ask("rlock"), "true");  // a lock the post would need
  dbf->Post();
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(dbf->State(), dsBrowse);
  EXPECT_EQ(RTrim(dbf->FieldGet("name")), "alt");
  EXPECT_THROW(dbf->Edit(), platform::dataset::EDatabaseError);
  ASSERT_EQ(holder.Ask("unlock"), "ok");
  EXPECT_EQ(holder.Ask("alock"), "true");  // and none was taken here
}

// --- Locate and IsSequenced -------------------------------------------------------------------

TEST_F(FileDataset, LocateSeeksOnlyWhenTheOrderIsTheFieldsWholeKey) {
  auto dbf = Open("DBMobilTel", "telstamm.dbf", {"id, C, 10, 0", "hersteller, C, 20, 0"},
                  {"ID,F,F,id", "", "HERSTELLER,F,F,upper(hersteller)", ""});
  AppendRow(*dbf, {{"id", "0000000003"}, {"hersteller", "NOKIA"}});
  AppendRow(*dbf, {{"id", "0000000001"}, {"hersteller", "Nokia"}});
  AppendRow(*dbf, {{"id", "0000000002"}, {"hersteller", "Siemens"}});
  using platform::dataset::loCaseInsensitive;
  using platform::dataset::loPartialKey;
  struct Case {
    std::string tag;
    std::string field;
    std::string value;
    platform::dataset::TLocateOptions options;
    bool found;
    int32_t at;  // from record 3
  };
  const Case cases[] = {
      {"ID", "id", "0000000001", 0, true, 2},
      {"ID", "ID", "000000000", loPartialKey, true, 2},  // the first in ID order
      {"ID", "id", "000000000", 0, false, 3},
      {"ID", "id", "0000000009", 0, false, 3},
      {"ID", "hersteller", "Nokia", 0, true, 2},         // not the tag's field: sequential
      {"HERSTELLER", "hersteller", "Nokia", 0, true, 2},  // a key of upper(): sequential
      {"HERSTELLER", "hersteller", "nokia", loCaseInsensitive, true, 1},
      {"HERSTELLER", "hersteller", "Sony", 0, false, 3},
      {"", "hersteller", "Siemens", 0, true, 3},
      {"", "id", "0000000009", 0, false, 3},
  };
  for (const Case& c : cases) {
    std::string label = c.tag + " " + c.field + "=" + c.value;
    ASSERT_TRUE(dbf->SetOrderToTag(c.tag));
    dbf->Go(3);
    EXPECT_EQ(dbf->Locate(c.field, platform::dataset::TVariant(c.value), c.options), c.found)
        << label;
    EXPECT_EQ(dbf->RecNo(), c.at) << label;
    dbf->Next();  // the engine follows the dataset: the move goes on from the record shown
    EXPECT_TRUE(dbf->RecNo() != c.at || dbf->Eof()) << label;
  }
}

TEST_F(FileDataset, IsSequencedOnlyInNaturalOrderUnfiltered) {
  auto dbf = Open("DBTel", "tel.dbf", kFields, {"ID,F,F,id", ""});
  EXPECT_FALSE(dbf->IsSequenced());
  dbf->SetOrderToTag("");
  EXPECT_TRUE(dbf->IsSequenced());
  dbf->SetFiltered(true);
  EXPECT_FALSE(dbf->IsSequenced());
}

// --- The blob stream --------------------------------------------------------------------------

// Records the field changes a data link is told about.
class FieldChanges : public platform::dataset::TDataLink {
 public:
  std::vector<std::string> fields;

 protected:
  void RecordChanged(TField* field) override {
    if (field != nullptr) fields.push_back(field->FieldName());
  }
};

class BlobStream : public TzDbfTest {
 protected:
  BlobStream() {
    dbf_ = Open("DBNotes", "notes.dbf", {"name, C, 10, 0", "notiz, M, 10, 0"});
    source_.SetDataSet(dbf_.get());
    changes_.SetDataSource(&source_);
  }
  ~BlobStream() override { changes_.SetDataSource(nullptr); }
  TField& Notiz() { return dbf_->FieldByName("notiz"); }
  void Store(const std::string& text) {
    if (dbf_->State() == dsBrowse) dbf_->Edit();
    Notiz().SetAsString(text);
    dbf_->Post();
  }

  std::unique_ptr<TTzDbf> dbf_;
  platform::dataset::TDataSource source_;
  FieldChanges changes_;
};

TEST_F(BlobStream, AnOemTextWithLineEndsMakesTheRoundTrip) {
  const std::string text = "Gr\xFC\xDF" "e\r\nZeile zwei\r\n\r\nEnde";  // ANSI
  dbf_->Append();
  dbf_->FieldByName("name").SetAsString("eins");
  Notiz().SetAsString(text);
  dbf_->Post();
  dbf_->Close();
  dbf_->Open();
  EXPECT_EQ(Notiz().AsString(), text);
  EXPECT_EQ(dbf_->FieldGet("notiz"), text);
  // The memo file holds the text in the OEM code page.
  std::string memo = platform::TempDir::Read(dir_ / "notes.DBT");
  EXPECT_NE(memo.find("Gr\x81\xE1" "e\r\nZeile zwei"), std::string::npos);
  EXPECT_EQ(memo.find("Gr\xFC"), std::string::npos);
}

TEST_F(BlobStream, AnAnsiTableStoresTheTextUnconverted) {
  dbf_->Close();
  dbf_->SetTableLanguage(tlAnsi);
  dbf_->Open();
  Store("Gr\xFC\xDF" "e");
  dbf_->Close();
  dbf_->Open();
  EXPECT_EQ(Notiz().AsString(), "Gr\xFC\xDF" "e");
  EXPECT_NE(platform::TempDir::Read(dir_ / "notes.DBT").find("Gr\xFC\xDF" "e"), std::string::npos);
}

TEST_F(BlobStream, AWriteStreamFreedUnwrittenEmptiesTheMemo) {
  dbf_->Append();
  Notiz().SetAsString("alter Text");
  dbf_->Post();
  ASSERT_EQ(Notiz().AsString(), "alter Text");
  dbf_->Edit();
  changes_.fields.clear();
  dbf_->CreateBlobStream(Notiz(), TBlobStreamMode::Write).reset();
  EXPECT_EQ(changes_.fields, (std::vector<std::string>{"NOTIZ"}));
  dbf_->Post();
  EXPECT_EQ(Notiz().AsString(), "");
  dbf_->Close();
  dbf_->Open();
  EXPECT_EQ(Notiz().AsString(), "");
}

TEST_F(BlobStream, AWriteSendsTheFieldChangeWhenTheStreamIsFreed) {
  dbf_->Append();
  changes_.fields.clear();
  auto stream = dbf_->CreateBlobStream(Notiz(), TBlobStreamMode::Write);
  EXPECT_EQ(stream->Write("abc", 3), 3u);
  EXPECT_TRUE(changes_.fields.empty());
  stream.reset();
  EXPECT_EQ(changes_.fields, (std::vector<std::string>{"NOTIZ"}));
  dbf_->Post();
  EXPECT_EQ(Notiz().AsString(), "abc");
  // A read sends nothing.
  changes_.fields.clear();
  auto reader = dbf_->CreateBlobStream(Notiz(), TBlobStreamMode::Read);
  char buffer[8] = {};
  EXPECT_EQ(reader->Read(buffer, sizeof buffer), 3u);
  reader.reset();
  EXPECT_TRUE(changes_.fields.empty());
}

TEST_F(BlobStream, ASecondStreamIsRefusedAndTheFirstGoesOn) {
  Store("0123456789");
  auto first = dbf_->CreateBlobStream(Notiz(), TBlobStreamMode::Read);
  char buffer[16] = {};
  ASSERT_EQ(first->Read(buffer, 4), 4u);
  EXPECT_THROW(dbf_->CreateBlobStream(Notiz(), TBlobStreamMode::Read),
               platform::dataset::EDatabaseError);
  EXPECT_EQ(first->Read(buffer + 4, 12), 6u);
  EXPECT_EQ(std::string(buffer), "0123456789");
  first.reset();
  auto again = dbf_->CreateBlobStream(Notiz(), TBlobStreamMode::Read);
  EXPECT_EQ(again->Read(buffer, 16), 10u);
}

TEST_F(BlobStream, AStreamThatCannotBeMadeKeepsTheOldMemo) {
  Store("bleibt");
  // Another work area writes a value of the same memo file and holds the memo lock meanwhile.
  auto other = Open("DBOther", "notes.dbf", {});
  other->Edit();
  auto holding = other->CreateBlobStream(other->FieldByName("notiz"), TBlobStreamMode::Write);
  dbf_->Edit();
  bool reporting = SetErrorReporting(false);
  auto stream = dbf_->CreateBlobStream(Notiz(), TBlobStreamMode::Write);
  EXPECT_NE(DbLastError, 0);
  EXPECT_EQ(stream->Write("neu", 3), 0u);
  changes_.fields.clear();
  stream.reset();
  SetErrorReporting(reporting);
  EXPECT_TRUE(changes_.fields.empty());
  EXPECT_EQ(Notiz().AsString(), "bleibt");
  dbf_->Post();
  holding.reset();
  other->Cancel();
  dbf_->Close();
  dbf_->Open();
  EXPECT_EQ(Notiz().AsString(), "bleibt");
}

}  // namespace
}  // namespace tz
