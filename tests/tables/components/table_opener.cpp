// A second program that opens a phone-model table the way Vazor does: a TTzDbf with the table's
// field and index lines, shared, CreateIndex ciNotFound, the library in its run-time halt mode.
// Tests start two of them at one moment: each starts the library, answers "ready", and opens
// the table when a line "go" comes. Then it makes tag ID the current order and answers
//   ok <current tag> <record count> built|opened
// (built: this program built the index), and keeps the table open until its input ends. A
// message it shows is a line "message <text>" (line ends as "|"); a halt is "halt <code>", and
// the program ends with the halt's exit status.
//   table_opener <table file>
#include <cstdio>
#include <iostream>
#include <string>

#include "platform/ui.h"
#include "tables/components/utzfds.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"

namespace {

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = '|';
  return text;
}

class PrintingUi : public platform::Ui {
 public:
  int MessageBox(const std::string& text, const std::string&, unsigned flags) override {
    std::cout << "message " << OneLine(text) << std::endl;
    return platform::FirstButtonAnswer(flags);
  }
  void ProcessEvents() override {}
  [[noreturn]] void Halt(int code) override {
    std::cout << "halt " << code << std::endl;
    std::fflush(stdout);
    std::_Exit(platform::HaltExitStatus(code));
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  PrintingUi ui;
  platform::ScopedUi use_ui(ui);
  tz::StartTarazed();
  std::cout << "ready" << std::endl;
  std::string line;
  if (!std::getline(std::cin, line) || line != "go") return 3;
  bool built = false;
  {
    tz::TTzDbf dbf;
    dbf.SetName("DBMobilTel");
    dbf.DbfFields() = {
        "id, C, 10, 0",      "hersteller, C, 20, 0", "modell, C, 20, 0",  "smsstack, N, 3, 0",
        "comport, N, 1, 0",  "baudrate, C, 6, 0",    "databits, C, 4, 0", "stopbits, C, 4, 0",
        "parity, C, 1, 0",   "flowcontr, C, 20, 0",  "inputbuf, N, 4, 0", "outputbuf, N, 4, 0",
        "waitopen, N, 4, 0", "waitclose, N, 4, 0",   "waitsend, N, 4, 0", "waitrec, N, 4, 0",
        "smsc_omit, L, 1, 0",
    };
    dbf.IndexList() = {"ID,F,F,id", "", "HERSTELLER,F,F,upper(hersteller)+upper(modell)", ""};
    dbf.SetCreateIndex(tz::ciNotFound);
    dbf.SetShowProgress(false);
    dbf.OnAfterMakeIndex = [&built](platform::dataset::TDataSet&, const std::string&) {
      built = true;
    };
    dbf.SetDbfFileName(argv[1]);
    dbf.Open();
    dbf.SetOrderToTag("ID");
    std::cout << "ok " << dbf.CurrentTag() << " " << dbf.RecordCount() << " "
              << (built ? "built" : "opened") << std::endl;
    while (std::getline(std::cin, line)) {
    }
  }
  tz::EndTarazed();
  return 0;
}
