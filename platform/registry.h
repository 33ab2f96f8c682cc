// The current user's registry, kept as one INI-format file, registry.ini in the Windows
// directory. A key path ("Software\Kestrova") and a section ("Vantorix") together name one
// INI section, "Software\Kestrova\Vantorix". The file holds the SIM PIN, so it is created
// with mode 0600 and always written atomically.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/ini.h"

namespace platform {

// A stored value that is not of the kind asked for (an integer read of "abc"). The message
// names the section, the value and what it holds.
class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class RegIniFile {
 public:
  // `key_path` is the key below the current user's hive, e.g. "Software\\Kestrova".
  explicit RegIniFile(std::string key_path);

  // The registry file of the current Windows directory (looked up on every call).
  static std::filesystem::path FileName();

  // The value, or `def` when it is missing.
  std::string ReadString(std::string_view section, std::string_view ident,
                         std::string_view def) const;
  // The value as an integer, `def` when missing; throws RegistryError when it is present but
  // not an integer.
  int ReadInteger(std::string_view section, std::string_view ident, int def) const;
  // ReadInteger(...) != 0, `def` when missing; throws RegistryError like ReadInteger.
  bool ReadBool(std::string_view section, std::string_view ident, bool def) const;
  bool ValueExists(std::string_view section, std::string_view ident) const;

  // Writes throw IniFileError when the file cannot be written.
  void WriteString(std::string_view section, std::string_view ident, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view ident, int value);
  void WriteBool(std::string_view section, std::string_view ident, bool value);
  void DeleteValue(std::string_view section, std::string_view ident);
  void EraseSection(std::string_view section);

 private:
  std::string SectionName(std::string_view section) const;
  IniFile File() const;

  std::string key_path_;
};

}  // namespace platform
