// What both programs share: one program folder and Windows directory, one phone table.
#include <gtest/gtest.h>

#include "apps/common/apps_common.h"
#include "platform/paths.h"
#include "platform/testing/temp_dir.h"
#include "tables/components/ucommon.h"

namespace apps {
namespace {

TEST(AppsCommon, FoldersFollowTheEnvironmentAndAreCreated) {
  platform::TempDir dir;
  platform::ScopedEnv program("KESTROVA_PROGRAM_DIR", (dir / "prog").string());
  platform::ScopedEnv windows("KESTROVA_WINDOWS_DIR", (dir / "win").string() + "/");
  EXPECT_EQ(ProgramFolder(), (dir / "prog").string() + "/");
  EXPECT_EQ(WindowsDirectory(), (dir / "win").string());
  EXPECT_TRUE(std::filesystem::is_directory(dir / "prog"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "win"));
}

TEST(AppsCommon, WithoutOwnVariablesTheFoldersLieInTheXdgFolders) {
  platform::TempDir dir;
  platform::ScopedEnv program("KESTROVA_PROGRAM_DIR", std::nullopt);
  platform::ScopedEnv windows("KESTROVA_WINDOWS_DIR", std::nullopt);
  platform::ScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
  platform::ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").string());
  EXPECT_EQ(ProgramFolder(), (dir / "data" / "kestrova").string() + "/");
  EXPECT_EQ(WindowsDirectory(), (dir / "config" / "kestrova").string());
}

TEST(AppsCommon, ThePhoneTableDefinition) {
  const std::vector<std::string> names = {
      "id",       "hersteller", "modell",   "smsstack",  "comport",  "baudrate",
      "databits", "stopbits",   "parity",   "flowcontr", "inputbuf", "outputbuf",
      "waitopen", "waitclose",  "waitsend", "waitrec",   "smsc_omit"};
  ASSERT_EQ(TelstammFields().size(), names.size());
  int record_length = 1;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& line = TelstammFields()[i];
    EXPECT_EQ(line.substr(0, line.find(',')), names[i]);
    record_length += std::stoi(line.substr(line.find(',', line.find(',') + 1) + 1));
  }
  EXPECT_EQ(record_length, 115);
  EXPECT_EQ(TelstammIndex(),
            (std::vector<std::string>{"ID,F,F,id", "",
                                      "HERSTELLER,F,F,upper(hersteller)+upper(modell)", ""}));
}

}  // namespace
}  // namespace apps
