#include "platform/testing/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

extern char** environ;

namespace platform {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args) {
  signal(SIGPIPE, SIG_IGN);  // a child that has gone makes writes fail, not the test die
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  to_child_ = in[1];
  from_child_ = out[0];
  if (rc != 0) {
    close(to_child_);
    close(from_child_);
    pid_ = -1;
    throw std::runtime_error("posix_spawn failed for " + program);
  }
}

ChildProcess::~ChildProcess() {
  CloseInput();
  if (pid_ > 0) {
    for (int i = 0; i < 100; ++i) {
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      usleep(10000);
    }
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  if (from_child_ >= 0) close(from_child_);
}

std::string ChildProcess::ReadLine(int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    if (size_t nl = pending_.find('\n'); nl != std::string::npos) {
      std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || from_child_ < 0) return "";
    pollfd p = {from_child_, POLLIN, 0};
    int n = poll(&p, 1, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return "";
    char buf[256];
    ssize_t got = read(from_child_, buf, sizeof buf);
    if (got <= 0) return "";
    pending_.append(buf, static_cast<size_t>(got));
  }
}

bool ChildProcess::WriteLine(const std::string& line) {
  if (to_child_ < 0) return false;
  std::string data = line + "\n";
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(to_child_, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void ChildProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void ChildProcess::CloseInput() {
  if (to_child_ >= 0) {
    close(to_child_);
    to_child_ = -1;
  }
}

int ChildProcess::Wait() {
  CloseInput();
  if (pid_ <= 0) return -1;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace platform
