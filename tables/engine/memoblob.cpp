// The BLOB descriptor: one memo value of the selected table as a byte stream with a position.
#include <algorithm>
#include <cstring>

#include "tables/engine/memo.h"
#include "tables/engine/memoformat.h"
#include "tables/engine/memounit.h"
#include "tables/engine/tzcommon.h"

namespace tz {
namespace {

// Streams move in pieces of at most this many bytes.
constexpr int32_t kBlobPiece = 32767;

// Text when no byte is a control character other than tab, LF, CR and the three that the OEM
// code pages show as symbols (0Fh, 14h, 15h).
bool LooksLikeText(const char* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 32 && c != 9 && c != 10 && c != 13 && c != 15 && c != 20 && c != 21) return false;
  }
  return true;
}

int32_t Signed(const TMemoArea& memo, int32_t block, bool headed) {
  return IsDbase3Memo(memo.MemoType) && headed ? -block : block;
}

// Before the value being written reaches `end`: in a dBASE IV file the free chain's end moves
// past it (as WriteStoredValue does for a whole value), once per block.
int ReserveUpTo(TMemoArea& memo, uint64_t end) {
  if (!IsDbase4Memo(memo.MemoType)) return 0;
  auto block = static_cast<uint32_t>(std::min<uint64_t>(BlocksOf(end, memo.BlockSize), INT32_MAX));
  if (block <= memo.Blob.ChainEnd) return 0;
  int rc = MoveFreeChainEnd(memo, block);
  if (rc == 0) memo.Blob.ChainEnd = block;
  return rc;
}

// Ends a write descriptor: the block header with the length (the highest position written) in
// front of the value, a .DBT file padded to a whole block, the file flushed, the memo header
// updated, the lock released. 0 or the first failure's code.
int FinishWrite(TWorkArea& area, TMemoArea& memo) {
  TBlobDescriptor& d = memo.Blob;
  auto header = BlockHeader(memo.MemoType, static_cast<uint32_t>(d.Length));
  uint64_t at = uint64_t(d.Block) * memo.BlockSize;
  int rc = ReserveUpTo(memo, d.DataStart + uint64_t(d.Length));
  if (rc == 0) rc = memo.File.WriteAt(at, header.data(), header.size());
  uint64_t padded = 0;
  if (rc == 0 && !IsFoxProMemo(memo.MemoType)) rc = PadToBlock(memo, padded);
  if (rc == 0) rc = memo.File.Flush();
  if (rc == 0)
    rc = UpdateMemoHeaderFields(
        memo, static_cast<uint32_t>(BlocksOf(uint64_t(d.Length) + 8, memo.BlockSize)));
  if (d.HoldsLock) {
    d.HoldsLock = false;
    memo.Locked = false;
    int unlock_rc = MemoLockNeeded(area) ? MemoLockByte(memo, true) : 0;
    if (rc == 0 && unlock_rc != 0) rc = 1018;
  }
  return rc;
}

// Releases the descriptor after a failure and reports it.
void FailBlob(TWorkArea& area, TMemoArea& memo, int rc, const std::string& routine) {
  FinishBlobQuietly(area, memo);
  SetDbError(static_cast<uint16_t>(rc), memo.FileName + RecordContext() + " [" + routine + "]");
}

}  // namespace

void FinishBlobQuietly(TWorkArea& area, TMemoArea& memo) {
  if (memo.Blob.Active && memo.Blob.Mode == 2) FinishWrite(area, memo);
  memo.Blob = TBlobDescriptor();
}

int32_t CreateBlobDescriptor(bool detect_text, int32_t block, int mode) {
  const std::string routine = "CreateBlobDescriptor";
  MemoTarget t = SelectedMemo(routine);
  if (!t) return 0;
  TMemoArea& memo = *t.memo;
  FinishBlobQuietly(*t.area, memo);
  TBlobDescriptor d;
  d.TextMode = detect_text ? -1 : 0;
  d.Mode = static_cast<uint8_t>(mode);
  if (mode == 1) {
    d.Block = block == INT32_MIN ? 0 : std::abs(block);
    if (d.Block == 0) {
      d.Active = true;
      memo.Blob = d;
      return 0;
    }
    uint64_t size = 0;
    TValueExtent extent;
    int rc = memo.File.Size(&size);
    if (rc == 0) rc = ReadValueExtent(memo, d.Block, size, extent);
    if (rc != 0) {
      FailBlob(*t.area, memo, rc, routine);
      return 0;
    }
    d.DataStart = extent.DataStart;
    d.Length = static_cast<int32_t>(std::min<int64_t>(extent.Length, INT32_MAX));
    d.HeaderLen = extent.Headed ? 8 : 0;
    d.Active = true;
    memo.Blob = d;
    return Signed(memo, d.Block, extent.Headed);
  }
  if (mode != 2) {
    SetDbError(220, memo.FileName + RecordContext() + " [" + routine + "]");
    return 0;
  }
  // A value of unknown size: always at the end of the file, where it cannot run into another.
  MemoLockScope lock(*t.area, memo);
  uint64_t offset = 0;
  if (!LockMemoPadAndSeekEOF(memo, lock, routine, offset)) return 0;
  d.Block = static_cast<int32_t>(offset / memo.BlockSize);
  d.DataStart = offset + 8;
  d.HeaderLen = 8;
  d.Active = true;
  d.HoldsLock = lock.Taken();
  lock.Keep();
  memo.Blob = d;
  return Signed(memo, d.Block, true);
}

