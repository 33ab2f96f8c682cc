#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>

namespace platform {
namespace {

std::string Slashes(std::string_view path) {
  std::string s(path);
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Names in `dir` (empty = current folder), without "." and "..", in byte order.
std::vector<std::string> ListFolder(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return names;
  while (dirent* e = readdir(d)) {
    std::string_view n = e->d_name;
    if (n != "." && n != "..") names.emplace_back(n);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::string Join(const std::string& dir, std::string_view name) {
  if (dir.empty()) return std::string(name);
  if (dir.back() == '/') return dir + std::string(name);
  return dir + "/" + std::string(name);
}

// An OFD lock request on [offset, offset + length).
int OfdLock(int fd, short type, uint64_t offset, uint64_t length, bool probe = false) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  if (probe) {
    if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return DosErrorFromErrno(errno);
    return fl.l_type == F_UNLCK ? kFileOk : kErrLockViolation;
  }
  if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return kFileOk;
  if (errno == EAGAIN || errno == EACCES) return kErrLockViolation;
  return DosErrorFromErrno(errno);
}

// The code of a failed open: a missing file in a missing folder is "path not found" (3), as
// the library's callers expect, not "file not found".
int OpenError(const std::string& path, int error_number) {
  if (error_number == ENOENT) {
    std::string parent = std::filesystem::path(path).parent_path().string();
    struct stat st;
    if (!parent.empty() && stat(parent.c_str(), &st) != 0) return kErrPathNotFound;
  }
  return DosErrorFromErrno(error_number);
}

uint32_t DosStampOf(time_t t) {
  struct tm lt;
  if (!localtime_r(&t, &lt)) return 0;
  int year = lt.tm_year + 1900;
  if (year < 1980) return (1u << 21) | (1u << 16);  // 1 January 1980, the earliest stamp
  if (year > 2107) year = 2107;
  return (static_cast<uint32_t>(year - 1980) << 25) | (static_cast<uint32_t>(lt.tm_mon + 1) << 21) |
         (static_cast<uint32_t>(lt.tm_mday) << 16) | (static_cast<uint32_t>(lt.tm_hour) << 11) |
         (static_cast<uint32_t>(lt.tm_min) << 5) | static_cast<uint32_t>(lt.tm_sec / 2);
}

}  // namespace

int DosErrorFromErrno(int error_number) {
  switch (error_number) {
    case 0:
      return kFileOk;
    case ENOENT:
      return kErrFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return kErrPathNotFound;
    case EMFILE:
    case ENFILE:
      return kErrTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kErrAccessDenied;
    case EBADF:
      return kErrInvalidHandle;
    case ENOMEM:
      return kErrNotEnoughMemory;
    case EROFS:
      return kErrWriteProtected;
    case EBUSY:
    case ETXTBSY:
      return kErrSharingViolation;
    case EAGAIN:
      return kErrLockViolation;
    case ENOSPC:
    case EDQUOT:
      return kErrDiskFull;
    default:
      return kErrGeneralFailure;
  }
}

bool IsExclusiveMode(unsigned mode) {
  unsigned share = mode & 0x70;
  return share == 0x00 || share == 0x10;
}

File::~File() {
  Close();
}

File::File(File&& other) noexcept
    : fd_(other.fd_),
      writable_(other.writable_),
      exclusive_locks_(other.exclusive_locks_),
      path_(std::move(other.path_)) {
  other.fd_ = -1;
  other.path_.clear();
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    writable_ = other.writable_;
    exclusive_locks_ = other.exclusive_locks_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
    other.path_.clear();
  }
  return *this;
}

int File::Open(std::string_view path, unsigned mode) {
  return OpenWith(path, mode, false);
}

int File::Create(std::string_view path, unsigned mode) {
  return OpenWith(path, mode, true);
}

int File::OpenWith(std::string_view path, unsigned mode, bool create) {
  Close();
  std::string resolved = ResolvePath(path);
  if (resolved.empty()) return kErrFileNotFound;
  bool want_write = (mode & 0x07) != 0;
  // The descriptor is read-write whenever the permissions allow it, so that its locks can be
  // exclusive; whether the caller may write is kept apart.
  int flags = O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0);
  int fd = ::open(resolved.c_str(), flags, 0666);
  bool rw = fd >= 0;
  if (fd < 0 && !want_write && !create && (errno == EACCES || errno == EROFS || errno == ETXTBSY))
    fd = ::open(resolved.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return OpenError(resolved, errno);
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kErrAccessDenied;
  }
  int rc = TakeShareLock(fd, mode, rw);
  if (rc != kFileOk) {
    ::close(fd);
    return rc;
  }
  if (create && ftruncate(fd, 0) != 0) {
    rc = DosErrorFromErrno(errno);
    ::close(fd);
    return rc;
  }
  fd_ = fd;
  writable_ = want_write || create;
  exclusive_locks_ = rw;
  path_ = std::move(resolved);
  return kFileOk;
}

int File::TakeShareLock(int fd, unsigned mode, bool rw) {
  int rc;
  if (!IsExclusiveMode(mode)) {
    rc = OfdLock(fd, F_RDLCK, kShareLockOffset, 1);
  } else if (rw) {
    rc = OfdLock(fd, F_WRLCK, kShareLockOffset, 1);
  } else {
    // A read-only descriptor cannot hold a write lock: make sure no other open of ours has the
    // file, then hold a read lock so that no exclusive open comes after.
    rc = OfdLock(fd, F_WRLCK, kShareLockOffset, 1, /*probe=*/true);
    if (rc == kFileOk) rc = OfdLock(fd, F_RDLCK, kShareLockOffset, 1);
  }
  return rc == kErrLockViolation ? kErrSharingViolation : rc;
}

int File::ChangeShare(unsigned mode) {
  if (fd_ < 0) return kErrInvalidHandle;
  return TakeShareLock(fd_, mode, exclusive_locks_);
}

int File::Truncate(uint64_t size) {
  if (fd_ < 0) return kErrInvalidHandle;
  if (!writable_) return kErrAccessDenied;
  return ftruncate(fd_, static_cast<off_t>(size)) == 0 ? kFileOk : DosErrorFromErrno(errno);
}

int File::Close() {
  if (fd_ < 0) return kFileOk;
  int rc = ::close(fd_) == 0 ? kFileOk : DosErrorFromErrno(errno);
  fd_ = -1;
  path_.clear();
  return rc;
}

int File::ReadAt(uint64_t offset, void* buffer, size_t count, size_t* done) const {
  *done = 0;
  if (fd_ < 0) return kErrInvalidHandle;
  auto* out = static_cast<char*>(buffer);
  while (*done < count) {
    ssize_t n = pread(fd_, out + *done, count - *done, static_cast<off_t>(offset + *done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return DosErrorFromErrno(errno);
    }
    if (n == 0) break;
    *done += static_cast<size_t>(n);
  }
  return kFileOk;
}

int File::WriteAt(uint64_t offset, const void* buffer, size_t count) {
  if (fd_ < 0) return kErrInvalidHandle;
  if (!writable_) return kErrAccessDenied;
  const auto* in = static_cast<const char*>(buffer);
  size_t written = 0;
  while (written < count) {
    ssize_t n = pwrite(fd_, in + written, count - written, static_cast<off_t>(offset + written));
    if (n < 0) {
      if (errno == EINTR) continue;
      return DosErrorFromErrno(errno);
    }
    if (n == 0) return kErrDiskFull;
    written += static_cast<size_t>(n);
  }
  return kFileOk;
}

int File::Size(uint64_t* size) const {
  *size = 0;
  if (fd_ < 0) return kErrInvalidHandle;
  struct stat st;
  if (fstat(fd_, &st) != 0) return DosErrorFromErrno(errno);
  *size = static_cast<uint64_t>(st.st_size);
  return kFileOk;
}

namespace {
std::function<void(const std::string&)>& FlushObserver() {
  static std::function<void(const std::string&)> observer;
  return observer;
}
}  // namespace

void SetFlushObserver(std::function<void(const std::string& path)> observer) {
  FlushObserver() = std::move(observer);
}

int File::Flush() {
  if (fd_ < 0) return kErrInvalidHandle;
  if (fsync(fd_) != 0) return DosErrorFromErrno(errno);
  if (FlushObserver()) FlushObserver()(path_);
  return kFileOk;
}

int File::DateStamp(uint32_t* stamp) const {
  *stamp = 0;
  if (fd_ < 0) return kErrInvalidHandle;
  struct stat st;
  if (fstat(fd_, &st) != 0) return DosErrorFromErrno(errno);
  *stamp = DosStampOf(st.st_mtime);
  return kFileOk;
}

int File::LockRange(uint64_t offset, uint64_t length) {
  if (fd_ < 0) return kErrInvalidHandle;
  if (length == 0) return kFileOk;
  return OfdLock(fd_, exclusive_locks_ ? F_WRLCK : F_RDLCK, offset, length);
}

int File::UnlockRange(uint64_t offset, uint64_t length) {
  if (fd_ < 0) return kErrInvalidHandle;
  if (length == 0) return kFileOk;
  return OfdLock(fd_, F_UNLCK, offset, length);
}

int File::FindForeignLock(uint64_t offset, uint64_t length, uint64_t* found_offset,
                          uint64_t* found_length) const {
  *found_offset = *found_length = 0;
  if (fd_ < 0) return kErrInvalidHandle;
  if (length == 0) return kFileOk;
  struct flock fl = {};
  fl.l_type = F_WRLCK;  // conflicts with every lock of another description
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  if (fcntl(fd_, F_OFD_GETLK, &fl) != 0) return DosErrorFromErrno(errno);
  if (fl.l_type == F_UNLCK) return kFileOk;
  *found_offset = static_cast<uint64_t>(fl.l_start);
  *found_length = fl.l_len == 0 ? UINT64_MAX - *found_offset : static_cast<uint64_t>(fl.l_len);
  return kFileOk;
}

std::string ResolvePath(std::string_view path) {
  std::string s = Slashes(path);
  if (s.empty() || Exists(s)) return s;
  std::string out = s.front() == '/' ? "/" : "";
  bool resolving = true;
  size_t pos = 0;
  while (true) {
    size_t end = s.find('/', pos);
    bool last = end == std::string::npos;
    std::string_view part = std::string_view(s).substr(pos, last ? std::string::npos : end - pos);
    if (!part.empty()) {
      std::string name(part);
      if (resolving && part != "." && part != ".." && !Exists(Join(out, part))) {
        resolving = false;
        for (const std::string& entry : ListFolder(out)) {
          if (SameIgnoringAsciiCase(entry, part)) {
            name = entry;
            resolving = true;
            break;
          }
        }
      }
      out = Join(out, name);
    }
    if (last) break;
    pos = end + 1;
  }
  if (s.back() == '/' && out.back() != '/') out += '/';
  return out;
}

std::string FullPath(std::string_view path) {
  std::filesystem::path p(Slashes(path));
  if (p.is_relative()) {
    std::error_code ec;
    std::filesystem::path cwd = std::filesystem::current_path(ec);
    if (!ec) p = cwd / p;
  }
  return p.lexically_normal().string();
}

bool FileExists(std::string_view path) {
  std::string resolved = ResolvePath(path);
  struct stat st;
  return !resolved.empty() && stat(resolved.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int RemoveFile(std::string_view path) {
  std::string resolved = ResolvePath(path);
  if (resolved.empty()) return kErrFileNotFound;
  struct stat st;
  if (lstat(resolved.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return kErrAccessDenied;
  return ::unlink(resolved.c_str()) == 0 ? kFileOk : DosErrorFromErrno(errno);
}

int MoveFile(std::string_view from, std::string_view to, bool replace) {
  std::string source = ResolvePath(from);
  std::string target = ResolvePath(to);
  if (source.empty() || target.empty()) return kErrFileNotFound;
  if (replace) return ::rename(source.c_str(), target.c_str()) == 0 ? kFileOk : DosErrorFromErrno(errno);
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
    return kFileOk;
  if (errno == EEXIST) return kErrFileExists;
  if (errno != EINVAL && errno != ENOSYS) return errno == EXDEV ? 17 : DosErrorFromErrno(errno);
  // A file system without the flag: a new link never replaces either.
  if (::link(source.c_str(), target.c_str()) != 0)
    return errno == EEXIST ? kErrFileExists : DosErrorFromErrno(errno);
  ::unlink(source.c_str());
  return kFileOk;
}

int CreateTempFile(std::string_view prefix, std::string* path) {
  path->clear();
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = Join(base && *base ? base : "/tmp", prefix) + "XXXXXX";
  int fd = mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) return DosErrorFromErrno(errno);
  ::close(fd);
  *path = tmpl;
  return kFileOk;
}

int FreeDiskSpace(std::string_view path, uint64_t* bytes) {
  *bytes = 0;
  std::filesystem::path p(ResolvePath(path));
  if (p.empty()) p = ".";
  while (true) {
    struct statvfs vfs;
    if (statvfs(p.c_str(), &vfs) == 0) {
      *bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
      return kFileOk;
    }
    if (errno != ENOENT && errno != ENOTDIR) return DosErrorFromErrno(errno);
    std::filesystem::path parent = p.parent_path();
    if (parent.empty()) parent = ".";
    if (parent == p) return DosErrorFromErrno(errno);
    p = parent;
  }
}

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*" || pattern == "*") return true;
  // Iterative glob with one backtracking point for the last "*".
  size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || AsciiUpper(pattern[p]) == AsciiUpper(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

int DirSearch::First(std::string_view mask, unsigned attributes, DirEntry* entry) {
  Close();
  std::string m = Slashes(mask);
  size_t slash = m.rfind('/');
  std::string dir = slash == std::string::npos ? "" : m.substr(0, slash + 1);
  std::string pattern = slash == std::string::npos ? m : m.substr(slash + 1);
  if (!dir.empty()) {
    dir = ResolvePath(dir);
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return kErrPathNotFound;
  }
  for (const std::string& name : ListFolder(dir)) {
    if (!MatchesWildcard(pattern, name)) continue;
    std::string full = Join(dir, name);
    struct stat st;
    if (stat(full.c_str(), &st) != 0) continue;  // a dangling link
    DirEntry e;
    e.name = name;
    if (S_ISDIR(st.st_mode))
      e.attributes |= kAttrDirectory;
    else if (S_ISREG(st.st_mode))
      e.attributes |= kAttrArchive;
    else
      e.attributes |= kAttrSystem;
    if (name.front() == '.') e.attributes |= kAttrHidden;
    if (!(e.attributes & kAttrDirectory) && access(full.c_str(), W_OK) != 0)
      e.attributes |= kAttrReadOnly;
    if (e.attributes & (kAttrHidden | kAttrSystem | kAttrDirectory) & ~attributes) continue;
    e.size = static_cast<uint64_t>(st.st_size);
    e.date_stamp = DosStampOf(st.st_mtime);
    entries_.push_back(std::move(e));
  }
  if (entries_.empty()) return kErrFileNotFound;
  return Next(entry);
}

int DirSearch::Next(DirEntry* entry) {
  if (next_ >= entries_.size()) return kErrNoMoreFiles;
  *entry = entries_[next_++];
  return kFileOk;
}

void DirSearch::Close() {
  entries_.clear();
  next_ = 0;
}

}  // namespace platform
