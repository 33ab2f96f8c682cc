// Packing a memo file: every value the table refers to is copied into a new file, the records
// are made to refer to the copies, and the new file takes the old one's place.
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "tables/engine/dbf4.h"
#include "tables/engine/memo.h"
#include "tables/engine/memoformat.h"
#include "tables/engine/memounit.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzdbflow.h"
#include "tables/engine/tzutils.h"

namespace tz {
namespace {

// One memo field of one record whose reference changes.
struct Moved {
  int32_t record;
  uint8_t field;
  std::string old_text, new_text;  // the field's stored characters before and after
};

std::string RightAligned(int32_t block, size_t width) {
  std::string text = std::to_string(block);
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// Writes one field's stored characters into a record: straight into the file, or, when the
// table has translation procedures, as the whole record so that they apply.
bool PutField(TWorkArea& wa, const Moved& m, const std::string& text) {
  TDbfTable& t = wa.Table;
  DbLastError = 0;
  if (!t.ToFile && !t.FromFile) {
    Poke(text, m.field, m.record);
    return DbLastError == 0;
  }
  if (!GetDbfRecord(t, m.record)) return false;
  const TFieldEntry& f = t.Fields[m.field - 1];
  text.copy(t.Record.data() + f.offset, f.length);
  return PutDbfRecord(t, m.record);
}

// Puts the old references back after a failure.
void PutBack(TWorkArea& wa, const std::vector<Moved>& moved, size_t count) {
  for (size_t i = 0; i < count; ++i) PutField(wa, moved[i], moved[i].old_text);
}

// Reads the record again, or stands on the blank record again (record count + 1).
void Reposition(int32_t record) {
  if (record < 1) return;
  bool reporting = SetErrorReporting(false);
  Dbf4RawGo(record);
  SetErrorReporting(reporting);
}

}  // namespace

void PackMemofile() {
  MemoTarget target = SelectedMemo("PackMemofile");
  if (!target) return;
  TWorkArea& wa = *target.area;
  TMemoArea& memo = *target.memo;
  TDbfTable& table = wa.Table;
  const std::string tag = " [PackMemofile]";
  DbLastError = 0;
  if (MemoLockNeeded(wa)) {
    SetDbError(225, memo.FileName + tag);
    return;
  }
  FinishBlobQuietly(wa, memo);
  uint64_t size = 0;
  if (int rc = memo.File.Size(&size); rc != 0) {
    SetDbError(static_cast<uint16_t>(rc), memo.FileName + tag);
    return;
  }
  if (uint64_t{DiskFreeKB(memo.FileName)} * 1024 < size) {
    SetDbError(1012, memo.FileName + tag);
    return;
  }

  // The new file: the old header (other programs' bytes in it stay), then the values.
  TMemoArea packed;
  packed.MemoType = memo.MemoType;
  packed.BlockSize = memo.BlockSize;
  packed.FileName = ForceExtension(memo.FileName, "$$$");
  struct Discard {
    TMemoArea& file;
    bool keep = false;
    ~Discard() {
      if (keep) return;
      file.File.Close();
      std::error_code ignored;
      std::filesystem::remove(file.FileName, ignored);
    }
  } discard{packed};
  std::string header(FirstDataOffset(memo.MemoType, memo.BlockSize), '\0');
  size_t got = 0;
  int rc = memo.File.ReadAt(0, header.data(), header.size(), &got);
  if (rc == 0) rc = packed.File.Create(packed.FileName, platform::kModeReadWriteExclusive);
  if (rc == 0) rc = packed.File.WriteAt(0, header.data(), header.size());
  if (rc != 0) {
    SetDbError(static_cast<uint16_t>(rc), packed.FileName + tag);
    return;
  }

  int32_t current = table.CurrentRecord;
  std::vector<Moved> moved;
  for (int32_t n = 1; n <= table.RecordCount; ++n) {
    for (uint8_t field = 1; field <= table.FieldCount; ++field) {
      if (table.Fields[field - 1].type != 'M') continue;
      std::string stored;
      Peek(field, n, stored);
      if (DbLastError != 0) return;
      int32_t block = MemoBlockOfField(stored);
      if (block == 0) continue;
      std::string bytes;
      bool headed = false;
      uint64_t offset = 0;
      rc = ReadMemoValue(memo, block == INT32_MIN ? 0 : std::abs(block), false, bytes, headed);
      if (rc != 0) {
        SetDbError(static_cast<uint16_t>(rc), " Memo block # " + std::to_string(block) +
                                                  " Record # " + std::to_string(n) + " [PackMemo]");
        return;
      }
      rc = PadToBlock(packed, offset);
      std::string value = StoredValue(packed.MemoType, packed.BlockSize, bytes, headed);
      if (rc == 0) rc = packed.File.WriteAt(offset, value.data(), value.size());
      if (rc != 0) {
        SetDbError(static_cast<uint16_t>(rc), packed.FileName + tag);
        return;
      }
      int32_t copy = static_cast<int32_t>(offset / packed.BlockSize);
      if (IsDbase3Memo(packed.MemoType) && headed) copy = -copy;
      std::string text = RightAligned(copy, table.Fields[field - 1].length);
      if (text != stored) moved.push_back({n, field, stored, text});
    }
  }
  rc = WriteNextFreeBlock(packed);
  if (rc == 0) rc = packed.File.Flush();
  if (rc == 0) rc = packed.File.Close();
  if (rc != 0) {
    SetDbError(static_cast<uint16_t>(rc), packed.FileName + tag);
    return;
  }

  // The references, then the new file in the old one's place. Until the rename nothing is
  // reported: a failure first puts the old references back (reporting could halt the program or
  // throw in between), so the records and the old memo file always go together.
  bool reporting = SetErrorReporting(false);
  size_t rewritten = 0;
  // Writing raw field bytes needs a record under the pointer.
  if (table.OnBlankRecord && !moved.empty()) Reposition(1);
  while (rewritten < moved.size() && PutField(wa, moved[rewritten], moved[rewritten].new_text))
    ++rewritten;
  bool ok = rewritten == moved.size() && FlushFile(table.File);
  if (ok) {
    // The old file stays open and in use until the new one has its name.
    std::error_code renamed;
    std::filesystem::rename(packed.FileName, memo.FileName, renamed);
    if (renamed) {
      ok = false;
      DbLastError = static_cast<uint16_t>(platform::DosErrorFromErrno(renamed.value()));
      DbErrorContext = memo.FileName + tag;
    }
  }
  if (!ok) {
    uint16_t code = DbLastError;
    std::string context = DbErrorContext;
    PutBack(wa, moved, rewritten);
    FlushFile(table.File);
    Reposition(current);
    SetErrorReporting(reporting);
    SetDbError(code, context);
    return;
  }
  discard.keep = true;
  Reposition(current);
  SetErrorReporting(reporting);
  unsigned mode = platform::kModeReadWriteExclusive;
  if (DbForcedFileMode < 0xFFFF) mode = DbForcedFileMode & 0xFF;
  memo.File.Close();
  if (int open_rc = memo.File.Open(memo.FileName, mode); open_rc != 0) {
    std::string name = memo.FileName;
    wa.MemoArea.reset();
    SetDbError(static_cast<uint16_t>(open_rc), "Memo file not found: " + name + tag);
  }
}

}  // namespace tz
