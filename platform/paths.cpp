#include "platform/paths.h"

#include <cstdlib>
#include <string>

namespace platform {
namespace {

std::filesystem::path FromEnv(const char* own, const char* xdg, const char* home_default) {
  std::filesystem::path dir;
  if (const char* v = std::getenv(own); v && *v) {
    dir = v;
  } else if (const char* x = std::getenv(xdg); x && *x) {
    dir = std::filesystem::path(x) / "kestrova";
  } else {
    const char* home = std::getenv("HOME");
    dir = std::filesystem::path(home && *home ? home : "/tmp") / home_default / "kestrova";
  }
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace

std::filesystem::path ProgramDir() {
  return FromEnv("KESTROVA_PROGRAM_DIR", "XDG_DATA_HOME", ".local/share");
}

std::filesystem::path WindowsDir() {
  return FromEnv("KESTROVA_WINDOWS_DIR", "XDG_CONFIG_HOME", ".config");
}

}  // namespace platform
