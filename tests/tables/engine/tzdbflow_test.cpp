#include "tables/engine/tzdbflow.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "engine_test_support.h"
#include "platform/testing/child_process.h"
#include "tables/engine/timedate.h"
#include "tables/engine/tzutils.h"

namespace tz {
namespace {

class TableFiles : public EngineTest {
 protected:
  TableFiles() { SetErrorReporting(false); }

  static std::vector<TFieldEntry> Fields(std::initializer_list<TFieldEntry> fields) {
    return std::vector<TFieldEntry>(fields);
  }

  // Opens `path` in `mode` into `table`.
  bool Open(TDbfTable& table, const std::string& path, uint16_t mode = 18) {
    table = TDbfTable();
    table.FileName = path;
    FileMode = mode;
    return OpenDbfFile(table);
  }

  platform::TempDir dir_;
};

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

// The first `count` bytes of a file (too big to read whole).
std::string FirstBytes(const std::string& path, size_t count) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

std::string Descriptor(const std::string& name, char type, int length, int decimals) {
  std::string d(32, '\0');
  d.replace(0, name.size(), name);
  d[11] = type;
  d[16] = static_cast<char>(length);
  d[17] = static_cast<char>(decimals);
  return d;
}

TEST_F(TableFiles, CreateWritesTheHeaderByteForByte) {
  std::string path = (dir_ / "tel").string();
  TDbfTable table;
  ASSERT_TRUE(
      CreateDBF(table, path, Fields({{"name", 'C', 20}, {"DATUM", 'd', 0}, {"Anz", 'N', 5}})));
  std::string file = platform::TempDir::Read(dir_ / "tel.DBF");
  ASSERT_EQ(file.size(), 130u);
  std::string expected = Bytes({0x03, 0, 0, 0, 0, 0, 0, 0, 129, 0, 34, 0}) + std::string(20, '\0') +
                         Descriptor("NAME", 'C', 20, 0) + Descriptor("DATUM", 'D', 8, 0) +
                         Descriptor("ANZ", 'N', 5, 0) + "\x0D\x1A";
  // The date of the last update is today's.
  uint16_t y, m, d, dow;
  DayOfWeekOf(y, m, d, dow);
  expected[1] = static_cast<char>(y - 1900);
  expected[2] = static_cast<char>(m);
  expected[3] = static_cast<char>(d);
  EXPECT_EQ(file, expected);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "tel.DBT"));
}

TEST_F(TableFiles, AMemoFieldGivesVersion8BhAndTheEmptyMemoFileOfItsType) {
  struct Case {
    uint8_t default_version;
    uint8_t version;
    const char* memo;
    std::string bytes;
  } cases[] = {
      {0x8B, 0x8B, "t.DBT",
       Bytes({1, 0, 0, 0, 0, 0, 0, 0, 't', 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 0, 2, 0, 0})},
      {0x83, 0x83, "t.DBT", Bytes({1}) + std::string(511, '\0') + "\x1A"},
      {0xF5, 0xF5, "t.FPT", Bytes({0, 0, 0, 1, 0, 0, 2, 0}) + std::string(504, '\0')},
      {0x03, 0x8B, "t.DBT",
       Bytes({1, 0, 0, 0, 0, 0, 0, 0, 't', 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 0, 2, 0, 0})},
  };
  for (const Case& c : cases) {
    platform::TempDir dir;
    DbDefaultTableVersion = c.default_version;
    TDbfTable table;
    ASSERT_TRUE(
        CreateDBF(table, (dir / "t.dbf").string(), Fields({{"NAME", 'C', 20}, {"NOTIZ", 'M', 0}})));
    std::string file = platform::TempDir::Read(dir / "t.dbf");
    EXPECT_EQ(static_cast<uint8_t>(file[0]), c.version);
    EXPECT_EQ(file.substr(32 + 32, 12), std::string("NOTIZ\0\0\0\0\0\0M", 12));
    EXPECT_EQ(static_cast<uint8_t>(file[32 + 32 + 16]), 10);
    EXPECT_EQ(platform::TempDir::Read(dir / c.memo), c.bytes) << int{c.default_version};
  }
}

