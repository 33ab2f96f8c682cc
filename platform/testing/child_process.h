// A second real process for tests of sharing and locks: started with posix_spawn (never fork,
// which would copy the test's threads and locks), its standard input and output connected to
// pipes. The child ends when its input is closed, if it is written that way; the destructor
// closes the input and, when the child is still there after a second, kills it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace platform {

class ChildProcess {
 public:
  // Starts `program` with `args` (argv[1]...). Throws std::runtime_error when it cannot start.
  ChildProcess(const std::string& program, const std::vector<std::string>& args);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line the child writes, without its line end; empty when the child closes its
  // output or nothing comes within `timeout_ms`.
  std::string ReadLine(int timeout_ms = 10000);
  // Writes `line` and a line end to the child's input; false when the child has gone.
  bool WriteLine(const std::string& line);
  // Closes the child's input (a child that reads it to the end then exits).
  void CloseInput();
  // Waits for the child to end and returns its exit status (-1 when it was killed by a signal).
  int Wait();
  // Kills the child with SIGKILL (no clean-up of its own runs) and waits for it.
  void Kill();

 private:
  pid_t pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
  std::string pending_;
};

}  // namespace platform
