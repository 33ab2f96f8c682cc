#include <gtest/gtest.h>
#include <utime.h>

#include <filesystem>

#include "engine_test_support.h"
#include "platform/testing/child_process.h"
#include "tables/engine/timedate.h"
#include "tables/engine/tzutils.h"

namespace tz {
namespace {

using FileHelpers = EngineTest;

TEST_F(FileHelpers, EraseFilesReportsTheFilesAnotherProgramHoldsOpen) {
  SetErrorReporting(false);
  platform::TempDir dir;
  std::string held = dir.Write("a.tmp", "a").string();
  dir.Write("b.tmp", "b");
  dir.Write("c.dbf", "c");
  platform::ChildProcess holder(FILE_HOLDER, {"open", "66", held});
  ASSERT_EQ(holder.ReadLine(), "ok");

  std::string mask = (dir / "*.TMP").string();
  EraseFiles(mask);
  EXPECT_EQ(DbLastError, 5);
  EXPECT_EQ(GetErrorMessage(),
            "Error # 5 (File access denied)\r\nCould not erase 1 files like " + mask);
  EXPECT_EQ(FilesNotErased, std::vector<std::string>{"a.tmp"});
  EXPECT_TRUE(FileExistsS(held));
  EXPECT_FALSE(FileExistsS((dir / "b.tmp").string()));
  EXPECT_TRUE(FileExistsS((dir / "c.dbf").string()));

  EraseFiles(held);  // one file by its name
  EXPECT_EQ(DbLastError, 32);
  EXPECT_EQ(TakeErrorContext(), "Error erasing " + held);

  holder.Wait();
  EraseFiles(mask);
  EXPECT_EQ(DbLastError, 0);
  EXPECT_TRUE(FilesNotErased.empty());
  EXPECT_FALSE(FileExistsS(held));
  EraseFiles(mask);  // nothing left to match: no error
  EXPECT_EQ(DbLastError, 0);
}

TEST_F(FileHelpers, EraseFileAnswersTheCodeOfTheOpenOrTheErase) {
  platform::TempDir dir;
  std::string path = dir.Write("t.dbf", "x").string();
  EXPECT_EQ(EraseFile((dir / "missing.dbf").string()), 2);
  {
    platform::File mine;
    ASSERT_EQ(mine.Open(path, platform::kModeReadShared), 0);
    EXPECT_EQ(EraseFile(path), 32);  // an open of this very process counts too
  }
  EXPECT_EQ(EraseFile((dir / "T.DBF").string()), 0);
  EXPECT_FALSE(FileExistsS(path));
}

TEST_F(FileHelpers, FileExistsFindsANameInAnyCase) {
  platform::TempDir dir;
  dir.Write("telstamm.dbf", "x");
  std::filesystem::create_directory(dir / "folder.dbf");
  ScopedCwd cwd(dir.path());
  EXPECT_TRUE(FileExistsS("TELSTAMM.DBF"));
  EXPECT_TRUE(FileExistsS(".\\TelStamm.dbf"));
  EXPECT_FALSE(FileExistsS("telstamm.mdx"));
  EXPECT_FALSE(FileExistsS("folder.dbf"));
  EXPECT_EQ(ExpandPath("TELSTAMM.DBF"), dir.path().string() + "/TELSTAMM.DBF");
  EXPECT_EQ(ShortPath("TELSTAMM.DBF  "), "telstamm.dbf");
  EXPECT_EQ(ShortPath(dir.path().string() + "\\FOLDER.DBF\\"),
            dir.path().string() + "/folder.dbf/");
  EXPECT_EQ(ShortPath("NONE\\TELSTAMM.DBF"), "");
}

TEST_F(FileHelpers, UniqueFilenameCreatesATzpFileInTmpdir) {
  SetErrorReporting(false);
  platform::TempDir dir;
  {
    platform::ScopedEnv tmp("TMPDIR", dir.path().string());
    std::string name = UniqueFilename();
    EXPECT_EQ(DbLastError, 0);
    std::filesystem::path path(name);
    EXPECT_EQ(path.parent_path(), dir.path());
    EXPECT_EQ(path.filename().string().substr(0, 3), "TZP");
    EXPECT_TRUE(FileExistsS(name));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    EXPECT_NE(UniqueFilename(), name);
  }
  platform::ScopedEnv missing("TMPDIR", (dir / "gone").string());
  EXPECT_EQ(UniqueFilename(), "");
  EXPECT_EQ(DbLastError, 2);
  EXPECT_EQ(TakeErrorContext(), "Error requesting unique file name [UniqueFilename]");
}

TEST_F(FileHelpers, FileDatesAndFreeSpace) {
  platform::TempDir dir;
  std::string path = dir.Write("t.@S@", "four").string();
  EXPECT_TRUE(FileDatedToday(path));
  time_t yesterday = time(nullptr) - 2 * 86400;
  struct utimbuf times = {yesterday, yesterday};
  ASSERT_EQ(utime(path.c_str(), &times), 0);
  EXPECT_FALSE(FileDatedToday(path));
  EXPECT_FALSE(FileDatedToday((dir / "missing.@S@").string()));

  platform::File file;
  ASSERT_EQ(file.Open(path, platform::kModeReadShared), 0);
  uint16_t y, m, d, h, mi, s;
  UnpackFileDate(FileDateOf(file), y, m, d, h, mi, s);
  struct tm lt;
  localtime_r(&yesterday, &lt);
  EXPECT_EQ(DosError, 0);
  EXPECT_EQ(y, lt.tm_year + 1900);
  EXPECT_EQ(d, lt.tm_mday);
  file.Close();
  EXPECT_EQ(FileDateOf(file), 0u);
  EXPECT_EQ(DosError, 6);

  uint32_t kb = DiskFreeKB(path);
  EXPECT_GT(kb, 0u);
  EXPECT_LE(kb, 0x7FFFFFFFu);
  EXPECT_GT(DiskFreeKB(""), 0u);
  EXPECT_GT(DiskFreeOfDrive(0), 0u);
  EXPECT_GT(DiskFreeOfDrive(3), 0u);
}

TEST_F(FileHelpers, DirectorySearchSetsDosError) {
  platform::TempDir dir;
  dir.Write("TEL.DBF", "x");
  dir.Write("tel.mdx", "x");
  TSearchRec rec;
  EXPECT_EQ(DbFindFirst((dir / "*.dbf").string(), platform::kAttrArchive, rec), 0);
  EXPECT_EQ(rec.entry.name, "TEL.DBF");
  EXPECT_EQ(DosError, 0);
  EXPECT_EQ(DbFindNext(rec), 18);
  EXPECT_EQ(DosError, 18);
  DbFindClose(rec);
  EXPECT_EQ(DbFindFirst((dir / "*.dbt").string(), platform::kAttrArchive, rec), 2);
  EXPECT_EQ(DosError, 2);
}

}  // namespace
}  // namespace tz