TEST_F(TableFiles, CreateRefusesBadDefinitionsAndTablesInUse) {
  std::vector<TFieldEntry> many(256, TFieldEntry{"F", 'C', 1});
  std::vector<std::vector<TFieldEntry>> bad = {
      {},
      many,
      Fields({{"  ", 'C', 5}}),
      Fields({{"NAME", 'C', 0}}),
      Fields({{"NAME", 'X', 5}}),
      Fields({{"OK", 'N', 5}, {"ZERO", 'F', 0}}),
  };
  for (const auto& fields : bad) {
    TDbfTable table;
    EXPECT_FALSE(CreateDBF(table, (dir_ / "bad.dbf").string(), fields)) << fields.size();
    EXPECT_EQ(DbLastError, 211);
    EXPECT_EQ(TakeErrorContext(), "Invalid dBASE field definition [CreateDBF]");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "bad.dbf"));
  }
  std::string path = dir_.Write("used.dbf", "someone's").string();
  platform::ChildProcess holder(FILE_HOLDER, {"open", "66", path});
  ASSERT_EQ(holder.ReadLine(), "ok");
  TDbfTable table;
  EXPECT_FALSE(CreateDBF(table, path, Fields({{"NAME", 'C', 5}})));
  EXPECT_EQ(DbLastError, 32);
  EXPECT_EQ(TakeErrorContext(), "Error writing " + path + ". [CreateDbf]");
  EXPECT_EQ(platform::TempDir::Read(path), "someone's");
}

// A missing table is made as CreateDBF makes it, but never over a table that is there (one
// that another program made first), and nothing else is left in the folder.
TEST_F(TableFiles, AMissingTableIsMadeWholeAndNeverOverAnother) {
  const std::vector<TFieldEntry> fields = Fields({{"NAME", 'C', 20}, {"NOTIZ", 'M', 0}});
  TDbfTable table;
  ASSERT_TRUE(CreateDBF(table, (dir_ / "made.dbf").string(), fields));
  struct Case {
    std::string label;
    std::string there;  // the table's bytes before, empty: none
    bool made;
  } cases[] = {
      {"missing", "", true},
      {"there", "another program's table", false},
  };
  for (const Case& c : cases) {
    platform::TempDir dir;
    if (!c.there.empty()) dir.Write("t.dbf", c.there);
    bool made = !c.made;
    ASSERT_TRUE(CreateMissingDBF(table, (dir / "t.dbf").string(), fields, &made)) << c.label;
    EXPECT_EQ(made, c.made) << c.label;
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    if (c.made) {
      EXPECT_EQ(files, (std::vector<std::string>{"t.DBT", "t.dbf"})) << c.label;
      EXPECT_EQ(platform::TempDir::Read(dir / "t.dbf"), platform::TempDir::Read(dir_ / "made.dbf"));
      EXPECT_EQ(platform::TempDir::Read(dir / "t.DBT").substr(8, 8), std::string("t\0\0\0\0\0\0\0", 8));
    } else {
      EXPECT_EQ(files, (std::vector<std::string>{"t.dbf"})) << c.label;
      EXPECT_EQ(platform::TempDir::Read(dir / "t.dbf"), c.there) << c.label;
    }
  }
  EXPECT_FALSE(CreateMissingDBF(table, (dir_ / "bad.dbf").string(), {}));
  EXPECT_EQ(DbLastError, 211);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "bad.dbf"));
}

