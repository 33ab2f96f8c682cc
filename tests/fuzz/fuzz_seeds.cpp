// Makes the seed corpora of the fuzz targets: `fuzz_seeds <folder>` writes <folder>/<target>/
// with tables, memo files and production indexes that the library itself writes, in the
// layouts and with the contents the engine's and the index's tests make (every field type,
// deleted records, every memo layout with short, long, multi-line and binary values and an
// edited one, indexes with C, N and D keys, descending, unique and FOR tags, trees of more
// than one level, one after key maintenance), plus expression texts, PDUs and settings files.
// Each file seed comes once without commands and once with a list that reaches every command
// of the table run. scripts/fuzz runs it before the fuzzers.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/testing/temp_dir.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/memo.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzdbflow.h"
#include "tables/engine/tzutils.h"
#include "tables/index/tzndx.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/tables/engine/engine_test_support.h"

namespace {

using namespace tz;
namespace fs = std::filesystem;

fs::path g_out;
int g_failures = 0;

void Save(const std::string& target, const std::string& name, const std::string& bytes) {
  fs::create_directories(g_out / target);
  std::ofstream(g_out / target / name, std::ios::binary) << bytes;
}

void Check(bool ok, const std::string& what) {
  if (ok && DbLastError == 0) return;
  std::fprintf(stderr, "fuzz_seeds: %s failed: %s\n", what.c_str(), GetErrorMessage().c_str());
  ++g_failures;
  DbLastError = 0;
}

// A command list that reaches every command of the table run with some arguments: shared
// opening with the error routine.
std::string EveryCommand() {
  std::string c(1, '\x03');
  for (int op = 0; op < 26; ++op) {
    c += static_cast<char>(op);
    c += static_cast<char>(op * 37 + 5);
    c += "Ab";
    c += static_cast<char>(op % 3);
  }
  return c;
}

// Saves one seed per command list: none (exclusive, errors stored) and EveryCommand.
void SaveWithCommands(const std::string& target, const std::string& name,
                      std::vector<std::string> files) {
  Save(target, name, kfuzz::JoinParts(files));
  files.push_back(EveryCommand());
  Save(target, name + "-commands", kfuzz::JoinParts(files));
}

// --- The field value record of the selected table ------------------------------------------

const TFieldEntry& Entry(int n) { return SelectedArea()->Table.Fields[static_cast<size_t>(n - 1)]; }

void SetText(int n, const std::string& text) {
  char* slot = FieldAddress(n);
  size_t len = std::min<size_t>(text.size(), Entry(n).length);
  slot[0] = static_cast<char>(len);
  std::memcpy(slot + 1, text.data(), len);
}
void SetDate(int n, const std::string& mmddyy) { SetText(n, mmddyy); }
void SetNumber(int n, double value) {
  if (Entry(n).decimals > 0) {
    std::memcpy(FieldAddress(n), &value, sizeof value);
  } else {
    int32_t i = static_cast<int32_t>(value);
    std::memcpy(FieldAddress(n), &i, sizeof i);
  }
}
void SetLogical(int n, bool on) { FieldAddress(n)[0] = on ? 1 : 0; }
void SetBlock(int n, int32_t block) { std::memcpy(FieldAddress(n), &block, sizeof block); }

std::string Read(const fs::path& p) { return platform::TempDir::Read(p); }
// A file of the folder whose name matches without regard to case ("t.MDX", "t.DBT").
std::string ReadAnyCase(const fs::path& dir, const std::string& name) {
  for (const auto& entry : fs::directory_iterator(dir))
    if (Upper(entry.path().filename().string()) == Upper(name)) return Read(entry.path());
  std::fprintf(stderr, "fuzz_seeds: %s was not written\n", name.c_str());
  ++g_failures;
  return "";
}

// Creates `name`.dbf in `dir` and opens it exclusively in work area 1.
std::string CreateTable(const platform::TempDir& dir, const std::string& name,
                        const std::vector<TFieldEntry>& fields) {
  std::string path = (dir / (name + ".dbf")).string();
  TDbfTable created;
  Check(CreateDBF(created, path, fields), "CreateDBF " + name);
  Select(1);
  Use(path + " EXCLUSIVE");
  Check(true, "USE " + name);
  return path;
}

// --- Tables ----------------------------------------------------------------------------------

void TableSeeds() {
  platform::TempDir dir;
  DbDefaultTableVersion = 0x8B;
  std::string path = CreateTable(dir, "kinds", {{"NAME", 'C', 12}, {"PRICE", 'N', 8, 2},
                                                {"COUNT", 'N', 5}, {"RATE", 'F', 10, 3},
                                                {"SINCE", 'D', 8}, {"ACTIVE", 'L', 1}});
  const char* names[] = {"Nokia", "Siemens", "", "Ericsson \xE4\xF6\xFC", "Motorola"};
  for (int i = 0; i < 5; ++i) {
    ClearRecord();
    SetText(1, names[i]);
    SetNumber(2, i * 12.5 - 3);
    SetNumber(3, i * 1000 - 2000);
    SetNumber(4, i / 7.0);
    SetDate(5, i == 2 ? "" : "0" + std::to_string(i + 1) + "/15/2" + std::to_string(i));
    SetLogical(6, i % 2);
    Append();
    Check(true, "Append");
  }
  GO(3);
  DeleteRec();
  CloseAll();
  SaveWithCommands("table", "kinds-03", {Read(path)});

  path = CreateTable(dir, "empty", {{"ID", 'C', 10}});
  CloseAll();
  SaveWithCommands("table", "empty-03", {Read(path)});

  // The long layout of 04h and 8Ch tables (48-byte descriptors after a 36-byte extension),
  // which the engine reads but never writes, as the engine's tests make it.
  std::vector<RawField> wide = {{"NAME", 'C', 8}, {"N", 'N', 4, 1}, {"D", 'D', 8}};
  std::vector<std::string> rows = {" abc      1.520240315", "*xyz     -9.9        "};
  SaveWithCommands("table", "wide-04", {RawTable(0x04, wide, rows)});
  SaveWithCommands("table", "wide-8c", {RawTable(0x8C, wide, rows)});
}

// --- Memo files ------------------------------------------------------------------------------

void MemoSeed(uint8_t version, uint16_t block_size, const std::string& name) {
  platform::TempDir dir;
  DbDefaultTableVersion = version;
  DbDefaultMemoBlockSize = block_size;
  std::string path = CreateTable(dir, "t", {{"ID", 'N', 5}, {"NOTE", 'M', 10}});
  DbDefaultTableVersion = 0x8B;
  DbDefaultMemoBlockSize = 512;
  const std::string values[] = {
      "Erste Zeile\r\nzweite Zeile",
      std::string(1500, 'a') + " end",
      "",
      "soft\x8D\nwrapped\r\nline \xE4\xF6\xFC",
      std::string(300, 'w') + " " + std::string(300, 'v'),
  };
  int id = 1;
  for (const std::string& v : values) {
    ClearRecord();
    SetNumber(1, id++);
    SetBlock(2, AddMemo(v));
    Append();
    Check(true, "memo Append");
  }
  // A binary value written through the BLOB descriptor.
  int32_t blob = CreateBlobDescriptor(false, 0, 2);
  std::string bytes;
  for (int i = 0; i < 700; ++i) bytes += static_cast<char>(i * 7);
  WriteBlobStream(bytes.data(), static_cast<int32_t>(bytes.size()));
  DestroyBlobDescriptor();
  ClearRecord();
  SetNumber(1, id++);
  SetBlock(2, blob);
  Append();
  // An edit that outgrows its run, so a dBASE IV file gets a free chain.
  GO(1);
  GetMemo(1, 0);
  MemoLines.Lines.push_back(std::string(900, 'g'));
  MemoLines.Ends.push_back(kHardLineEnd);
  SetBlock(2, EditMemo(1));
  Replace();
  Check(true, "memo edit");
  GO(2);
  DeleteRec();
  CloseAll();
  SaveWithCommands("memo", name,
                   {Read(path), ReadAnyCase(dir.path(), version == 0xF5 ? "t.fpt" : "t.dbt")});
}

void MemoSeeds() {
  MemoSeed(0x83, 512, "dbase3");
  MemoSeed(0x8B, 512, "dbase4");
  MemoSeed(0x8B, 64, "dbase4-64");
  MemoSeed(0xF5, 64, "foxpro-64");
  MemoSeed(0xF5, 512, "foxpro");
}

// --- Production indexes ----------------------------------------------------------------------

void FillIndexTable(int records, int first) {
  static const char* const kNames[] = {"Nokia", "Siemens", "Ericsson", "Motorola", "Sagem",
                                       "Alcatel", "Philips", "Sony", "Wavecom", "Falcom"};
  for (int i = first; i < first + records; ++i) {
    ClearRecord();
    char id[8];
    std::snprintf(id, sizeof id, "K%04d", (i * 37) % 1000);
    SetText(1, id);
    SetText(2, std::string(kNames[i % 10]) + " " + std::to_string(i % 13));
    SetNumber(3, (i % 17) * 3.5 - 20);
    SetDate(4, "0" + std::to_string(1 + i % 9) + "/" + std::to_string(10 + i % 18) + "/9" +
                   std::to_string(i % 10));
    SetLogical(5, i % 3 == 0);
    Append();
    Check(true, "index Append");
  }
}

void IndexSeed(const std::string& name, int records, const std::vector<TIndexListEntry>& tags,
               bool maintained) {
  platform::TempDir dir;
  std::string path = CreateTable(dir, "t", {{"ID", 'C', 6}, {"NAME", 'C', 12},
                                            {"NUM", 'N', 6, 1}, {"DAT", 'D', 8},
                                            {"FLAG", 'L', 1}});
  FillIndexTable(records, 0);
  GO(2);
  DeleteRec();
  Check(MakeIndex(tags, ""), "MakeIndex " + name);
  if (maintained) {
    // Key maintenance after the build: appends split nodes, replaces move keys.
    Check(SetIndexTo(""), "SET INDEX");
    FillIndexTable(records / 2, records);
    for (int n = 1; n <= records; n += 7) {
      GO(n);
      SetText(2, "Zz " + std::to_string(n));
      Replace();
    }
    Check(true, "maintenance");
  }
  CloseAll();
  SaveWithCommands("index", name, {Read(path), ReadAnyCase(dir.path(), "t.mdx")});
}

void IndexSeeds() {
  // Every kind of tag over a few records: one leaf each. Then trees of two levels with few
  // tags, so that most of a seed is nodes.
  IndexSeed("kinds", 9,
            {{"ID", "id", "", false, false},
             {"NAME", "upper(name)", "", true, false},
             {"NUM", "num", "", false, false},
             {"DAT", "dat", "", false, false},
             {"FLAGGED", "id", "flag", false, false},
             {"UNIQ", "name", "", false, true},
             {"BOTH", "upper(name)+id", "", false, false},
             {"DTOS", "dtos(dat)+str(num,6,1)", "", true, false}},
            false);
  IndexSeed("levels", 160, {{"ID", "id", "", false, false}, {"NAME", "upper(name)", "", true, false}},
            false);
  // Keys of 98 characters, nine to a node: three levels.
  IndexSeed("deep", 120, {{"LONG", "upper(name)+replicate('-',80)+id", "", false, false}}, false);
  IndexSeed("numbers", 130, {{"NUM", "num", "", false, false}}, false);
  IndexSeed("maintained", 120,
            {{"NAME", "name", "", false, false}, {"DAT", "dat", "flag", true, false}}, true);
}

// --- Texts -----------------------------------------------------------------------------------

void ExpressionSeeds() {
  const char* const kTexts[] = {
      "upper(hersteller)+upper(modell)",
      "hersteller",
      "upper(wort)",
      "preis*2+anz",
      "dtos(datum)+str(preis,8,2)",
      "aktiv .AND. .NOT. deleted()",
      "IIF(anz > 0, hersteller, modell)",
      "SUBSTR(hersteller, 2, 3) $ 'Nokia'",
      "LEFT(modell, 4) = 'S45'",
      "STUFF(hersteller, 1, 2, 'xy') == 'xykia'",
      "CTOD('02/29/24') + 1 > datum",
      "YEAR(datum) + MONTH(datum) + DAY(datum) + DOW(datum)",
      "CDOW(datum) + CMONTH(datum) + DTOC(datum)",
      "VAL(STR(preis, 10, 3)) - ROUND(preis, 1)",
      "MOD(anz, 3) ^ 2 ** 0.5",
      "LEN(TRIM(modell)) + AT('a', hersteller) + ASC(modell)",
      "REPLICATE('ab', 3) + SPACE(2) + CHR(65)",
      "LOWER(LTRIM(RTRIM(notiz)))",
      "notiz",
      "SOUNDEX(hersteller)",
      "MAX(anz, preis) + MIN(1, -1) + ABS(-2.5) + INT(7.9)",
      "telstamm->anz + second->preis",
      "RECNO() # 2 .OR. DATE() <> datum",
      "RIGHT(hersteller, 3) >= 'kia' .AND. hersteller <= 'Z'",
      "1E3 / (anz - anz)",
      "\"a'b\" + 'c\"d'",
  };
  int i = 0;
  for (const char* text : kTexts) Save("expr", "expr-" + std::to_string(i++), text);
}

void PduSeeds() {
  // Published SMS-DELIVER PDUs and made-up ones as the decoder's tests use them; scripts/fuzz
  // adds those the independent encoder of the decoder's peer test writes.
  const char* const kPdus[] = {
      "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37",
      "07916407058099F9040B916407950303F100008921222140140004D4E2940A",
      "00040B916407950303F100008921222140140004D4E2940A",
      "0791947101670000040C9194711132547600003021424150030402C834",
      "0791947101670000000C919471113254760000422092329585000741E19058341E01",
      "0791947101670000000B811007214365F700001270908174300007BCA4750CEF2B00",
      "07919471016700004409D0C6A7B90C0000122070717423000A1B1E0A",
      "0791947101670000400C91947111325476000842209232958500060500030A0201",
  };
  int i = 0;
  for (const char* pdu : kPdus) Save("pdu", "pdu-" + std::to_string(i++), pdu);
}

void IniSeeds() {
  Save("ini", "settings.ini",
       "[COM]\r\nPort=1\r\nInQueue=1024\r\nOutQueue=1024\r\nBaud=115200\r\nDataBits=8\r\n"
       "StopBits=1\r\nParity=N\r\nFlowControl=None\r\nWaitOpen=1000\r\nWaitClose=800\r\n"
       "WaitSend=200\r\nWaitReceive=200\r\n");
  Save("ini", "LD2000.ini",
       "[General]\nFrames = 2000\n[Scan rate]\nScan rate=$7530\n[Color and beam]\n"
       "Beam Brush shift = -3\n; a comment\n[File paths]\nPath=\"C:\\LD2000\\\"\n"
       "[Startup color]\nColor=0x00FF00\n[general]\nFrames=1\n");
  Save("ini", "registry.ini",
       "[Software\\Kestrova\\Vantorix]\nID=  7 \nPort=2\nPin=1234\nWerbeinterval=3\n"
       "PruefTel=1\nPruefWorte=0\nSMSStack=30\n\n[Orvalis]\nDefaultText=Hallo \xE4\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds <folder>\n");
    return 2;
  }
  g_out = argv[1];
  kfuzz::InitializeProcess();
  {
    kfuzz::LibraryRun run(kfuzz::ErrorMode::kStored);
    TableSeeds();
    MemoSeeds();
    IndexSeeds();
  }
  ExpressionSeeds();
  PduSeeds();
  IniSeeds();
  return g_failures == 0 ? 0 : 1;
}
