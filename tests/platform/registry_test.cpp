#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/testing/temp_dir.h"

namespace platform {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  TempDir dir_;
  ScopedEnv windows_{"KESTROVA_WINDOWS_DIR", (dir_ / "windows").string()};
};

TEST_F(RegistryTest, ValuesRoundTripInOneSection) {
  RegIniFile reg("Software\\Kestrova");
  EXPECT_EQ(reg.ReadString("Vantorix", "ID", "none"), "none");
  EXPECT_EQ(reg.ReadInteger("Vantorix", "Port", 1), 1);
  reg.WriteString("Vantorix", "ID", "0000000012");
  reg.WriteInteger("Vantorix", "Werbeinterval", 5);
  reg.WriteBool("Vantorix", "PruefTel", true);
  reg.WriteString("Vantorix", "Pin", "1234");
  EXPECT_EQ(reg.ReadString("Vantorix", "ID", ""), "0000000012");
  EXPECT_EQ(reg.ReadInteger("Vantorix", "Werbeinterval", 0), 5);
  EXPECT_TRUE(reg.ReadBool("Vantorix", "PruefTel", false));
  EXPECT_FALSE(reg.ReadBool("Vantorix", "PruefWorte", false));
  EXPECT_EQ(TempDir::Read(RegIniFile::FileName()),
            "[Software\\Kestrova\\Vantorix]\r\nID=0000000012\r\nWerbeinterval=5\r\n"
            "PruefTel=1\r\nPin=1234\r\n");
  reg.DeleteValue("Vantorix", "Pin");
  EXPECT_FALSE(reg.ValueExists("Vantorix", "Pin"));
}

TEST_F(RegistryTest, FileIsPrivateAndWrittenWithoutLeftovers) {
  RegIniFile reg("Software\\Kestrova");
  reg.WriteString("Vantorix", "Pin", "4711");
  struct stat st{};
  ASSERT_EQ(stat(RegIniFile::FileName().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir_ / "windows")) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST_F(RegistryTest, ValueOfTheWrongKindRaises) {
  RegIniFile reg("Software\\Kestrova");
  reg.WriteString("Vantorix", "Port", "COM1");
  try {
    reg.ReadInteger("Vantorix", "Port", 1);
    FAIL() << "no exception";
  } catch (const RegistryError& e) {
    EXPECT_NE(std::string(e.what()).find("Port"), std::string::npos);
  }
  EXPECT_THROW(reg.ReadBool("Vantorix", "Port", false), RegistryError);
  EXPECT_EQ(reg.ReadString("Vantorix", "Port", ""), "COM1");
}

}  // namespace
}  // namespace platform
