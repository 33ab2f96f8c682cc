// The memo unit: opening and closing memo files, the memo lock, adding, reading, editing and
// copying values, and the routine table.
#include "tables/engine/memo.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/text.h"
#include "tables/engine/memoformat.h"
#include "tables/engine/memotextfile.h"
#include "tables/engine/memounit.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzdbflow.h"
#include "tables/engine/tzutils.h"

namespace tz {

TMemoLineTable MemoLines;
int32_t MemoMaxLines = 32767;
int32_t MemoLineWidth = 254;

namespace {

// How long LockMemo keeps trying while another process holds the lock.
constexpr uint64_t kMemoLockWaitMs = 2000;

int32_t CopyMemoValue(uint8_t source_area, int32_t block) {
  return CopyMemo(source_area, block, 0);
}
int32_t CopyMemoValueEx(uint8_t source_area, int32_t block) {
  return CopyMemo(source_area, block, 1);
}

// |block| for a reference of the field value record (negative: a dBASE III binary value).
int32_t BlockOf(int32_t reference) {
  return reference == INT32_MIN ? 0 : std::abs(reference);
}

// The value a line table stands for, in the table's file form.
std::string JoinLines(const TDbfTable& table, const TMemoLineTable& lines) {
  std::string bytes;
  for (size_t i = 0; i < lines.Lines.size(); ++i) {
    std::string text = lines.Lines[i];
    OemForm(table, text, true);
    bytes += text;
    uint8_t end = i < lines.Ends.size() ? lines.Ends[i] : kHardLineEnd;
    bool last = i + 1 == lines.Lines.size();
    if (end == kSoftLineEnd) {
      bytes += "\x8D\n";
    } else if (end == kHardLineEnd || !last) {
      bytes += "\r\n";
    }
  }
  TranslateForm(table, bytes, true);
  return bytes;
}

// The blocks that the run of the headed value at `block` takes; 0 when the block holds no
// sound value. A length that runs over the next value's header counts only up to it, so that
// neither a rewrite in place nor the freed run reaches that value.
uint32_t RunOfValue(TMemoArea& memo, int32_t block) {
  uint64_t size = 0;
  TValueExtent extent;
  if (block <= 0 || memo.File.Size(&size) != 0 || ReadValueExtent(memo, block, size, extent) != 0 ||
      !extent.Headed)
    return 0;
  uint64_t blocks = BlocksOf(static_cast<uint64_t>(extent.Length) + 8, memo.BlockSize);
  return BlocksBeforeAValue(memo, block,
                            static_cast<uint32_t>(std::min<uint64_t>(blocks, INT32_MAX)));
}

}  // namespace

// --- Shared with the unit's other files ---------------------------------------------------

void SplitMemoText(const std::string& bytes, size_t keep, TMemoLineTable& out) {
  size_t width = MemoLineWidth > 0 ? static_cast<size_t>(MemoLineWidth) : 254;
  std::string line;
  auto end_line = [&](uint8_t mark) {
    if (out.Lines.size() < keep) {
      out.Lines.push_back(line);
      out.Ends.push_back(mark);
    }
    ++out.Total;
    line.clear();
  };
  for (size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    bool lf_follows = i + 1 < bytes.size() && bytes[i + 1] == '\n';
    if (c == '\r' || (c == '\x8D' && lf_follows)) {
      end_line(c == '\r' ? kHardLineEnd : kSoftLineEnd);
      if (lf_follows) ++i;
      continue;
    }
    if (c == '\n') {
      end_line(kHardLineEnd);
      continue;
    }
    if (line.size() >= width) {
      // Word wrap: the line ends after its last blank; what follows starts the next one.
      size_t blank = line.rfind(' ');
      std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
      if (blank != std::string::npos) line.resize(blank + 1);
      end_line(kSoftLineEnd);
      line = rest;
    }
    line += c;
  }
  if (!line.empty()) end_line(kNoLineEnd);
}

MemoTarget SelectedMemo(const std::string& routine) {
  if (CheckMemoField(routine)) return {};
  TWorkArea* area = SelectedArea();
  return {area, area->MemoArea.get()};
}

bool MemoLockNeeded(const TWorkArea& area) {
  return DbNetworkLocking && !area.Exclusive;
}

int MemoLockByte(TMemoArea& memo, bool unlock) {
  return LockRegion(unlock, memo.File, kMemoLockOffset, 1);
}

int32_t MemoBlockOfField(const std::string& stored) {
  std::string number = AllTrim(stored);
  int32_t block = 0;
  std::from_chars(number.data(), number.data() + number.size(), block);
  return block;
}

MemoLockScope::~MemoLockScope() {
  Release();
}

bool MemoLockScope::Acquire() {
  if (memo_.Locked || !MemoLockNeeded(area_)) return true;
  uint64_t start = platform::NowMs();
  while (MemoLockByte(memo_, false) != 0) {
    if (platform::NowMs() - start >= kMemoLockWaitMs) return false;
    platform::SleepMs(1);
  }
  memo_.Locked = taken_ = true;
  return true;
}

bool MemoLockScope::Release() {
  if (!taken_) return true;
  taken_ = false;
  memo_.Locked = false;
  return MemoLockByte(memo_, true) == 0;
}

void MemoFail(MemoLockScope* lock, uint16_t code, const std::string& context) {
  if (lock) lock->Release();
  SetDbError(code, context);
}

bool LockMemoPadAndSeekEOF(TMemoArea& memo, MemoLockScope& lock, const std::string& routine,
                           uint64_t& offset) {
  // A BLOB being written grows at the end of the file: nothing may be appended behind it.
  if ((memo.Blob.Active && memo.Blob.Mode == 2) || !lock.Acquire()) {
    MemoFail(&lock, 1017, memo.FileName + " [" + routine + "]");
    return false;
  }
  if (int rc = PadToBlock(memo, offset); rc != 0) {
    MemoFail(&lock, static_cast<uint16_t>(rc), memo.FileName + " [LockMemoPadAndSeekEOF]");
    return false;
  }
  return true;
}

bool FinishMemoWrite(TMemoArea& memo, MemoLockScope& lock, uint32_t blocks,
                     const std::string& routine) {
  if (int rc = memo.File.Flush(); rc != 0) {
    MemoFail(&lock, static_cast<uint16_t>(rc), memo.FileName + " [" + routine + "]");
    return false;
  }
  if (UpdateMemoHeaderFields(memo, blocks) != 0) {
    MemoFail(&lock, 29, memo.FileName + " [UpdateMemoHeader()]");
    return false;
  }
  if (!lock.Release()) {
    SetDbError(1018, memo.FileName + " [" + routine + "]");
    return false;
  }
  return true;
}

void OemForm(const TDbfTable& table, std::string& bytes, bool to_file) {
  if (!table.Oem) return;
  if (to_file) {
    platform::AnsiToOemBuf(bytes.data(), bytes.size());
  } else {
    platform::OemToAnsiBuf(bytes.data(), bytes.size());
  }
}

void TranslateForm(const TDbfTable& table, std::string& bytes, bool to_file) {
  TranslateProc proc = to_file ? table.ToFile : table.FromFile;
  if (!proc) return;
  for (size_t at = 0; at < bytes.size(); at += MemoBufferSize)
    proc(bytes.data() + at, std::min(MemoBufferSize, bytes.size() - at));
}

void ToFileForm(const TDbfTable& table, std::string& bytes, bool text) {
  if (text) OemForm(table, bytes, true);
  TranslateForm(table, bytes, true);
}

void FromFileForm(const TDbfTable& table, std::string& bytes, bool text) {
  TranslateForm(table, bytes, false);
  if (text) OemForm(table, bytes, false);
}

std::string RecordContext() {
  TWorkArea* area = SelectedArea();
  return " Record # " + std::to_string(area ? area->Table.CurrentRecord : 0);
}

// --- The unit ------------------------------------------------------------------------------

void MemoInit() {
  MemoLines.Clear();
  MemoMaxLines = 32767;
  MemoLineWidth = 254;
  MemoDriver.AssignMemo = AssignMemo;
  MemoDriver.PackMemofile = PackMemofile;
  MemoDriver.OpenMemofile = OpenMemofile;
  MemoDriver.CloseMemofile = CloseMemofile;
  MemoDriver.CopyMemoValue = CopyMemoValue;
  MemoDriver.CopyMemoValueEx = CopyMemoValueEx;
  MemoDriver.RecreateMemofile = RecreateMemofile;
  MemoDriver.AddMemo = AddMemo;
}

uint8_t GetMemoType() {
  TWorkArea* area = SelectedArea();
  return MemoTypeOfVersion(area ? area->Table.Version() : 0);
}

void OpenMemofile(const std::string& table_name) {
  TWorkArea* area = SelectedArea();
  if (!area) {
    SetDbError(215, " [USE]");
    return;
  }
  uint8_t type = GetMemoType();
  std::string name = table_name + "." + MemoExtension(type);
  if (area->MemoArea) {
    SetDbError(1007, name + " [USE]");
    return;
  }
  auto memo = std::make_shared<TMemoArea>();
  memo->MemoType = type;
  unsigned mode =
      MemoLockNeeded(*area) ? platform::kModeReadWriteShared : platform::kModeReadWriteExclusive;
  if (DbForcedFileMode < 0xFFFF) mode = DbForcedFileMode & 0xFF;
  if (int rc = memo->File.Open(name, mode); rc != 0) {
    SetDbError(static_cast<uint16_t>(rc), "Memo file not found: " + name + " [USE]");
    return;
  }
  memo->FileName = memo->File.Path();
  uint8_t header[24] = {};
  size_t got = 0;
  if (int rc = memo->File.ReadAt(0, header, sizeof header, &got); rc != 0) {
    SetDbError(static_cast<uint16_t>(rc), "Memo file not found: " + name + " [USE]");
    return;
  }
  memo->BlockSize = MemoBlockSizeOf(type, header, got);
  area->MemoArea = std::move(memo);
}

void CloseMemofile() {
  TWorkArea* area = SelectedArea();
  if (!area || !area->MemoArea) return;
  std::shared_ptr<TMemoArea> memo = std::move(area->MemoArea);
  FinishBlobQuietly(*area, *memo);
  if (memo->Locked) {
    MemoLockByte(*memo, true);
    memo->Locked = false;
  }
  if (int rc = memo->File.Close(); rc != 0)
    SetDbError(static_cast<uint16_t>(rc), memo->FileName + " [CloseMemofile]");
}

bool CreateMemofile(const std::string& table_name) {
  return CreateEmptyMemofile(table_name, GetMemoType(), DbDefaultMemoBlockSize, "CreateMemofile()");
}

void RecreateMemofile(const std::string& table_name) {
  CloseMemofile();
  if (CreateMemofile(table_name)) OpenMemofile(table_name);
}

bool CheckMemoField(const std::string& routine) {
  TWorkArea* area = SelectedArea();
  if (!area) {
    SetDbError(215, " [" + routine + "]");
    return true;
  }
  if (!area->MemoArea) {
    SetDbError(1019, area->Table.FileName + " No Memo Field [" + routine + "]");
    return true;
  }
  return false;
}

bool LockMemo() {
  MemoTarget t = SelectedMemo("LockMemo");
  if (!t) return false;
  if (t.memo->Locked || !MemoLockNeeded(*t.area)) return true;
  MemoLockScope lock(*t.area, *t.memo);
  if (!lock.Acquire()) return false;
  lock.Keep();  // held until UnlockMemo
  return true;
}

bool UnlockMemo() {
  MemoTarget t = SelectedMemo("UnlockMemo");
  if (!t) return false;
  if (!t.memo->Locked) return true;
  t.memo->Locked = false;
  return MemoLockByte(*t.memo, true) == 0;
}

int32_t AddMemo(const std::string& text) {
  MemoTarget t = SelectedMemo("AddMemo");
  if (!t) return 0;
  std::string bytes = RTrim(text);
  if (bytes.empty()) return 0;
  TMemoArea& memo = *t.memo;
  ToFileForm(t.area->Table, bytes, true);
  MemoLockScope lock(*t.area, memo);
  uint64_t offset = 0;
  if (!LockMemoPadAndSeekEOF(memo, lock, "AddMemo()", offset)) return 0;
  std::string stored = StoredValue(memo.MemoType, memo.BlockSize, bytes, false);
  if (int rc = WriteStoredValue(memo, offset, stored); rc != 0) {
    MemoFail(&lock, static_cast<uint16_t>(rc), memo.FileName + " [AddMemo]");
    return 0;
  }
  if (!FinishMemoWrite(memo, lock, static_cast<uint32_t>(BlocksOf(stored.size(), memo.BlockSize)),
                       "AddMemo"))
    return 0;
  return static_cast<int32_t>(offset / memo.BlockSize);
}

bool GetMemoLines(TMemoLineTable& lines, int32_t block, int32_t max_lines) {
  lines.Clear();
  MemoTarget t = SelectedMemo("GetMemo");
  if (!t) return false;
  if (block == 0) return true;
  std::string bytes;
  bool headed = false;
  if (int rc = ReadMemoValue(*t.memo, BlockOf(block), false, bytes, headed); rc != 0) {
    MemoFail(nullptr, static_cast<uint16_t>(rc), t.memo->FileName + RecordContext() + " [GetMemo]");
    return false;
  }
  TranslateForm(t.area->Table, bytes, false);
  size_t keep = static_cast<size_t>(std::max(MemoMaxLines, 0));
  if (max_lines > 0) keep = std::min(keep, static_cast<size_t>(max_lines));
  SplitMemoText(bytes, keep, lines);
  for (std::string& line : lines.Lines) OemForm(t.area->Table, line, false);
  return true;
}

bool GetMemo(int32_t block, int32_t max_lines) {
  return GetMemoLines(MemoLines, block, max_lines);
}

int32_t EditMemoLines(const TMemoLineTable& lines, int32_t block) {
  MemoTarget t = SelectedMemo("EditMemo");
  if (!t) return 0;
  TMemoArea& memo = *t.memo;
  std::string bytes = JoinLines(t.area->Table, lines);
  bool dbase4 = IsDbase4Memo(memo.MemoType);
  int32_t old_block = BlockOf(block);
  // No lines: no value. Only a dBASE IV run has anything to give back (to the free chain).
  if (bytes.empty() && (!dbase4 || old_block == 0)) return 0;
  uint64_t needed = bytes.size() + 8;
  if (uint64_t{DiskFreeKB(memo.FileName)} * 1024 < needed) {
    SetDbError(1004, memo.FileName);
    return 0;
  }
  MemoLockScope lock(*t.area, memo);
  uint64_t offset = 0;
  if (!LockMemoPadAndSeekEOF(memo, lock, "EditMemo", offset)) return 0;
  uint32_t old_run = dbase4 ? RunOfValue(memo, old_block) : 0;
  if (bytes.empty()) {
    if (old_run > 0 && FreeRun(memo, old_block, old_run) != 0) {
      MemoFail(&lock, 29, memo.FileName + " [EditMemo/CloseMemo]");
      return 0;
    }
    FinishMemoWrite(memo, lock, old_run, "EditMemo");
    return 0;
  }
  uint32_t new_run = static_cast<uint32_t>(BlocksOf(needed, memo.BlockSize));
  int32_t target = 0;
  int rc = 0;
  if (dbase4 && old_run >= new_run) {
    target = old_block;  // fits its old run: rewritten in place
  } else if (dbase4) {
    rc = TakeFreeRun(memo, new_run, target);
  }
  if (rc == 0 && target == 0) target = static_cast<int32_t>(offset / memo.BlockSize);
  std::string stored = StoredValue(memo.MemoType, memo.BlockSize, bytes, false);
  if (rc == 0) rc = WriteStoredValue(memo, uint64_t(target) * memo.BlockSize, stored);
  // The old run is given up only once the new value is on the disk.
  bool moved = target != old_block && old_run > 0;
  if (rc == 0 && moved) rc = FreeRun(memo, old_block, old_run);
  if (rc != 0) {
    MemoFail(&lock, 29, memo.FileName + " [EditMemo/CloseMemo]");
    return 0;
  }
  uint32_t counted = static_cast<uint32_t>(BlocksOf(stored.size(), memo.BlockSize));
  if (!FinishMemoWrite(memo, lock, counted + (moved ? old_run : 0), "EditMemo")) return 0;
  return target;
}

int32_t EditMemo(int32_t block) {
  return EditMemoLines(MemoLines, block);
}

int32_t CopyMemo(uint8_t source_area, int32_t block, int mode) {
  MemoTarget t = SelectedMemo("CopyMemo");
  if (!t || block == 0) return 0;
  TWorkArea* source =
      source_area >= 1 && source_area <= kWorkAreaSlots ? WorkAreas[source_area].get() : nullptr;
  if (!source || !source->MemoArea) {
    SetDbError(1019, (source ? source->Table.FileName : "") + " No Memo Field [CopyMemo]");
    return 0;
  }
  TMemoArea& from = *source->MemoArea;
  TMemoArea& memo = *t.memo;
  std::string bytes;
  bool headed = false;
  if (int rc = ReadMemoValue(from, BlockOf(block), IsDbase3Memo(from.MemoType), bytes, headed,
                             CopySourceBlockSize(from));
      rc != 0) {
    SetDbError(static_cast<uint16_t>(rc), from.FileName + " [AppendFrom/CopyTo]");
    return 0;
  }
  // Binary: a dBASE III BLOB, or a value a dBASE III text could not hold.
  bool binary = IsDbase3Memo(from.MemoType)
                    ? headed
                    : IsDbase3Memo(memo.MemoType) &&
                          bytes.find_first_of(std::string("\x1A\0", 2)) != std::string::npos;
  FromFileForm(source->Table, bytes, !binary);
  ToFileForm(t.area->Table, bytes, !binary);
  bool headed_out = !IsDbase3Memo(memo.MemoType) || binary;
  MemoLockScope lock(*t.area, memo);
  uint64_t offset = 0;
  if (!LockMemoPadAndSeekEOF(memo, lock, "CopyMemo()", offset)) return 0;
  uint64_t same_block = uint64_t(BlockOf(block)) * memo.BlockSize;
  if (mode == 1 && same_block >= offset) offset = same_block;
  std::string stored = StoredValue(memo.MemoType, memo.BlockSize, bytes, headed_out);
  if (int rc = WriteStoredValue(memo, offset, stored); rc != 0) {
    MemoFail(&lock, rc == platform::kErrDiskFull ? 1005 : static_cast<uint16_t>(rc),
             memo.FileName + " [AppendFrom/CopyTo]");
    return 0;
  }
  if (!FinishMemoWrite(memo, lock, static_cast<uint32_t>(BlocksOf(stored.size(), memo.BlockSize)),
                       "AppendFrom/CopyTo"))
    return 0;
  int32_t result = static_cast<int32_t>(offset / memo.BlockSize);
  return IsDbase3Memo(memo.MemoType) && binary ? -result : result;
}

}  // namespace tz
