#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cerrno>
#include <ctime>
#include <filesystem>

#include "platform/testing/child_process.h"
#include "platform/testing/temp_dir.h"

namespace platform {
namespace {

std::string Hold(ChildProcess& child) {
  return child.ReadLine();
}

TEST(Files, ShareModesOfTwoOpensInOneProcess) {
  struct Case {
    unsigned first, second;
    int result;
  } cases[] = {
      {66, 66, 0},  {66, 64, 0},  {64, 66, 0},  {66, 18, 32}, {18, 66, 32},
      {18, 18, 32}, {64, 16, 32}, {16, 64, 32}, {2, 66, 32},  {66, 0x22, 0},
  };
  TempDir dir;
  std::string path = dir.Write("t.dbf", "data").string();
  for (const Case& c : cases) {
    File first, second;
    ASSERT_EQ(first.Open(path, c.first), 0) << c.first;
    EXPECT_EQ(second.Open(path, c.second), c.result) << c.first << " then " << c.second;
    EXPECT_EQ(second.IsOpen(), c.result == 0);
  }
}

TEST(Files, AnotherProcessHoldingTheFileSharedBlocksAnExclusiveOpen) {
  TempDir dir;
  std::string path = dir.Write("t.dbf", "data").string();
  {
    ChildProcess holder(FILE_HOLDER, {"open", "66", path});
    ASSERT_EQ(Hold(holder), "ok");
    File file;
    EXPECT_EQ(file.Open(path, kModeReadWriteExclusive), kErrSharingViolation);
    EXPECT_EQ(file.Create(path, kModeReadWriteExclusive), kErrSharingViolation);
    EXPECT_EQ(TempDir::Read(path), "data");  // the refused create emptied nothing
    EXPECT_EQ(file.Open(path, kModeReadWriteShared), 0);
    file.Close();
    EXPECT_EQ(holder.Wait(), 0);
  }
  File file;
  EXPECT_EQ(file.Open(path, kModeReadWriteExclusive), 0);
}

TEST(Files, AnExclusiveOpenElsewhereRefusesOurs) {
  TempDir dir;
  std::string path = dir.Write("t.dbf", "data").string();
  ChildProcess holder(FILE_HOLDER, {"open", "18", path});
  ASSERT_EQ(Hold(holder), "ok");
  File file;
  EXPECT_EQ(file.Open(path, kModeReadShared), kErrSharingViolation);
}

TEST(Files, RangeLocksExcludeOtherOpensOfTheSameProcess) {
  TempDir dir;
  std::string path = dir.Write("t.dbf", "data").string();
  File a, b;
  ASSERT_EQ(a.Open(path, kModeReadWriteShared), 0);
  ASSERT_EQ(b.Open(path, kModeReadWriteShared), 0);
  ASSERT_EQ(a.LockRange(0x40000142, 50), 0);
  EXPECT_EQ(b.LockRange(0x40000142 + 49, 1), kErrLockViolation);
  EXPECT_EQ(b.LockRange(0x40000142 + 50, 50), 0);  // the next record is free
  EXPECT_EQ(a.LockRange(0x40000142, 50), 0);       // an open's own lock does not stack
  ASSERT_EQ(a.UnlockRange(0x40000142, 50), 0);
  EXPECT_EQ(b.LockRange(0x40000142, 50), 0);
}

TEST(Files, ClosingAnotherDescriptorKeepsTheLocks) {
  // What classic fcntl locks would get wrong: closing any descriptor of the file drops every
  // lock the process holds on it.
  TempDir dir;
  std::string path = dir.Write("t.dbf", "data").string();
  File a;
  ASSERT_EQ(a.Open(path, kModeReadWriteShared), 0);
  ASSERT_EQ(a.LockRange(0x40000001, 1), 0);
  {
    File b;
    ASSERT_EQ(b.Open(path, kModeReadWriteShared), 0);
  }
  ChildProcess other(FILE_HOLDER, {"lock", path, "1073741825", "1"});
  EXPECT_EQ(Hold(other), "error 33");
  ChildProcess neighbour(FILE_HOLDER, {"lock", path, "1073741826", "1"});
  EXPECT_EQ(Hold(neighbour), "ok");
}

TEST(Files, ALockOfAnotherProcessIsSeenAndReleasedWithIt) {
  TempDir dir;
  std::string path = dir.Write("t.dbf", "data").string();
  File file;
  ASSERT_EQ(file.Open(path, kModeReadWriteShared), 0);
  {
    ChildProcess other(FILE_HOLDER, {"lock", path, "1073741824", "1"});
    ASSERT_EQ(Hold(other), "ok");
    EXPECT_EQ(file.LockRange(0x40000000, 1), kErrLockViolation);
    EXPECT_EQ(other.Wait(), 0);
  }
  EXPECT_EQ(file.LockRange(0x40000000, 1), 0);
}

TEST(Files, AProbeFindsTheLocksOfOtherOpensOnlyWhileTheirHoldersLive) {
  TempDir dir;
  std::string path = dir.Write("t.@S@", "data").string();
  File file, other_open;
  ASSERT_EQ(file.Open(path, kModeReadWriteShared), 0);
  ASSERT_EQ(other_open.Open(path, kModeReadWriteShared), 0);
  uint64_t at = 1, length = 1;
  ASSERT_EQ(file.LockRange(300, 1), 0);
  EXPECT_EQ(file.FindForeignLock(256, 256, &at, &length), 0);
  EXPECT_EQ(length, 0u) << "an open's own locks are not foreign";
  ASSERT_EQ(other_open.LockRange(260, 2), 0);
  EXPECT_EQ(file.FindForeignLock(256, 256, &at, &length), 0);
  EXPECT_EQ(at, 260u);
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(file.FindForeignLock(262, 100, &at, &length), 0);
  EXPECT_EQ(length, 0u);
  ASSERT_EQ(other_open.UnlockRange(260, 2), 0);
  ChildProcess holder(FILE_HOLDER, {"lock", path, "400", "1"});
  ASSERT_EQ(Hold(holder), "ok");
  EXPECT_EQ(file.FindForeignLock(256, 256, &at, &length), 0);
  EXPECT_EQ(at, 400u);
  EXPECT_EQ(length, 1u);
  holder.Kill();  // the system drops the locks of a killed process
  EXPECT_EQ(file.FindForeignLock(256, 256, &at, &length), 0);
  EXPECT_EQ(length, 0u);
}

TEST(Files, TheShareModeChangesInPlaceAndKeepsTheLocks) {
  TempDir dir;
  std::string path = dir.Write("t.dbf", "data").string();
  File file, other;
  ASSERT_EQ(file.Open(path, kModeReadWriteShared), 0);
  ASSERT_EQ(file.LockRange(100, 10), 0);
  ASSERT_EQ(file.ChangeShare(kModeReadWriteExclusive), 0);
  EXPECT_EQ(other.Open(path, kModeReadShared), kErrSharingViolation);
  EXPECT_EQ(file.ChangeShare(kModeReadWriteShared), 0);
  ASSERT_EQ(other.Open(path, kModeReadWriteShared), 0);
  EXPECT_EQ(other.LockRange(105, 1), kErrLockViolation);  // the lock came through both changes
  EXPECT_EQ(file.ChangeShare(kModeReadWriteExclusive), kErrSharingViolation);
  EXPECT_EQ(file.Truncate(2), 0);
  EXPECT_EQ(TempDir::Read(path), "da");
  EXPECT_EQ(other.Close(), 0);
  ASSERT_EQ(other.Open(path, kModeReadShared), 0);
  EXPECT_EQ(other.Truncate(0), kErrAccessDenied);
}

TEST(Files, OpenFailuresHaveDosCodes) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder");
  std::string existing = dir.Write("t.dbf", "data").string();
  File file;
  EXPECT_EQ(file.Open((dir / "missing.dbf").string(), 66), kErrFileNotFound);
  EXPECT_EQ(file.Open((dir / "nofolder/x.dbf").string(), 66), kErrPathNotFound);
  EXPECT_EQ(file.Open((dir / "t.dbf/x.dbf").string(), 66), kErrPathNotFound);
  EXPECT_EQ(file.Open((dir / "folder").string(), 66), kErrAccessDenied);
  ASSERT_EQ(file.Open(existing, kModeReadShared), 0);
  EXPECT_EQ(file.WriteAt(0, "x", 1), kErrAccessDenied);
  file.Close();
  size_t done = 7;
  char buf[8];
  EXPECT_EQ(file.ReadAt(0, buf, 4, &done), kErrInvalidHandle);
  EXPECT_EQ(done, 0u);
}

TEST(Files, ErrnoValuesMapToDosCodes) {
  struct Case {
    int error_number, code;
  } cases[] = {
      {0, 0},        {ENOENT, 2},  {ENOTDIR, 3}, {ENAMETOOLONG, 3}, {EMFILE, 4},
      {EACCES, 5},   {EPERM, 5},   {EBADF, 6},   {ENOMEM, 8},       {EROFS, 19},
      {ENOSPC, 101}, {EAGAIN, 33}, {EIO, 31},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DosErrorFromErrno(c.error_number), c.code) << c.error_number;
}

TEST(Files, ReadsAndWritesAtOffsets) {
  TempDir dir;
  std::string path = (dir / "new.dbf").string();
  File file;
  ASSERT_EQ(file.Create(path, kModeReadWriteExclusive), 0);
  ASSERT_EQ(file.WriteAt(4, "abc", 3), 0);
  uint64_t size = 0;
  ASSERT_EQ(file.Size(&size), 0);
  EXPECT_EQ(size, 7u);
  char buf[16] = {};
  size_t done = 0;
  ASSERT_EQ(file.ReadAt(5, buf, sizeof buf, &done), 0);  // a short read at the end is no error
  EXPECT_EQ(std::string(buf, done), "bc");
  EXPECT_EQ(file.Flush(), 0);
  ASSERT_EQ(file.Close(), 0);
  EXPECT_EQ(TempDir::Read(path), std::string("\0\0\0\0abc", 7));
  ASSERT_EQ(file.Create(path, kModeReadWriteExclusive), 0);  // creating again empties it
  ASSERT_EQ(file.Size(&size), 0);
  EXPECT_EQ(size, 0u);
}

TEST(Files, NamesAreFoundWithoutRegardToCase) {
  TempDir dir;
  std::string base = dir.path().string();
  dir.Write("Data/TelStamm.dbf", "x");
  struct Case {
    std::string asked, found;
  } cases[] = {
      {base + "/Data/TelStamm.dbf", base + "/Data/TelStamm.dbf"},
      {base + "/DATA/TELSTAMM.DBF", base + "/Data/TelStamm.dbf"},
      {base + "\\data\\telstamm.dbf", base + "/Data/TelStamm.dbf"},
      {base + "/data/New.dbf", base + "/Data/New.dbf"},
      {base + "/none/TELSTAMM.DBF", base + "/none/TELSTAMM.DBF"},
      {base + "/data/", base + "/Data/"},
  };
  for (const Case& c : cases) EXPECT_EQ(ResolvePath(c.asked), c.found) << c.asked;
  EXPECT_TRUE(FileExists(base + "/DATA/telstamm.DBF"));
  EXPECT_FALSE(FileExists(base + "/DATA"));  // a folder is not a file
  File file;
  EXPECT_EQ(file.Open(base + "\\DATA\\TELSTAMM.DBF", kModeReadShared), 0);
  EXPECT_EQ(file.Path(), base + "/Data/TelStamm.dbf");
}

TEST(Files, FullPathIsAbsoluteAndNormal) {
  std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(FullPath("data\\tel.dbf"), cwd + "/data/tel.dbf");
  EXPECT_EQ(FullPath("/a/b/../c/./tel.dbf"), "/a/c/tel.dbf");
  std::string long_name(300, 'n');
  EXPECT_EQ(FullPath("/x/" + long_name + ".dbf"), "/x/" + long_name + ".dbf");
}

TEST(Files, TemporaryFilesAreUniqueAndInTmpdir) {
  TempDir dir;
  ScopedEnv tmpdir("TMPDIR", dir.path().string());
  std::string a, b;
  ASSERT_EQ(CreateTempFile("TZP", &a), 0);
  ASSERT_EQ(CreateTempFile("TZP", &b), 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(std::filesystem::path(a).parent_path(), dir.path());
  EXPECT_EQ(std::filesystem::path(a).filename().string().substr(0, 3), "TZP");
  EXPECT_TRUE(FileExists(a));
  ScopedEnv missing("TMPDIR", (dir / "missing").string());
  EXPECT_EQ(CreateTempFile("TZP", &a), kErrFileNotFound);
  EXPECT_EQ(a, "");
}

TEST(Files, AMoveReplacesOnlyWhenAskedTo) {
  TempDir dir;
  struct Case {
    bool target_there;
    bool replace;
    int result;
    std::string target;  // what the target holds afterwards
  } cases[] = {
      {false, false, 0, "new"},
      {false, true, 0, "new"},
      {true, false, kErrFileExists, "old"},
      {true, true, 0, "new"},
  };
  for (const Case& c : cases) {
    std::string label = std::to_string(c.target_there) + std::to_string(c.replace);
    std::filesystem::remove(dir / "Target.dbf");
    std::string from = dir.Write("from.tmp", "new").string();
    if (c.target_there) dir.Write("Target.dbf", "old");
    // An existing target is found without regard to case.
    EXPECT_EQ(MoveFile(from, (dir / "TARGET.DBF").string(), c.replace), c.result) << label;
    EXPECT_EQ(TempDir::Read(dir / (c.target_there ? "Target.dbf" : "TARGET.DBF")), c.target)
        << label;
    EXPECT_EQ(FileExists(from), c.result != 0) << label;
    std::filesystem::remove(dir / "TARGET.DBF");
  }
  EXPECT_EQ(MoveFile((dir / "none").string(), (dir / "x").string(), false), kErrFileNotFound);
}

TEST(Files, DosWildcards) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.*", "readme", true},        {"*.dbf", "TEL.DBF", true},     {"*.dbf", "tel.dbt", false},
      {"tel?.dbf", "tel1.dbf", true}, {"tel?.dbf", "tel.dbf", false}, {"t*l.*", "tutel.x", true},
      {"*", ".hidden", true},         {"a*b*c", "aXbYbc", true},      {"a*b*c", "aXbYb", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

TEST(Files, DirectorySearchFindsOrdinaryFilesUnlessAskedForMore) {
  TempDir dir;
  for (const char* name : {"a.dbf", "B.DBF", "c.txt", ".hidden.dbf"}) dir.Write(name, "x");
  std::filesystem::create_directory(dir / "d.dbf");
  auto names = [&](unsigned attributes) {
    std::vector<std::string> found;
    DirSearch search;
    DirEntry entry;
    for (int rc = search.First((dir / "*.DBF").string(), attributes, &entry); rc == 0;
         rc = search.Next(&entry))
      found.push_back(entry.name);
    return found;
  };
  EXPECT_EQ(names(kAttrArchive), (std::vector<std::string>{"B.DBF", "a.dbf"}));
  EXPECT_EQ(names(kAttrHidden | kAttrDirectory),
            (std::vector<std::string>{".hidden.dbf", "B.DBF", "a.dbf", "d.dbf"}));
  DirSearch search;
  DirEntry entry;
  EXPECT_EQ(search.First((dir / "*.mdx").string(), kAttrArchive, &entry), kErrFileNotFound);
  EXPECT_EQ(search.First((dir / "none/*.dbf").string(), kAttrArchive, &entry), kErrPathNotFound);
  ASSERT_EQ(search.First((dir / "c.txt").string(), kAttrArchive, &entry), 0);
  EXPECT_EQ(entry.attributes, unsigned{kAttrArchive});
  EXPECT_EQ(entry.size, 1u);
  EXPECT_EQ(search.Next(&entry), kErrNoMoreFiles);
}

TEST(Files, DateStampsAreDosLocalTime) {
  TempDir dir;
  std::string path = dir.Write("t.dbf", "x").string();
  struct tm when = {};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 2;
  when.tm_mday = 4;
  when.tm_hour = 5;
  when.tm_min = 6;
  when.tm_sec = 9;
  when.tm_isdst = -1;
  struct utimbuf times = {mktime(&when), mktime(&when)};
  ASSERT_EQ(utime(path.c_str(), &times), 0);
  File file;
  ASSERT_EQ(file.Open(path, kModeReadShared), 0);
  uint32_t stamp = 0;
  ASSERT_EQ(file.DateStamp(&stamp), 0);
  EXPECT_EQ(stamp, (46u << 25) | (3u << 21) | (4u << 16) | (5u << 11) | (6u << 5) | 4u);
}

TEST(Files, FreeDiskSpaceOfAFolderAndOfAFileToBe) {
  TempDir dir;
  uint64_t folder = 0, to_be = 0;
  ASSERT_EQ(FreeDiskSpace(dir.path().string(), &folder), 0);
  ASSERT_EQ(FreeDiskSpace((dir / "not/yet.dbf").string(), &to_be), 0);
  EXPECT_GT(folder, 0u);
  EXPECT_GT(to_be, 0u);
}

}  // namespace
}  // namespace platform
