// A settings file written by another program or by hand (settings.ini, tamsil.ini,
// LD2000.ini, ports.ini, the registry file): the input is the file. Every section and key it
// lists is read as text, number and truth value, then a key is written, one deleted and a
// section erased, each of which reads the file first and keeps the rest of it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ini.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kfuzz::FreshFolder();
  std::string path = kfuzz::WriteFile("settings.ini",
                                      std::string_view(reinterpret_cast<const char*>(data), size));
  platform::IniFile ini(path);
  std::vector<std::string> sections = ini.ReadSections();
  for (const std::string& section : sections) {
    (void)ini.SectionExists(section);
    for (const std::string& key : ini.ReadSection(section)) {
      (void)ini.ValueExists(section, key);
      std::string value = ini.ReadString(section, key, "default");
      (void)platform::ParseIniInteger(value);
      (void)ini.ReadInteger(section, key, -1);
      (void)ini.ReadBool(section, key, false);
    }
  }
  try {
    std::string first = sections.empty() ? "COM" : sections.front();
    ini.WriteString(first, "Port", "COM2");
    ini.WriteInteger("General", "Scan rate", 30000);
    ini.DeleteKey(first, "Baud");
    if (sections.size() > 1) ini.EraseSection(sections[1]);
    (void)ini.ReadSections();
  } catch (const platform::IniFileError&) {
  }
  return 0;
}
