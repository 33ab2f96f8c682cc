#include "phone/serial.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "phone/com_ports.h"
#include "phone/serial_line.h"
#include "platform/testing/temp_dir.h"
#include "tests/phone/sim_fixture.h"
#include "tests/phone/spawn.h"

namespace phone {
namespace {

using platform::ScopedEnv;
using platform::TempDir;

// A port record that is freed when the test ends.
struct Port {
  explicit Port(int number = 1) : p(SerialCreate(number, 1024, 1024)) {}
  ~Port() { SerialFree(p); }
  TSerialPort* p;
};

TEST(ComPorts, DeviceNamesMapToDevices) {
  TempDir dir;
  ScopedEnv windows("KESTROVA_WINDOWS_DIR", dir.path().string());
  ScopedEnv com2("KESTROVA_COM2", "/dev/from-env");
  ScopedEnv com3("KESTROVA_COM3", std::nullopt);
  ScopedEnv com4("KESTROVA_COM4", std::nullopt);
  ScopedEnv com9("KESTROVA_COM9", std::nullopt);
  dir.Write("ports.ini", "[Ports]\ncom3 = /dev/from-ini\nCOM2=/dev/ini-loses\n");
  struct Case {
    std::string name, path;
  } const cases[] = {
      {"COM2:", "/dev/from-env"},
      {"COM3:", "/dev/from-ini"},
      {"COM4:", "/dev/ttyS3"},
      {"COM9:", "/dev/ttyS8"},
      {"COM0:", ""},
      {"COM::", ""},
      {"COM1", ""},
      {"LPT1:", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ComDevicePath(c.name), c.path) << c.name;
}

TEST(Serial, CreateSetsTheDefaults) {
  struct Case {
    int port;
    std::string name;
  } const cases[] = {{1, "COM1:"}, {9, "COM9:"}, {10, "COM::"}, {0, "COM0:"}};
  for (const auto& c : cases) {
    Port port(c.port);
    ASSERT_NE(port.p, nullptr);
    EXPECT_EQ(std::string(port.p->DeviceName), c.name);
    EXPECT_EQ(port.p->Handle, -1);
    EXPECT_EQ(port.p->BaudRate, 9600u);
    EXPECT_EQ(port.p->DataBits, 8);
    EXPECT_EQ(port.p->StopBits, 1);
    EXPECT_EQ(port.p->Parity, 'N');
    EXPECT_EQ(port.p->InQueueSize, 1024u);
    EXPECT_EQ(port.p->Timeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(port.p->Timeouts.ReadTotalTimeoutConstant, 0u);
  }
}

TEST(Serial, NilAndClosedPortCodes) {
  TSerialPort* none = nullptr;
  uint8_t b = 0;
  EXPECT_EQ(SerialFree(none), -1);
  EXPECT_EQ(SerialSetParams(nullptr, 9600, 8, 1, 'N'), -1);
  EXPECT_EQ(SerialApplyState(nullptr), -1);
  EXPECT_EQ(SerialOpen(nullptr), -1);
  EXPECT_EQ(SerialClose(nullptr), -1);
  EXPECT_EQ(SerialPutByte(nullptr, 'A'), -1);
  EXPECT_EQ(SerialGetByte(nullptr, b), -1);

  Port closed;
  EXPECT_EQ(SerialPutByte(closed.p, 'A'), -2);
  EXPECT_EQ(SerialGetByte(closed.p, b), -2);
  EXPECT_EQ(SerialClose(closed.p), 0);
  // A closed port keeps the settings for the open.
  EXPECT_EQ(SerialSetParams(closed.p, 12345, 9, 4, 'x'), 0);
  EXPECT_EQ(closed.p->BaudRate, 12345u);
  EXPECT_EQ(closed.p->Parity, 'x');
  EXPECT_EQ(SerialApplyState(closed.p), 0);

  TSerialPort* freed = SerialCreate(1, 0, 0);
  EXPECT_EQ(SerialFree(freed), 0);
  EXPECT_EQ(freed, nullptr);
}

TEST(Serial, MissingOrUnusableDevicesFailWithTheSystemError) {
  TempDir dir;
  dir.Write("plain-file", "not a terminal");
  struct Case {
    std::string device;
    int port;
    uint32_t error;
    bool handle_kept;
  } const cases[] = {
      {"/nonexistent/tty", 1, ENOENT, false},
      {"", 10, ENOENT, false},  // "COM::" names no device
      {(dir / "plain-file").string(), 1, ENOTTY, true},
  };
  for (const auto& c : cases) {
    ScopedEnv com1("KESTROVA_COM1", c.device);
    Port port(c.port);
    port.p->LastError = 0;
    EXPECT_EQ(SerialOpen(port.p), -3) << c.device;
    EXPECT_EQ(port.p->LastError, c.error) << c.device;
    EXPECT_EQ(port.p->Handle != -1, c.handle_kept) << c.device;
    EXPECT_EQ(SerialClose(port.p), 0);
    EXPECT_EQ(port.p->Handle, -1);
  }
}

TEST(Serial, OpensRawWithTheLineSettings) {
  SimFixture f;
  Port port;
  ASSERT_EQ(SerialSetParams(port.p, 9600, 8, 2, 'E'), 0);
  ASSERT_EQ(SerialOpen(port.p), 0);
  const int fd = port.p->Handle;
  termios t = Attributes(fd);
  EXPECT_EQ(cfgetospeed(&t), B9600);
  EXPECT_EQ(cfgetispeed(&t), B9600);
  EXPECT_EQ(t.c_cflag & CSIZE, CS8);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_cflag & (PARODD | CMSPAR));
  EXPECT_FALSE(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN));
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  // Open again: left alone.
  EXPECT_EQ(SerialOpen(port.p), 0);
  EXPECT_EQ(port.p->Handle, fd);
  // Closed, it opens again (the exclusive flag went with the close).
  EXPECT_EQ(SerialClose(port.p), 0);
  EXPECT_EQ(SerialOpen(port.p), 0) << port.p->LastError;
}

// The settings as they become terminal flags, all of them (a pseudo-terminal keeps only
// part of them; the next test reads back what it keeps).
TEST(Serial, LineAttributesFromTheSettings) {
  struct Case {
    uint32_t baud;
    int32_t data_bits, stop_bits;
    char parity;
    int result;
    speed_t speed;
    tcflag_t flags;  // CSIZE | CSTOPB | PARENB | PARODD | CMSPAR
  } const cases[] = {
      {9600, 8, 2, 'E', 0, B9600, CS8 | CSTOPB | PARENB},
      {115200, 8, 1, 'N', 0, B115200, CS8},
      {19200, 7, 1, 'O', 0, B19200, CS7 | PARENB | PARODD},
      {2400, 7, 10, 'M', 0, B2400, CS7 | PARENB | PARODD | CMSPAR},
      {4800, 7, 20, 'S', 0, B4800, CS7 | CSTOPB | PARENB | CMSPAR},
      {9600, 8, 1, 'e', 0, B9600, CS8 | PARENB},
      {9600, 8, 1, 'o', 0, B9600, CS8 | PARENB | PARODD},
      {9600, 8, 1, 'm', 0, B9600, CS8 | PARENB | PARODD | CMSPAR},
      {9600, 8, 1, 's', 0, B9600, CS8 | PARENB | CMSPAR},
      {9600, 8, 1, 'n', 0, B9600, CS8},
      {9600, 6, 1, 'N', 0, B9600, CS6},
      {9600, 5, 3, 'N', 0, B9600, CS5 | CSTOPB},  // 1.5 stop bits
      {9600, 5, 15, 'N', 0, B9600, CS5 | CSTOPB},
      {9600, 264, 1, 'N', 0, B9600, CS8},  // only the low byte counts
      // left as they were (the "before" flags are CS7 | CSTOPB | PARENB | PARODD)
      {9600, 7, 4, 'x', 0, B9600, CS7 | CSTOPB | PARENB | PARODD},
      {9600, 7, 0, '?', 0, B9600, CS7 | CSTOPB | PARENB | PARODD},
      // refused
      {12345, 8, 1, 'N', EINVAL, 0, 0},
      {0, 8, 1, 'N', EINVAL, 0, 0},
      {9600, 9, 1, 'N', EINVAL, 0, 0},
      {9600, 4, 1, 'N', EINVAL, 0, 0},
      {9600, 8, 15, 'N', EINVAL, 0, 0},
      {9600, 7, 3, 'N', EINVAL, 0, 0},
      {9600, 5, 2, 'N', EINVAL, 0, 0},
  };
  constexpr tcflag_t kLine = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.baud) + " " + std::to_string(c.data_bits) + " " +
                 std::to_string(c.stop_bits) + " " + c.parity);
    TSerialPort port;
    port.BaudRate = c.baud;
    port.DataBits = c.data_bits;
    port.StopBits = c.stop_bits;
    port.Parity = c.parity;
    termios t{};
    t.c_cflag = CS7 | CSTOPB | PARENB | PARODD | CREAD | HUPCL;
    ASSERT_EQ(SetLineAttributes(port, t), c.result);
    if (c.result != 0) continue;
    EXPECT_EQ(t.c_cflag & kLine, c.flags);
    EXPECT_EQ(t.c_cflag & (CREAD | HUPCL), CREAD | HUPCL);  // nothing else touched
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
  }
}

