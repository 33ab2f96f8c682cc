// What the engine's tests share: a fixture that starts the library from its start values in
// the "C" language (date format 0), with a fixed century window (two-digit years 56..99 are
// 1956..1999, 00..55 are 2000..2055, as in 2026) and a RecordingUi, so that no test opens a
// real box and a halt becomes a platform::HaltRequested exception.
#pragma once

#include <gtest/gtest.h>

#include "platform/testing/recording_ui.h"
#include "platform/testing/temp_dir.h"
#include "platform/ui.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"

namespace tz {

class EngineTest : public ::testing::Test {
 protected:
  EngineTest()
      : lc_all_("LC_ALL", "C"),
        lc_time_("LC_TIME", std::nullopt),
        lang_("LANG", std::nullopt),
        use_ui_(ui_) {
    StartTarazed();
    DbCenturyBase = 1956;
  }
  ~EngineTest() override { EndTarazed(); }

  platform::ScopedEnv lc_all_, lc_time_, lang_;
  platform::RecordingUi ui_;
  platform::ScopedUi use_ui_;
};

}  // namespace tz
