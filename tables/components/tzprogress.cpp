#include "tables/components/tzprogress.h"

namespace tz {

namespace {

TTzProgressFactory& Factory() {
  static TTzProgressFactory factory;
  return factory;
}

}  // namespace

TTzProgressFactory SetProgressFactory(TTzProgressFactory factory) {
  TTzProgressFactory previous = std::move(Factory());
  Factory() = std::move(factory);
  return previous;
}

std::unique_ptr<TTzProgressWindow> CreateProgressWindow(const std::string& title) {
  return Factory() ? Factory()(title) : nullptr;
}

}  // namespace tz
