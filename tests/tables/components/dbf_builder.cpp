// A second program that builds the production index of a table through TTzDbf and is killed in
// the middle of it by the crash test. It opens the table given as its argument with the index
// lines below and CreateIndex ciAlways; its progress window prints "step <n>" for every step and
// then waits 5 ms, so that the test can stop it at a chosen moment of the build. "done" follows
// the open.
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "tables/components/tzprogress.h"
#include "tables/components/utzfds.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"

namespace {

class PrintingProgress : public tz::TTzProgressWindow {
 public:
  void StepBar() override {
    std::printf("step %d\n", ++steps_);
    std::fflush(stdout);
    usleep(5000);
  }

 private:
  int steps_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  tz::StartTarazed();
  tz::DbReportErrors = false;
  tz::SetProgressFactory([](const std::string&) { return std::make_unique<PrintingProgress>(); });
  tz::TTzDbf dbf;
  dbf.SetName("DBBuilder");
  dbf.IndexList() = {"ID,F,F,id", "", "NAME,F,F,upper(name)", ""};
  dbf.SetCreateIndex(tz::ciAlways);
  dbf.SetDbfFileName(argv[1]);
  dbf.Open();
  std::printf("done %d\n", tz::DbLastError);
  return 0;
}
