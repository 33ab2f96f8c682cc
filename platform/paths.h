// Where the system keeps its files.
//   Program folder: $KESTROVA_PROGRAM_DIR, else $XDG_DATA_HOME/kestrova, else
//     ~/.local/share/kestrova. The tables and settings.ini live here, shared by both programs.
//   Windows directory: $KESTROVA_WINDOWS_DIR, else $XDG_CONFIG_HOME/kestrova, else
//     ~/.config/kestrova. tamsil.ini, sysilog.dat, LD2000.ini, ports.ini and registry.ini.
// Both are looked up on every call (tests change the environment) and created when missing.
#pragma once

#include <filesystem>

namespace platform {

// The program folder, created when missing. Throws std::filesystem::filesystem_error when it
// cannot be created.
std::filesystem::path ProgramDir();
// The Windows directory, created when missing. Throws like ProgramDir.
std::filesystem::path WindowsDir();

}  // namespace platform