TEST_F(TableFiles, AppendedRecordsReadBackAndTheHeaderKeepsOtherProgramsBytes) {
  std::string path = (dir_ / "t.dbf").string();
  TDbfTable table;
  ASSERT_TRUE(CreateDBF(table, path, Fields({{"NAME", 'C', 6}, {"ANZ", 'N', 3}})));
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(16);
    f.write("OTHER-PROGRAM", 12);
  }
  ASSERT_TRUE(Open(table, path));
  const std::string records[] = {" Anna    1", "*Bernd  22", " Carl  333"};
  for (const std::string& r : records) {
    table.Record.assign(r.begin(), r.end());
    ASSERT_TRUE(AppendDbfRecord(table));
  }
  EXPECT_EQ(table.RecordCount, 3);
  EXPECT_EQ(table.CurrentRecord, 3);
  EXPECT_EQ(table.HeaderState, kHeaderAppended);
  ASSERT_TRUE(CloseDbf(table));

  std::string file = platform::TempDir::Read(path);
  ASSERT_EQ(file.size(), 97u + 3 * 10 + 1);
  EXPECT_EQ(file[4], 3);
  EXPECT_EQ(file.substr(16, 12), "OTHER-PROGRA");
  EXPECT_EQ(file.substr(97), " Anna    1*Bernd  22 Carl  333\x1A");

  ASSERT_TRUE(Open(table, path));
  EXPECT_EQ(table.RecordCount, 3);
  for (int n = 1; n <= 3; ++n) {
    ASSERT_TRUE(GetDbfRecord(table, n));
    EXPECT_EQ(std::string(table.Record.begin(), table.Record.end()), records[n - 1]);
  }
  // A rewrite of record 2 keeps the count; the header is rewritten, the end mark stays.
  table.Record.assign(records[0].begin(), records[0].end());
  ASSERT_TRUE(PutDbfRecord(table, 2));
  EXPECT_EQ(table.HeaderState, kHeaderRewritten);
  ASSERT_TRUE(CommitDbfHeader(table));
  EXPECT_EQ(table.HeaderState, kHeaderOpen);
  ASSERT_TRUE(CloseDbf(table));
  file = platform::TempDir::Read(path);
  EXPECT_EQ(file.substr(97), " Anna    1 Anna    1 Carl  333\x1A");
  EXPECT_EQ(file.substr(16, 12), "OTHER-PROGRA");
}

TEST_F(TableFiles, TheRecordCountIsWrittenWithTheDateAndNothingElse) {
  std::string three = RawTable(0x03, {{"A", 'C', 4}}, {" aaaa"});
  three.replace(1, 3, "\x63\x01\x01");  // 1999-01-01
  three.replace(16, 12, "OTHER-PROGRA");
  std::string two(521, '\0');
  two.replace(0, 8, Bytes({0x02, 1, 0, 1, 1, 99, 5, 0}));  // one record, 01-01-1999
  two.replace(8, 12, std::string("A\0\0\0\0\0\0\0\0\0\0C", 12));
  two[8 + 12] = 4;
  two[8 + 16] = 0x0D;
  two += " aaaa";
  uint16_t y, m, d, dow;
  DayOfWeekOf(y, m, d, dow);
  struct Case {
    const char* what;
    std::string bytes;
    size_t header;
    std::string stamp;  // bytes 1 on after the append
  } cases[] = {
      {"dBASE III", three, 65, Bytes({y - 1900, m, d, 2, 0, 0, 0})},
      {"dBASE II", two, 521, Bytes({2, 0, m, d, y - 1900})},
  };
  for (const Case& c : cases) {
    std::string path = dir_.Write("t.dbf", c.bytes).string();
    TDbfTable table;
    ASSERT_TRUE(Open(table, path)) << c.what;
    table.Prolog[28] = 1;  // changed in memory only, for the close to write
    table.Record.assign({' ', 'b', 'b', 'b', 'b'});
    ASSERT_TRUE(AppendDbfRecord(table)) << c.what;
    ASSERT_TRUE(WriteRecordCount(table)) << c.what;
    std::string expected = c.bytes.substr(0, c.header);
    expected.replace(1, c.stamp.size(), c.stamp);
    EXPECT_EQ(platform::TempDir::Read(path).substr(0, c.header), expected) << c.what;
    EXPECT_EQ(table.RecordCount, 2);
  }
}

