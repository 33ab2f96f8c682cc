#include "phone/com_ports.h"

#include <cstdlib>
#include <exception>

#include "platform/ini.h"
#include "platform/paths.h"

namespace phone {

std::string ComDevicePath(const std::string& device_name) {
  if (device_name.size() != 5 || device_name.compare(0, 3, "COM") != 0 || device_name[3] < '1' ||
      device_name[3] > '9' || device_name[4] != ':')
    return {};
  const char digit = device_name[3];
  const std::string key = std::string("COM") + digit;
  if (const char* env = std::getenv(("KESTROVA_" + key).c_str()); env && *env) return env;
  try {
    platform::IniFile ports(platform::WindowsDir() / "ports.ini");
    std::string configured = ports.ReadString("Ports", key, "");
    if (!configured.empty()) return configured;
  } catch (const std::exception&) {
    // No Windows directory: no configured ports either.
  }
  return std::string("/dev/ttyS") + static_cast<char>(digit - 1);
}

}  // namespace phone
