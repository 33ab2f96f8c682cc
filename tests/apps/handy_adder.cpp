// A second Vazor for the tests of programs that add or rename models at the same time: it opens
// the main window offscreen on the program folder of its environment, waits for "go" on its
// input, and then for i = 1..COUNT
//   add:    adds the model VENDOR / "Model <i>" as New Mobile does;
//   rename: selects the model FROM / "Model <i>" and renames it to VENDOR / "Model <i>" as
//           Change Mobilename does.
// A model whose lock was refused (the other program held it) is tried again, up to 1000
// times. At the end it prints "done <n> duplicate <d> refused <r>": models added or renamed,
// models refused as already in the table, and lock refusals. Any other message ends it with
// "message <text>" and status 1.
//
//   handy_adder add VENDOR COUNT
//   handy_adder rename FROM VENDOR COUNT
#include <QApplication>
#include <iostream>
#include <string>

#include "apps/handy/Handytest.h"
#include "platform/testing/recording_ui.h"
#include "tables/engine/tzstart.h"
#include "tables/engine/tzutils.h"

namespace {

bool IsLockRefusal(const std::string& text) {
  return text == "New Mobile could not be appended" ||
         text == "Database could not be locked. Mobile Name could not be changed";
}

bool IsDuplicate(const std::string& text) {
  return text == "This Mobile already exist in the database" ||
         text == "This Mobile already exists in the database";
}

// Makes the model the current row, shown as a click on it shows it.
bool SelectModel(handy::THandyForm& form, const std::string& vendor, const std::string& type) {
  form.DBMobilTel.SetOrderToTag("hersteller");
  std::string key = (tz::Upper(vendor) + std::string(20, ' ')).substr(0, 20) + tz::Upper(type);
  if (!form.DBMobilTel.FindExact(key)) return false;
  form.LoadRow();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (!((mode == "add" && argc == 4) || (mode == "rename" && argc == 5))) return 2;
  std::string from = mode == "rename" ? argv[2] : "";
  std::string vendor = argv[argc - 2];
  int count = std::stoi(argv[argc - 1]);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  platform::RecordingUi ui;
  platform::ScopedUi use_ui(ui);
  tz::StartTarazed();
  int done = 0, duplicate = 0, refused = 0;
  {
    handy::THandyForm form;
    form.show();
    QApplication::processEvents();
    std::cout << "ready" << std::endl;
    std::string line;
    std::getline(std::cin, line);
    try {
    for (int i = 1; i <= count; ++i) {
      std::string type = "Model " + std::to_string(i);
      for (int attempt = 0; attempt < 1000; ++attempt) {
        ui.Clear();
        if (mode == "add") {
          form.AddMobile(vendor, type);
        } else {
          if (!SelectModel(form, from, type)) {
            std::cout << "message no model " << from << " / " << type << std::endl;
            return 1;
          }
          form.RenameMobile(vendor, type);
        }
        if (ui.Messages().empty()) {
          ++done;
          break;
        }
        const std::string& text = ui.Messages()[0].text;
        if (IsDuplicate(text)) {
          ++duplicate;
          break;
        }
        if (!IsLockRefusal(text)) {
          std::cout << "message " << text << std::endl;
          return 1;
        }
        ++refused;
      }
    }
    } catch (const platform::HaltRequested& halt) {
      std::cout << "message " << (ui.Messages().empty() ? "" : ui.Messages().back().text)
                << " halt " << halt.code << std::endl;
      return 1;
    }
  }
  tz::EndTarazed();
  std::cout << "done " << done << " duplicate " << duplicate << " refused " << refused
            << std::endl;
  return 0;
}
