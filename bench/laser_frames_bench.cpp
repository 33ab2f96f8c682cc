// One scroll step of a 160-character SMS in DejaVu Sans: clip, interpolate, preview into the
// QImage and output into libLD2000.so, beside the time the laser takes to show the frame at
// 12000 points per second. The goal is under 1 % of that time (about 3 ms for a full
// 4000-point frame), so the laser, not the computer, sets the frame rate.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <string>

#include "laser/ld.h"
#include "laser/pic_ausgabe.h"
#include "platform/qt/qimage_canvas.h"

namespace {

void BM_ScrollStep(benchmark::State& state) {
  laser::TTTFToVectorConverter ttf;
  platform::Font font;
  font.SetName("DejaVu Sans");
  ttf.SetFont(font);
  ttf.SetPrecision(static_cast<int>(state.range(0)));
  std::string sms;
  while (sms.size() < 160) sms += "Hallo Leute, wir sehen uns heute Abend um 20 Uhr im Club! ";
  sms.resize(160);
  auto laser_state = std::make_unique<laser::TLaserState>();
  laser::BuildTextPoints(*laser_state, ttf, sms);
  laser_state->OutputToLaser = true;
  laser_state->Sinus = true;
  int32_t status = 0;
  BeginSession(6000, laser::LDMaxFramePoints, laser::LDSessionArg3, laser::LDSessionArg4, &status);
  platform::QImageCanvas canvas;
  // A window full of text from the middle of the SMS.
  const int32_t offset = laser_state->TextWidth / 2 + 2048;
  for (auto _ : state) {
    laser::ClipFrame(*laser_state, offset);
    laser::InterpolatePoints(*laser_state);
    laser::DrawPreview(*laser_state, canvas);
    laser::OutputFrame(*laser_state);
  }
  const int32_t sent = std::min(laser_state->FramePoints.Count, laser::LDOutputPointLimit);
  state.counters["frame_points"] = laser_state->FramePoints.Count;
  state.counters["display_ms_at_12000pps"] = sent * 1000.0 / 12000;
  EndSession();
}
BENCHMARK(BM_ScrollStep)->Arg(1)->Arg(8)->Unit(benchmark::kMicrosecond);

}  // namespace
