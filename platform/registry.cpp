#include "platform/registry.h"

#include "platform/paths.h"

namespace platform {

RegIniFile::RegIniFile(std::string key_path) : key_path_(std::move(key_path)) {}

std::filesystem::path RegIniFile::FileName() { return WindowsDir() / "registry.ini"; }

std::string RegIniFile::SectionName(std::string_view section) const {
  if (section.empty()) return key_path_;
  return key_path_ + "\\" + std::string(section);
}

IniFile RegIniFile::File() const { return IniFile(FileName(), 0600); }

std::string RegIniFile::ReadString(std::string_view section, std::string_view ident,
                                   std::string_view def) const {
  return File().ReadString(SectionName(section), ident, def);
}

int RegIniFile::ReadInteger(std::string_view section, std::string_view ident, int def) const {
  IniFile file = File();
  std::string name = SectionName(section);
  if (!file.ValueExists(name, ident)) return def;
  std::string text = file.ReadString(name, ident, "");
  if (auto value = ParseIniInteger(text)) return *value;
  throw RegistryError("Invalid data type for '" + std::string(ident) + "' in [" + name +
                      "]: '" + text + "' is not an integer");
}

bool RegIniFile::ReadBool(std::string_view section, std::string_view ident, bool def) const {
  return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

bool RegIniFile::ValueExists(std::string_view section, std::string_view ident) const {
  return File().ValueExists(SectionName(section), ident);
}

void RegIniFile::WriteString(std::string_view section, std::string_view ident,
                             std::string_view value) {
  File().WriteString(SectionName(section), ident, value);
}

void RegIniFile::WriteInteger(std::string_view section, std::string_view ident, int value) {
  File().WriteInteger(SectionName(section), ident, value);
}

void RegIniFile::WriteBool(std::string_view section, std::string_view ident, bool value) {
  File().WriteBool(SectionName(section), ident, value);
}

void RegIniFile::DeleteValue(std::string_view section, std::string_view ident) {
  File().DeleteKey(SectionName(section), ident);
}

void RegIniFile::EraseSection(std::string_view section) {
  File().EraseSection(SectionName(section));
}

}  // namespace platform
