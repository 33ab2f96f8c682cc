// The index build of a table component with the programs' progress factory installed: a
// TTzProgress100 titled after the index file is up while the build runs, its bar shrinks as
// the build steps it, and it is gone when the build ends.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>

#include "platform/qt/qt_ui.h"
#include "tables/components/tzmsg.h"
#include "tzdbf_test_support.h"

namespace tz {
namespace {

std::vector<TTzProgress100*> ProgressWindows() {
  std::vector<TTzProgress100*> found;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* p = dynamic_cast<TTzProgress100*>(w)) found.push_back(p);
  return found;
}

class IndexBuildProgress : public TzDbfTest {
 protected:
  IndexBuildProgress() : use_qt_(qt_ui_), previous_(SetProgressFactory(TTzProgress100Factory())) {}
  ~IndexBuildProgress() override { SetProgressFactory(std::move(previous_)); }

  platform::QtUi qt_ui_;
  platform::ScopedUi use_qt_;  // over the fixture's recording Ui: the build pumps for real
  TTzProgressFactory previous_;
};

TEST_F(IndexBuildProgress, AWindowIsUpWhileTheBuildStepsItAndGoneAfter) {
  std::vector<std::string> rows;
  for (int i = 0; i < 300; ++i) {
    std::string id = std::to_string(i);
    rows.push_back(" " + std::string(10 - id.size(), '0') + id);
  }
  dir_.Write("tel.dbf", RawTable(0x03, {{"ID", 'C', 10}}, rows));

  // What the build's pumps show: the windows up and their bars.
  struct Sample {
    std::string caption;
    size_t bar;
    bool visible;
  };
  std::vector<Sample> samples;
  QTimer sampler;
  sampler.setInterval(0);
  QObject::connect(&sampler, &QTimer::timeout, [&] {
    for (TTzProgress100* p : ProgressWindows())
      samples.push_back({p->Caption(), p->Bar().size(), p->isVisible()});
  });
  sampler.start();
  auto dbf = Open("DBTel", "tel.dbf", {"id, C, 10, 0"}, {"ID,F,F,id", ""});
  sampler.stop();

  ASSERT_FALSE(samples.empty());
  for (const Sample& s : samples) {
    EXPECT_EQ(s.caption, "Indexing " + PathOf("tel.MDX") + "...");
    EXPECT_TRUE(s.visible);
  }
  EXPECT_EQ(samples.front().bar, 100u);
  EXPECT_LT(samples.back().bar, 50u);
  EXPECT_TRUE(std::is_sorted(samples.begin(), samples.end(),
                             [](const Sample& a, const Sample& b) { return a.bar > b.bar; }));
  EXPECT_TRUE(ProgressWindows().empty());
  EXPECT_EQ(Column(*dbf, "id").size(), 300u);
}

}  // namespace
}  // namespace tz