TEST_F(TableFiles, RecordNumbersOutsideTheTableAreRefused) {
  std::string path = dir_.Write("t.dbf", RawTable(0x03, {{"A", 'C', 2}}, {" aa", " bb"})).string();
  TDbfTable table;
  ASSERT_TRUE(Open(table, path));
  struct Case {
    int32_t n;
    bool get, put;
  } cases[] = {{0, false, false}, {-1, false, false}, {1, true, true},
               {3, false, true},  {4, false, false},  {8, false, false}};
  for (const Case& c : cases) {
    table.Record.assign({' ', 'x', 'y'});
    EXPECT_EQ(GetDbfRecord(table, c.n), c.get) << c.n;
    if (!c.get) {
      EXPECT_EQ(DbLastError, 212);
      EXPECT_EQ(TakeErrorContext(), "Invalid record number = " + std::to_string(c.n) + " (" + path +
                                        ")  [GetDbfRecord]");
    }
    if (c.n != 3) {  // record 3 is an append: checked below
      table.Record.assign({' ', 'x', 'y'});
      EXPECT_EQ(PutDbfRecord(table, c.n), c.put) << c.n;
    }
  }
  EXPECT_EQ(table.RecordCount, 2);
  ASSERT_TRUE(PutDbfRecord(table, 3));
  EXPECT_EQ(table.RecordCount, 3);
  EXPECT_FALSE(WriteDeleteFlag(table, 4));  // no mark past the end
  EXPECT_FALSE(WriteDeleteFlag(table, 0));
  table.Record[0] = '*';
  EXPECT_TRUE(WriteDeleteFlag(table, 2));
  ASSERT_TRUE(CloseDbf(table));
  EXPECT_EQ(platform::TempDir::Read(path).substr(0, 1), "\x03");
  EXPECT_EQ(platform::TempDir::Read(path).substr(65), " xy*bb xy\x1A");
}

TEST_F(TableFiles, OemTablesStoreCodePage850AndTheBufferStaysAnsi) {
  std::string path = dir_.Write("t.dbf", RawTable(0x03, {{"A", 'C', 4}}, {})).string();
  TDbfTable table;
  ASSERT_TRUE(Open(table, path));
  table.Oem = true;
  table.Record.assign({' ', 'M', '\xE4', 'r', 'z'});
  ASSERT_TRUE(AppendDbfRecord(table));
  EXPECT_EQ(std::string(table.Record.begin(), table.Record.end()), " M\xE4rz");
  ASSERT_TRUE(CloseDbf(table));
  EXPECT_EQ(platform::TempDir::Read(path).substr(65, 5), " M\x84rz");
  ASSERT_TRUE(Open(table, path, platform::kModeReadShared));
  table.Oem = true;
  ASSERT_TRUE(GetDbfRecord(table, 1));
  EXPECT_EQ(std::string(table.Record.begin(), table.Record.end()), " M\xE4rz");
  // A refused write (the file is open for reading) leaves the buffer as it was.
  EXPECT_FALSE(PutDbfRecord(table, 1));
  EXPECT_EQ(DbLastError, 5);
  EXPECT_EQ(std::string(table.Record.begin(), table.Record.end()), " M\xE4rz");
}