bool DestroyBlobDescriptor() {
  MemoTarget t = SelectedMemo("DestroyBlobDescriptor");
  if (!t) return false;
  TMemoArea& memo = *t.memo;
  int rc = memo.Blob.Active && memo.Blob.Mode == 2 ? FinishWrite(*t.area, memo) : 0;
  memo.Blob = TBlobDescriptor();
  if (rc != 0) {
    SetDbError(static_cast<uint16_t>(rc),
               memo.FileName + RecordContext() + " [DestroyBlobDescriptor]");
    return false;
  }
  return true;
}

int32_t ReadBlobStream(void* buffer, int32_t count) {
  const std::string routine = "ReadBlobStream";
  MemoTarget t = SelectedMemo(routine);
  if (!t) return 0;
  TMemoArea& memo = *t.memo;
  TBlobDescriptor& d = memo.Blob;
  if (!d.Active || d.Mode != 1 || d.Block == 0 || count <= 0) return 0;
  uint64_t size = 0;
  if (int rc = memo.File.Size(&size); rc != 0) {
    FailBlob(*t.area, memo, rc, routine);
    return 0;
  }
  uint64_t at = d.DataStart + static_cast<uint64_t>(d.Position);
  int64_t wanted = std::min<int64_t>(count, at < size ? static_cast<int64_t>(size - at) : 0);
  if (d.Length >= 0) wanted = std::min<int64_t>(wanted, std::max(d.Length - d.Position, 0));
  char* out = static_cast<char*>(buffer);
  int32_t done = 0;
  while (done < wanted) {
    size_t piece = static_cast<size_t>(std::min<int64_t>(kBlobPiece, wanted - done));
    size_t got = 0;
    if (int rc = memo.File.ReadAt(at + done, out + done, piece, &got); rc != 0) {
      FailBlob(*t.area, memo, rc, routine);
      return 0;
    }
    bool ended = got < piece;
    if (d.Length < 0) {
      // A dBASE III text: its end mark fixes the length.
      if (const void* mark = std::memchr(out + done, 0x1A, got)) {
        got = static_cast<size_t>(static_cast<const char*>(mark) - (out + done));
        d.Length = d.Position + done + static_cast<int32_t>(got);
        ended = true;
      }
    }
    std::string bytes(out + done, got);
    if (d.TextMode < 0 && got > 0) d.TextMode = LooksLikeText(bytes.data(), got) ? 1 : 0;
    FromFileForm(t.area->Table, bytes, d.TextMode == 1);
    std::memcpy(out + done, bytes.data(), got);
    done += static_cast<int32_t>(got);
    if (ended) break;
  }
  d.Position += done;
  return done;
}

int32_t WriteBlobStream(const void* buffer, int32_t count) {
  const std::string routine = "WriteBlobStream";
  MemoTarget t = SelectedMemo(routine);
  if (!t) return 0;
  TMemoArea& memo = *t.memo;
  TBlobDescriptor& d = memo.Blob;
  if (!d.Active || d.Mode != 2 || count <= 0) return 0;
  int32_t wanted = std::min(count, INT32_MAX - d.Position);
  const char* in = static_cast<const char*>(buffer);
  for (int32_t done = 0; done < wanted;) {
    int32_t piece = std::min(kBlobPiece, wanted - done);
    std::string bytes(in + done, static_cast<size_t>(piece));
    if (d.TextMode < 0) d.TextMode = LooksLikeText(bytes.data(), bytes.size()) ? 1 : 0;
    ToFileForm(t.area->Table, bytes, d.TextMode == 1);
    uint64_t at = d.DataStart + static_cast<uint64_t>(d.Position) + done;
    int rc = ReserveUpTo(memo, at + bytes.size());
    if (rc == 0) rc = memo.File.WriteAt(at, bytes.data(), bytes.size());
    if (rc != 0) {
      FailBlob(*t.area, memo, rc, routine);
      return 0;
    }
    done += piece;
    d.Length = std::max(d.Length, d.Position + done);
  }
  d.Position += wanted;
  return wanted;
}

int32_t SeekBlobStream(int32_t offset, int origin) {
  MemoTarget t = SelectedMemo("SeekBlobStream");
  if (!t) return 0;
  TMemoArea& memo = *t.memo;
  TBlobDescriptor& d = memo.Blob;
  if (!d.Active || d.Block == 0 || d.Mode == 0) return 0;
  int64_t base;
  switch (origin) {
    case 0:
      base = 0;
      break;
    case 1:
      base = d.Position;
      break;
    case 2:
      if (d.Length < 0) {
        // A dBASE III text: its length is where its end mark is.
        std::string bytes;
        bool headed = false;
        if (int rc = ReadMemoValue(memo, d.Block, false, bytes, headed); rc != 0) {
          FailBlob(*t.area, memo, rc, "SeekBlobStream");
          return 0;
        }
        d.Length = static_cast<int32_t>(std::min<size_t>(bytes.size(), INT32_MAX));
      }
      base = d.Length;
      break;
    default:
      return d.Position;
  }
  d.Position = static_cast<int32_t>(std::clamp<int64_t>(base + offset, 0, INT32_MAX));
  return d.Position;
}

}  // namespace tz
