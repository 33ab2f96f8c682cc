// Writing a shared table: appends under the append lock (ALock, Append, Unlock per record; each
// append also writes the header's record count), replaces under a record lock, and, for
// comparison, appends to the same table opened exclusively (no locks, the header written once
// at the close) and python3-dbf appending to a table of the same layout in the same run.
#include <benchmark/benchmark.h>

#include <cstring>

#include "platform/testing/child_process.h"
#include "platform/testing/temp_dir.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"

namespace {

constexpr int kAppends = 20000;

void SetName(const char* name) {
  char* slot = tz::FieldAddress(1);
  std::memset(slot + 1, ' ', 10);
  std::memcpy(slot + 1, name, std::strlen(name));
}

// A new table NAME C10, ANZ N6 in `dir`, open in work area 1 (shared unless `exclusive`).
void OpenNewTable(const platform::TempDir& dir, bool exclusive = false) {
  tz::StartTarazed();
  tz::DbReportErrors = false;
  tz::TDbfTable table;
  std::string path = (dir / "bench.dbf").string();
  tz::CreateDBF(table, path, {{"NAME", 'C', 10}, {"ANZ", 'N', 6}});
  tz::Use(path + (exclusive ? " exclusive" : ""));
}

void AppendRecords(benchmark::State& state, bool exclusive) {
  platform::TempDir dir;
  OpenNewTable(dir, exclusive);
  for (auto _ : state) {
    tz::ALock();
    tz::ClearRecord();
    SetName("appended");
    tz::Append();
    tz::Unlock();
  }
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  tz::EndTarazed();
}

void BM_SharedAppends(benchmark::State& state) {
  AppendRecords(state, false);
}
BENCHMARK(BM_SharedAppends)->Iterations(kAppends);

void BM_ExclusiveAppends(benchmark::State& state) {
  AppendRecords(state, true);
}
BENCHMARK(BM_ExclusiveAppends)->Iterations(kAppends);

void BM_SharedReplaces(benchmark::State& state) {
  platform::TempDir dir;
  OpenNewTable(dir);
  for (int i = 0; i < 1000; ++i) {
    tz::ALock();
    tz::Append();
    tz::Unlock();
  }
  int32_t n = 0;
  for (auto _ : state) {
    tz::GO(n % 1000 + 1);
    tz::RLock();
    SetName(n % 2 ? "odd" : "even");
    tz::Replace();
    tz::Unlock();
    ++n;
  }
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  tz::EndTarazed();
}
BENCHMARK(BM_SharedReplaces);

void BM_PythonDbfAppends(benchmark::State& state) {
  platform::TempDir dir;
  for (auto _ : state) {
    platform::ChildProcess python(
        "/usr/bin/python3",
        {"-c",
         "import sys, dbf\n"
         "t = dbf.Table(sys.argv[1], 'name C(10); anz N(6,0)', dbf_type='db3')\n"
         "t.open(dbf.READ_WRITE)\n"
         "for i in range(int(sys.argv[2])): t.append(('appended', i))\n"
         "t.close()\n"
         "print('done')\n",
         (dir / "python.dbf").string(), std::to_string(kAppends)});
    python.CloseInput();
    benchmark::DoNotOptimize(python.ReadLine(600000));
    python.Wait();
  }
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(kAppends) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PythonDbfAppends)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
