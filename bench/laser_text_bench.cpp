// Text outlines: one character through the converter, and a whole 160-character SMS through
// BuildTextPoints in DejaVu Sans. The goal is a text ready in well under one laser frame
// (a 4000-point frame lasts 333 ms at 12000 points per second): below 5 ms for the SMS.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "laser/pic_ausgabe.h"

namespace {

const std::string& Sms() {
  static const std::string sms = [] {
    std::string s;
    while (s.size() < 160) s += "Hallo Leute, wir sehen uns heute Abend um 20 Uhr im Club! ";
    s.resize(160);
    return s;
  }();
  return sms;
}

void SetUp(laser::TTTFToVectorConverter& ttf, int precision) {
  platform::Font font;
  font.SetName("DejaVu Sans");
  ttf.SetFont(font);
  ttf.SetPrecision(precision);
}

void BM_ConvertChar(benchmark::State& state) {
  laser::TTTFToVectorConverter ttf;
  SetUp(ttf, static_cast<int>(state.range(0)));
  size_t i = 0;
  for (auto _ : state) {
    unsigned char ch = static_cast<unsigned char>(Sms()[i++ % Sms().size()]);
    if (ch == ' ') ch = 'e';
    benchmark::DoNotOptimize(ttf.ConvertChar(ch));
  }
}
BENCHMARK(BM_ConvertChar)->Arg(1)->Arg(8)->Unit(benchmark::kMicrosecond);

void BM_BuildTextPoints(benchmark::State& state) {
  laser::TTTFToVectorConverter ttf;
  SetUp(ttf, static_cast<int>(state.range(0)));
  auto laser_state = std::make_unique<laser::TLaserState>();
  for (auto _ : state) {
    laser::BuildTextPoints(*laser_state, ttf, Sms());
    benchmark::DoNotOptimize(laser_state->TextPoints.Count);
  }
  state.counters["points"] = laser_state->TextPoints.Count;
}
BENCHMARK(BM_BuildTextPoints)->Arg(1)->Arg(8)->Unit(benchmark::kMicrosecond);

}  // namespace
