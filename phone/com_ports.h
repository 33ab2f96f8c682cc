// Where a COM port lives on this system. COM port n (1..9) is the device named by the
// environment variable KESTROVA_COM<n>, else by the key COM<n> in section [Ports] of
// ports.ini in the Windows directory, else the serial port /dev/ttyS<n-1>.
#pragma once

#include <string>

namespace phone {

// The device path for a port record's device name ("COM1:" .. "COM9:"), looked up anew on
// every call. Empty when the name is not of that form (a port number of 0 or 10 and more
// gives such a name). Never throws: an unreadable ports.ini counts as missing.
std::string ComDevicePath(const std::string& device_name);

}  // namespace phone
