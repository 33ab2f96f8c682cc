// The user's language for dates and numbers, from the environment as the C library reads it:
// the first of LC_ALL, LC_TIME and LANG that is set and not empty ("de_DE.UTF-8" -> language
// "de", territory "DE"). Both the table engine's country and the dataset framework's format
// settings follow it, so that their date texts agree.
#ifndef KESTROVA_PLATFORM_LOCALE_H
#define KESTROVA_PLATFORM_LOCALE_H

#include <string>

namespace platform {

struct UserLocale {
  bool set = false;       // false when none of the variables is set
  std::string language;   // before the first '_', '.' or '@'
  std::string territory;  // after the '_' that ends the language, up to '.' or '@'
};

UserLocale TimeLocale();

}  // namespace platform

#endif