TEST(Serial, ParityAndStopBitsReachTheOpenLine) {
  SimFixture f;
  Port port;
  ASSERT_EQ(SerialOpen(port.p), 0);
  struct Case {
    int32_t data_bits, stop_bits;
    char parity;
    int result;
    tcflag_t flags;  // CSTOPB | PARODD | CMSPAR as read back
  } const cases[] = {
      {8, 1, 'O', 0, PARODD},
      {8, 1, 'E', 0, 0},
      {8, 2, 'M', 0, CSTOPB | PARODD | CMSPAR},
      {8, 1, 'S', 0, CMSPAR},
      {8, 20, 'N', 0, CSTOPB},
      {8, 10, 'o', 0, PARODD},
      {8, 4, 'x', 0, PARODD},  // unknown code and letter: the line keeps what it had
      {5, 15, 'm', 0, CSTOPB | PARODD | CMSPAR},
      {8, 15, 'N', -3, CSTOPB | PARODD | CMSPAR},  // refused: nothing changes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.data_bits) + " " + std::to_string(c.stop_bits) + " " + c.parity);
    EXPECT_EQ(SerialSetParams(port.p, 38400, c.data_bits, c.stop_bits, c.parity), c.result);
    termios t = Attributes(port.p->Handle);
    EXPECT_EQ(t.c_cflag & (CSTOPB | PARODD | CMSPAR), c.flags);
    if (c.result == 0) {
      EXPECT_EQ(cfgetospeed(&t), B38400);
    }
  }
  EXPECT_EQ(port.p->LastError, static_cast<uint32_t>(EINVAL));
}

