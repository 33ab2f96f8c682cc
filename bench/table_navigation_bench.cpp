// Reading a table of 1,000,000 records: GoTop and Skip(1) to the end (the table opened
// exclusively, and shared: then every Skip looks for records another program appended), GO to
// random records, and, for comparison, python3-dbfread reading the same file in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <random>

#include "platform/testing/child_process.h"
#include "platform/testing/temp_dir.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"

namespace {

constexpr int kRecords = 1000000;

// NAME C10, ANZ N6, DATUM D: a 25-byte record.
const std::string& TablePath() {
  static platform::TempDir dir;
  static std::string path = [] {
    std::string file = (dir / "million.dbf").string();
    std::string header(32 + 3 * 32 + 1, '\0');
    const char* names[] = {"NAME", "ANZ", "DATUM"};
    const char types[] = {'C', 'N', 'D'};
    const int lengths[] = {10, 6, 8};
    for (int i = 0; i < 3; ++i) {
      std::copy(names[i], names[i] + std::strlen(names[i]), header.begin() + 32 * (i + 1));
      header[32 * (i + 1) + 11] = types[i];
      header[32 * (i + 1) + 16] = static_cast<char>(lengths[i]);
    }
    header[0] = 0x03;
    for (int b = 0; b < 4; ++b) header[4 + b] = static_cast<char>((kRecords >> (8 * b)) & 0xFF);
    header[8] = static_cast<char>(header.size() & 0xFF);
    header[9] = static_cast<char>(header.size() >> 8);
    header[10] = 25;
    header.back() = 0x0D;
    std::ofstream out(file, std::ios::binary);
    out << header;
    std::string record;
    for (int n = 1; n <= kRecords; ++n) {
      std::string anz = std::to_string(n % 1000000);
      record = " Name" + std::to_string(n % 100000);
      record.resize(11, ' ');
      record += std::string(6 - anz.size(), ' ') + anz + "20261209";
      out << record;
    }
    out << '\x1A';
    return file;
  }();
  return path;
}

void OpenTable(bool exclusive = true) {
  tz::StartTarazed();
  tz::DbReportErrors = false;
  tz::Use(TablePath() + (exclusive ? " exclusive" : ""));
}

// Argument: 1 the table opened exclusively, 0 shared.
void BM_GoTopAndSkipToTheEnd(benchmark::State& state) {
  OpenTable(state.range(0) != 0);
  int64_t records = 0;
  for (auto _ : state) {
    tz::GoTop();
    while (!tz::dEOF()) {
      benchmark::DoNotOptimize(tz::FieldAddress(2));
      tz::Skip(1);
      ++records;
    }
  }
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
  tz::EndTarazed();
}
BENCHMARK(BM_GoTopAndSkipToTheEnd)
    ->ArgName("exclusive")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

void BM_RandomGo(benchmark::State& state) {
  OpenTable();
  std::mt19937 random(7);
  std::uniform_int_distribution<int32_t> record(1, kRecords);
  for (auto _ : state) tz::GO(record(random));
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  tz::EndTarazed();
}
BENCHMARK(BM_RandomGo);

void BM_PythonDbfreadSameFile(benchmark::State& state) {
  const std::string& path = TablePath();
  for (auto _ : state) {
    platform::ChildProcess python("/usr/bin/python3",
                                  {"-c",
                                   "import sys, dbfread\n"
                                   "print(sum(1 for r in dbfread.DBF(sys.argv[1])))\n",
                                   path});
    python.CloseInput();
    benchmark::DoNotOptimize(python.ReadLine(600000));
    python.Wait();
  }
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(kRecords) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PythonDbfreadSameFile)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
