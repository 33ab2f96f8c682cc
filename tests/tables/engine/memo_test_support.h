// What the memo tests share: a fixture that makes a table with memo fields in a temporary
// folder, in the layout of a version byte, opens it, and stores memo references in new
// records the way a caller of AddMemo does.
#pragma once

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/memo.h"
#include "tables/engine/tzdbflow.h"

namespace tz {

class MemoTest : public EngineTest {
 protected:
  MemoTest() { SetErrorReporting(false); }

  // Creates dir/<name>.dbf with the fields ID N 5 and NOTE M (and OTHER M when `two_memos`)
  // as `version` (83h, 8Bh or F5h) with memo blocks of `block_size`, and opens it in the
  // selected work area with `use_options` (" EXCLUSIVE" ...). Returns the table's path.
  std::string MakeTable(uint8_t version, uint16_t block_size = 512, const std::string& name = "t",
                        bool two_memos = false, const std::string& use_options = "") {
    DbDefaultTableVersion = version;
    DbDefaultMemoBlockSize = block_size;
    std::vector<TFieldEntry> fields = {{"ID", 'N', 5}, {"NOTE", 'M', 10}};
    if (two_memos) fields.push_back({"OTHER", 'M', 10});
    TDbfTable table;
    std::string path = (dir_ / (name + ".dbf")).string();
    EXPECT_TRUE(CreateDBF(table, path, fields)) << GetErrorMessage();
    DbDefaultTableVersion = 0x8B;
    DbDefaultMemoBlockSize = 512;
    Use(path + use_options);
    EXPECT_EQ(DbLastError, 0) << GetErrorMessage();
    return path;
  }

  // The memo file's path of the table made by MakeTable.
  std::string MemoPath(uint8_t version, const std::string& name = "t") const {
    return (dir_ / (name + (version == 0xF5 ? ".FPT" : ".DBT"))).string();
  }
  std::string MemoBytes(uint8_t version, const std::string& name = "t") const {
    return platform::TempDir::Read(MemoPath(version, name));
  }

  // Appends a record with ID `id` whose memo field `field` (2 = NOTE) holds `block`; block 0
  // leaves the field blank, as dBASE stores a record without a memo.
  void AppendWithMemo(int32_t id, int32_t block, int field = 2) {
    TWorkArea& wa = *SelectedArea();
    ClearRecord();
    std::memcpy(FieldAddress(1), &id, sizeof id);
    std::memcpy(FieldAddress(field), &block, sizeof block);
    PackRecord(wa.Table, wa.FieldValues);
    const TFieldEntry& f = wa.Table.Fields[static_cast<size_t>(field - 1)];
    if (block == 0) std::fill_n(wa.Table.Record.begin() + f.offset, f.length, ' ');
    ASSERT_TRUE(PutDbfRecord(wa.Table, wa.Table.RecordCount + 1)) << GetErrorMessage();
    UnpackRecord(wa.Table, wa.FieldValues);
  }

  // The stored characters of field `field` of record `n`, read from the file.
  std::string StoredField(int32_t n, int field = 2) {
    TWorkArea& wa = *SelectedArea();
    const TFieldEntry& f = wa.Table.Fields[static_cast<size_t>(field - 1)];
    std::string bytes(f.length, '\0');
    size_t got = 0;
    wa.Table.File.ReadAt(wa.Table.HeaderSize + uint64_t(n - 1) * wa.Table.RecordSize + f.offset,
                         bytes.data(), bytes.size(), &got);
    bytes.resize(got);
    return bytes;
  }

  // The value at `block` as GetMemo reads it, the lines joined with "|" and each line end
  // shown as "/" (hard) or "~" (soft).
  static std::string Lines(const TMemoLineTable& table) {
    std::string out;
    for (size_t i = 0; i < table.Lines.size(); ++i) {
      if (i > 0) out += '|';
      out += table.Lines[i];
      if (table.Ends[i] == kHardLineEnd) out += '/';
      if (table.Ends[i] == kSoftLineEnd) out += '~';
    }
    return out;
  }
  std::string Read(int32_t block) {
    DbLastError = 0;
    if (!GetMemo(block, 0)) return "error " + std::to_string(DbLastError);
    return Lines(MemoLines);
  }

