#include "platform/ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/text.h"

namespace platform {
namespace {

std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool SameName(std::string_view a, std::string_view b) { return AnsiCompareText(a, b) == 0; }

// The file as lines without their line ends, and the line end it uses.
struct IniText {
  std::vector<std::string> lines;
  std::string eol = "\r\n";
  bool ends_with_eol = true;

  // Line index of the section header, or -1.
  long FindSection(std::string_view section) const {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (auto name = SectionName(lines[i]); name && SameName(*name, Trim(section)))
        return static_cast<long>(i);
    }
    return -1;
  }
  // One past the last line of the section that starts at `header`.
  size_t SectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < lines.size() && !SectionName(lines[i])) ++i;
    return i;
  }
  // Line index of the key inside the section, or -1.
  long FindKey(long header, std::string_view key) const {
    if (header < 0) return -1;
    size_t end = SectionEnd(static_cast<size_t>(header));
    for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i) {
      if (auto k = KeyOf(lines[i]); k && SameName(*k, Trim(key))) return static_cast<long>(i);
    }
    return -1;
  }

  static std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[') return std::nullopt;
    size_t close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(line.substr(1, close - 1));
  }
  static std::optional<std::string_view> KeyOf(std::string_view line) {
    std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';') return std::nullopt;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return Trim(line.substr(0, eq));
  }
  static std::string_view ValueOf(std::string_view line) {
    std::string_view v = Trim(line.substr(line.find('=') + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
      v = v.substr(1, v.size() - 2);
    return v;
  }

  std::string Join() const {
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
      out += lines[i];
      if (i + 1 < lines.size() || ends_with_eol) out += eol;
    }
    return out;
  }
};

// Settings files written on Windows may differ from the name asked for in case only
// ("ld2000.INI"); the file on the disk is found as every other file of the system is.
std::filesystem::path OnDisk(const std::filesystem::path& path) {
  return ResolvePath(path.string());
}

IniText Load(const std::filesystem::path& path) {
  IniText t;
  std::ifstream in(OnDisk(path), std::ios::binary);
  if (!in) return t;
  std::stringstream ss;
  ss << in.rdbuf();
  std::string data = ss.str();
  if (data.empty()) return t;
  t.eol = data.find("\r\n") != std::string::npos || data.find('\n') == std::string::npos ? "\r\n" : "\n";
  t.ends_with_eol = data.back() == '\n';
  size_t start = 0;
  while (start < data.size()) {
    size_t nl = data.find('\n', start);
    size_t end = nl == std::string::npos ? data.size() : nl;
    std::string line = data.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    t.lines.push_back(std::move(line));
    start = end + 1;
  }
  return t;
}

// Writes the text back; an existing file keeps its permissions, a new one gets `new_mode`.
void Save(const std::filesystem::path& asked, const IniText& t, unsigned new_mode) {
  std::filesystem::path path = OnDisk(asked);
  std::error_code ec;
  auto status = std::filesystem::status(path, ec);
  unsigned mode = std::filesystem::exists(status)
                      ? static_cast<unsigned>(status.permissions()) & 07777u
                      : new_mode;
  WriteFileAtomically(path, t.Join(), mode);
}

}  // namespace

std::optional<int> ParseIniInteger(std::string_view text) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (!text.empty() && text.front() == '$') {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  long long value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  if (negative) value = -value;
  // Hexadecimal texts name a 32-bit pattern ($FFFFFFFF is -1), as the Windows parsers read them.
  if (base == 16 && !negative && value > 0x7FFFFFFFLL && value <= 0xFFFFFFFFLL)
    value -= 0x100000000LL;
  if (value < -2147483648LL || value > 2147483647LL) return std::nullopt;
  return static_cast<int>(value);
}