// The file is cut back to the size it had, whether that was asked of the system or kept from
// the appends before (a table nobody else may write), and also when bytes follow its end mark.
TEST_F(TableFiles, APartialAppendIsCutBackAndNotCounted) {
  struct Case {
    const char* what;
    int appends_before;
    std::string behind_the_end;
  };
  const Case cases[] = {
      {"the first append", 0, ""},
      {"after two appends", 2, ""},
      {"bytes behind the end mark", 0, "GARBAGE"},
      {"bytes behind the end mark, after two appends", 2, "GARBAGE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path =
        dir_.Write("t.dbf", RawTable(0x03, {{"A", 'C', 30}}, {}) + c.behind_the_end).string();
    TDbfTable table;
    ASSERT_TRUE(Open(table, path));
    for (int i = 0; i < c.appends_before; ++i) {
      table.Record.assign(31, static_cast<char>('a' + i));
      ASSERT_TRUE(AppendDbfRecord(table));
    }
    const std::string before = platform::TempDir::Read(path);
    // The file may grow by 5 bytes only: the write of the 31-byte record stops short.
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit old_limit;
    getrlimit(RLIMIT_FSIZE, &old_limit);
    struct rlimit limit = old_limit;
    limit.rlim_cur = std::max<rlim_t>(before.size(), 32 + 32 + 1 + 31 * c.appends_before + 1) + 5;
    setrlimit(RLIMIT_FSIZE, &limit);
    table.Record.assign(31, 'x');
    bool ok = AppendDbfRecord(table);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_FALSE(ok);
    EXPECT_NE(DbLastError, 0);
    EXPECT_EQ(table.RecordCount, c.appends_before);
    EXPECT_EQ(std::filesystem::file_size(path), before.size());
    table = TDbfTable();
  }
}

TEST_F(TableFiles, BadFilesFailWithTheirCodesAndContexts) {
  std::string c20 = " " + std::string(20, 'x');
  struct Case {
    const char* what;
    std::string bytes;
    uint16_t code;
    std::string context;  // after the path, or the whole text for contexts without it
    bool path_first;
  } cases[] = {
      {"31 bytes", std::string(31, '\x03'), 210,
       " is not a dBASE database. (Prolog is less than 32 bytes) [USE/OpenDBF]", true},
      {"version 30h", RawTable(0x30, {{"A", 'C', 2}}, {}), 210,
       " is not a dBASE database.(Invalid version byte)+ [USE/OpenDBF]", true},
      {"header size 33", RawTable(0x03, {{"A", 'C', 2}}, {}, 33), 210,
       "bad.dbf is not a dBASE database. (Number of fields is out of range) [Use/OpenDbf]", false},
      {"256 fields", RawTable(0x03, {{"A", 'C', 2}}, {}, 32 + 256 * 32 + 1), 210,
       "bad.dbf is not a dBASE database. (Number of fields is out of range) [Use/OpenDbf]", false},
      {"04h without room", RawTable(0x04, {{"A", 'C', 2}}, {}, 100), 210,
       "bad.dbf is not a dBASE database. (Number of fields is out of range) [Use/OpenDbf]", false},
      {"type X", RawTable(0x03, {{"NAME", 'X', 2}}, {}), 211, "", false},
      {"record size too small", RawTable(0x03, {{"NAME", 'C', 20}}, {}, -1, 10), 210,
       " is not a dBASE database. (Record size is out of range) [Use/OpenDbf]", true},
      {"record size 0", RawTable(0x03, {{"NAME", 'C', 20}}, {}, -1, 0), 210,
       " is not a dBASE database. (Record size is out of range) [Use/OpenDbf]", true},
      {"D of length 6", RawTable(0x03, {{"DATUM", 'D', 6}}, {}), 211, "", false},
      {"descriptors cut off", RawTable(0x03, {{"A", 'C', 2}}, {}, 32 + 3 * 32 + 1).substr(0, 70),
       100, "", false},
  };
  for (const Case& c : cases) {
    std::string path = dir_.Write("bad.dbf", c.bytes).string();
    TDbfTable table;
    EXPECT_FALSE(Open(table, path)) << c.what;
    EXPECT_EQ(DbLastError, c.code) << c.what;
    std::string context = TakeErrorContext();
    if (std::string(c.what) == "type X")
      EXPECT_EQ(context, "Field: NAME [X] in " + path + " is not a valid field type");
    else if (std::string(c.what) == "D of length 6")
      EXPECT_EQ(context, "Field: DATUM [D] in " + path + " is not a valid field type");
    else if (std::string(c.what) == "descriptors cut off")
      EXPECT_EQ(context, "Error reading " + path + " [Use/OpenDbf]");
    else
      EXPECT_EQ(context, c.path_first ? path + c.context : c.context) << c.what;
    EXPECT_FALSE(table.File.IsOpen()) << c.what;
  }
}

TEST_F(TableFiles, TruncatedFilesReadWhatIsThere) {
  std::string full = RawTable(0x03, {{"A", 'C', 4}}, {" aaaa", " bbbb"});
  std::string path = dir_.Write("t.dbf", full.substr(0, full.size() - 4)).string();
  TDbfTable table;
  ASSERT_TRUE(Open(table, path));
  EXPECT_EQ(table.RecordCount, 1);  // the header's second record is not there
  EXPECT_TRUE(GetDbfRecord(table, 1));
  EXPECT_FALSE(GetDbfRecord(table, 2));
  EXPECT_EQ(DbLastError, 212);

  // A file cut short while it is open reads what is left of it.
  path = dir_.Write("t.dbf", full).string();
  ASSERT_TRUE(Open(table, path));
  EXPECT_EQ(table.RecordCount, 2);
  std::filesystem::resize_file(path, full.size() - 4);
  EXPECT_TRUE(GetDbfRecord(table, 1));
  EXPECT_FALSE(GetDbfRecord(table, 2));
  EXPECT_EQ(DbLastError, 213);
  EXPECT_EQ(TakeErrorContext(), "File:  " + path + "  [GetDbfRecord]");
  EXPECT_EQ(table.CurrentRecord, 1);
  EXPECT_EQ(std::string(table.Record.begin(), table.Record.end()), " aaaa");

  // A file shorter than its header counts no records at all, whatever the header says.
  path = dir_.Write("short.dbf", RawTable(0x03, {{"A", 'C', 4}}, {}, 80, -1, 1000)).string();
  ASSERT_TRUE(Open(table, path));
  EXPECT_EQ(table.RecordCount, 0);
  EXPECT_EQ(table.CurrentRecord, 0);
  EXPECT_TRUE(table.AtEnd && table.AtBeginning);
}

TEST_F(TableFiles, OpeningCountsTheWholeRecordsTheFileHolds) {
  // A writer that died leaves a header that counts too few records and perhaps a last record
  // cut short; a file cut short has a header that counts too many. Either way the table is
  // what the file holds, and an append goes right after its last whole record.
  struct Case {
    const char* what;
    int header_count;
    std::string records;  // after the header, as on the disk
    int32_t count;
  } cases[] = {
      {"the header is right", 3, " aaaa bbbb cccc\x1A", 3},
      {"stale header", 1, " aaaa bbbb cccc\x1A", 3},
      {"stale header, no end mark", 1, " aaaa bbbb cccc", 3},
      {"stale header, no record counted", 0, " aaaa bbbb cccc", 3},
      {"stale header, last record cut short", 1, " aaaa bbbb cc", 2},
      {"file cut short", 200, " aaaa bbbb", 2},
      {"file cut short inside a record", 200, " aaaa bbbb c", 2},
      {"file cut short after the header", 200, "", 0},
  };
  for (const Case& c : cases) {
    std::string header = RawTable(0x03, {{"A", 'C', 4}}, {}, -1, -1, c.header_count);
    header.pop_back();  // the end mark
    std::string path = dir_.Write("t.dbf", header + c.records).string();
    TDbfTable table;
    ASSERT_TRUE(Open(table, path)) << c.what;
    EXPECT_EQ(table.RecordCount, c.count) << c.what;
    EXPECT_EQ(table.CurrentRecord, c.count > 0 ? 1 : 0) << c.what;
    if (c.count > 0) {
      EXPECT_TRUE(GetDbfRecord(table, c.count)) << c.what;
    }
    EXPECT_FALSE(GetDbfRecord(table, c.count + 1)) << c.what;
    table.Record.assign({' ', 'z', 'z', 'z', 'z'});
    ASSERT_TRUE(AppendDbfRecord(table)) << c.what;
    EXPECT_EQ(table.RecordCount, c.count + 1) << c.what;
    ASSERT_TRUE(CloseDbf(table)) << c.what;
    std::string file = platform::TempDir::Read(path);
    EXPECT_EQ(static_cast<int>(file[4]), c.count + 1) << c.what;
    EXPECT_EQ(file.substr(header.size()),
              std::string(" aaaa bbbb cccc").substr(0, 5 * c.count) + " zzzz\x1A")
        << c.what;
  }
}

TEST_F(TableFiles, RandomAndTruncatedHeadersOnlyEverGiveErrors) {
  std::mt19937 random(20261209);
  const uint8_t versions[] = {0x02, 0x03, 0x04, 0x83, 0x8B, 0x8C, 0xF5, 0x30};
  std::string path = (dir_ / "fuzz.dbf").string();
  for (int round = 0; round < 3000; ++round) {
    std::vector<RawField> fields;
    int count = 1 + random() % 6;
    for (int i = 0; i < count; ++i)
      fields.push_back({"F" + std::to_string(i), "CDFLMNXBG"[random() % 9],
                        static_cast<uint8_t>(random() % 40), static_cast<uint8_t>(random() % 4)});
    std::vector<std::string> records(random() % 4, std::string(1 + random() % 60, 'r'));
    std::string bytes = RawTable(versions[random() % 8], fields, records,
                                 random() % 3 ? -1 : static_cast<int>(random() % 700),
                                 random() % 3 ? -1 : static_cast<int>(random() % 300),
                                 random() % 3 ? -1 : static_cast<int>(random() % 100000));
    for (int flips = random() % 4; flips > 0; --flips)
      bytes[random() % bytes.size()] = static_cast<char>(random());
    if (random() % 2) bytes.resize(random() % (bytes.size() + 1));
    if (bytes.size() < 600 && bytes[0] == 0x02 && random() % 2) bytes.resize(600, ' ');
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << bytes;
    }
    TDbfTable table;
    DbLastError = 0;
    if (!Open(table, path)) {
      EXPECT_NE(DbLastError, 0);
      continue;
    }
    for (int32_t n : {1, table.RecordCount, static_cast<int32_t>(random() % 200)}) {
      if (GetDbfRecord(table, n)) {
        std::vector<char> values(FieldValueRecordSize(table));
        UnpackRecord(table, values.data());
        PackRecord(table, values.data());
      }
    }
    table.Record.assign(table.Record.size(), 'w');
    PutDbfRecord(table, table.RecordCount + 1);
    CloseDbf(table);
  }
}

