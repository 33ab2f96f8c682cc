// Files the way the table library expects them from its first home: opens with share modes,
// byte-range locks that coordinate processes, file names found without regard to case, "\" and
// "/" both separating folders, DOS-style error numbers, unique temporary files, directory
// searches with DOS wildcards, free disk space and flushing to the disk.
//
// Share modes. Linux has no mandatory share modes, so every open of ours takes an
// open-file-description (OFD) lock on one reserved byte, kShareLockOffset: a shared open holds
// it as a read lock, an exclusive open as a write lock, and a conflict is a sharing violation
// (32). OFD locks belong to the open file description, not to the process, so two opens in one
// process conflict with each other exactly as two processes do, and closing one descriptor of a
// file never drops the locks of another. Classic fcntl (F_SETLK) locks are never used: they
// belong to the process and vanish when any descriptor of the file is closed, which would
// silently release every other work area's locks on the same table. Programs that are not ours
// take no such lock and are not hindered, as on a system without share modes.
//
// The reserved byte lies at 2^62. The table lock protocol addresses bytes from 40000000h with
// 32-bit offsets and lengths (so below 2^33), memo, index and semaphore files lock bytes at the
// start of the file: no range a caller can form reaches 2^62, and 2^62 + 1 stays far below the
// largest offset a lock accepts, so the byte never collides with a data lock.
//
// Nothing here blocks (locks are tried once, never waited for), throws or pumps events.
// Paths are 8-bit strings passed to the system byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// DOS-style error numbers, the codes the table library reports file failures with.
enum FileError : int {
  kFileOk = 0,
  kErrFileNotFound = 2,
  kErrPathNotFound = 3,
  kErrTooManyOpenFiles = 4,
  kErrAccessDenied = 5,
  kErrInvalidHandle = 6,
  kErrNotEnoughMemory = 8,
  kErrNoMoreFiles = 18,
  kErrWriteProtected = 19,
  kErrGeneralFailure = 31,
  kErrSharingViolation = 32,
  kErrLockViolation = 33,
  kErrDiskFull = 101,
};

// The DOS-style code of an errno value: ENOENT 2, ENOTDIR, ENAMETOOLONG and ELOOP 3, EMFILE and
// ENFILE 4, EACCES, EPERM and EISDIR 5, EBADF 6, ENOMEM 8, EROFS 19, EBUSY and ETXTBSY 32,
// EAGAIN 33, ENOSPC and EDQUOT 101, anything else 31 (general failure); 0 gives 0.
int DosErrorFromErrno(int error_number);

// Where the share-mode lock sits (see the top of this file).
inline constexpr uint64_t kShareLockOffset = uint64_t{1} << 62;

// File-open modes are the DOS mode byte the table library speaks in: the low three bits are the
// access (0 read, 1 write, 2 read and write), bits 4 to 6 the sharing (00h compatibility, 10h
// deny all, 20h deny write, 30h deny read, 40h deny none). Compatibility and deny-all open
// exclusively; deny-write, deny-read and deny-none open shared (the emulation knows only the
// two kinds). Common values: 2 and 18 read/write exclusive, 16 read exclusive, 64 read shared,
// 66 read/write shared.
inline constexpr unsigned kModeReadWriteExclusive = 18;
inline constexpr unsigned kModeReadExclusive = 16;
inline constexpr unsigned kModeReadShared = 64;
inline constexpr unsigned kModeReadWriteShared = 66;

// True when `mode` opens exclusively.
bool IsExclusiveMode(unsigned mode);

// An open file: one descriptor, its share-mode lock and the range locks taken through it, all
// released by Close or the destructor. Move-only. Every call returns 0 or a DOS-style code.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens an existing file (resolved with ResolvePath) in `mode`. Fails with 2 when it is
  // missing (3 when its folder is), 5 for a folder or missing permission, 32 when an open of ours
  // conflicts with the share mode. On failure the object stays (or becomes) closed. A file opened
  // for reading whose permissions allow no writing takes read locks only (shared opens and range
  // locks of other readers then do not exclude it); every other open can lock exclusively.
  int Open(std::string_view path, unsigned mode);
  // Creates the file, or empties an existing one (the existing name found as ResolvePath does),
  // in `mode`. A share conflict fails with 32 before anything is emptied.
  int Create(std::string_view path, unsigned mode);
  // Closes the file; 0, or the code of a failing close. Closed afterwards either way; closing
  // a closed file is 0.
  int Close();

  bool IsOpen() const { return fd_ >= 0; }
  // The path as opened (after resolution); empty while closed.
  const std::string& Path() const { return path_; }

  // Reads up to `count` bytes at `offset` into `buffer`; `*done` gets the bytes read, fewer
  // than `count` only at the end of the file (that is not an error). 6 when closed.
  int ReadAt(uint64_t offset, void* buffer, size_t count, size_t* done) const;
  // Writes all `count` bytes at `offset`, extending the file as needed; 5 when the file was
  // opened for reading only, 101 when the disk is full.
  int WriteAt(uint64_t offset, const void* buffer, size_t count);
  int Size(uint64_t* size) const;
  // Cuts the file to `size` bytes (or extends it with zeros); 5 when opened for reading only.
  int Truncate(uint64_t size);
  // Makes the system write the file's data to the disk (fsync). After a successful flush the
  // installed flush observer (SetFlushObserver) is told the file's path.
  int Flush();
  // The last-modification time as a DOS date stamp in local time: bits 25-31 year - 1980,
  // 21-24 month, 16-20 day, 11-15 hour, 5-10 minute, 0-4 seconds / 2.
  int DateStamp(uint32_t* stamp) const;

  // Switches the open to the share mode of `mode` in place (the access stays as opened): 0, or
  // 32 when an exclusive mode is asked for while another open of ours has the file. The
  // descriptor and every range lock taken through it stay as they are.
  int ChangeShare(unsigned mode);

  // Locks `length` bytes at `offset` against every other open file description (of this or
  // any process) that locks them: 0, or 33 when another holds any byte of the range. Never
  // waits. A length of 0 locks nothing and succeeds. Locks of one open do not stack: locking
  // a range again succeeds and one unlock releases it.
  int LockRange(uint64_t offset, uint64_t length);
  // Releases what this open holds of the range (also when it holds nothing): 0 or a code.
  int UnlockRange(uint64_t offset, uint64_t length);
  // Looks for a lock that another open file description (of this or any process) holds on a
  // byte of the range and that would keep this open from locking that byte: 0 with
  // `*found_length` 0 when there is none, else 0 with one such lock's range in `*found_offset`
  // and `*found_length` (not necessarily the lowest one; it may reach outside the range, and a
  // lock to the end of every file has the length UINT64_MAX - `*found_offset`). A lock of a
  // process that has died is gone. Takes, waits for and releases nothing.
  int FindForeignLock(uint64_t offset, uint64_t length, uint64_t* found_offset,
                      uint64_t* found_length) const;

 private:
  int OpenWith(std::string_view path, unsigned mode, bool create);
  // Takes the share-mode lock of `mode` on `fd` (converting one already held): 0 or 32.
  static int TakeShareLock(int fd, unsigned mode, bool rw);

  int fd_ = -1;
  bool writable_ = false;         // the caller asked for write access
  bool exclusive_locks_ = false;  // the descriptor allows write locks
  std::string path_;
};

