#include "tables/engine/memoformat.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "tables/engine/tzcommon.h"

namespace tz {
namespace {

constexpr int kInvalidAddress = 1003;
constexpr int kMaxRunsExamined = 100;
constexpr size_t kScanPiece = 65536;

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

bool IsValueHeader(const uint8_t* p) {
  return p[0] == 0xFF && p[1] == 0xFF && p[2] == 0x08 && p[3] == 0x00;
}

bool IsMemoType(uint8_t v) {
  return v == kMemoDbase3 || IsDbase4Memo(v) || v == kMemoFoxPro;
}

// Reads exactly `count` bytes at `offset`; a file that ends earlier is 1003.
int ReadExact(TMemoArea& memo, uint64_t offset, void* buffer, size_t count) {
  size_t got = 0;
  if (int rc = memo.File.ReadAt(offset, buffer, count, &got); rc != 0) return rc;
  return got == count ? 0 : kInvalidAddress;
}

int WriteLong(TMemoArea& memo, uint64_t offset, uint32_t value, bool big_endian) {
  uint8_t bytes[4];
  if (big_endian) {
    PutBe32(bytes, value);
  } else {
    PutLe32(bytes, value);
  }
  return memo.File.WriteAt(offset, bytes, sizeof bytes);
}

uint32_t EndBlock(TMemoArea& memo, uint64_t file_size) {
  return static_cast<uint32_t>(std::min<uint64_t>(BlocksOf(file_size, memo.BlockSize), INT32_MAX));
}

// One run of the dBASE IV free chain, when `block` starts a sound one: inside the data area
// and the file, no value header, at least one block.
struct FreeRunHeader {
  uint32_t next = 0;
  uint32_t count = 0;
};
bool ReadFreeRun(TMemoArea& memo, uint32_t block, uint32_t end_block, FreeRunHeader& run) {
  uint64_t first = FirstDataOffset(memo.MemoType, memo.BlockSize) / memo.BlockSize;
  if (block < first || block >= end_block) return false;
  uint8_t bytes[8];
  if (ReadExact(memo, uint64_t{block} * memo.BlockSize, bytes, sizeof bytes) != 0) return false;
  if (IsValueHeader(bytes)) return false;
  run.next = Le32(bytes);
  run.count = Le32(bytes + 4);
  return run.count >= 1 && uint64_t{block} + run.count <= end_block;
}

// A walk along the free chain from the header's pointer on.
struct ChainWalk {
  uint32_t end_block = 0;  // the end of the file, in blocks
  uint64_t link = 0;       // where the pointer to `current` is stored
  uint32_t current = 0;    // the block it leads to
  std::set<uint32_t> seen;

