// Index keys made per record over a table of 100,000 records, as an index build makes them:
// the text key "upper(hersteller)+upper(modell)" and a numeric key, each evaluated with
// EvaluateKeyExpr after stepping to the next record, and, for comparison, the evaluation alone
// on one record.
#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <string>

#include "platform/testing/temp_dir.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"
#include "tables/index/tzparser.h"

namespace {

constexpr int kRecords = 100000;

// HERSTELLER C15, MODELL C20, PREIS N8.2: a 44-byte record.
const std::string& TablePath() {
  static platform::TempDir dir;
  static std::string path = [] {
    std::string file = (dir / "phones.dbf").string();
    std::string header(32 + 3 * 32 + 1, '\0');
    const char* names[] = {"HERSTELLER", "MODELL", "PREIS"};
    const char types[] = {'C', 'C', 'N'};
    const int lengths[] = {15, 20, 8};
    for (int i = 0; i < 3; ++i) {
      std::copy(names[i], names[i] + std::strlen(names[i]), header.begin() + 32 * (i + 1));
      header[32 * (i + 1) + 11] = types[i];
      header[32 * (i + 1) + 16] = static_cast<char>(lengths[i]);
    }
    header[32 * 3 + 17] = 2;
    header[0] = 0x03;
    for (int b = 0; b < 4; ++b) header[4 + b] = static_cast<char>((kRecords >> (8 * b)) & 0xFF);
    header[8] = static_cast<char>(header.size() & 0xFF);
    header[9] = static_cast<char>(header.size() >> 8);
    header[10] = 44;
    header.back() = 0x0D;
    std::ofstream out(file, std::ios::binary);
    out << header;
    const char* makers[] = {"Nokia", "Siemens", "Ericsson", "Motorola", "Sagem", "Alcatel"};
    for (int n = 1; n <= kRecords; ++n) {
      std::string record = std::string(" ") + makers[n % 6];
      record.resize(16, ' ');
      record += "Model " + std::to_string(n);
      record.resize(36, ' ');
      std::string price = std::to_string(n % 1000) + "." + std::to_string(10 + n % 90);
      record += std::string(8 - price.size(), ' ') + price;
      out << record;
    }
    out << '\x1A';
    return file;
  }();
  return path;
}

void OpenTable() {
  tz::StartTarazed();
  tz::DbReportErrors = false;
  tz::Use(TablePath() + " exclusive");
}

// Steps through the table record by record (from the top again at the end) and makes the key of
// each record.
void KeysPerRecord(benchmark::State& state, const char* key) {
  OpenTable();
  tz::CurrentKeyExpr = tz::AssignExpr(key);
  tz::GoTop();
  for (auto _ : state) {
    tz::Skip(1);
    if (tz::dEOF()) tz::GoTop();
    benchmark::DoNotOptimize(tz::KeyEvaluator());
  }
  state.counters["evaluations/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  tz::FreeExpr(tz::CurrentKeyExpr);
  tz::EndTarazed();
}

void EvaluationOnly(benchmark::State& state, const char* key) {
  OpenTable();
  tz::CurrentKeyExpr = tz::AssignExpr(key);
  tz::GoTop();
  for (auto _ : state) benchmark::DoNotOptimize(tz::EvaluateKeyExpr());
  state.counters["evaluations/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  tz::FreeExpr(tz::CurrentKeyExpr);
  tz::EndTarazed();
}

BENCHMARK_CAPTURE(KeysPerRecord, text_key, "upper(hersteller)+upper(modell)")
    ->Iterations(kRecords);
BENCHMARK_CAPTURE(KeysPerRecord, numeric_key, "preis")->Iterations(kRecords);
BENCHMARK_CAPTURE(KeysPerRecord, numeric_expression, "preis*100+1")->Iterations(kRecords);
BENCHMARK_CAPTURE(EvaluationOnly, text_key, "upper(hersteller)+upper(modell)");
BENCHMARK_CAPTURE(EvaluationOnly, numeric_key, "preis");

}  // namespace
