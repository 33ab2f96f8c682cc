// The three memo file layouts byte for byte, and the block-level reads and writes the memo
// operations are built from. Block n starts at n * block size; the header fills the start of
// the file, so values start at block 1 or later.
//
// dBASE III (83h, .DBT, blocks of 512): header 0-3 next free block (LE), the rest of the first
// 512 bytes zero. A text value is its bytes, one 1Ah, zeros up to a whole block; it ends at the
// first 1Ah when read. A binary value (BLOB) carries the dBASE IV block header instead.
//
// dBASE IV (8Bh, 8Ch, .DBT): header 0-3 the first free block (LE; the end of the file when no
// freed run exists), 8-15 the table's name (8 characters, zero-padded), 18-19 0102h, 20-21 the
// block size (LE, 0 = the default), 32-35 a block counter. A value starts a block with the
// block header FF FF 08 00 and the value's length + 8 (LE32), its bytes follow. A run of free
// blocks starts with the number of the next free run and its own number of blocks (LE32 each);
// the last run points to the end of the file.
//
// FoxPro (F5h, .FPT): header 0-3 next free block (BE), 6-7 the block size (BE, 0 = the
// default), zeros up to 512 bytes. A value starts a block with its type (BE32, 1 as written
// here) and its length without the header (BE32).
//
// A value of n bytes takes ceil((n + 8) / block size) blocks with a block header and
// ceil((n + 1) / block size) as dBASE III text; every length read from the file is checked
// against the file's size. A .DBT file (dBASE III and IV) always ends on a whole block, the last
// value padded with zeros: other programs take the file's size in whole blocks for the next
// free block. Routines answer 0 or an error code (a DOS-style I/O code, 1003 for a
// block outside the file or a damaged value); they report nothing, take no lock and never
// throw, block or pump.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "tables/engine/memo.h"