IniFile::IniFile(std::filesystem::path path, unsigned new_file_mode)
    : path_(std::move(path)), new_file_mode_(new_file_mode) {}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view def) const {
  IniText t = Load(path_);
  long line = t.FindKey(t.FindSection(section), key);
  if (line < 0) return std::string(def);
  return std::string(IniText::ValueOf(t.lines[static_cast<size_t>(line)]));
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int def) const {
  IniText t = Load(path_);
  long line = t.FindKey(t.FindSection(section), key);
  if (line < 0) return def;
  return ParseIniInteger(IniText::ValueOf(t.lines[static_cast<size_t>(line)])).value_or(def);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool IniFile::SectionExists(std::string_view section) const {
  return Load(path_).FindSection(section) >= 0;
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
  IniText t = Load(path_);
  return t.FindKey(t.FindSection(section), key) >= 0;
}

std::vector<std::string> IniFile::ReadSection(std::string_view section) const {
  IniText t = Load(path_);
  std::vector<std::string> keys;
  long header = t.FindSection(section);
  if (header < 0) return keys;
  for (size_t i = static_cast<size_t>(header) + 1; i < t.SectionEnd(static_cast<size_t>(header)); ++i) {
    auto k = IniText::KeyOf(t.lines[i]);
    if (!k) continue;
    bool seen = false;
    for (const auto& have : keys) seen = seen || SameName(have, *k);
    if (!seen) keys.emplace_back(*k);
  }
  return keys;
}

std::vector<std::string> IniFile::ReadSections() const {
  IniText t = Load(path_);
  std::vector<std::string> names;
  for (const auto& line : t.lines)
    if (auto name = IniText::SectionName(line)) names.emplace_back(*name);
  return names;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  IniText t = Load(path_);
  std::string entry = std::string(Trim(key)) + "=" + std::string(value);
  long header = t.FindSection(section);
  if (header < 0) {
    if (!t.lines.empty() && !Trim(t.lines.back()).empty()) t.lines.emplace_back();
    t.lines.push_back("[" + std::string(Trim(section)) + "]");
    t.lines.push_back(entry);
    t.ends_with_eol = true;
  } else if (long line = t.FindKey(header, key); line >= 0) {
    std::string& old = t.lines[static_cast<size_t>(line)];
    old = std::string(Trim(old.substr(0, old.find('=')))) + "=" + std::string(value);
  } else {
    size_t at = t.SectionEnd(static_cast<size_t>(header));
    while (at > static_cast<size_t>(header) + 1 && Trim(t.lines[at - 1]).empty()) --at;
    t.lines.insert(t.lines.begin() + static_cast<long>(at), entry);
    if (at == t.lines.size() - 1) t.ends_with_eol = true;
  }
  Save(path_, t, new_file_mode_);
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
  IniText t = Load(path_);
  long line = t.FindKey(t.FindSection(section), key);
  if (line < 0) return;
  t.lines.erase(t.lines.begin() + line);
  Save(path_, t, new_file_mode_);
}

void IniFile::EraseSection(std::string_view section) {
  IniText t = Load(path_);
  long header = t.FindSection(section);
  if (header < 0) return;
  size_t end = t.SectionEnd(static_cast<size_t>(header));
  t.lines.erase(t.lines.begin() + header, t.lines.begin() + static_cast<long>(end));
  Save(path_, t, new_file_mode_);
}

void WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         unsigned mode) {
  std::filesystem::path dir = path.has_parent_path() ? path.parent_path() : ".";
  std::string tmpl = (dir / ("." + path.filename().string() + ".XXXXXX")).string();
  int fd = mkstemp(tmpl.data());
  if (fd < 0) throw IniFileError("cannot write " + path.string() + ": " + std::strerror(errno));
  auto fail = [&](int err) {
    close(fd);
    unlink(tmpl.c_str());
    throw IniFileError("cannot write " + path.string() + ": " + std::strerror(err));
  };
  if (fchmod(fd, mode) != 0) fail(errno);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(n < 0 ? errno : EIO);
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0) fail(errno);
  if (close(fd) != 0) {
    int err = errno;
    unlink(tmpl.c_str());
    throw IniFileError("cannot write " + path.string() + ": " + std::strerror(err));
  }
  if (rename(tmpl.c_str(), path.c_str()) != 0) {
    int err = errno;
    unlink(tmpl.c_str());
    throw IniFileError("cannot write " + path.string() + ": " + std::strerror(err));
  }
  if (int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY); dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
}

}  // namespace platform
