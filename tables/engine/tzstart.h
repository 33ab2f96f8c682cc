// The table library's start and end. The library's units keep module-wide state with start
// values; StartTarazed sets all of it, unit by unit in their order (error reporting and
// settings first), so nothing depends on the order in which static objects are initialised.
// A program calls StartTarazed once before its first library call and EndTarazed before it
// exits; both never throw, block or pump.
#pragma once

namespace tz {

// Sets every unit's start values: the settings of tzcommon.h, the country and date format
// from the user's language, the century window from the current year, the memo unit's routine
// table (MemoInit). A second call starts the library over (tests use that).
void StartTarazed();
// Ends the library: the units' ends in reverse order (the error context is cleared last).
void EndTarazed();

}  // namespace tz