TEST_F(TableFiles, AppendsStopAtTheMostRecordsATableCanCount) {
  // One C 1 field: record size 2. The file is extended without writing (a sparse file of
  // about 4 GiB) so that it really holds the records its header counts.
  struct Case {
    uint32_t header_count;
    uint64_t records_in_file;
    int32_t count;
    int appends;  // that succeed before the limit
  } cases[] = {
      {0x7FFFFFFD, 0x7FFFFFFD, 0x7FFFFFFD, 1},
      {0x7FFFFFFE, 0x7FFFFFFE, 0x7FFFFFFE, 0},
      {0xFFFFFFFF, 0x7FFFFFFF, 0x7FFFFFFE, 0},
  };
  for (const Case& c : cases) {
    std::string bytes = RawTable(0x03, {{"A", 'C', 1}}, {});
    bytes.pop_back();  // the end mark
    for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<char>(c.header_count >> (8 * i));
    std::string path = dir_.Write("huge.dbf", bytes).string();
    uint64_t size = bytes.size() + 2 * c.records_in_file;
    std::filesystem::resize_file(path, size);
    TDbfTable table;
    ASSERT_TRUE(Open(table, path)) << c.header_count;
    EXPECT_EQ(table.RecordCount, c.count) << c.header_count;
    table.Record.assign({' ', 'z'});
    for (int i = 0; i < c.appends; ++i) ASSERT_TRUE(AppendDbfRecord(table)) << c.header_count;
    EXPECT_EQ(table.RecordCount, 0x7FFFFFFE);
    EXPECT_FALSE(AppendDbfRecord(table)) << c.header_count;
    EXPECT_EQ(DbLastError, 212);
    EXPECT_EQ(TakeErrorContext(), "Database \"" + path +
                                      "\" holds 2147483646 records, the most a table can hold "
                                      "[Replace/Append/PutDbfRecord]");
    EXPECT_EQ(table.RecordCount, 0x7FFFFFFE);
    // The appends and their end mark; nothing of the refused one.
    EXPECT_EQ(std::filesystem::file_size(path), size + 2 * c.appends + (c.appends > 0))
        << c.header_count;
    ASSERT_TRUE(CloseDbf(table)) << c.header_count;
    if (c.appends > 0) {
      EXPECT_EQ(FirstBytes(path, 8).substr(4), "\xFE\xFF\xFF\x7F");
    }
  }
}

