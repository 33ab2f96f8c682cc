// The data grid on the offscreen screen.
//
// Opening the grid over an advertisement table of 100,000 records and going to the last row
// with Ctrl+End, as the list dialogs do: the goal is under a second for the open and the move
// together, with only the rows around the last record read. The counters say how many rows
// the grid holds afterwards and how many records its walks read.
//
// FindExact misses on the forbidden-numbers table (1 and 100,000 records, a tag on TELNR) with
// a grid attached, as the receive loop does for every SMS whose sender is not on the list:
// with the grid hidden (the dialog closed, as while the loop runs) and shown. A miss costs a
// search and, for a shown grid, the rows it shows; the counter says how many rows the grid
// read per miss.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QKeyEvent>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/dataset/datasource.h"
#include "platform/testing/temp_dir.h"
#include "tables/components/atzgrids.h"
#include "tables/components/utzfds.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"

namespace {

constexpr int kRecords = 100000;

platform::TempDir& Folder() {
  static platform::TempDir dir;
  return dir;
}

// A dBASE III table of `count` records with the fields (name, type, length); record n's
// fields are `record(n)`, without the deleted mark.
template <typename Record>
std::string WriteTable(const std::string& name, const std::vector<std::tuple<std::string, char, int>>& fields,
                       int count, Record record) {
  std::string file = (Folder() / name).string();
  std::string header(32 + fields.size() * 32 + 1, '\0');
  int size = 1;
  for (size_t i = 0; i < fields.size(); ++i) {
    const auto& [field, type, length] = fields[i];
    std::copy(field.begin(), field.end(), header.begin() + 32 * (i + 1));
    header[32 * (i + 1) + 11] = type;
    header[32 * (i + 1) + 16] = static_cast<char>(length);
    size += length;
  }
  header[0] = 0x03;
  for (int b = 0; b < 4; ++b) header[4 + b] = static_cast<char>((count >> (8 * b)) & 0xFF);
  header[8] = static_cast<char>(header.size() & 0xFF);
  header[9] = static_cast<char>(header.size() >> 8);
  header[10] = static_cast<char>(size & 0xFF);
  header[11] = static_cast<char>(size >> 8);
  header.back() = 0x0D;
  std::ofstream out(file, std::ios::binary);
  out << header;
  for (int n = 1; n <= count; ++n) out << ' ' << record(n);
  out << '\x1A';
  return file;
}

// WERBETEXT C30, AKTIV L1: a 32-byte record; every third advertisement inactive.
const std::string& TablePath() {
  static std::string path = WriteTable("werbung.dbf", {{"WERBETEXT", 'C', 30}, {"AKTIV", 'L', 1}},
                                       kRecords, [](int n) {
                                         std::string text = "Anzeige " + std::to_string(n);
                                         text.resize(30, ' ');
                                         return text + (n % 3 ? 'T' : 'F');
                                       });
  return path;
}

// TELNR C20 of `count` forbidden numbers; its index is built by the first open.
std::string NumbersPath(int count) {
  return WriteTable("verbtel" + std::to_string(count) + ".dbf", {{"TELNR", 'C', 20}}, count,
                    [](int n) {
                      std::string number = "+49170" + std::to_string(1000000 + n);
                      number.resize(20, ' ');
                      return number;
                    });
}

QApplication& App() {
  static int argc = 1;
  static char name[] = "bench_data_grid";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
  }();
  return *app;
}

void Pump() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

void BM_OpenGridAndGoToTheLastRow(benchmark::State& state) {
  App();
  const std::string& path = TablePath();
  tz::StartTarazed();
  long rows = 0, reads = 0;
  for (auto _ : state) {
    tz::TTzDbf dbf;
    dbf.SetName("DBWerbung");
    dbf.SetDbfFileName(path);
    platform::dataset::TDataSource source;
    source.SetDataSet(&dbf);
    tz::TTzGrid grid;
    grid.SetDataSource(&source);
    grid.resize(420, 300);
    dbf.Open();
    grid.show();
    Pump();
    grid.setFocus();
    QKeyEvent ctrl_end(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
    QApplication::sendEvent(&grid, &ctrl_end);
    Pump();
    grid.grab();
    if (grid.currentIndex().row() != grid.Model().rowCount() - 1 || !dbf.Eof()) {
      state.SkipWithError("the grid is not on the last row");
      break;
    }
    rows = grid.Model().FetchedRows();
    reads = grid.Model().RecordReads();
  }
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["record_reads"] = static_cast<double>(reads);
  tz::EndTarazed();
}
BENCHMARK(BM_OpenGridAndGoToTheLastRow)->Unit(benchmark::kMillisecond)->Iterations(3);

// Arguments: the records of the table, and whether the grid is shown.
void BM_FindExactMissWithAGrid(benchmark::State& state) {
  App();
  int count = static_cast<int>(state.range(0));
  bool shown = state.range(1) != 0;
  std::string path = NumbersPath(count);
  tz::StartTarazed();
  {
    tz::TTzDbf dbf;
    dbf.SetName("DBVerbTelList");
    dbf.IndexList() = {"TELNR,F,F,telnr", ""};
    dbf.SetDbfFileName(path);
    dbf.Open();
    platform::dataset::TDataSource source;
    source.SetDataSet(&dbf);
    tz::TTzGrid grid;
    grid.SetDataSource(&source);
    grid.resize(300, 300);
    if (shown) grid.show();
    Pump();
    // Misses that fall before, among and after the numbers, as senders do.
    const char* senders[] = {"+4915112345678", "+491701000000x", "+4917612345678"};
    long reads = grid.Model().RecordReads();
    long misses = 0;
    for (auto _ : state) {
      if (dbf.FindExact(senders[misses % 3])) {
        state.SkipWithError("a sender was found");
        break;
      }
      ++misses;
      Pump();
    }
    state.counters["grid_reads_per_miss"] =
        misses ? static_cast<double>(grid.Model().RecordReads() - reads) / static_cast<double>(misses)
               : 0.0;
  }
  tz::EndTarazed();
}
BENCHMARK(BM_FindExactMissWithAGrid)
    ->ArgNames({"records", "shown"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({kRecords, 0})
    ->Args({kRecords, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
