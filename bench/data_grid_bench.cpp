// Opening the data grid over an advertisement table of 100,000 records and going to the last
// row with Ctrl+End, as the list dialogs do, on the offscreen screen. The grid fills its rows
// lazily: the goal is under a second for the open and the move together, with the table
// walked a bounded number of times, not once per paint. The counters say how many rows the
// grid holds afterwards and how many records its walks read.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QKeyEvent>
#include <fstream>
#include <memory>
#include <string>

#include "platform/dataset/datasource.h"
#include "platform/testing/temp_dir.h"
#include "tables/components/atzgrids.h"
#include "tables/components/utzfds.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"

namespace {

constexpr int kRecords = 100000;

// WERBETEXT C30, AKTIV L1: a 32-byte record; every third advertisement inactive.
const std::string& TablePath() {
  static platform::TempDir dir;
  static std::string path = [] {
    std::string file = (dir / "werbung.dbf").string();
    std::string header(32 + 2 * 32 + 1, '\0');
    const char* names[] = {"WERBETEXT", "AKTIV"};
    const char types[] = {'C', 'L'};
    const int lengths[] = {30, 1};
    for (int i = 0; i < 2; ++i) {
      std::string name = names[i];
      std::copy(name.begin(), name.end(), header.begin() + 32 * (i + 1));
      header[32 * (i + 1) + 11] = types[i];
      header[32 * (i + 1) + 16] = static_cast<char>(lengths[i]);
    }
    header[0] = 0x03;
    for (int b = 0; b < 4; ++b) header[4 + b] = static_cast<char>((kRecords >> (8 * b)) & 0xFF);
    header[8] = static_cast<char>(header.size() & 0xFF);
    header[9] = static_cast<char>(header.size() >> 8);
    header[10] = 32;
    header.back() = 0x0D;
    std::ofstream out(file, std::ios::binary);
    out << header;
    for (int n = 1; n <= kRecords; ++n) {
      std::string record = " Anzeige " + std::to_string(n);
      record.resize(31, ' ');
      record += n % 3 ? 'T' : 'F';
      out << record;
    }
    out << '\x1A';
    return file;
  }();
  return path;
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

}  // namespace
