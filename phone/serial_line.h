// How a port record's line settings become terminal attributes: the baud rate, the
// character size, parity (mark and space through CMSPAR) and stop bits.
#pragma once

#include <termios.h>

#include "phone/serial.h"

namespace phone {

// Sets speed, CSIZE, PARENB / PARODD / CMSPAR and CSTOPB of `attrs` from the record; a
// stop-bit code or parity letter outside the tables leaves those bits as they are. Nothing
// else of `attrs` is touched. Returns 0, or EINVAL (with `attrs` partly set) for a
// combination a serial line refuses: a baud rate without a speed code, data bits (low byte)
// outside 5..8, one and a half stop bits with 6 to 8 data bits, two stop bits with 5.
int SetLineAttributes(const TSerialPort& port, termios& attrs);

// A pseudo-terminal carries no real line: the kernel keeps it at 8 bits without parity
// enabled whatever is asked (and the C library reports a request for anything else as an
// error). Sets `attrs` so, keeping the rest (speed, stop bits, the parity sense).
void FitPseudoTerminal(termios& attrs);

// True when `wanted`'s speed, character size, parity and stop bits are all in `actual`.
bool LineAttributesTaken(const termios& wanted, const termios& actual);

}  // namespace phone
