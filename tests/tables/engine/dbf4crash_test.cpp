// A program appending to a shared table is killed (SIGKILL) at seeded random moments. What it
// acknowledged must be in the file and in the header's count at once, the header must never
// count a record that is not whole on the disk, and the next program must open the table,
// count what the file holds and append right after the last whole record, shared or
// exclusive, so that an independent reader reads every record.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>

#include "engine_test_support.h"
#include "platform/testing/child_process.h"
#include "tables/engine/tzdbflow.h"

namespace tz {
namespace {

class KilledWriter : public EngineTest {};

// NAME C10: the header is 65 bytes, a record 11.
constexpr size_t kHeader = 65;
constexpr size_t kRecord = 11;

std::string StoredRecord(const std::string& name) {
  return " " + name + std::string(kRecord - 1 - name.size(), ' ');
}

uint32_t HeaderCount(const std::string& file) {
  uint32_t count = 0;
  for (int i = 3; i >= 0; --i) count = count << 8 | static_cast<uint8_t>(file[4 + i]);
  return count;
}

// Starts a writer appending "K0", "K1", ... to the table, reads its acknowledgements while it
// runs (a full pipe would stall it) and kills it after `delay_ms`: the records acknowledged.
int AppendUntilKilled(const std::string& path, int delay_ms) {
  platform::ChildProcess writer(TABLE_HOLDER, {});
  EXPECT_TRUE(writer.WriteLine("use " + path));
  EXPECT_EQ(writer.ReadLine(), "ok");
  EXPECT_TRUE(writer.WriteLine("appends 100000000 K"));
  int acknowledged = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay_ms);
  for (auto now = std::chrono::steady_clock::now(); now < deadline;
       now = std::chrono::steady_clock::now()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    std::string line = writer.ReadLine(static_cast<int>(std::max<int64_t>(left, 1)));
    if (!line.empty()) acknowledged = std::stoi(line);
  }
  writer.Kill();
  for (std::string line; !(line = writer.ReadLine(200)).empty();) acknowledged = std::stoi(line);
  return acknowledged;
}

TEST_F(KilledWriter, TheNextProgramFindsEveryAcknowledgedRecordAndAppendsAfterTheLast) {
  std::mt19937 random(20261210);
  std::vector<std::unique_ptr<platform::TempDir>> dirs;
  std::vector<std::string> peer_args = {"-c",
                                        "import sys, dbfread\n"
                                        "for path, n in zip(sys.argv[1::2], sys.argv[2::2]):\n"
                                        "  names = [r['NAME'] for r in dbfread.DBF(path)]\n"
                                        "  want = ['K%d' % i for i in range(int(n))] + ['Z0']\n"
                                        "  print(len(names), names == want)\n"};
  std::vector<std::string> expected;
  for (int trial = 0; trial < 24; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    dirs.push_back(std::make_unique<platform::TempDir>());
    std::string path = (*dirs.back() / "k.dbf").string();
    TDbfTable created;
    ASSERT_TRUE(CreateDBF(created, path, {{"NAME", 'C', 10}}));
    int acknowledged = AppendUntilKilled(path, 1 + static_cast<int>(random() % 40));

    // As the dead writer left it: every acknowledged record counted, nothing more than the file
    // holds whole, and at most the one record it was writing beyond its acknowledgements.
    std::string file = platform::TempDir::Read(path);
    ASSERT_GE(file.size(), kHeader);
    uint64_t whole = (file.size() - kHeader) / kRecord;
    EXPECT_LE(acknowledged, HeaderCount(file));
    EXPECT_LE(HeaderCount(file), whole);
    EXPECT_LE(whole, static_cast<uint64_t>(acknowledged) + 1);
    uint64_t first_wrong = 0;
    while (first_wrong < whole && file.compare(kHeader + first_wrong * kRecord, kRecord,
                                               StoredRecord("K" + std::to_string(first_wrong))) == 0)
      ++first_wrong;
    EXPECT_EQ(first_wrong, whole);

    // The next program opens it, shared or (after a crash, to repair) exclusively.
    platform::ChildProcess next(TABLE_HOLDER, {});
    ASSERT_TRUE(next.WriteLine("use " + path + (trial % 2 ? " exclusive" : "")));
    ASSERT_EQ(next.ReadLine(), "ok");
    ASSERT_TRUE(next.WriteLine("count"));
    EXPECT_EQ(next.ReadLine(), std::to_string(whole));
    ASSERT_TRUE(next.WriteLine("soak 1 Z"));
    EXPECT_EQ(next.ReadLine(), "ok");
    ASSERT_TRUE(next.WriteLine("close"));
    EXPECT_EQ(next.ReadLine(), "ok");
    EXPECT_EQ(next.Wait(), 0);
    file = platform::TempDir::Read(path);
    EXPECT_EQ(file.size(), kHeader + (whole + 1) * kRecord + 1);
    EXPECT_EQ(HeaderCount(file), whole + 1);
    EXPECT_EQ(file.substr(kHeader + whole * kRecord), StoredRecord("Z0") + "\x1A");
    peer_args.push_back(path);
    peer_args.push_back(std::to_string(whole));
    expected.push_back(std::to_string(whole + 1) + " True");
  }
  platform::ChildProcess peer("/usr/bin/python3", peer_args);
  peer.CloseInput();
  std::vector<std::string> lines;
  for (std::string line; !(line = peer.ReadLine(30000)).empty();) lines.push_back(line);
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(peer.Wait(), 0);
}

}  // namespace
}  // namespace tz
