// A second Vazor for the test of two programs adding models at once: it opens the main window
// offscreen on the program folder of its environment, waits for "go" on its input, adds the
// models "<vendor>" / "Model <i>" for i = 1..count as New Mobile does, and prints
// "added <n> refused <m>": a model whose append lock was refused (the other program held it)
// is tried again, up to 1000 times.
//
//   handy_adder VENDOR COUNT
#include <QApplication>
#include <iostream>
#include <string>

#include "apps/handy/Handytest.h"
#include "platform/testing/recording_ui.h"
#include "tables/engine/tzstart.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::string vendor = argv[1];
  int count = std::stoi(argv[2]);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  platform::RecordingUi ui;
  platform::ScopedUi use_ui(ui);
  tz::StartTarazed();
  int added = 0, refused = 0;
  {
    handy::THandyForm form;
    form.show();
    QApplication::processEvents();
    std::cout << "ready" << std::endl;
    std::string line;
    std::getline(std::cin, line);
    for (int i = 1; i <= count; ++i) {
      for (int attempt = 0; attempt < 1000; ++attempt) {
        ui.Clear();
        form.AddMobile(vendor, "Model " + std::to_string(i));
        if (ui.Messages().empty()) {
          ++added;
          break;
        }
        if (ui.Messages()[0].text != "New Mobile could not be appended") {
          std::cout << "message " << ui.Messages()[0].text << std::endl;
          return 1;
        }
        ++refused;
      }
    }
  }
  tz::EndTarazed();
  std::cout << "added " << added << " refused " << refused << std::endl;
  return 0;
}
