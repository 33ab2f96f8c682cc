#include "tests/fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <system_error>

#include "platform/testing/temp_dir.h"
#include "platform/ui.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/memo.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"
#include "tables/index/tzndx.h"

namespace kfuzz {

std::vector<std::string_view> SplitParts(const uint8_t* data, size_t size, size_t max_parts) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < max_parts) {
    size_t at = rest.find(kPartSeparator);
    if (at == std::string_view::npos) break;
    parts.push_back(rest.substr(0, at));
    rest.remove_prefix(at + kPartSeparator.size());
  }
  parts.push_back(rest);
  parts.resize(max_parts);
  return parts;
}

std::string JoinParts(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += kPartSeparator;
    out += parts[i];
  }
  return out;
}

const std::filesystem::path& Folder() {
  // A static object: removed with everything in it when the fuzzer exits normally; after a
  // crash scripts/fuzz removes its TMPDIR.
  static platform::TempDir folder;
  return folder.path();
}

const std::filesystem::path& FreshFolder() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(Folder(), ec))
    std::filesystem::remove_all(entry.path(), ec);
  return Folder();
}

std::string WriteFile(const std::string& name, std::string_view bytes) {
  std::filesystem::path path = Folder() / name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

std::string Commands::Text(size_t n) {
  std::string text;
  while (text.size() < n && !Done()) text += static_cast<char>(Byte());
  return text;
}

namespace {

// Answers every box as a user pressing Enter would, except that a question to try again is
// answered "Cancel", so no retry loop runs for ever. The library halts only in its halt mode,
// which no run uses: a halt is a finding.
class SilentUi : public platform::Ui {
 public:
  int MessageBox(const std::string&, const std::string&, unsigned flags) override {
    switch (flags & platform::kMbButtonMask) {
      case platform::kMbAbortRetryIgnore:
        return platform::kIdAbort;
      case platform::kMbRetryCancel:
      case platform::kMbOkCancel:
      case platform::kMbYesNoCancel:
        return platform::kIdCancel;
      case platform::kMbYesNo:
        return platform::kIdNo;
      default:
        return platform::kIdOk;
    }
  }
  void ProcessEvents() override {}
  [[noreturn]] void Halt(int code) override {
    std::fprintf(stderr, "fuzz target: the library halted with code %d: %s\n", code,
                 tz::DbErrorContext.c_str());
    std::abort();
  }
};

SilentUi g_ui;

void FixedDate(int& year, int& month, int& day) { year = 2024, month = 3, day = 15; }

}  // namespace

void InitializeProcess() {
  setenv("LC_ALL", "C", 1);
  unsetenv("LC_TIME");
  unsetenv("LANG");
}

LibraryRun::LibraryRun(ErrorMode mode) : mode_(mode) {
  platform::InstallUi(&g_ui);
  tz::StartTarazed();
  tz::DbCenturyBase = 1956;
  tz::IndexDateProc = FixedDate;
  tz::MemoLines.Clear();
  switch (mode) {
    case ErrorMode::kStored:
      tz::SetErrorReporting(false);
      break;
    case ErrorMode::kRoutine:
      tz::SetErrorReporting(true);
      tz::DbErrorProc = [] { (void)tz::GetErrorMessage(); };
      break;
    case ErrorMode::kRaised:
      tz::SetErrorReporting(true);
      tz::SetRaiseErrors(true);
      break;
  }
}

LibraryRun::~LibraryRun() {
  tz::SetRaiseErrors(false);
  tz::SetErrorReporting(false);
  tz::DbErrorProc = nullptr;
  tz::CloseAll();
  tz::EndTarazed();
  tz::MemoLines.Clear();
  platform::InstallUi(nullptr);
}

void LibraryRun::Caught(const std::exception& e) {
  if (mode_ == ErrorMode::kRaised && dynamic_cast<const tz::ETarazedError*>(&e)) return;
  std::fprintf(stderr, "fuzz target: an exception escaped a command: %s\n", e.what());
  std::abort();
}

void LibraryRun::AfterStep() {
  // KESTROVA_FUZZ_TRACE=1 shows what each command of a replayed input reported.
  static const bool trace = std::getenv("KESTROVA_FUZZ_TRACE") != nullptr;
  if (trace && tz::DbLastError != 0)
    std::fprintf(stderr, "step: error %u %s\n", tz::DbLastError, tz::DbErrorContext.c_str());
  tz::DbLastError = 0;
  (void)tz::TakeErrorContext();
}

}  // namespace kfuzz

// libFuzzer calls this once before the first input; the targets that link this library
// share it.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kfuzz::InitializeProcess();
  return 0;
}
