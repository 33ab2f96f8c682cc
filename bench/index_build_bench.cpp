// MakeIndex of two tags (a C10 id and a C40 name) on tables of 10,000, 100,000 and 1,000,000
// records, beside std::sort of the same keys in the same run: the lower bound of any build.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/testing/temp_dir.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"
#include "tables/index/tzndx.h"

namespace {

struct Table {
  std::string path;
  std::vector<std::string> ids, names;
};

// ID C10, NAME C40: a 51-byte record, random keys.
const Table& TableOf(int records) {
  static platform::TempDir dir;
  static std::map<int, Table> tables;
  auto [it, made] = tables.try_emplace(records);
  if (!made) return it->second;
  Table& t = it->second;
  t.path = (dir / ("build" + std::to_string(records) + ".dbf")).string();
  std::string header(32 + 2 * 32 + 1, '\0');
  const char* names[] = {"ID", "NAME"};
  const int lengths[] = {10, 40};
  for (int i = 0; i < 2; ++i) {
    std::copy(names[i], names[i] + std::char_traits<char>::length(names[i]),
              header.begin() + 32 * (i + 1));
    header[32 * (i + 1) + 11] = 'C';
    header[32 * (i + 1) + 16] = static_cast<char>(lengths[i]);
  }
  header[0] = 0x03;
  for (int b = 0; b < 4; ++b) header[4 + b] = static_cast<char>((records >> (8 * b)) & 0xFF);
  header[8] = static_cast<char>(header.size() & 0xFF);
  header[9] = static_cast<char>(header.size() >> 8);
  header[10] = 51;
  header.back() = 0x0D;
  std::ofstream out(t.path, std::ios::binary);
  out << header;
  std::mt19937 random(7);
  for (int n = 0; n < records; ++n) {
    std::string id = std::to_string(random() % 1000000000u);
    id.resize(10, ' ');
    std::string name(40, ' ');
    for (int i = 0; i < 12; ++i) name[i] = static_cast<char>('A' + random() % 26);
    out << ' ' << id << name;
    t.ids.push_back(id);
    t.names.push_back(name);
  }
  out << '\x1A';
  return t;
}

void MakeIndexOfTwoTags(benchmark::State& state) {
  const Table& t = TableOf(static_cast<int>(state.range(0)));
  tz::StartTarazed();
  tz::DbReportErrors = false;
  tz::Use(t.path + " exclusive");
  for (auto _ : state) {
    bool ok =
        tz::MakeIndex({{"ID", "id", "", false, false}, {"NAME", "name", "", false, false}}, "");
    if (!ok) state.SkipWithError("MakeIndex failed");
  }
  state.counters["records/s"] = benchmark::Counter(static_cast<double>(state.range(0)),
                                                   benchmark::Counter::kIsIterationInvariantRate);
  tz::EndTarazed();
}

void StdSortOfTheSameKeys(benchmark::State& state) {
  const Table& t = TableOf(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::vector<std::pair<std::string, int32_t>> ids, names;
    ids.reserve(t.ids.size());
    names.reserve(t.names.size());
    for (size_t i = 0; i < t.ids.size(); ++i) {
      ids.emplace_back(t.ids[i], static_cast<int32_t>(i + 1));
      names.emplace_back(t.names[i], static_cast<int32_t>(i + 1));
    }
    std::sort(ids.begin(), ids.end());
    std::sort(names.begin(), names.end());
    benchmark::DoNotOptimize(ids.data());
    benchmark::DoNotOptimize(names.data());
  }
  state.counters["records/s"] = benchmark::Counter(static_cast<double>(state.range(0)),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(MakeIndexOfTwoTags)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK(StdSortOfTheSameKeys)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
