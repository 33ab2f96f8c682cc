// What the tests of the ucommon unit share: the engine's fixture (the library from its start
// values in the "C" language, a fixed century window, a RecordingUi) with errors raised as
// ETarazedError, as the components run them in design mode, so that a failure shows as an
// exception and never halts the test; and a runner for the peer programs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing/child_process.h"
#include "tests/tables/engine/engine_test_support.h"

namespace tz {

class UCommonTest : public EngineTest {
 protected:
  UCommonTest() { SetRaiseErrors(true); }
};

// Runs a program to its end and returns the lines it prints.
inline std::vector<std::string> Output(const std::string& program,
                                       const std::vector<std::string>& args) {
  platform::ChildProcess child(program, args);
  child.CloseInput();
  std::vector<std::string> lines;
  for (std::string line; !(line = child.ReadLine(30000)).empty();) lines.push_back(line);
  EXPECT_EQ(child.Wait(), 0) << program;
  return lines;
}

}  // namespace tz