  // The bytes of the value at `block` as the BLOB descriptor reads them in binary mode;
  // "error <code>" on failure.
  std::string ReadBytes(int32_t block) {
    DbLastError = 0;
    CreateBlobDescriptor(false, block, 1);
    std::string bytes;
    char piece[100];
    for (int32_t n; DbLastError == 0 && (n = ReadBlobStream(piece, sizeof piece)) > 0;)
      bytes.append(piece, static_cast<size_t>(n));
    if (DbLastError == 0) DestroyBlobDescriptor();
    return DbLastError == 0 ? bytes : "error " + std::to_string(DbLastError);
  }

  platform::TempDir dir_;
};

// Writes `bytes` as a new binary value through a BLOB write descriptor; its block.
inline int32_t WriteBlob(const std::string& bytes) {
  int32_t block = CreateBlobDescriptor(false, 0, 2);
  WriteBlobStream(bytes.data(), static_cast<int32_t>(bytes.size()));
  DestroyBlobDescriptor();
  return block;
}

// Writes `text` as one line without a line end (so the value is exactly `text`; empty: no
// value) through the line table as the new value of `block`; its block.
inline int32_t EditTo(int32_t block, const std::string& text) {
  TMemoLineTable lines;
  if (!text.empty()) {
    lines.Lines = {text};
    lines.Ends = {kNoLineEnd};
  }
  return EditMemoLines(lines, block);
}

// Bytes from a list of values (for expected file contents written out literally).
inline std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

// A dBASE IV memo file as another dBASE program finds it, read from its bytes by the format
// alone (not through the engine's reading code, which tolerates more): empty when it is sound,
// else the first fault in words.
//  - The file ends on a whole block (its size in whole blocks is the next free block to some
//    programs); with `killed` (a writer died in the middle of a write) it may end inside one.
//  - Each value at a block of `live` starts with FF FF 08 00 and a length (value + 8) that lies
//    inside the file; the values do not overlap.
//  - The free chain, from the header's offset 0, runs through free runs (the next run's block,
//    the run's number of blocks) that lie after the header and inside the file, outside every
//    live value and every other run, without a cycle, and it ends where it points at the end
//    of the file (with `killed` anywhere at or past the end: a writer that had moved the end
//    for its value and died before the value was written).
inline std::string Dbase4ChainFault(const std::string& file, const std::vector<int32_t>& live,
                                    bool killed = false) {
  auto byte = [&](uint64_t at) -> uint64_t {
    return at < file.size() ? static_cast<uint8_t>(file[at]) : 0;
  };
  auto le32 = [&](uint64_t at) {
    return byte(at) | byte(at + 1) << 8 | byte(at + 2) << 16 | byte(at + 3) << 24;
  };
  if (file.size() < 36) return "the header is cut short";
  uint64_t size = byte(20) | byte(21) << 8;
  if (size == 0) size = 512;
  uint64_t end = file.size() / size;
  if (!killed && file.size() % size != 0)
    return "the file ends inside block " + std::to_string(end);
  struct Extent {
    uint64_t from, to;
    std::string what;
  };
  std::vector<Extent> taken;
  auto take = [&](uint64_t from, uint64_t to, const std::string& what) -> std::string {
    for (const Extent& e : taken)
      if (from < e.to && e.from < to) return what + " overlaps " + e.what;
    taken.push_back({from, to, what});
    return "";
  };
  for (int32_t block : live) {
    uint64_t at = uint64_t(block) * size;
    std::string what = "the value at block " + std::to_string(block);
    if (block <= 0 || at + 8 > file.size() || file.compare(at, 4, "\xFF\xFF\x08\x00", 4) != 0)
      return what + " has no block header";
    uint64_t length = le32(at + 4);
    if (length < 8 || at + length > file.size()) return what + " runs past the end of the file";
    if (std::string fault = take(at, at + length, what); !fault.empty()) return fault;
  }
  std::set<uint64_t> seen;
  uint64_t run = le32(0);
  while (run < end) {
    std::string what = "the free run at block " + std::to_string(run);
    if (run * size < 36) return what + " lies in the header";
    if (!seen.insert(run).second) return what + " closes a cycle";
    uint64_t next = le32(run * size), blocks = le32(run * size + 4);
    if (blocks == 0) return what + " has no blocks";
    if (std::string fault = take(run * size, (run + blocks) * size, what); !fault.empty())
      return fault;
    if (run + blocks > end) return what + " runs past the end of the file";
    run = next;
  }
  if (!killed && run != end)
    return "the chain ends at block " + std::to_string(run) + ", the file at block " +
           std::to_string(end);
  return "";
}

}  // namespace tz
