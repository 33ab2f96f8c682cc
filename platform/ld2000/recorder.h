// The record libLD2000.so keeps of what the program asked of it, for tests in the same
// process. The in-memory record is kept only after Reset() (a running program never calls
// it, so its memory stays flat however long it shows frames); the $LD2000_LOG file gets the
// same record whenever that variable is set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ld2000/ld2000.h"

namespace platform::ld2000 {

// One call: the function's name and its arguments as text, comma separated; integers in
// decimal, floats with a decimal point ("100.0"), the path of LoadPalette as it was given,
// WriteFrame as its four header fields. Out arguments are not listed.
struct Call {
  std::string name;
  std::string args;
  // "name(args)".
  std::string Text() const { return name + "(" + args + ")"; }
};

// A frame DisplayUpdate showed.
struct ShownFrame {
  int32_t frame = 0;
  TLDFrameHeader header{};
  std::vector<TLDPoint> points;
};

// Ends any session, forgets calls, frames and forced statuses, sets LDStatus to 0, reads
// $LD2000_LOG and $LD2000_PACE anew, and starts keeping the in-memory record.
void Reset();

// The calls since Reset, in order.
const std::vector<Call>& Calls();
// Just the texts of Calls().
std::vector<std::string> CallTexts();
// The frames shown since Reset, in order.
const std::vector<ShownFrame>& ShownFrames();
bool SessionRunning();

// Makes every later call of `function` write `status` in place of its own answer (for
// example BeginSession -401: the controller file is missing, and no session is begun).
void SetStatus(const std::string& function, int32_t status);

}  // namespace platform::ld2000
