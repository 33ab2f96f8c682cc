// Text at the Qt boundary. Inside the system every text is Windows-1252; a widget gets a
// QString made from it here, and what the user types comes back through here, so there is
// one conversion (platform/text.h) between the two worlds.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace platform {

// The QString a widget shows for the Windows-1252 text `ansi`. Never fails: every byte has a
// character (AnsiToUtf8).
QString ToQString(std::string_view ansi);
// The Windows-1252 text of a QString; characters 1252 lacks become '?' (Utf8ToAnsi).
std::string FromQString(const QString& text);

}  // namespace platform