TEST_F(TableFiles, DbaseTwoTables) {
  std::string h(521, '\0');
  h[0] = 0x02;
  h[1] = 2;  // two records
  h[3] = 12;
  h[4] = 9;
  h[5] = 126;
  h[6] = 1 + 5 + 3 + 1;
  const RawField fields[] = {{"NAME", 'C', 5}, {"ANZ", 'N', 3}, {"OK", 'L', 1}};
  for (int i = 0; i < 3; ++i) {
    char* d = h.data() + 8 + i * 16;
    std::copy(fields[i].name.begin(), fields[i].name.end(), d);
    d[11] = fields[i].type;
    d[12] = static_cast<char>(fields[i].length);
  }
  h[8 + 3 * 16] = 0x0D;
  std::string path = dir_.Write("two.dbf", h + " Anna   1T Bernd 22F").string();
  TDbfTable table;
  ASSERT_TRUE(Open(table, path));
  EXPECT_EQ(table.FieldCount, 3);
  EXPECT_EQ(table.HeaderSize, 521);
  EXPECT_EQ(table.RecordSize, 10);
  EXPECT_EQ(table.RecordCount, 2);
  EXPECT_EQ(table.LastUpdate, "20261209");
  EXPECT_EQ(table.Fields[2].offset, 9);
  ASSERT_TRUE(GetDbfRecord(table, 2));
  EXPECT_EQ(std::string(table.Record.begin(), table.Record.end()), " Bernd 22F");
  table.Record.assign({' ', 'C', 'a', 'r', 'l', ' ', '3', '3', '3', 'T'});
  ASSERT_TRUE(AppendDbfRecord(table));
  ASSERT_TRUE(CloseDbf(table));
  std::string file = platform::TempDir::Read(path);
  EXPECT_EQ(file[1], 3);
  EXPECT_EQ(file.substr(521), " Anna   1T Bernd 22F Carl 333T\x1A");
  // A header that counts fewer records than the file holds is stale here too.
  file[1] = 1;
  dir_.Write("two.dbf", file);
  ASSERT_TRUE(Open(table, path));
  EXPECT_EQ(table.RecordCount, 3);

  // All 32 descriptors in use (no terminator) open; a full table takes no more records.
  std::string full(521, '\0');
  full[0] = 0x02;
  full[1] = full[2] = '\xFF';
  full[6] = 33;
  for (int i = 0; i < 32; ++i) {
    char* d = full.data() + 8 + i * 16;
    d[0] = static_cast<char>('A' + i % 26);
    d[1] = static_cast<char>('0' + i / 26);
    d[11] = 'C';
    d[12] = 1;
  }
  path = dir_.Write("full.dbf", full).string();
  std::filesystem::resize_file(path, 521 + 65535 * 33);  // blank records: zeros
  ASSERT_TRUE(Open(table, path));
  EXPECT_EQ(table.FieldCount, 32);
  EXPECT_EQ(table.RecordCount, 65535);
  EXPECT_FALSE(AppendDbfRecord(table));
  EXPECT_EQ(DbLastError, 212);
  EXPECT_EQ(table.RecordCount, 65535);
}