  int Start(TMemoArea& memo) {
    uint64_t size = 0;
    if (int rc = memo.File.Size(&size); rc != 0) return rc;
    end_block = EndBlock(memo, size);
    uint8_t bytes[4];
    if (int rc = ReadExact(memo, 0, bytes, sizeof bytes); rc != 0) return rc;
    current = Le32(bytes);
    return 0;
  }
  // The pointer leads to the end of the file (or past it): the chain's proper end.
  bool AtEnd() const { return current >= end_block; }
  // The run the pointer leads to; false when it is no sound run, or one seen before (a cycle).
  bool Read(TMemoArea& memo, FreeRunHeader& run) {
    return seen.insert(current).second && ReadFreeRun(memo, current, end_block, run);
  }
  void Follow(const TMemoArea& memo, const FreeRunHeader& run) {
    link = uint64_t{current} * memo.BlockSize;
    current = run.next;
  }
};

// The chain's first run, or the end of the file when the header points at no sound run.
int FreeChainHead(TMemoArea& memo, uint32_t end_block, uint32_t& head) {
  uint8_t bytes[4];
  if (int rc = ReadExact(memo, 0, bytes, sizeof bytes); rc != 0) return rc;
  FreeRunHeader run;
  head = Le32(bytes);
  if (!ReadFreeRun(memo, head, end_block, run)) head = end_block;
  return 0;
}

}  // namespace

uint8_t MemoTypeOfVersion(uint8_t version) {
  if (IsMemoType(version)) return version;
  return IsMemoType(DbDefaultTableVersion) ? DbDefaultTableVersion : kMemoDbase4;
}

uint16_t MemoBlockSizeOf(uint8_t type, const uint8_t* header, size_t got) {
  if (IsDbase3Memo(type)) return 512;
  uint16_t size = 0;
  if (IsFoxProMemo(type) && got >= 8) {
    size = static_cast<uint16_t>((header[6] << 8) | header[7]);
  } else if (!IsFoxProMemo(type) && got >= 22) {
    size = static_cast<uint16_t>(header[20] | (header[21] << 8));
  }
  if (size == 0) size = DbDefaultMemoBlockSize;
  return size == 0 ? 512 : size;
}

uint64_t FirstDataOffset(uint8_t type, uint16_t block_size) {
  uint64_t header = IsDbase4Memo(type) ? kDbase4HeaderBytes : 512;
  return BlocksOf(header, block_size) * block_size;
}

uint64_t BlocksOf(uint64_t bytes, uint16_t block_size) {
  return (bytes + block_size - 1) / block_size;
}

std::array<uint8_t, 8> BlockHeader(uint8_t type, uint32_t length) {
  std::array<uint8_t, 8> h{};
  if (IsFoxProMemo(type)) {
    PutBe32(h.data(), 1);
    PutBe32(h.data() + 4, length);
  } else {
    h[0] = h[1] = 0xFF;
    h[2] = 0x08;
    PutLe32(h.data() + 4, length + 8);
  }
  return h;
}

int ReadValueExtent(TMemoArea& memo, int32_t block, uint64_t file_size, TValueExtent& extent,
                    uint16_t block_size) {
  extent = TValueExtent();
  if (block <= 0) return kInvalidAddress;
  if (block_size == 0) block_size = memo.BlockSize;
  uint64_t offset = uint64_t(block) * block_size;
  if (offset < FirstDataOffset(memo.MemoType, block_size) || offset >= file_size)
    return kInvalidAddress;
  uint8_t h[8];
  size_t got = 0;
  if (int rc = memo.File.ReadAt(offset, h, sizeof h, &got); rc != 0) return rc;
  bool full = got == sizeof h;
  if (IsDbase3Memo(memo.MemoType) && !(full && IsValueHeader(h))) {
    extent.DataStart = offset;
    return 0;
  }
  if (!full) return kInvalidAddress;
  uint64_t length;
  if (IsFoxProMemo(memo.MemoType)) {
    length = Be32(h + 4);
  } else {
    uint32_t with_header = Le32(h + 4);
    if (!IsValueHeader(h) || with_header < 8) return kInvalidAddress;
    length = with_header - 8u;
  }
  if (offset + 8 + length > file_size) return kInvalidAddress;
  extent.DataStart = offset + 8;
  extent.Length = static_cast<int64_t>(length);
  extent.Headed = true;
  return 0;
}

int ReadMemoValue(TMemoArea& memo, int32_t block, bool stop_at_zero, std::string& bytes,
                  bool& headed, uint16_t block_size) {
  bytes.clear();
  headed = false;
  uint64_t size = 0;
  if (int rc = memo.File.Size(&size); rc != 0) return rc;
  TValueExtent extent;
  if (int rc = ReadValueExtent(memo, block, size, extent, block_size); rc != 0) return rc;
  headed = extent.Headed;
  if (extent.Length >= 0) {
    bytes.resize(static_cast<size_t>(extent.Length));
    int rc = ReadExact(memo, extent.DataStart, bytes.data(), bytes.size());
    if (rc != 0) bytes.clear();
    return rc;
  }
  // A dBASE III text: up to its end mark, at the latest to the end of the file.
  std::string piece(kScanPiece, '\0');
  for (uint64_t at = extent.DataStart; at < size;) {
    size_t got = 0;
    if (int rc = memo.File.ReadAt(at, piece.data(), piece.size(), &got); rc != 0) return rc;
    if (got == 0) break;
    size_t end = 0;
    while (end < got && piece[end] != '\x1A' && !(stop_at_zero && piece[end] == '\0')) ++end;
    bytes.append(piece, 0, end);
    if (end < got) break;
    at += got;
  }
  return 0;
}

std::string StoredValue(uint8_t type, uint16_t block_size, const std::string& bytes, bool headed) {
  std::string stored;
  if (IsDbase3Memo(type) && !headed) {
    stored = bytes + '\x1A';
  } else {
    auto h = BlockHeader(type, static_cast<uint32_t>(bytes.size()));
    stored.assign(h.begin(), h.end());
    stored += bytes;
  }
  if (!IsFoxProMemo(type)) stored.resize(BlocksOf(stored.size(), block_size) * block_size, '\0');
  return stored;
}

uint16_t CopySourceBlockSize(TMemoArea& memo) {
  if (!IsDbase4Memo(memo.MemoType)) return memo.BlockSize;
  uint8_t mark[2] = {};
  size_t got = 0;
  if (memo.File.ReadAt(18, mark, sizeof mark, &got) != 0 || got != sizeof mark) return 512;
  return mark[0] == 0x02 && mark[1] == 0x01 ? memo.BlockSize : 512;
}

int PadToBlock(TMemoArea& memo, uint64_t& offset) {
  uint64_t size = 0;
  if (int rc = memo.File.Size(&size); rc != 0) return rc;
  if (IsDbase3Memo(memo.MemoType) && size == 513) {
    offset = 512;
    return 0;
  }
  offset = std::max(FirstDataOffset(memo.MemoType, memo.BlockSize),
                    BlocksOf(size, memo.BlockSize) * memo.BlockSize);
  return offset > size ? memo.File.Truncate(offset) : 0;
}

int WriteStoredValue(TMemoArea& memo, uint64_t offset, const std::string& stored) {
  uint64_t size = 0;
  if (int rc = memo.File.Size(&size); rc != 0) return rc;
  uint64_t end = offset + stored.size();
  bool grows = end > size;
  uint32_t old_end = EndBlock(memo, size);
  if (grows && IsDbase4Memo(memo.MemoType)) {
    uint32_t new_end =
        static_cast<uint32_t>(std::min<uint64_t>(BlocksOf(end, memo.BlockSize), INT32_MAX));
    if (int rc = MoveFreeChainEnd(memo, new_end); rc != 0) return rc;
  }
  int rc = memo.File.WriteAt(offset, stored.data(), stored.size());
  if (rc != 0 && grows) {
    // No partial value stays behind, and the chain ends at the end of the file again.
    memo.File.Truncate(size);
    if (IsDbase4Memo(memo.MemoType)) MoveFreeChainEnd(memo, old_end);
  }
  return rc;
}

int UpdateMemoHeaderFields(TMemoArea& memo, uint32_t blocks) {
  uint64_t size = 0;
  if (int rc = memo.File.Size(&size); rc != 0) return rc;
  uint32_t end_block = EndBlock(memo, size);
  if (!IsDbase4Memo(memo.MemoType))
    return WriteLong(memo, 0, end_block, IsFoxProMemo(memo.MemoType));
  uint32_t head;
  if (int rc = FreeChainHead(memo, end_block, head); rc != 0) return rc;
  if (int rc = WriteLong(memo, 0, head, false); rc != 0) return rc;
  uint8_t counter[4] = {};
  size_t got = 0;
  if (int rc = memo.File.ReadAt(32, counter, sizeof counter, &got); rc != 0) return rc;
  return WriteLong(memo, 32, (got == 4 ? Le32(counter) : 0) + blocks, false);
}

int WriteNextFreeBlock(TMemoArea& memo) {
  uint64_t size = 0;
  if (int rc = memo.File.Size(&size); rc != 0) return rc;
  return WriteLong(memo, 0, EndBlock(memo, size), IsFoxProMemo(memo.MemoType));
}

int TakeFreeRun(TMemoArea& memo, uint32_t blocks, int32_t& block) {
  block = 0;
  ChainWalk walk;
  if (int rc = walk.Start(memo); rc != 0) return rc;
  for (int examined = 0; examined < kMaxRunsExamined; ++examined) {
    FreeRunHeader run;
    if (walk.AtEnd()) return 0;
    if (!walk.Read(memo, run)) {
      // A cycle, or a pointer into the header or into a value: the chain ends here.
      return WriteLong(memo, walk.link, walk.end_block, false);
    }
    uint32_t current = walk.current;
    if (run.count >= blocks) {
      // A value that starts in the blocks taken, or where the rest's run header would go,
      // shows a damaged run: the chain ends before it.
      uint32_t checked = std::min(run.count, blocks + 1);
      if (BlocksBeforeAValue(memo, static_cast<int32_t>(current), checked) < checked)
        return WriteLong(memo, walk.link, walk.end_block, false);
      uint32_t next = run.next;
      if (run.count > blocks) {
        next = current + blocks;
        uint8_t rest[8];
        PutLe32(rest, run.next);
        PutLe32(rest + 4, run.count - blocks);
        if (int rc = memo.File.WriteAt(uint64_t{next} * memo.BlockSize, rest, sizeof rest); rc != 0)
          return rc;
      }
      if (int rc = WriteLong(memo, walk.link, next, false); rc != 0) return rc;
      block = static_cast<int32_t>(current);
      return 0;
    }
    walk.Follow(memo, run);
  }
  return 0;
}

uint32_t BlocksBeforeAValue(TMemoArea& memo, int32_t block, uint32_t blocks) {
  for (uint32_t i = 1; i < blocks; ++i) {
    uint8_t bytes[4];
    size_t got = 0;
    uint64_t offset = (uint64_t(block) + i) * memo.BlockSize;
    if (memo.File.ReadAt(offset, bytes, sizeof bytes, &got) != 0) return i;
    if (got == sizeof bytes && IsValueHeader(bytes)) return i;
  }
  return blocks;
}

int FreeRun(TMemoArea& memo, int32_t block, uint32_t blocks) {
  uint64_t size = 0;
  if (int rc = memo.File.Size(&size); rc != 0) return rc;
  uint32_t head;
  if (int rc = FreeChainHead(memo, EndBlock(memo, size), head); rc != 0) return rc;
  uint8_t run[8];
  PutLe32(run, head);
  PutLe32(run + 4, blocks);
  if (int rc = memo.File.WriteAt(uint64_t(block) * memo.BlockSize, run, sizeof run); rc != 0)
    return rc;
  return WriteLong(memo, 0, static_cast<uint32_t>(block), false);
}

int MoveFreeChainEnd(TMemoArea& memo, uint32_t end_block) {
  ChainWalk walk;
  if (int rc = walk.Start(memo); rc != 0) return rc;
  for (FreeRunHeader run; !walk.AtEnd() && walk.Read(memo, run);) walk.Follow(memo, run);
  return walk.current == end_block ? 0 : WriteLong(memo, walk.link, end_block, false);
}

}  // namespace tz