// For tests that check when data reached the disk (a power cut can lose what was only
// written): `observer` is called with the path of every file whose Flush succeeded, right
// after the fsync; an empty function (the default) calls nothing. Set it before the files are
// flushed and clear it before it goes; not thread-safe.
void SetFlushObserver(std::function<void(const std::string& path)> observer);

// The path with every "\" turned into "/" and each existing folder or file name spelled as it
// is on the disk: a component that does not exist as written is looked up without regard to
// ASCII case (the first match in byte order wins). Components from the first one that cannot
// be found on are kept as written, so the result also names a file about to be created. Other
// bytes are compared exactly: names on the disk are UTF-8, which a Windows-1252 case table
// would fold wrongly.
std::string ResolvePath(std::string_view path);
// The path made absolute against the current folder, "\" turned into "/", "." and ".."
// components removed. Never fails and never cuts; does not look at the disk.
std::string FullPath(std::string_view path);
// A regular file (not a folder) of that name exists, found as ResolvePath does.
bool FileExists(std::string_view path);
// Deletes the file (found as ResolvePath does): 0 or a code. Does not check share modes.
int RemoveFile(std::string_view path);

// Gives the file `from` the name `to` (both found as ResolvePath does; `to` spelled as given
// when it does not exist) in one step, so that nobody ever finds `to` half there: 0, with
// `from` gone. With `replace` an existing `to` is replaced; without, the call fails with
// kErrFileExists (80) when `to` exists and leaves both files as they are. Other failures are
// DOS-style codes (17 across file systems).
inline constexpr int kErrFileExists = 80;
int MoveFile(std::string_view from, std::string_view to, bool replace);

// Creates a new empty file with a unique name "<prefix>XXXXXX" in $TMPDIR (else /tmp) and
// stores its full path in `*path`: 0 or a code (`*path` is then empty). The file is closed.
int CreateTempFile(std::string_view prefix, std::string* path);

// Free bytes available to the caller on the file system holding `path` (its nearest existing
// folder; the current folder for an empty path): 0 or a code.
int FreeDiskSpace(std::string_view path, uint64_t* bytes);

// DOS file attributes as the directory search reports them.
enum FileAttribute : unsigned {
  kAttrReadOnly = 0x01,  // the user may not write the file
  kAttrHidden = 0x02,    // the name starts with "."
  kAttrSystem = 0x04,    // neither a regular file nor a folder (device, socket, pipe)
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,  // every regular file
};

struct DirEntry {
  std::string name;  // as on the disk
  unsigned attributes = 0;
  uint64_t size = 0;
  uint32_t date_stamp = 0;  // as File::DateStamp
};

// DOS wildcard match without regard to ASCII case: "*" any run of characters, "?" exactly one;
// "*.*" matches every name, also names without a point.
bool MatchesWildcard(std::string_view pattern, std::string_view name);

// A directory search the way DOS runs one. The search mask is a folder (found as ResolvePath
// does) and a wildcard name, "data/*.DBF"; without a folder the current one is searched.
// Entries are reported in byte order of their names, "." and ".." never. Ordinary files
// (read-only and archive) are always found; hidden, system and folder entries only when their
// attribute bit is in `attributes`.
class DirSearch {
 public:
  DirSearch() = default;
  DirSearch(const DirSearch&) = delete;
  DirSearch& operator=(const DirSearch&) = delete;

  // Starts a search and stores the first match: 0, 2 when nothing matches, 3 when the folder
  // is missing.
  int First(std::string_view mask, unsigned attributes, DirEntry* entry);
  // The next match: 0, or 18 when there are no more.
  int Next(DirEntry* entry);
  // Forgets the search.
  void Close();

 private:
  std::vector<DirEntry> entries_;
  size_t next_ = 0;
};

}  // namespace platform
