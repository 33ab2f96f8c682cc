// Seeking and walking a 1,000,000-record table with two tags (a C10 id, a C40 name): 100,000
// random Finds (half of them hits, half misses) and a full Skip walk in id order, on the table
// opened exclusively and shared (the shared one goes through the semaphore file's brackets).
// The table and its index are made once per run in a temporary folder.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "platform/testing/temp_dir.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"
#include "tables/index/tzndx.h"

namespace {

constexpr int kRecords = 1000000;
constexpr int kFinds = 100000;

// Every id is an even number below 2 * kRecords, in a random order; an odd one is a miss.
struct SeekTable {
  platform::TempDir dir;
  std::string path;
  std::vector<std::string> hits, misses;

  SeekTable() {
    path = (dir / "seek.dbf").string();
    std::vector<int> ids(kRecords);
    std::iota(ids.begin(), ids.end(), 0);
    std::mt19937 random(11);
    std::shuffle(ids.begin(), ids.end(), random);
    std::string header(32 + 2 * 32 + 1, '\0');
    header[0] = 0x03;
    for (int b = 0; b < 4; ++b) header[4 + b] = static_cast<char>((kRecords >> (8 * b)) & 0xFF);
    header[8] = static_cast<char>(header.size());
    header[10] = 1 + 10 + 40;
    const std::string fields[] = {"ID", "NAME"};
    const char lengths[] = {10, 40};
    for (int i = 0; i < 2; ++i) {
      header.replace(32 * (i + 1), fields[i].size(), fields[i]);
      header[32 * (i + 1) + 11] = 'C';
      header[32 * (i + 1) + 16] = lengths[i];
    }
    header.back() = 0x0D;
    std::string body;
    body.reserve(size_t{kRecords} * 51 + 1);
    for (int id : ids) {
      std::string key = std::to_string(2 * id);
      key.resize(10, ' ');
      std::string name(40, ' ');
      for (int i = 0; i < 12; ++i) name[i] = static_cast<char>('A' + random() % 26);
      body += ' ' + key + name;
    }
    body += '\x1A';
    std::ofstream(path, std::ios::binary) << header << body;
    for (int i = 0; i < kFinds / 2; ++i) {
      int n = static_cast<int>(random() % kRecords);
      hits.push_back(std::to_string(2 * n));
      misses.push_back(std::to_string(2 * n + 1));
    }
    tz::StartTarazed();
    tz::DbReportErrors = false;
    tz::Use(path + " EXCLUSIVE");
    tz::MakeIndex({{"ID", "id", "", false, false}, {"NAME", "name", "", false, false}}, "");
    tz::EndTarazed();
  }
};

const SeekTable& Table() {
  static SeekTable table;
  return table;
}

// Opens the table with its index (id order) for one benchmark.
class Open {
 public:
  Open(bool exclusive, benchmark::State& state) {
    tz::StartTarazed();
    tz::DbReportErrors = false;
    tz::Use(Table().path + (exclusive ? " EXCLUSIVE" : ""));
    if (!tz::SetIndexTo("") || !tz::SetOrderToTag("ID"))
      state.SkipWithError(("index not opened: " + tz::DbErrorContext).c_str());
  }
  ~Open() { tz::EndTarazed(); }
  Open(const Open&) = delete;
  Open& operator=(const Open&) = delete;
};

void RandomFinds(benchmark::State& state) {
  const SeekTable& t = Table();  // before the engine starts: making it ends the engine
  Open open(state.range(0) != 0, state);
  tz::SetExactOn();
  int found = 0;
  for (auto _ : state) {
    found = 0;
    for (size_t i = 0; i < t.hits.size(); ++i) {
      tz::Find(t.hits[i]);
      found += tz::IndexFound;
      tz::Find(t.misses[i]);
      found += tz::IndexFound;
    }
  }
  tz::SetExactOff();
  if (found != kFinds / 2) state.SkipWithError("hits were not found or misses were");
  state.counters["finds/s"] =
      benchmark::Counter(kFinds, benchmark::Counter::kIsIterationInvariantRate);
}

void SkipWalk(benchmark::State& state) {
  Table();  // made before the engine starts for the benchmark: making it ends the engine
  Open open(state.range(0) != 0, state);
  int32_t walked = 0;
  bool ordered = true;
  for (auto _ : state) {
    walked = 0;
    std::string previous;
    for (tz::GoTop(); !tz::dEOF() && tz::DbLastError == 0; tz::Skip(1)) {
      std::string id(tz::FieldAddress(1) + 1, 10);
      ordered = ordered && previous <= id;
      previous = std::move(id);
      ++walked;
    }
  }
  if (walked != kRecords || !ordered) state.SkipWithError("the walk was not the tag's order");
  state.counters["records/s"] =
      benchmark::Counter(kRecords, benchmark::Counter::kIsIterationInvariantRate);
}

// Argument: 1 the table opened exclusively, 0 shared; one run each, in milliseconds.
void ExclusiveAndShared(benchmark::internal::Benchmark* b) {
  b->ArgName("exclusive")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(1);
  b->UseRealTime();
}
BENCHMARK(RandomFinds)->Apply(ExclusiveAndShared);
BENCHMARK(SkipWalk)->Apply(ExclusiveAndShared);

}  // namespace
