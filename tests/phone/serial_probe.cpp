// Opens COM1 once and exits with the open's result negated (0 when it opened), for the
// tests that need a second process on a port.
#include "phone/serial.h"

int main() {
  phone::TSerialPort* port = phone::SerialCreate(1, 1024, 1024);
  int result = phone::SerialOpen(port);
  phone::SerialFree(port);
  return -result;
}
