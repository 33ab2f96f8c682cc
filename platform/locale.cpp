#include "platform/locale.h"

#include <cstdlib>
#include <string_view>

namespace platform {

UserLocale TimeLocale() {
  UserLocale result;
  const char* value = nullptr;
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* v = std::getenv(name);
    if (v && *v) {
      value = v;
      break;
    }
  }
  if (!value) return result;
  result.set = true;
  std::string_view locale(value);
  std::string_view language = locale.substr(0, locale.find_first_of("_.@"));
  result.language = language;
  if (size_t u = locale.find('_'); u != std::string_view::npos && u == language.size()) {
    std::string_view territory = locale.substr(u + 1);
    result.territory = territory.substr(0, territory.find_first_of(".@"));
  }
  return result;
}

}  // namespace platform
