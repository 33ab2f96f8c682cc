// What the laser tests share: a fresh record of the laser library, a recording Ui, and a
// Windows directory of their own for LD2000.ini.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "laser/ld.h"
#include "laser/pic_ausgabe.h"
#include "platform/canvas.h"
#include "platform/ld2000/recorder.h"
#include "platform/testing/recording_ui.h"
#include "platform/testing/temp_dir.h"

namespace laser {

class LaserTest : public ::testing::Test {
 protected:
  LaserTest()
      : windows_(dir_.path() / "windows"),
        env_("KESTROVA_WINDOWS_DIR", windows_.string()),
        scoped_ui_(ui_) {
    std::filesystem::create_directories(windows_);
    platform::ld2000::Reset();
  }
  ~LaserTest() override { platform::ld2000::Reset(); }

  void WriteLdIni(const std::string& text) { dir_.Write("windows/LD2000.ini", text); }

  platform::TempDir dir_;
  std::filesystem::path windows_;
  platform::ScopedEnv env_;
  platform::RecordingUi ui_;
  platform::ScopedUi scoped_ui_;
};

// A canvas that writes down what it was asked to draw.
class RecordingCanvas : public platform::Canvas {
 public:
  void SetPenColor(platform::Color color) override {
    char text[16];
    std::snprintf(text, sizeof text, "pen %06x", color);
    calls.push_back(text);
  }
  void Clear() override { calls.push_back("clear"); }
  void MoveTo(int x, int y) override { Add("move", x, y); }
  void LineTo(int x, int y) override { Add("line", x, y); }
  void Ellipse(int x1, int y1, int x2, int y2) override {
    calls.push_back("ellipse " + std::to_string(x1) + "," + std::to_string(y1) + " " +
                    std::to_string(x2) + "," + std::to_string(y2));
  }
  std::vector<std::string> calls;

 private:
  void Add(const char* what, int x, int y) {
    calls.push_back(std::string(what) + " " + std::to_string(x) + "," + std::to_string(y));
  }
};

inline void SetPoints(TPointList& list, const std::vector<TTextPoint>& points) {
  list.Count = 0;
  for (const TTextPoint& p : points) list.Append(p);
}

inline std::vector<TTextPoint> PointsOf(const TPointList& list) {
  return std::vector<TTextPoint>(list.Points.begin(), list.Points.begin() + list.Count);
}

inline std::string ShowPoints(const std::vector<TTextPoint>& points) {
  std::string out;
  for (const TTextPoint& p : points)
    out += "(" + std::to_string(p.X) + "," + std::to_string(p.Y) + "," + "BIV"[p.Kind] + ") ";
  return out;
}

}  // namespace laser
