#include "apps/common/apps_common.h"

#include "platform/paths.h"

namespace apps {

std::string ProgramFolder() {
  return (platform::ProgramDir() / "").string();
}

std::string WindowsDirectory() {
  std::string dir = platform::WindowsDir().string();
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

const std::vector<std::string>& TelstammFields() {
  static const std::vector<std::string> fields = {
      "id, C, 10, 0",       "hersteller, C, 20, 0", "modell, C, 20, 0",  "smsstack, N, 3, 0",
      "comport, N, 1, 0",   "baudrate, C, 6, 0",    "databits, C, 4, 0", "stopbits, C, 4, 0",
      "parity, C, 1, 0",    "flowcontr, C, 20, 0",  "inputbuf, N, 4, 0", "outputbuf, N, 4, 0",
      "waitopen, N, 4, 0",  "waitclose, N, 4, 0",   "waitsend, N, 4, 0", "waitrec, N, 4, 0",
      "smsc_omit, L, 1, 0",
  };
  return fields;
}

const std::vector<std::string>& TelstammIndex() {
  static const std::vector<std::string> lines = {
      "ID,F,F,id", "", "HERSTELLER,F,F,upper(hersteller)+upper(modell)", ""};
  return lines;
}

}  // namespace apps
