// The serial port layer: one COM port in a plain record, opened raw with reads that return
// at once, with baud rate, data bits, parity and stop bits applied, moving single bytes.
// Every operation returns an integer code (TSerialResult) and keeps the system's error
// number (errno) of a failed call in the record. Nothing here blocks, pumps, throws or
// shows anything. The phone object (HandyKomm) is its only user; all calls come from one
// thread.
//
// A port is the device that ComDevicePath names for "COM<n>:". It is opened without flow
// control, echo or line editing, and locked against a second opener: flock() on the
// device (which also holds among processes running as root) and TIOCEXCL, which keeps
// other programs from opening the line while we hold it.
#pragma once

#include <cstdint>

namespace phone {

// The five time-out values of a port; the layer keeps the one setting it uses: reads
// return at once with what is waiting (ReadIntervalTimeout at its maximum, all others 0),
// and a write has no time-out.
struct TCommTimeouts {
  uint32_t ReadIntervalTimeout = 0xFFFFFFFFu;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

// One port. Made by SerialCreate and released by SerialFree; the record owns its open
// descriptor and closes it when destroyed.
struct TSerialPort {
  TSerialPort() = default;
  ~TSerialPort();
  TSerialPort(const TSerialPort&) = delete;
  TSerialPort& operator=(const TSerialPort&) = delete;

  uint32_t LastError = 0;     // errno of the last failed call; written only on failure
  char DeviceName[8] = {};    // "COM" + one character ('0' + port number) + ":"
  int Handle = -1;            // the open descriptor; -1 while closed
  uint32_t BaudRate = 9600;   // bits per second
  int32_t DataBits = 8;       // data bits per character; only the low byte counts
  int32_t StopBits = 1;       // stop-bit code: 1 or 10 one, 2 or 20 two, 3 or 15 one and a half
  char Parity = 'N';          // E even, M mark, N none, O odd, S space (either case)
  uint32_t TxQueueSize = 0;   // the driver's output-queue size; none is reported here (0)
  uint32_t InQueueSize = 0;   // input queue size asked for (the driver keeps its own)
  uint32_t OutQueueSize = 0;  // output queue size asked for (the driver keeps its own)
  TCommTimeouts Timeouts;
};

// The results all operations share. The byte operations return the count moved (0 or 1)
// in place of kSerialOk.
enum TSerialResult : int {
  kSerialOk = 0,
  kSerialNoPort = -1,   // no port record; for SerialPutByte also: no room in the output queue
  kSerialNotOpen = -2,  // the port is not open
  kSerialOsError = -3,  // a system call failed; errno is in LastError
};

// A new closed record for COM port `port` with the defaults 9600 baud, 8 data bits, stop-bit
// code 1 and parity 'N'. The caller owns it and releases it with SerialFree. nullptr only
// when memory runs out. Port numbers outside 1..9 give a device name that no device has.
TSerialPort* SerialCreate(int port, uint32_t in_queue_size, uint32_t out_queue_size);

// Closes the port (SerialClose, whose result is the result), deletes the record and sets
// `port` to nullptr. nullptr: -1.
int SerialFree(TSerialPort*& port);

// Stores the four line settings and applies them at once when the port is open
// (SerialApplyState's result); on a closed port 0, the settings wait for SerialOpen.
// nullptr: -1.
int SerialSetParams(TSerialPort* port, uint32_t baud_rate, int32_t data_bits, int32_t stop_bits,
                    char parity);

// Applies the record's line settings to the open port. A stop-bit code or parity letter
// outside the tables leaves the line's value as it is. 0 on success or when the port is
// not open; -1 for nullptr; -3 when the line refuses the combination (a baud rate it does
// not know, data bits outside 5..8, one and a half stop bits with more than 5 data bits or
// two with 5, or a line that reads back other settings than were set) or a call fails.
// A pseudo-terminal (the phone simulator's) carries no real line and always runs 8 bits
// without parity enabled; there only speed, stop bits and the parity sense are set.
int SerialApplyState(TSerialPort* port);

// Opens the port: the device, the lock, the line settings, raw mode with reads that return
// at once. An open port is left alone (0). -3 when the device is missing, busy (locked by
// another opener) or not a terminal, or its settings cannot be applied; when the device
// was opened but not set up the descriptor stays in the record until SerialClose.
// nullptr: -1.
int SerialOpen(TSerialPort* port);

// Drops RTS and closes the port; 0, also when it was closed already. nullptr: -1.
int SerialClose(TSerialPort* port);

// Writes one byte without waiting: 1 when the line took it, 0 when it could not take it
// now. -1 for nullptr (or a full output queue of known size), -2 when not open, -3 when
// the write failed.
int SerialPutByte(TSerialPort* port, uint8_t byte);

// Reads one byte without waiting: 1 with the byte, 0 when nothing is waiting (also on an
// interrupted read). -1 for nullptr, -2 when not open, -3 when the read failed or the line
// was hung up (the device has gone: unplugged, or the far side of a pseudo-terminal closed;
// LastError is then EIO).
int SerialGetByte(TSerialPort* port, uint8_t& byte);

}  // namespace phone
