// What both desktop programs share: where their files live, the registry section they meet in,
// and the phone-model table telstamm.dbf, which either program may create and both write, so
// its field and index lines are defined once, here.
#pragma once

#include <string>
#include <vector>

namespace apps {

// The program folder (platform::ProgramDir) with a trailing "/", so that a table's file name
// is the folder + its bare name. The same folder for both programs. Creates it when missing;
// throws std::filesystem::filesystem_error when it cannot.
std::string ProgramFolder();
// The Windows directory (platform::WindowsDir), without a trailing separator: files there are
// named WindowsDirectory() + "/" + name. Creates and throws like ProgramFolder.
std::string WindowsDirectory();

// The registry key below the current user's hive and the section both programs use; "ID"
// there names the standard phone's row of telstamm.dbf.
inline constexpr const char* kRegistryKey = "Software\\Kestrova";
inline constexpr const char* kRegistrySection = "Vantorix";

// The phone-model table: its file name in the program folder, its field lines
// ("name, type, len, dec") and its index definition lines (tag line and empty FOR line per
// tag: "ID" on id, "HERSTELLER" on maker and model without regard to case).
inline constexpr const char* kTelstammFile = "telstamm.dbf";
const std::vector<std::string>& TelstammFields();
const std::vector<std::string>& TelstammIndex();

}  // namespace apps