namespace tz {

inline constexpr uint8_t kMemoDbase3 = 0x83;
inline constexpr uint8_t kMemoDbase4 = 0x8B;
inline constexpr uint8_t kMemoFoxPro = 0xF5;
// Bytes of the dBASE IV header that are used (the block counter ends at 36).
inline constexpr uint64_t kDbase4HeaderBytes = 36;
// Offset of the memo lock byte.
inline constexpr uint64_t kMemoLockOffset = 10;

inline bool IsDbase3Memo(uint8_t type) {
  return type == kMemoDbase3;
}
inline bool IsFoxProMemo(uint8_t type) {
  return type == kMemoFoxPro;
}
inline bool IsDbase4Memo(uint8_t type) {
  return type == 0x8B || type == 0x8C;
}

// The memo type of a table's version byte: 83h, 8Bh, 8Ch, F5h as they are; anything else the
// default type (DbDefaultTableVersion when that is one of them, else 8Bh).
uint8_t MemoTypeOfVersion(uint8_t version);
// The block size a memo file of `type` declares in its first `got` bytes: 512 for dBASE III;
// FoxPro the BE word at 6, dBASE IV the LE word at 20; 0 (or a header too short to hold it)
// gives DbDefaultMemoBlockSize.
uint16_t MemoBlockSizeOf(uint8_t type, const uint8_t* header, size_t got);
// Where values may start: past the 512-byte header (dBASE III, FoxPro) or past the used dBASE
// IV header bytes, rounded up to a whole block.
uint64_t FirstDataOffset(uint8_t type, uint16_t block_size);
// ceil(bytes / block size).
uint64_t BlocksOf(uint64_t bytes, uint16_t block_size);
// The 8-byte block header of a value of `length` bytes in `type`'s layout (the dBASE IV one
// for dBASE III binary values).
std::array<uint8_t, 8> BlockHeader(uint8_t type, uint32_t length);

// Where a value starts and how long it is.
struct TValueExtent {
  uint64_t DataStart = 0;  // file offset of the value's first byte
  int64_t Length = -1;     // -1: a dBASE III text, ending at its first 1Ah (or the file's end)
  bool Headed = false;     // the value has a block header
};
// The extent of the value at `block` (> 0) in a file of `file_size` bytes: 1003 when the block
// lies in the header or at or past the end, when a dBASE IV header is not FF FF 08 00 with a
// length of at least 8, or when a length runs past the end of the file. A dBASE III block that
// starts with the dBASE IV header is a headed value.
// `block_size` 0 is the file's own.
int ReadValueExtent(TMemoArea& memo, int32_t block, uint64_t file_size, TValueExtent& extent,
                    uint16_t block_size = 0);
// The bytes of the value at `block`. A dBASE III text ends before its first 1Ah (and before a
// zero byte when `stop_at_zero`), at the latest at the file's end. `headed` tells whether the
// value had a block header. `block_size` 0 is the file's own.
int ReadMemoValue(TMemoArea& memo, int32_t block, bool stop_at_zero, std::string& bytes,
                  bool& headed, uint16_t block_size = 0);
// The block size values are copied out of `memo` in: a dBASE IV header without the mark 0102h
// at offset 18 was not written with a block size at offset 20, so its blocks count as 512.
uint16_t CopySourceBlockSize(TMemoArea& memo);
// The value's bytes as stored at a block: dBASE III text with its 1Ah, otherwise the block
// header (`headed` for dBASE III) and the bytes; in a .DBT file zeros follow up to a whole
// block.
std::string StoredValue(uint8_t type, uint16_t block_size, const std::string& bytes, bool headed);

// Pads the file with zeros to a whole block, at least to FirstDataOffset, and answers that
// offset for a new value; a dBASE III file of exactly 513 bytes (the empty file) counts as 512
// bytes long.
int PadToBlock(TMemoArea& memo, uint64_t& offset);
// Writes a value's stored bytes at `offset`. A dBASE IV value that reaches past the end of the
// file first moves the free chain's end past itself (MoveFreeChainEnd): a process that dies in
// between leaves a chain that ends past the file's end, never one that leads into a value. A
// write past the end that fails is cut off again.
int WriteStoredValue(TMemoArea& memo, uint64_t offset, const std::string& stored);
// Header maintenance after a write: the next free block := the file size / block size rounded
// up (BE in FoxPro files). dBASE IV files keep a valid free chain's first run there instead and
// add `blocks` to the block counter.
int UpdateMemoHeaderFields(TMemoArea& memo, uint32_t blocks);

// Sets the next free block to the end of the file (in every layout; a dBASE IV file then has
// no free runs).
int WriteNextFreeBlock(TMemoArea& memo);

// dBASE IV free chain. Runs are followed only while they lie inside the file, hold no value
// header, and have not been seen before, and at most 100 of them.
//
// Takes the first free run of at least `blocks` blocks (the rest of it stays free) and answers
// its first block in `block`; 0 when none is free.
int TakeFreeRun(TMemoArea& memo, uint32_t blocks, int32_t& block);
// How many of the `blocks` blocks from `block` come before the first block after `block` that
// starts with a value header (or cannot be read): a run (free, or of a value whose length says
// so) that would cover another value is damaged and ends there.
uint32_t BlocksBeforeAValue(TMemoArea& memo, int32_t block, uint32_t blocks);
// Puts `blocks` blocks from `block` at the head of the free chain.
int FreeRun(TMemoArea& memo, int32_t block, uint32_t blocks);
// The chain ends where it points at the end of the file: the last run's pointer, or the
// header's when no run is free. Every write that makes the file longer moves that pointer to
// the new end; left behind, it would lead into the value written there, and another program
// following the chain would take that value's blocks for free ones. Sets the pointer that ends
// the chain (at or past the file's end, at a block that starts no sound run, or back to a run
// already seen) to `end_block`.
int MoveFreeChainEnd(TMemoArea& memo, uint32_t end_block);

}  // namespace tz
