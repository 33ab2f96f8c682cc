#include "phone/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "phone/com_ports.h"
#include "phone/serial_line.h"

namespace phone {
namespace {

int Fail(TSerialPort* port, int error) {
  port->LastError = static_cast<uint32_t>(error);
  return kSerialOsError;
}

// Unix98 pseudo-terminal slaves have the majors 136 to 143.
bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  unsigned m = major(st.st_rdev);
  return m >= 136 && m <= 143;
}

// No echo, no line editing, no character translation, no flow control; reads return at
// once with what is waiting (the record's time-outs). Size, parity, stop bits and speed
// stay as they are.
void MakeRaw(termios& t) {
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
                 INPCK | IMAXBEL);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~CRTSCTS;
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

void CloseDescriptor(TSerialPort* port) {
  int rts = TIOCM_RTS;
  (void)ioctl(port->Handle, TIOCMBIC, &rts);
  // The exclusive flag belongs to the terminal, not to our descriptor: on a terminal that
  // another holder keeps alive it would outlast the close and shut us out next time.
  (void)ioctl(port->Handle, TIOCNXCL);
  ::close(port->Handle);
  port->Handle = -1;
}

}  // namespace

TSerialPort::~TSerialPort() {
  if (Handle != -1) CloseDescriptor(this);
}

TSerialPort* SerialCreate(int port, uint32_t in_queue_size, uint32_t out_queue_size) {
  auto* p = new (std::nothrow) TSerialPort;
  if (!p) return nullptr;
  const std::string name = std::string("COM") + static_cast<char>('0' + port) + ":";
  name.copy(p->DeviceName, sizeof p->DeviceName - 1);
  p->InQueueSize = in_queue_size;
  p->OutQueueSize = out_queue_size;
  return p;
}

int SerialFree(TSerialPort*& port) {
  if (!port) return kSerialNoPort;
  int result = SerialClose(port);
  delete port;
  port = nullptr;
  return result;
}

int SerialSetParams(TSerialPort* port, uint32_t baud_rate, int32_t data_bits, int32_t stop_bits,
                    char parity) {
  if (!port) return kSerialNoPort;
  port->BaudRate = baud_rate;
  port->DataBits = data_bits;
  port->StopBits = stop_bits;
  port->Parity = parity;
  return SerialApplyState(port);
}

int SerialApplyState(TSerialPort* port) {
  if (!port) return kSerialNoPort;
  if (port->Handle == -1) return kSerialOk;
  termios attrs{};
  if (tcgetattr(port->Handle, &attrs) != 0) return Fail(port, errno);
  if (int error = SetLineAttributes(*port, attrs)) return Fail(port, error);
  if (IsPseudoTerminal(port->Handle)) FitPseudoTerminal(attrs);
  if (tcsetattr(port->Handle, TCSANOW, &attrs) != 0) return Fail(port, errno);
  // tcsetattr succeeds when any part was taken; what the line refused shows in a read-back.
  termios actual{};
  if (tcgetattr(port->Handle, &actual) != 0) return Fail(port, errno);
  if (!LineAttributesTaken(attrs, actual)) return Fail(port, EINVAL);
  return kSerialOk;
}

int SerialOpen(TSerialPort* port) {
  if (!port) return kSerialNoPort;
  if (port->Handle != -1) return kSerialOk;

  const std::string path = ComDevicePath(port->DeviceName);
  if (path.empty()) return Fail(port, ENOENT);
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Fail(port, errno);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    ::close(fd);
    return Fail(port, error);
  }
  (void)ioctl(fd, TIOCEXCL);
  port->Handle = fd;

  termios attrs{};
  if (tcgetattr(fd, &attrs) != 0) return Fail(port, errno);
  if (int result = SerialApplyState(port); result != kSerialOk) return result;
  if (tcgetattr(fd, &attrs) == 0) {
    MakeRaw(attrs);
    (void)tcsetattr(fd, TCSANOW, &attrs);
  }
  port->TxQueueSize = 0;  // a terminal reports no output-queue size
  return kSerialOk;
}

int SerialClose(TSerialPort* port) {
  if (!port) return kSerialNoPort;
  if (port->Handle != -1) CloseDescriptor(port);
  return kSerialOk;
}

int SerialPutByte(TSerialPort* port, uint8_t byte) {
  if (!port) return kSerialNoPort;
  if (port->Handle == -1) return kSerialNotOpen;
  if (port->TxQueueSize != 0) {
    int waiting = 0;
    if (ioctl(port->Handle, TIOCOUTQ, &waiting) == 0 &&
        static_cast<uint32_t>(waiting) >= port->TxQueueSize)
      return kSerialNoPort;
  }
  ssize_t n = ::write(port->Handle, &byte, 1);
  if (n == 1) return 1;
  if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
  return Fail(port, errno);
}

int SerialGetByte(TSerialPort* port, uint8_t& byte) {
  if (!port) return kSerialNoPort;
  if (port->Handle == -1) return kSerialNotOpen;
  ssize_t n = ::read(port->Handle, &byte, 1);
  if (n == 1) return 1;
  if (n == 0) {
    // A raw line with nothing waiting reads 0 bytes, and so does one that was hung up: the
    // device went away (a USB adapter or phone unplugged, the far side of a pseudo-terminal
    // closed), after which every write fails. Only poll tells the two apart.
    pollfd p = {port->Handle, POLLIN, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
      return Fail(port, EIO);
    return 0;
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
  return Fail(port, errno);
}

}  // namespace phone
