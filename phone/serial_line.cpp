#include "phone/serial_line.h"

#include <cerrno>
#include <cstdint>

namespace phone {
namespace {

struct Speed {
  uint32_t baud;
  speed_t code;
};

constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;

}  // namespace

int SetLineAttributes(const TSerialPort& port, termios& attrs) {
  const Speed* speed = nullptr;
  for (const Speed& s : kSpeeds)
    if (s.baud == port.BaudRate) speed = &s;
  if (!speed) return EINVAL;
  cfsetispeed(&attrs, speed->code);
  cfsetospeed(&attrs, speed->code);

  const int data_bits = static_cast<uint8_t>(port.DataBits);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  if (data_bits < 5 || data_bits > 8) return EINVAL;
  attrs.c_cflag = (attrs.c_cflag & ~CSIZE) | kSizes[data_bits - 5];

  switch (port.StopBits) {
    case 1:
    case 10:
      attrs.c_cflag &= ~CSTOPB;
      break;
    case 2:
    case 20:
      if (data_bits == 5) return EINVAL;
      attrs.c_cflag |= CSTOPB;
      break;
    case 3:
    case 15:
      // With 5 data bits a UART sends one and a half stop bits when told to send two.
      if (data_bits != 5) return EINVAL;
      attrs.c_cflag |= CSTOPB;
      break;
    default:
      break;
  }

  tcflag_t parity;
  switch (port.Parity) {
    case 'E':
    case 'e':
      parity = PARENB;
      break;
    case 'O':
    case 'o':
      parity = PARENB | PARODD;
      break;
    case 'N':
    case 'n':
      parity = 0;
      break;
    case 'M':
    case 'm':
      parity = PARENB | PARODD | CMSPAR;
      break;
    case 'S':
    case 's':
      parity = PARENB | CMSPAR;
      break;
    default:
      return 0;
  }
  attrs.c_cflag = (attrs.c_cflag & ~kParityBits) | parity;
  return 0;
}

void FitPseudoTerminal(termios& attrs) {
  attrs.c_cflag = (attrs.c_cflag & ~(CSIZE | PARENB)) | CS8;
}

bool LineAttributesTaken(const termios& wanted, const termios& actual) {
  constexpr tcflag_t kCompared = CSIZE | CSTOPB | kParityBits;
  return (wanted.c_cflag & kCompared) == (actual.c_cflag & kCompared) &&
         cfgetispeed(&wanted) == cfgetispeed(&actual) &&
         cfgetospeed(&wanted) == cfgetospeed(&actual);
}

}  // namespace phone
