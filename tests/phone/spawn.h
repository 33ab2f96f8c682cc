// Second processes for the phone tests (posix_spawn, never fork).
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace phone {

// Starts args[0] with the arguments `args` and this environment, its standard output on a
// pipe whose read end goes to `out` (the caller closes it). Returns the pid, -1 on failure.
inline pid_t SpawnReading(std::vector<std::string> args, int& out) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int fds[2];
  if (pipe(fds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  pid_t pid;
  int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  out = fds[0];
  return failed ? -1 : pid;
}

// Waits for the process: its exit status, or -1 when it did not exit by itself.
inline int WaitExit(pid_t pid) {
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Runs the program to its end: what it wrote to standard output; its exit status in
// `status`.
inline std::string RunProgram(std::vector<std::string> args, int& status) {
  int out = -1;
  pid_t pid = SpawnReading(std::move(args), out);
  std::string output;
  char buf[4096];
  ssize_t n;
  while (out >= 0 && (n = read(out, buf, sizeof buf)) > 0)
    output.append(buf, static_cast<size_t>(n));
  if (out >= 0) close(out);
  status = WaitExit(pid);
  return output;
}

}  // namespace phone
