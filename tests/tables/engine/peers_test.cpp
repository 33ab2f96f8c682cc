// Independent programs check the table files: python3-dbfread reads what we write, and what
// python3-dbf and libdbd-xbase-perl write opens in our engine with the same values.
#include <gtest/gtest.h>

#include <cstring>

#include "engine_test_support.h"
#include "platform/testing/child_process.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/tzutils.h"

namespace tz {
namespace {

// Runs a program and returns the lines it prints.
std::vector<std::string> Output(const std::string& program, const std::vector<std::string>& args) {
  platform::ChildProcess child(program, args);
  child.CloseInput();
  std::vector<std::string> lines;
  for (std::string line; !(line = child.ReadLine(30000)).empty();) lines.push_back(line);
  EXPECT_EQ(child.Wait(), 0) << program;
  return lines;
}

class Peers : public EngineTest {
 protected:
  Peers() { SetErrorReporting(false); }

  void SetText(int field, const std::string& text) {
    char* slot = FieldAddress(field);
    slot[0] = static_cast<char>(text.size());
    std::memcpy(slot + 1, text.data(), text.size());
  }
  template <typename T>
  void SetValue(int field, T value) {
    std::memcpy(FieldAddress(field), &value, sizeof value);
  }
  template <typename T>
  T ValueOf(int field) {
    T value;
    std::memcpy(&value, FieldAddress(field), sizeof value);
    return value;
  }
  std::string TextOf(int field) {
    const char* slot = FieldAddress(field);
    return std::string(slot + 1, static_cast<uint8_t>(slot[0]));
  }

  platform::TempDir dir_;
};

TEST_F(Peers, DbfreadReadsOurTables) {
  std::string path = (dir_ / "ours.dbf").string();
  TDbfTable created;
  ASSERT_TRUE(CreateDBF(created, path,
                        {{"NAME", 'C', 10},
                         {"ANZ", 'N', 5},
                         {"PREIS", 'N', 8, 2},
                         {"DATUM", 'D', 8},
                         {"OK", 'L', 1}}));
  Use(path);  // an OEM table, as by default
  ASSERT_EQ(DbLastError, 0);
  struct Row {
    bool deleted;
    const char* name;
    int32_t anz;
    double preis;
    const char* datum;
    bool ok;
  } rows[] = {
      {false, "M\xFCller", 12, 3.5, "12/09/26", true},
      {true, "Bernd", -7, 0.25, "  /  /  ", false},
      {false, "Carla", 99999, -12.75, "02/29/24", true},
  };
  for (const Row& r : rows) {
    ClearRecord();
    FieldAddress(0)[0] = r.deleted ? 1 : 0;
    SetText(1, r.name);
    SetValue<int32_t>(2, r.anz);
    SetValue<double>(3, r.preis);
    SetText(4, r.datum);
    FieldAddress(5)[0] = r.ok ? 1 : 0;
    TWorkArea& wa = *SelectedArea();
    PackRecord(wa.Table, wa.FieldValues);
    ASSERT_TRUE(AppendDbfRecord(wa.Table));
  }
  CloseDatabase();

  auto lines = Output("/usr/bin/python3",
                      {"-c",
                       "import sys, dbfread\n"
                       "t = dbfread.DBF(sys.argv[1], encoding='cp850', load=True)\n"
                       "for f in t.fields: print(f.name, f.type, f.length, f.decimal_count)\n"
                       "for tag, rs in (('R', t.records), ('D', t.deleted)):\n"
                       "  for r in rs: print(tag, '|'.join(str(v) for v in r.values()))\n",
                       path});
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "NAME C 10 0",
                       "ANZ N 5 0",
                       "PREIS N 8 2",
                       "DATUM D 8 0",
                       "OK L 1 0",
                       "R M\xC3\xBCller|12|3.5|2026-12-09|True",  // UTF-8 from Python
                       "R Carla|99999|-12.75|2024-02-29|True",
                       "D Bernd|-7|0.25|None|False",
                   }));
}

struct Expected {
  bool deleted;
  std::string name;
  int32_t anz;
  std::string datum;  // as the field value record holds it (format 0)
  bool ok;
};

class PeerTables : public Peers {
 protected:
  void Check(const std::string& path, const std::vector<Expected>& rows) {
    Use(path);
    ASSERT_EQ(DbLastError, 0) << TakeErrorContext();
    ASSERT_EQ(FieldCount(), 4);
    EXPECT_EQ(Field(1), "NAME");
    EXPECT_EQ(FieldType(3), 'D');
    ASSERT_EQ(RecCount(), static_cast<int32_t>(rows.size()));
    GoTop();
    for (const Expected& r : rows) {
      EXPECT_EQ(FieldAddress(0)[0] != 0, r.deleted) << r.name;
      EXPECT_EQ(RTrim(TextOf(1)), r.name);
      EXPECT_EQ(ValueOf<int32_t>(2), r.anz) << r.name;
      EXPECT_EQ(TextOf(3), r.datum) << r.name;
      EXPECT_EQ(FieldAddress(4)[0] != 0, r.ok) << r.name;
      Skip(1);
    }
    EXPECT_TRUE(dEOF());
    CloseDatabase();
  }
};

TEST_F(PeerTables, WrittenByPythonDbf) {
  std::string path = (dir_ / "pydbf.dbf").string();
  auto lines = Output(
      "/usr/bin/python3",
      {"-c",
       "import sys, dbf\n"
       "t = dbf.Table(sys.argv[1], 'name C(10); anz N(5,0); datum D; ok L', dbf_type='db3',\n"
       "              codepage='cp850')\n"
       "t.open(dbf.READ_WRITE)\n"
       "t.append(('M\\u00fcller', 12, dbf.Date(2026, 12, 9), True))\n"
       "t.append(('Bernd', -7, None, False))\n"
       "dbf.delete(t[1])\n"
       "t.close()\n"
       "print('written')\n",
       path});
  ASSERT_EQ(lines, std::vector<std::string>{"written"});
  Check(path, {{false, "M\xFCller", 12, "12/09/26", true}, {true, "Bernd", -7, "  /  /  ", false}});
}

TEST_F(PeerTables, WrittenByXBaseAsDbaseThreeAndFour) {
  for (const char* version : {"3", "4"}) {
    std::string path = (dir_ / (std::string("xbase") + version + ".dbf")).string();
    DbAnsiTables = true;  // XBase writes the bytes it is given
    auto lines = Output(
        "/usr/bin/perl",
        {"-MXBase", "-e",
         "my $t = XBase->create(name => $ARGV[0], version => $ARGV[1],\n"
         "  field_names => ['NAME', 'ANZ', 'DATUM', 'OK'], field_types => ['C', 'N', 'D', 'L'],\n"
         "  field_lengths => [10, 5, 8, 1], field_decimals => [undef, 0, undef, undef])\n"
         "  or die XBase->errstr;\n"
         "$t->set_record(0, 'Anna', 12, '20261209', 1) or die $t->errstr;\n"
         "$t->set_record(1, 'Bert', 345, '19991231', 0) or die $t->errstr;\n"
         "$t->delete_record(1);\n"
         "$t->close; print \"written\\n\";\n",
         path, version});
    ASSERT_EQ(lines, std::vector<std::string>{"written"}) << version;
    Check(path, {{false, "Anna", 12, "12/09/26", true}, {true, "Bert", 345, "12/31/99", false}});
  }
}

}  // namespace
}  // namespace tz
