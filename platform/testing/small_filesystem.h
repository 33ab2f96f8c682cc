// A small file system of its own (a tmpfs) mounted over a folder for one test, so that a test
// can fill it and see what a write does on a full disk. Mounting needs root (CAP_SYS_ADMIN);
// where it is refused, Mounted() is false and Error() says why, for the test to skip.
//
// Files the folder held before are copied onto the new file system, so that a fixture may
// have written into the folder already. The file system is detached when the object goes,
// also while files on it are still open.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/testing/temp_dir.h"

namespace platform {

class SmallFileSystem {
 public:
  // Mounts a tmpfs of `bytes` (rounded up to whole pages by the kernel) over `folder`, which
  // is created when missing.
  SmallFileSystem(std::filesystem::path folder, size_t bytes) : folder_(std::move(folder)) {
    std::filesystem::create_directories(folder_);
    std::vector<std::pair<std::filesystem::path, std::string>> kept;
    for (const auto& entry : std::filesystem::directory_iterator(folder_))
      if (entry.is_regular_file()) kept.emplace_back(entry.path(), TempDir::Read(entry.path()));
    std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      error_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
    for (const auto& [path, bytes_kept] : kept)
      std::ofstream(path, std::ios::binary).write(bytes_kept.data(),
                                                  static_cast<std::streamsize>(bytes_kept.size()));
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& Error() const { return error_; }

  // Takes every free block with a filler file: from here on a write that needs a new block
  // fails with ENOSPC, while one inside the blocks a file has already succeeds.
  void Fill() {
    std::ofstream filler(folder_ / ".filler", std::ios::binary | std::ios::app);
    const std::string block(4096, '\0');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) &&
           filler.flush()) {
    }
  }
  // Gives the blocks of Fill back.
  void Free() { std::filesystem::remove(folder_ / ".filler"); }

  // The size of the file system's blocks: a file takes them whole.
  static size_t BlockSize() { return static_cast<size_t>(::sysconf(_SC_PAGESIZE)); }

 private:
  std::filesystem::path folder_;
  bool mounted_ = false;
  std::string error_;
};

}  // namespace platform
