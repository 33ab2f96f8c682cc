// Replays every input in tests/fuzz/regressions/<target>/ through the run of its fuzz target.
// A replay passes when it returns: a crash, an abort (a halt of the library is one) or a report
// of the sanitizer build fails it. The inputs are files another program could have left.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "phone/HandyKomm.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/table_session.h"

namespace {

namespace fs = std::filesystem;

struct Replay {
  std::string target;
  fs::path input;
};

std::vector<Replay> Inputs() {
  std::vector<Replay> out;
  const char* source = std::getenv("KESTROVA_SOURCE_DIR");
  fs::path top = fs::path(source ? source : KESTROVA_SOURCE_TREE) / "tests/fuzz/regressions";
  std::error_code ec;
  for (const auto& target : fs::directory_iterator(top, ec)) {
    if (!target.is_directory()) continue;
    for (const auto& file : fs::directory_iterator(target.path(), ec))
      if (file.is_regular_file()) out.push_back({target.path().filename().string(), file.path()});
  }
  std::sort(out.begin(), out.end(),
            [](const Replay& a, const Replay& b) { return a.input < b.input; });
  return out;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FuzzRegression : public testing::TestWithParam<Replay> {
 protected:
  static void SetUpTestSuite() { kfuzz::InitializeProcess(); }
};

TEST_P(FuzzRegression, ReplaysWithoutAFault) {
  const Replay& replay = GetParam();
  std::string bytes = ReadAll(replay.input);
  ASSERT_FALSE(bytes.empty()) << replay.input;
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  if (replay.target == "table") {
    kfuzz::RunFilesInput(data, bytes.size(), kfuzz::kTableOnly);
  } else if (replay.target == "memo") {
    kfuzz::RunFilesInput(data, bytes.size(), kfuzz::kWithMemo);
  } else if (replay.target == "index") {
    kfuzz::RunFilesInput(data, bytes.size(), kfuzz::kWithIndex);
  } else if (replay.target == "pdu") {
    phone::TMobilKomm komm;
    komm.SetDefaults();
    std::string smsc, sender, stamp, text;
    komm.DecodePdu(bytes, smsc, sender, stamp, text);
    EXPECT_LE(text.size(), 255u);
  } else {
    FAIL() << "no replay for the target folder " << replay.target;
  }
}

std::string NameOf(const testing::TestParamInfo<Replay>& info) {
  std::string name = info.param.target + "_" + info.param.input.filename().string();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Found, FuzzRegression, testing::ValuesIn(Inputs()), NameOf);

}  // namespace
