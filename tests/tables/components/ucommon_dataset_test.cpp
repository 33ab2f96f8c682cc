// TTzDataSet over real table files: browsing with hidden deleted records, the values its fields
// show, puts and posts read back through the engine, the engine put on the active record before
// every re-read and write, lookups that leave pending edits alone, the closed table's error,
// and two datasets sharing one table.
#include <gtest/gtest.h>

#include <cstring>

#include "tables/components/ucommon.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/timedate.h"
#include "memory_dataset.h"
#include "platform/testing/child_process.h"
#include "ucommon_test_support.h"

namespace tz {
namespace {

using platform::dataset::EncodeDate;
using platform::dataset::TField;

class TableDatasets : public UCommonTest {
 protected:
  TableDatasets() {
    // The stored PREIS of Anna has more decimals than its field: the dataset rounds it.
    dir_.Write("phones.dbf",
               RawTable(0x03,
                        {{"NAME", 'C', 10},
                         {"DATUM", 'D', 8},
                         {"PREIS", 'N', 9, 2},
                         {"ANZ", 'N', 5},
                         {"GROSS", 'N', 15},
                         {"OK", 'L', 1}},
                        {
                            " Anna      20261209  3.14159   10123456789012345T",
                            "*Bernd                  0.50   20              0F",
                            " Carla     19261231     1.25   30             -1T",
                            "*Dora      20240229     2.00   40              0F",
                            " Emil      20261209    12.00   50   999999999999T",
                        }));
  }

  std::string Path() const { return (dir_ / "phones.dbf").string(); }

  // Opens a dataset on the table.
  std::unique_ptr<TableDataset> Open(const std::string& name, bool hide_deleted = true) {
    auto ds = std::make_unique<TableDataset>(name);
    ds->SetDbfFileName(Path());
    ds->SetHideDeletedRecs(hide_deleted);
    ds->Open();
    return ds;
  }

  // The names from First on with Next, and from Last on with Prior.
  static std::vector<std::string> Forward(TTzDataSet& ds) {
    std::vector<std::string> names;
    for (ds.First(); !ds.Eof(); ds.Next()) names.push_back(ds.FieldByName("NAME").AsString());
    return names;
  }
  static std::vector<std::string> Backward(TTzDataSet& ds) {
    std::vector<std::string> names;
    for (ds.Last(); !ds.Bof(); ds.Prior()) names.push_back(ds.FieldByName("NAME").AsString());
    return names;
  }

  // Field n of record r as the file stores it.
  std::string Stored(TableDataset& ds, uint8_t field, int32_t record) {
    ds.SelectWorkArea("test");
    std::string text;
    Peek(field, record, text);
    return text;
  }

