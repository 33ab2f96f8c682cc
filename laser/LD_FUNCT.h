// The laser controller session: starting it with the display set up from the library's own
// LD2000.ini (in the Windows directory), empty frames, the scan rate, and the library's status
// codes as messages. Every message goes through platform/ui.h. GUI thread only; none of these
// pump events or throw (an unreadable LD2000.ini reads as empty).
#pragma once

#include <cstdint>

#include "platform/ini.h"

namespace laser {

// Opens the session and sets the display up: BeginLDSession, ReadLDIni, ApplyDisplaySettings,
// LoadStartupPalette, then the working scale and laser window 0..4095, scanner, track and
// frame 1. Goes through every step whatever the session calls answered.
void LdStart();
// Sends an empty frame and ends the session (also one that was found running).
void LdEnd();
// Sends an empty frame; the laser shows nothing until the next frame. Returns true.
bool LdBlank();
// Sets the three scan rates to `Rate`, limited to 1000..200000 points per second.
void LdSetScanRate(int32_t Rate);
// Shows the name of the status in LDStatus; a status without a name shows nothing.
void ShowLDStatus();
// The name of a status, or nullptr when it has none.
const char* LDStatusText(int32_t status);

// The steps of LdStart.
void BeginLDSession(const platform::IniFile& ini);
void ReadLDIni(const platform::IniFile& ini);
void ApplyDisplaySettings();
void LoadStartupPalette(const platform::IniFile& ini);

}  // namespace laser
