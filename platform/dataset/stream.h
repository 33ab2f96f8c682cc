// A byte stream, the shape in which blob (memo) fields are read and written. A dataset hands out
// one per CreateBlobStream call (dataset.h); whoever holds it owns it, and what was written
// reaches the record when it is destroyed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::dataset {

enum class TSeekOrigin { Beginning = 0, Current = 1, End = 2 };

enum class TBlobStreamMode { Read, Write, ReadWrite };

class TStream {
 public:
  virtual ~TStream() = default;
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Copies up to `count` bytes from the position into `buffer` and moves on; returns the
  // number copied (0 at the end).
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes `count` bytes at the position and moves on; returns the number written.
  virtual size_t Write(const void* buffer, size_t count) = 0;
  // Moves the position to `offset` from the origin; returns the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
};

}  // namespace platform::dataset
