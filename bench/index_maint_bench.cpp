// 10,000 appends with random keys into a table of 100,000 records whose production index has
// two tags (a C10 id and a C40 name): on an exclusive table, on a shared one (append lock and
// semaphore brackets around every append), and without the index, the cost of the records
// alone. Every run starts from a fresh copy of the same table and index.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/testing/temp_dir.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"
#include "tables/index/tzndx.h"

namespace {

constexpr int kRecords = 100000;
constexpr int kAppends = 10000;

platform::TempDir& Dir() {
  static platform::TempDir dir;
  return dir;
}

void RandomKeys(std::mt19937& random, std::string& id, std::string& name) {
  id = std::to_string(random() % 1000000000u);
  id.resize(10, ' ');
  name.assign(40, ' ');
  for (int i = 0; i < 12; ++i) name[i] = static_cast<char>('A' + random() % 26);
}

// ID C10, NAME C40 with random keys, and its index, made once; the paths of the two files.
const std::string& Template() {
  static const std::string path = [] {
    std::string table = (Dir() / "template.dbf").string();
    std::string header(32 + 2 * 32 + 1, '\0');
    const char* names[] = {"ID", "NAME"};
    const int lengths[] = {10, 40};
    for (int i = 0; i < 2; ++i) {
      std::memcpy(&header[32 * (i + 1)], names[i], std::strlen(names[i]));
      header[32 * (i + 1) + 11] = 'C';
      header[32 * (i + 1) + 16] = static_cast<char>(lengths[i]);
    }
    header[0] = 0x03;
    for (int b = 0; b < 4; ++b) header[4 + b] = static_cast<char>((kRecords >> (8 * b)) & 0xFF);
    header[8] = static_cast<char>(header.size() & 0xFF);
    header[9] = static_cast<char>(header.size() >> 8);
    header[10] = 51;
    header.back() = 0x0D;
    std::ofstream out(table, std::ios::binary);
    out << header;
    std::mt19937 random(7);
    std::string id, name;
    for (int n = 0; n < kRecords; ++n) {
      RandomKeys(random, id, name);
      out << ' ' << id << name;
    }
    out << '\x1A';
    out.close();
    tz::StartTarazed();
    tz::DbReportErrors = false;
    tz::Use(table + " exclusive");
    tz::MakeIndex({{"ID", "id", "", false, false}, {"NAME", "name", "", false, false}}, "");
    tz::EndTarazed();
    return table;
  }();
  return path;
}

// mode 0 without the index, 1 exclusive, 2 shared.
void AppendsWithRandomKeys(benchmark::State& state, int mode) {
  const std::string& from = Template();
  std::string table = (Dir() / "appends.dbf").string();
  std::string index = (Dir() / "appends.MDX").string();
  std::mt19937 random(11);
  for (auto _ : state) {
    state.PauseTiming();
    namespace fs = std::filesystem;
    fs::copy_file(from, table, fs::copy_options::overwrite_existing);
    fs::remove(index);
    if (mode != 0)
      fs::copy_file(fs::path(from).replace_extension(".MDX"), index,
                    fs::copy_options::overwrite_existing);
    tz::StartTarazed();
    tz::DbReportErrors = false;
    tz::Use(table + (mode == 2 ? "" : " exclusive"));
    if (mode != 0) tz::SetIndexTo("");
    std::string id, name;
    state.ResumeTiming();
    for (int n = 0; n < kAppends; ++n) {
      RandomKeys(random, id, name);
      if (mode == 2) tz::ALock();
      tz::ClearRecord();
      std::memcpy(tz::FieldAddress(1) + 1, id.data(), id.size());
      std::memcpy(tz::FieldAddress(2) + 1, name.data(), name.size());
      tz::Append();
      if (mode == 2) tz::Unlock();
      if (tz::DbLastError != 0) {
        state.SkipWithError("Append failed");
        break;
      }
    }
    state.PauseTiming();
    if (tz::RecCount() != kRecords + kAppends) state.SkipWithError("records missing");
    tz::EndTarazed();
    state.ResumeTiming();
  }
  state.counters["appends/s"] =
      benchmark::Counter(kAppends, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK_CAPTURE(AppendsWithRandomKeys, no_index, 0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(AppendsWithRandomKeys, exclusive, 1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(AppendsWithRandomKeys, shared, 2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace
