// The progress window the table components show while they build an index, reached through an
// installable factory so that the components stay plain C++: a program with windows installs
// one that makes its TTzProgress100, a program without (and every test that installs none)
// builds its indexes without a window.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace tz {

// One progress window: visible while the object lives. StepBar shortens its bar by one step
// (the index build calls it 100 times per tag, spread over the records); it may pump events.
class TTzProgressWindow {
 public:
  virtual ~TTzProgressWindow() = default;
  virtual void StepBar() = 0;
};

// Makes a window with that title; nullptr when it makes none.
using TTzProgressFactory = std::function<std::unique_ptr<TTzProgressWindow>(const std::string&)>;

// Installs the factory (an empty one: no windows) and returns the one installed before.
TTzProgressFactory SetProgressFactory(TTzProgressFactory factory);
// A window from the installed factory; nullptr when none is installed. Whatever the factory
// throws passes on.
std::unique_ptr<TTzProgressWindow> CreateProgressWindow(const std::string& title);

}  // namespace tz
