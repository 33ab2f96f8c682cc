// What the phone tests share: a phone simulator whose device is COM1, a recording Ui, and
// a few helpers on the port's descriptor.
#pragma once

#include <sys/ioctl.h>
#include <termios.h>

#include <string>

#include "platform/testing/recording_ui.h"
#include "platform/testing/temp_dir.h"
#include "platform/ui.h"
#include "tools/phonesim/simulator.h"

namespace phone {

class SimFixture {
 public:
  SimFixture() : com1_("KESTROVA_COM1", sim.DevicePath()), use_ui_(ui) {}

  sim::PhoneSimulator sim;
  platform::RecordingUi ui;

 private:
  platform::ScopedEnv com1_;
  platform::ScopedUi use_ui_;
};

// The bytes waiting to be read on a descriptor.
inline int Waiting(int fd) {
  int n = 0;
  ioctl(fd, FIONREAD, &n);
  return n;
}

// The terminal attributes of an open descriptor.
inline termios Attributes(int fd) {
  termios t{};
  tcgetattr(fd, &t);
  return t;
}

}  // namespace phone
