// A fresh folder below $TMPDIR (or /tmp) for one test, removed with everything in it when
// the object goes. Tests that need the program folder or the Windows directory point
// $KESTROVA_PROGRAM_DIR / $KESTROVA_WINDOWS_DIR at subfolders with ScopedEnv.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace platform {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // Writes `bytes` to the file `name` in the folder and returns its path.
  std::filesystem::path Write(const std::string& name, const std::string& bytes) const;
  // The whole content of a file (empty when it is missing).
  static std::string Read(const std::filesystem::path& file);

 private:
  std::filesystem::path path_;
};

// Sets (or with nullopt, unsets) an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace platform
