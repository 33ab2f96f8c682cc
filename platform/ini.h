// Windows-style INI files, read and written the way the programs' settings files expect:
// sections and keys are matched without regard to case, blanks around keys and values are
// trimmed and a value enclosed in a pair of quotes loses them, the first of duplicate
// sections or keys wins, and a missing file, section or key gives the caller's default.
// Every call reads the file anew (another program may have changed it); writes replace or
// add one line and keep the rest of the file as it was, then put the file in place
// atomically (temporary file + rename).
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A write that could not be carried out (folder missing or not writable, disk full).
class IniFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The integer an INI or registry value holds: optional blanks, an optional sign and decimal
// digits, or hexadecimal after "$" or "0x"; nothing else may follow. nullopt otherwise, also
// when the number does not fit 32 bits.
std::optional<int> ParseIniInteger(std::string_view text);

class IniFile {
 public:
  // `new_file_mode` is the permission a file created by a write gets; an existing file keeps
  // its own.
  explicit IniFile(std::filesystem::path path, unsigned new_file_mode = 0644);

  const std::filesystem::path& FileName() const { return path_; }

  // The value of `key` in `section`, or `def` when the file, section or key is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // ParseIniInteger of the value; `def` when it is missing or not a number.
  int ReadInteger(std::string_view section, std::string_view key, int def) const;
  // ReadInteger(...) != 0; `def` when missing or not a number.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  // The key names of a section in file order (the first of duplicates only).
  std::vector<std::string> ReadSection(std::string_view section) const;
  // The section names in file order.
  std::vector<std::string> ReadSections() const;

  // Sets `key` in `section` to `value`: replaces the key's line, or adds "key=value" after
  // the last entry of the section, or adds the section at the end of the file. Creates the
  // file when missing. Throws IniFileError when the file cannot be written.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  // Removes the key's line; nothing happens when it is missing. Throws like WriteString.
  void DeleteKey(std::string_view section, std::string_view key);
  // Removes the section header and its entries; nothing happens when it is missing.
  void EraseSection(std::string_view section);

 private:
  std::filesystem::path path_;
  unsigned new_file_mode_;
};

// Writes `bytes` to `path` through a temporary file in the same folder that is flushed and
// renamed over the old file, so a reader sees the old or the new content, never a mix.
// `mode` is the new file's permission. Throws IniFileError on failure (the old file stays).
void WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         unsigned mode);

}  // namespace platform