TEST_F(TableFiles, WideDescriptorsAndMemoTypes) {
  std::string path = dir_.Write("seven.dbf", RawTable(0x04, {{"NAME", 'C', 5}, {"BILD", 'G', 10}},
                                                      {" abcde         7"}))
                         .string();
  TDbfTable table;
  ASSERT_TRUE(Open(table, path));
  EXPECT_EQ(table.HeaderSize, 32 + 36 + 2 * 48 + 1);
  ASSERT_EQ(table.FieldCount, 2);
  EXPECT_EQ(table.Fields[1].type, 'M');  // G is read as a memo
  EXPECT_EQ(table.Fields[1].offset, 6);
  ASSERT_TRUE(GetDbfRecord(table, 1));
  EXPECT_EQ(std::string(table.Record.begin(), table.Record.end()), " abcde         7");

  struct Case {
    uint8_t version;
    const char* extension;
  } cases[] = {{0x83, "DBT"}, {0x8B, "DBT"}, {0xF5, "FPT"}, {0x30, "DBT"}};
  for (const Case& c : cases) EXPECT_EQ(MemoExtension(c.version), c.extension);
  EXPECT_EQ(SwapLong(0x01020304), 0x04030201u);
  EXPECT_EQ(SwapWord(0x0102), 0x0201);
  EXPECT_EQ(TableFileName("/data/tel.dbf"), "tel.dbf");
  EXPECT_EQ(PathPart("C:\\DATA\\TELSTAMM.DBF"), "TELSTAMM");
}

}  // namespace
}  // namespace tz