TEST(Serial, OpenReportsSettingsTheLineRefuses) {
  SimFixture f;
  Port port;
  ASSERT_EQ(SerialSetParams(port.p, 14400, 8, 1, 'N'), 0);  // no such speed here
  EXPECT_EQ(SerialOpen(port.p), -3);
  EXPECT_EQ(port.p->LastError, static_cast<uint32_t>(EINVAL));
  EXPECT_NE(port.p->Handle, -1);  // opened but not set up: closed by SerialClose
  EXPECT_EQ(SerialClose(port.p), 0);
  EXPECT_EQ(port.p->Handle, -1);
}

TEST(Serial, EveryByteValuePassesBothWaysUnchanged) {
  SimFixture f;
  f.sim.SetBehaviour("", {sim::Behaviour::kSilent});
  Port port;
  ASSERT_EQ(SerialOpen(port.p), 0);
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);

  for (unsigned char c : all) ASSERT_EQ(SerialPutByte(port.p, c), 1);
  for (int i = 0; i < 200 && f.sim.RawReceived().size() < all.size(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(f.sim.RawReceived(), all);

  f.sim.SendRaw(all);
  ASSERT_TRUE(f.sim.WaitUntilSent(2000));
  std::string got;
  for (int i = 0; i < 400 && got.size() < all.size(); ++i) {
    uint8_t b;
    int r;
    while ((r = SerialGetByte(port.p, b)) == 1) got += static_cast<char>(b);
    ASSERT_EQ(r, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(got, all);
  // Nothing came back to either side: no echo on the line.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(f.sim.RawReceived(), all);
  uint8_t b;
  EXPECT_EQ(SerialGetByte(port.p, b), 0);
}

TEST(Serial, GetByteReturnsAtOnceWithNothingWaiting) {
  SimFixture f;
  Port port;
  ASSERT_EQ(SerialOpen(port.p), 0);
  uint8_t b;
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(SerialGetByte(port.p, b), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
}

// An unplugged device hangs the line up: reads find nothing as on a quiet line, so only the
// hang-up itself tells that no answer will ever come; writes fail.
TEST(Serial, AHungUpLineFailsReadsAndWrites) {
  SimFixture f;
  Port port;
  ASSERT_EQ(SerialOpen(port.p), 0);
  uint8_t b;
  EXPECT_EQ(SerialGetByte(port.p, b), 0);
  f.sim.Unplug();
  EXPECT_EQ(SerialGetByte(port.p, b), -3);
  EXPECT_EQ(port.p->LastError, static_cast<uint32_t>(EIO));
  EXPECT_EQ(SerialPutByte(port.p, 'A'), -3);
  EXPECT_EQ(port.p->LastError, static_cast<uint32_t>(EIO));
  EXPECT_EQ(SerialClose(port.p), 0);
}

TEST(Serial, ASecondOpenerIsLockedOut) {
  SimFixture f;
  Port first, second;
  ASSERT_EQ(SerialOpen(first.p), 0);
  EXPECT_EQ(SerialOpen(second.p), -3);
  EXPECT_TRUE(second.p->LastError == EWOULDBLOCK || second.p->LastError == EBUSY)
      << second.p->LastError;
  EXPECT_EQ(second.p->Handle, -1);
  SerialClose(first.p);
  EXPECT_EQ(SerialOpen(second.p), 0);
}

// A second process tries COM1 through the probe program; its exit status is the open's
// result negated.
int ProbeInAnotherProcess() {
  int status;
  RunProgram({std::string(std::getenv("KESTROVA_BINARY_DIR")) + "/tests/phone/serial_probe"},
             status);
  return -status;
}

TEST(Serial, ASecondProcessIsLockedOut) {
  SimFixture f;
  Port port;
  EXPECT_EQ(ProbeInAnotherProcess(), 0);  // free: the other process opens it
  ASSERT_EQ(SerialOpen(port.p), 0);
  EXPECT_EQ(ProbeInAnotherProcess(), -3);
  SerialClose(port.p);
  EXPECT_EQ(ProbeInAnotherProcess(), 0);
}

}  // namespace
}  // namespace phone
