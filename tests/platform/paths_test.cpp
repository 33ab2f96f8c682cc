#include "platform/paths.h"

#include <gtest/gtest.h>

#include "platform/testing/temp_dir.h"

namespace platform {
namespace {

TEST(Paths, OwnVariableThenXdgThenHome) {
  TempDir dir;
  struct Case {
    std::optional<std::string> own, xdg;
    std::filesystem::path program;
  } cases[] = {
      {(dir / "own").string(), (dir / "xdg").string(), dir / "own"},
      {std::nullopt, (dir / "xdg").string(), dir / "xdg" / "kestrova"},
      {std::nullopt, std::nullopt, dir / "home" / ".local/share" / "kestrova"},
      {"", "", dir / "home" / ".local/share" / "kestrova"},
  };
  ScopedEnv home("HOME", (dir / "home").string());
  for (const auto& c : cases) {
    ScopedEnv own("KESTROVA_PROGRAM_DIR", c.own);
    ScopedEnv xdg("XDG_DATA_HOME", c.xdg);
    EXPECT_EQ(ProgramDir(), c.program);
    EXPECT_TRUE(std::filesystem::is_directory(c.program));
  }
}

TEST(Paths, WindowsDirectory) {
  TempDir dir;
  ScopedEnv home("HOME", (dir / "home").string());
  {
    ScopedEnv own("KESTROVA_WINDOWS_DIR", std::nullopt);
    ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(WindowsDir(), dir / "home" / ".config" / "kestrova");
  }
  ScopedEnv own("KESTROVA_WINDOWS_DIR", (dir / "win").string());
  EXPECT_EQ(WindowsDir(), dir / "win");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "win"));
}

}  // namespace
}  // namespace platform
