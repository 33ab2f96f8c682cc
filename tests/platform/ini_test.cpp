#include "platform/ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/testing/temp_dir.h"

namespace platform {
namespace {

const char kLdIni[] =
    "; LD2000 settings\r\n"
    "[General]\r\n"
    "Number of frames=8000\r\n"
    "Key = x \r\n"
    "Dup=first\r\n"
    "dup=second\r\n"
    "Quoted=\"C:\\LD\\\"\r\n"
    "Hex=$1F\r\n"
    "Bad=12abc\r\n"
    "Empty=\r\n"
    "\r\n"
    "[ Scan rate ]\r\n"
    "Scan rate=12000\r\n"
    "[general]\r\n"
    "Late=ignored because the first General section wins\r\n";

TEST(IniFile, ReadsAsWindowsDoes) {
  TempDir dir;
  IniFile ini(dir.Write("LD2000.ini", kLdIni));
  IniFile missing(dir / "missing.ini");
  struct Case { const IniFile* file; const char* section; const char* key; const char* value; } cases[] = {
      {&ini, "General", "Number of frames", "8000"},
      {&ini, "GENERAL", "number OF frames", "8000"},
      {&ini, "General", "Key", "x"},
      {&ini, "General", "Dup", "first"},
      {&ini, "General", "Quoted", "C:\\LD\\"},
      {&ini, "General", "Empty", ""},
      {&ini, "Scan rate", "Scan rate", "12000"},
      {&ini, "General", "Late", "<def>"},
      {&ini, "General", "Nope", "<def>"},
      {&ini, "Missing", "Key", "<def>"},
      {&missing, "General", "Key", "<def>"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.file->ReadString(c.section, c.key, "<def>"), c.value) << c.section << "/" << c.key;
}

TEST(IniFile, ReadsIntegersWithFallback) {
  TempDir dir;
  IniFile ini(dir.Write("LD2000.ini", kLdIni));
  struct Case { const char* key; int value; } cases[] = {
      {"Number of frames", 8000}, {"Hex", 31}, {"Bad", -7}, {"Empty", -7}, {"Key", -7}, {"Nope", -7},
  };
  for (const auto& c : cases) EXPECT_EQ(ini.ReadInteger("General", c.key, -7), c.value) << c.key;
  EXPECT_EQ(IniFile(dir / "none.ini").ReadInteger("General", "Number of frames", 6000), 6000);
}

TEST(IniFile, ParsesIntegers) {
  struct Case { const char* text; std::optional<int> value; } cases[] = {
      {"42", 42},       {" -42 ", -42},   {"+7", 7},     {"$FF", 255},  {"0x10", 16},
      {"$FFFFFFFF", -1}, {"2147483648", std::nullopt}, {"", std::nullopt}, {"1.5", std::nullopt},
      {"abc", std::nullopt}, {"-", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseIniInteger(c.text), c.value) << c.text;
}

TEST(IniFile, WritesKeepTheRestOfTheFile) {
  TempDir dir;
  auto path = dir.Write("tamsil.ini", kLdIni);
  IniFile ini(path);
  ini.WriteString("general", "KEY", "changed");
  ini.WriteString("Scan rate", "New key", "1");
  ini.WriteInteger("Orvalis", "Count", 3);
  std::string expected = kLdIni;
  expected.replace(expected.find("Key = x \r\n"), 10, "Key=changed\r\n");
  expected.replace(expected.find("Scan rate=12000\r\n"), 17, "Scan rate=12000\r\nNew key=1\r\n");
  expected += "\r\n[Orvalis]\r\nCount=3\r\n";
  EXPECT_EQ(TempDir::Read(path), expected);
  EXPECT_EQ(ini.ReadString("General", "key", ""), "changed");
  EXPECT_EQ(ini.ReadInteger("orvalis", "count", 0), 3);
}

TEST(IniFile, CreatesDeletesAndLists) {
  TempDir dir;
  IniFile ini(dir / "new.ini");
  ini.WriteString("Orvalis", "DefaultText", "Hallo Welt");
  ini.WriteBool("Orvalis", "Flag", true);
  EXPECT_EQ(TempDir::Read(dir / "new.ini"), "[Orvalis]\r\nDefaultText=Hallo Welt\r\nFlag=1\r\n");
  EXPECT_TRUE(ini.ReadBool("Orvalis", "Flag", false));
  EXPECT_EQ(ini.ReadSection("orvalis"), (std::vector<std::string>{"DefaultText", "Flag"}));
  ini.DeleteKey("Orvalis", "Flag");
  ini.WriteString("Second", "a", "b");
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Orvalis", "Second"}));
  ini.EraseSection("Orvalis");
  EXPECT_FALSE(ini.SectionExists("Orvalis"));
  EXPECT_TRUE(ini.ValueExists("Second", "A"));
  struct stat st{};
  ASSERT_EQ(stat((dir / "new.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(IniFile, KeepsUnixLineEndsOfAnExistingFile) {
  TempDir dir;
  auto path = dir.Write("ports.ini", "[Ports]\nCOM1=/dev/pts/3\n");
  IniFile(path).WriteString("Ports", "COM2", "/dev/pts/4");
  EXPECT_EQ(TempDir::Read(path), "[Ports]\nCOM1=/dev/pts/3\nCOM2=/dev/pts/4\n");
}

TEST(IniFile, FindsTheFileWithoutRegardToCase) {
  TempDir dir;
  auto path = dir.Write("ld2000.INI", "[General]\r\nNumber of frames=8000\r\n");
  IniFile ini(dir / "LD2000.ini");
  EXPECT_EQ(ini.ReadInteger("General", "Number of frames", 6000), 8000);
  ini.WriteInteger("General", "Number of frames", 7000);
  EXPECT_EQ(TempDir::Read(path), "[General]\r\nNumber of frames=7000\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "LD2000.ini"));
}

TEST(IniFile, WriteIntoMissingFolderThrows) {
  TempDir dir;
  IniFile ini(dir / "no" / "such" / "x.ini");
  EXPECT_THROW(ini.WriteString("a", "b", "c"), IniFileError);
}

}  // namespace
}  // namespace platform