  GermanDates german_;
  platform::TempDir dir_;
};

TEST_F(TableDatasets, HiddenDeletedRecordsAreSkippedBothWays) {
  auto ds = Open("DBPhones");
  EXPECT_EQ(Forward(*ds), (std::vector<std::string>{"Anna", "Carla", "Emil"}));
  EXPECT_EQ(Backward(*ds), (std::vector<std::string>{"Emil", "Carla", "Anna"}));
  ds->First();
  EXPECT_TRUE(ds->Bof());
  EXPECT_EQ(ds->RecNo(), 1);
  ds->Next();
  EXPECT_EQ(ds->RecNo(), 3);
  EXPECT_EQ(ds->MoveBy(5), 1);
  EXPECT_EQ(ds->RecNo(), 5);
  EXPECT_TRUE(ds->Eof());

  auto all = Open("DBAll", false);
  EXPECT_EQ(Forward(*all),
            (std::vector<std::string>{"Anna", "Bernd", "Carla", "Dora", "Emil"}));
  EXPECT_EQ(Backward(*all),
            (std::vector<std::string>{"Emil", "Dora", "Carla", "Bernd", "Anna"}));
  all->First();
  all->Next();
  EXPECT_TRUE(all->IsDeleted());
  EXPECT_EQ(all->RecordCount(), 5);
}

TEST_F(TableDatasets, FieldsShowTheTablesValues) {
  auto ds = Open("DBPhones");
  ASSERT_EQ(ds->FieldCount(), 6);
  TField& name = ds->FieldByName("name");
  TField& datum = ds->FieldByName("DATUM");
  TField& preis = ds->FieldByName("PREIS");
  TField& anz = ds->FieldByName("ANZ");
  TField& gross = ds->FieldByName("GROSS");
  TField& ok = ds->FieldByName("OK");
  EXPECT_NE(dynamic_cast<TTzDateField*>(&datum), nullptr);
  EXPECT_NE(dynamic_cast<TTzFloatField*>(&preis), nullptr);
  EXPECT_NE(dynamic_cast<TTzIntegerField*>(&anz), nullptr);
  EXPECT_EQ(name.Size(), 10);
  EXPECT_EQ(preis.Size(), 9);
  EXPECT_EQ(anz.DataSize(), 4);
  EXPECT_EQ(gross.DataSize(), 8);

  struct Row {
    const char* name;
    const char* date_text;  // "" for a blank date
    double preis;
    int32_t anz;
    const char* gross;
    bool ok;
  } rows[] = {
      {"Anna", "09.12.2026", 3.14, 10, "123456789012345", true},
      {"Carla", "31.12.1926", 1.25, 30, "-1", true},
      {"Emil", "09.12.2026", 12.0, 50, "999999999999", true},
  };
  ds->First();
  for (const Row& r : rows) {
    EXPECT_EQ(name.AsString(), r.name);
    EXPECT_EQ(datum.Text(), r.date_text) << r.name;
    EXPECT_EQ(preis.AsFloat(), r.preis) << r.name;
    EXPECT_EQ(anz.AsInteger(), r.anz) << r.name;
    EXPECT_EQ(gross.AsString(), r.gross) << r.name;
    EXPECT_EQ(ok.AsBoolean(), r.ok) << r.name;
    ds->Next();
  }
  ds->First();
  EXPECT_EQ(datum.AsDateTime(), EncodeDate(2026, 12, 9));
  EXPECT_FALSE(datum.IsNull());
  EXPECT_EQ(gross.Value(), TVariant(123456789012345.0));
  EXPECT_EQ(anz.Value(), TVariant(int32_t{10}));

  auto all = Open("DBAll", false);
  all->First();
  all->Next();  // Bernd, whose date is blank
  EXPECT_EQ(all->FieldByName("NAME").AsString(), "Bernd");
  EXPECT_TRUE(all->FieldByName("DATUM").IsNull());
  EXPECT_EQ(all->FieldByName("DATUM").Text(), "");
}

TEST_F(TableDatasets, PutsAndPostsReadBackThroughTheEngine) {
  auto ds = Open("DBPhones");
  ds->First();
  ds->Next();  // Carla, record 3
  ds->Edit();
  ds->FieldByName("NAME").SetAsString("Zora");
  ds->FieldByName("DATUM").SetText("28.02.1925");
  ds->FieldByName("PREIS").SetAsFloat(2.5);
  ds->FieldByName("ANZ").SetAsInteger(-7);
  ds->FieldByName("GROSS").SetAsString("9999999999");
  ds->FieldByName("OK").SetAsBoolean(false);
  ds->Post();
  EXPECT_EQ(ds->writes, (std::vector<std::string>{"replace 3"}));
  EXPECT_EQ(ds->RecNo(), 3);
  std::vector<std::string> stored;
  for (uint8_t n = 0; n <= 6; ++n) stored.push_back(Stored(*ds, n, 3));
  EXPECT_EQ(stored, (std::vector<std::string>{" ", "Zora      ", "19250228", "     2.50", "   -7",
                                              "     9999999999", "F"}));

  // A new record, with a blank date put as Null and as the blank date text.
  ds->Append();
  ds->FieldByName("NAME").SetAsString("Neu");
  ds->FieldByName("DATUM").SetText("  .  .    ");
  ds->FieldByName("GROSS").SetAsFloat(-12345678901.0);
  ds->Post();
  EXPECT_EQ(ds->RecNo(), 6);
  EXPECT_EQ(ds->RecordCount(), 6);
  stored.clear();
  for (uint8_t n = 0; n <= 6; ++n) stored.push_back(Stored(*ds, n, 6));
  EXPECT_EQ(stored, (std::vector<std::string>{" ", "Neu       ", "        ", "     0.00", "    0",
                                              "   -12345678901", "F"}));
  EXPECT_TRUE(ds->FieldByName("DATUM").IsNull());
  EXPECT_EQ(Forward(*ds), (std::vector<std::string>{"Anna", "Zora", "Emil", "Neu"}));

  // And a date cleared on an existing record.
  ds->First();
  ds->Edit();
  ds->FieldByName("DATUM").Clear();
  ds->Post();
  EXPECT_EQ(Stored(*ds, 2, 1), "        ");
  EXPECT_TRUE(ui_.Texts().empty());
}

TEST_F(TableDatasets, TheEngineGoesToTheActiveRecordBeforeEveryReReadAndWrite) {
  auto ds = Open("DBPhones");
  ds->First();
  ds->Next();  // Carla, record 3
  // Another part of the program moves the engine behind the dataset's back.
  auto move_engine = [&](int32_t record) {
    ds->SelectWorkArea("test");
    GO(record);
  };
  move_engine(5);
  ds->Edit();  // re-reads: Carla, not Emil
  EXPECT_EQ(ds->FieldByName("NAME").AsString(), "Carla");
  ds->FieldByName("NAME").SetAsString("Cara");
  move_engine(1);
  ds->Post();
  EXPECT_EQ(Stored(*ds, 1, 3), "Cara      ");
  EXPECT_EQ(Stored(*ds, 1, 1), "Anna      ");
  EXPECT_EQ(Stored(*ds, 1, 5), "Emil      ");

  // A missed Locate and a Lookup move the engine too.
  EXPECT_FALSE(ds->Locate("NAME", TVariant("Nobody"), 0));
  EXPECT_EQ(ds->FieldByName("NAME").AsString(), "Cara");
  ds->Edit();
  ds->FieldByName("ANZ").SetAsInteger(33);
  ds->Post();
  EXPECT_EQ(Stored(*ds, 4, 3), "   33");
  EXPECT_EQ(ds->Lookup("NAME", TVariant("Emil"), "ANZ"), TVariant(int32_t{50}));
  ds->Edit();
  ds->FieldByName("ANZ").SetAsInteger(34);
  ds->Post();
  EXPECT_EQ(Stored(*ds, 4, 3), "   34");
  EXPECT_EQ(Stored(*ds, 4, 5), "   50");

  move_engine(5);
  ds->Delete();
  EXPECT_EQ(ds->writes, (std::vector<std::string>{"replace 3", "replace 3", "replace 3",
                                                  "delete 3"}));
  EXPECT_EQ(Stored(*ds, 0, 3), "*");
  EXPECT_EQ(Stored(*ds, 0, 5), " ");
  EXPECT_EQ(Forward(*ds), (std::vector<std::string>{"Anna", "Emil"}));
}

TEST_F(TableDatasets, ALookupLeavesTheStateAndThePendingEdits) {
  auto ds = Open("DBPhones");
  ds->First();
  ds->Edit();
  ds->FieldByName("NAME").SetAsString("Zed");
  // A direct put into the engine's field value record, as the table component's puts make.
  ds->SelectWorkArea("test");
  int32_t direct = 77;
  std::memcpy(FieldAddress(4), &direct, sizeof direct);
  EXPECT_EQ(ds->Lookup("NAME", TVariant("Emil"), "ANZ;OK"),
            TVariant(std::vector<TVariant>{TVariant(int32_t{50}), TVariant(true)}));
  EXPECT_EQ(ds->Lookup("NAME", TVariant("Nobody"), "ANZ"), TVariant());
  EXPECT_EQ(ds->State(), platform::dataset::dsEdit);
  EXPECT_TRUE(ds->Modified());
  EXPECT_EQ(ds->FieldByName("NAME").AsString(), "Zed");
  ds->SelectWorkArea("test");
  EXPECT_EQ(RecNo(), 1);
  std::memcpy(&direct, FieldAddress(4), sizeof direct);
  EXPECT_EQ(direct, 77);
  ds->Post();
  EXPECT_EQ(Stored(*ds, 1, 1), "Zed       ");
  EXPECT_EQ(Stored(*ds, 1, 5), "Emil      ");

  // In insert state too: the new record keeps what was put before the lookup.
  ds->Append();
  ds->FieldByName("NAME").SetAsString("Neu");
  ds->FieldByName("ANZ").SetAsInteger(7);
  EXPECT_EQ(ds->Lookup("NAME", TVariant("Carla"), "ANZ"), TVariant(int32_t{30}));
  EXPECT_EQ(ds->State(), platform::dataset::dsInsert);
  EXPECT_EQ(ds->FieldByName("NAME").AsString(), "Neu");
  ds->Post();
  EXPECT_EQ(Stored(*ds, 1, 6), "Neu       ");
  EXPECT_EQ(Stored(*ds, 4, 6), "    7");
  EXPECT_EQ(Stored(*ds, 1, 3), "Carla     ");
}

TEST_F(TableDatasets, ARecordNumberBeyondTheTableLeavesTheDatasetWhereItWas) {
  auto ds = Open("DBPhones");
  ds->First();
  ds->Next();
  for (int32_t beyond : {6, 99, 0, -1}) {
    ds->SetRecNo(beyond);
    EXPECT_EQ(ds->RecNo(), 3) << beyond;
    EXPECT_EQ(ds->FieldByName("NAME").AsString(), "Carla") << beyond;
    EXPECT_FALSE(ds->Eof()) << beyond;
  }
  ds->SetRecNo(5);
  EXPECT_EQ(ds->FieldByName("NAME").AsString(), "Emil");
}

TEST_F(TableDatasets, AValueIsValidatedOncePerPut) {
  auto ds = Open("DBPhones");
  int validations = 0;
  for (const char* name : {"NAME", "DATUM", "PREIS", "ANZ", "GROSS", "OK"})
    ds->FieldByName(name).OnValidate = [&](TField&) { ++validations; };
  ds->First();
  ds->Edit();
  ds->FieldByName("NAME").SetAsString("Anne");
  EXPECT_EQ(validations, 1);
  ds->FieldByName("DATUM").SetText("01.01.2027");
  ds->FieldByName("PREIS").SetAsFloat(1);
  ds->FieldByName("ANZ").SetAsInteger(1);
  ds->FieldByName("GROSS").SetAsString("12345678901");
  ds->FieldByName("OK").SetAsBoolean(false);
  EXPECT_EQ(validations, 6);
  ds->Post();
  EXPECT_EQ(validations, 6);
}

TEST_F(TableDatasets, AStringLongerThanItsFieldIsCutToTheField) {
  auto ds = Open("DBPhones");
  ds->First();
  ds->Edit();
  std::string long_text(300, 'x');
  ds->FieldByName("NAME").SetData(long_text.c_str());
  EXPECT_EQ(ds->FieldByName("NAME").AsString(), "xxxxxxxxxx");
  EXPECT_EQ(ds->FieldByName("DATUM").Text(), "09.12.2026");
  ds->Post();
  EXPECT_EQ(Stored(*ds, 1, 1), "xxxxxxxxxx");
  EXPECT_EQ(Stored(*ds, 2, 1), "20261209");
}

TEST_F(TableDatasets, AClosedTableGivesError1103AndTouchesNoOtherTable) {
  TableDataset closed("DBMobilTel");
  std::string message;
  try {
    closed.SafeGo(1);
  } catch (const ETarazedError& e) {
    message = e.what();
  }
  EXPECT_EQ(message, "Error # 1103 (Invalid Operation )\r\nDatabase is not open [DBMobilTel.SafeGo]");

  // With reporting off the command stops there: the table selected meanwhile stays as it was.
  Use(Path());
  GO(3);
  uint8_t area = GetWorkArea();
  SetErrorReporting(false);
  EXPECT_EQ(closed.SafeGo(5), 1103);
  EXPECT_EQ(DbLastError, 1103);
  EXPECT_EQ(GetWorkArea(), area);
  EXPECT_EQ(RecNo(), 3);
  EXPECT_TRUE(closed.IsEmptyData());
  EXPECT_EQ(RecNo(), 3);
  EXPECT_EQ(GetErrorMessage(),
            "Error # 1103 (Invalid Operation )\r\nDatabase is not open [DBMobilTel.s_IsEmptyDbf]");
}

TEST_F(TableDatasets, TwoDatasetsOnOneTable) {
  auto a = Open("DBa");
  auto b = Open("DBb");
  ASSERT_NE(a->WorkArea(), b->WorkArea());
  a->First();
  b->First();
  a->Edit();
  a->FieldByName("NAME").SetAsString("Anders");
  a->Post();
  EXPECT_EQ(b->FieldByName("NAME").AsString(), "Anna");
  b->Refresh();
  EXPECT_EQ(b->FieldByName("NAME").AsString(), "Anders");

  // A holds the record's lock: B's post is refused with the engine's error, nothing written.
  a->SelectWorkArea("test");
  GO(1);
  ASSERT_TRUE(RLock());
  b->Edit();
  b->FieldByName("NAME").SetAsString("Berta");
  std::string message;
  try {
    b->Post();
  } catch (const ETarazedError& e) {
    message = e.what();
  }
  EXPECT_EQ(message.substr(0, message.find('\r')), "Error # 1200 (Record not locked)");
  EXPECT_EQ(Stored(*a, 1, 1), "Anders    ");
  b->Cancel();
  a->SelectWorkArea("test");
  Unlock();
  b->Edit();
  b->FieldByName("NAME").SetAsString("Berta");
  b->Post();
  a->Refresh();
  EXPECT_EQ(a->FieldByName("NAME").AsString(), "Berta");
}

TEST_F(TableDatasets, RestoringADeletedRecord) {
  auto ds = Open("DBAll", false);
  std::vector<std::string> events;
  ds->BeforeRestore = [&](platform::dataset::TDataSet& d) {
    events.push_back("before " + d.FieldByName("NAME").AsString());
  };
  ds->AfterRestore = [&](platform::dataset::TDataSet& d) {
    events.push_back("after " + d.FieldByName("NAME").AsString());
  };
  ds->First();
  ds->Next();  // Bernd, deleted
  ASSERT_TRUE(ds->IsDeleted());
  ds->SetDeleted(true);  // already deleted: nothing
  ds->SetDeleted(false);
  EXPECT_FALSE(ds->IsDeleted());
  EXPECT_EQ(events, (std::vector<std::string>{"before Bernd", "after Bernd"}));
  EXPECT_EQ(Stored(*ds, 0, 2), " ");
  ds->SetDeleted(true);
  EXPECT_EQ(Stored(*ds, 0, 2), "*");
  EXPECT_EQ(ds->writes, (std::vector<std::string>{"recall 2", "delete 2"}));
}

TEST_F(TableDatasets, SyncDataSetFollowsADirectEngineCommand) {
  auto ds = Open("DBPhones");
  ds->First();
  ds->Edit();
  ds->FieldByName("NAME").SetAsString("Ungespeichert");
  ds->SelectWorkArea("test");
  GO(5);
  ds->SyncDataSet();
  EXPECT_EQ(ds->State(), platform::dataset::dsBrowse);
  EXPECT_EQ(ds->FieldByName("NAME").AsString(), "Emil");
  EXPECT_EQ(Stored(*ds, 1, 1), "Anna      ");
}

TEST_F(TableDatasets, AMissingTableIsCreatedFromItsLinesAndStartsEmpty) {
  TableDataset ds("DBNeu");
  ds.SetDbfFileName((dir_ / "neu.dbf").string());
  ds.DbfFields() = {"name, C, 10, 0", "betrag, N, 30, 2", "datum, D, 8, 0"};
  ds.SetHideDeletedRecs(true);
  ds.Open();
  EXPECT_EQ(ui_.Texts(),
            (std::vector<std::string>{"Invalid field definition for DBNeu: betrag,N,30,2. Will "
                                      "use corrected definition: betrag,N,20,2"}));
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecordCount(), 0);
  ds.Append();
  ds.FieldByName("NAME").SetAsString("Erster");
  ds.FieldByName("BETRAG").SetAsFloat(1234.567);
  ds.Post();
  EXPECT_FALSE(ds.IsEmpty());
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_EQ(ds.FieldByName("BETRAG").AsFloat(), 1234.57);
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
}

TEST_F(TableDatasets, InDesignModeTheLinesAreReadFromTheTable) {
  TableDataset ds("DBDesign", true);
  ds.SetDbfFileName(Path());
  ds.Open();
  EXPECT_EQ(ds.DbfFields(),
            (std::vector<std::string>{"name, C, 10, 0", "datum, D, 8, 0", "preis, N, 9, 2",
                                      "anz, N, 5, 0", "gross, N, 15, 0", "ok, L, 1, 0"}));
  EXPECT_EQ(ds.FieldCount(), 6);
  EXPECT_FALSE(ds.IsEmptyData());
  EXPECT_EQ(ds.RecordCount(), 1);
  // The table was opened only to read its fields; the work area is free again.
  EXPECT_EQ(WorkAreas[ds.WorkArea()], nullptr);
  EXPECT_TRUE(DbRaiseErrors);
}

TEST_F(TableDatasets, AWideTableGetsItsWholeBuffer) {
  TableDataset ds("DBWide");
  ds.SetDbfFileName((dir_ / "wide.dbf").string());
  for (int i = 1; i <= 255; ++i) ds.DbfFields().push_back("f" + std::to_string(i) + ", C, 254, 0");
  ds.exclusive = true;
  ds.Open();
  ASSERT_EQ(ds.FieldCount(), 255);
  EXPECT_EQ(ds.FieldProps()->Count(), 255);
  ds.Append();
  ds.FieldByName("F1").SetAsString(std::string(254, 'a'));
  ds.FieldByName("F255").SetAsString(std::string(254, 'z'));
  ds.Post();
  ds.Close();
  ds.Open();
  ds.First();
  EXPECT_EQ(ds.FieldByName("F1").AsString(), std::string(254, 'a'));
  EXPECT_EQ(ds.FieldByName("F255").AsString(), std::string(254, 'z'));
  EXPECT_EQ(ds.FieldByName("F254").AsString(), "");
}

TEST_F(TableDatasets, TheTzFieldClasses) {
  auto ds = Open("DBPhones");
  ds->First();
  auto& gross = dynamic_cast<TTzIntegerField&>(ds->FieldByName("GROSS"));
  auto& anz = dynamic_cast<TTzIntegerField&>(ds->FieldByName("ANZ"));
  auto& datum = ds->FieldByName("DATUM");
  EXPECT_TRUE(gross.Wide());
  EXPECT_FALSE(anz.Wide());
  EXPECT_EQ(gross.AsLargeInt(), 123456789012345);
  EXPECT_EQ(gross.AsInteger(), 2147483647);
  EXPECT_EQ(gross.AsFloat(), 123456789012345.0);
  ds->Edit();
  struct Case {
    const char* text;
    const char* error;  // "" when the text is taken
    const char* shown;
  } cases[] = {
      {"-9223372036854775808", "", "-9223372036854775808"},
      {" +42 ", "", "42"},
      {"12x", "'12x' is not a valid integer value for field 'GROSS'", "42"},
      {"99999999999999999999", "'99999999999999999999' is not a valid integer value for field 'GROSS'",
       "42"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(testing::ErrorOf([&] { gross.SetAsString(c.text); }), c.error) << c.text;
    EXPECT_EQ(gross.AsString(), c.shown) << c.text;
  }
  gross.SetAsFloat(1e30);
  EXPECT_EQ(gross.AsLargeInt(), 9223372036854775807);
  gross.SetAsString("");  // Null: a number slot holds 0 then
  EXPECT_EQ(gross.AsLargeInt(), 0);

  // Dates typed as the engine writes them, or as the framework reads them.
  datum.SetText("1.2.2026");
  EXPECT_EQ(datum.AsDateTime(), EncodeDate(2026, 2, 1));
  datum.SetText("28.02.26");
  EXPECT_EQ(datum.AsDateTime(), EncodeDate(2026, 2, 28));
  EXPECT_EQ(testing::ErrorOf([&] { datum.SetText("31.02.2026"); }),
            "'31.02.2026' is not a valid date");
  datum.SetText("  .  .    ");
  EXPECT_TRUE(datum.IsNull());
  ds->Cancel();

  // The table's length is the size the Tz number fields take, up to 20.
  TTzIntegerField integer;
  TTzFloatField number;
  for (int size : {0, 10, 20}) {
    EXPECT_EQ(testing::ErrorOf([&] { integer.SetSize(size); }), "") << size;
    EXPECT_EQ(testing::ErrorOf([&] { number.SetSize(size); }), "") << size;
  }
  EXPECT_EQ(testing::ErrorOf([&] { integer.SetSize(21); }), "Invalid field size");
  EXPECT_EQ(testing::ErrorOf([&] { number.SetSize(-1); }), "Invalid field size");
}

TEST_F(TableDatasets, AnOpenWithoutAFreeWorkAreaKeepsTheSelectedOne) {
  for (uint8_t area = 1; area <= 33; ++area) {
    Select(area);
    Use(Path() + " ALIAS A" + std::to_string(area));
  }
  Select(7);
  TableDataset ds("DBFull");
  ds.SetDbfFileName(Path());
  EXPECT_EQ(testing::ErrorOf([&] { ds.Open(); }),
            "Error # 220 (Invalid parameter)\r\nNo free workarea available [Select(0)]");
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(GetWorkArea(), 7);
  EXPECT_EQ(ds.WorkArea(), 0);
  CloseAll();
  ds.Open();
  EXPECT_EQ(ds.WorkArea(), 1);
}

// Another program on the same table: its record lock refuses the dataset's post, its appends
// show at the next move, and when it is killed in the middle of its appends the dataset sees
// every record it acknowledged, each whole, and appends after them.
TEST_F(TableDatasets, AnotherProgramOnTheSameTable) {
  auto ds = Open("DBPhones");
  platform::ChildProcess holder(TABLE_HOLDER, {});
  ASSERT_TRUE(holder.WriteLine("use " + Path()));
  ASSERT_EQ(holder.ReadLine(), "ok");
  holder.WriteLine("go 3");
  ASSERT_EQ(holder.ReadLine(), "ok");
  holder.WriteLine("rlock");
  ASSERT_EQ(holder.ReadLine(), "true");
  ds->First();
  ds->Next();  // Carla, whose lock the other program holds
  ds->Edit();
  ds->FieldByName("NAME").SetAsString("Cilly");
  std::string message = testing::ErrorOf([&] { ds->Post(); });
  EXPECT_EQ(message.substr(0, message.find('\r')), "Error # 1200 (Record not locked)");
  EXPECT_EQ(Stored(*ds, 1, 3), "Carla     ");
  ds->Cancel();
  holder.WriteLine("unlock");
  ASSERT_EQ(holder.ReadLine(), "ok");
  ds->Edit();
  ds->FieldByName("NAME").SetAsString("Cilly");
  ds->Post();
  EXPECT_EQ(Stored(*ds, 1, 3), "Cilly     ");

  holder.WriteLine("appends 3 X");
  for (const char* ack : {"1", "2", "3", "ok"}) ASSERT_EQ(holder.ReadLine(), ack);
  ds->Last();
  EXPECT_EQ(ds->FieldByName("NAME").AsString(), "X2");
  EXPECT_EQ(ds->RecordCount(), 8);
  EXPECT_EQ(Forward(*ds), (std::vector<std::string>{"Anna", "Cilly", "Emil", "X0", "X1", "X2"}));

  holder.WriteLine("appends 100000 K");
  int acknowledged = 0;
  for (int i = 0; i < 25; ++i) acknowledged = std::stoi(holder.ReadLine());
  holder.Kill();
  std::vector<std::string> names = Forward(*ds);
  ASSERT_GE(names.size(), 6u + acknowledged);
  for (size_t i = 6; i < names.size(); ++i) EXPECT_EQ(names[i], "K" + std::to_string(i - 6));
  ds->Append();
  ds->FieldByName("NAME").SetAsString("Danach");
  ds->Post();
  ds->Last();
  EXPECT_EQ(ds->FieldByName("NAME").AsString(), "Danach");
  EXPECT_EQ(ds->RecordCount(), static_cast<int32_t>(names.size()) + 3);
}

}  // namespace
}  // namespace tz
