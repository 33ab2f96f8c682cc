#include "tests/fuzz/table_session.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "tables/engine/dbf4.h"
#include "tables/engine/memo.h"
#include "tables/engine/tzdbflow.h"
#include "tables/engine/tzdrivers.h"
#include "tables/index/tzndx.h"
#include "tests/fuzz/fuzz_support.h"

namespace kfuzz {
namespace {

using namespace tz;

constexpr int kWalkSteps = 40;       // records read per walk direction
constexpr int kCommandLimit = 256;   // commands of one input that are run
constexpr int kBlobReads = 64;       // pieces read from one BLOB
constexpr int kRecordsInTurn = 8;   // first records whose keys the fixed part seeks per order
constexpr int kRecordsFound = 24;    // records spread over the table it seeks after them

// The selected table's field `n` (1-based), or nullptr.
const TFieldEntry* FieldEntry(int n) {
  TWorkArea* wa = SelectedArea();
  if (!wa || n < 1 || n > static_cast<int>(wa->Table.Fields.size())) return nullptr;
  return &wa->Table.Fields[static_cast<size_t>(n - 1)];
}

bool IsMemoField(int n) {
  const TFieldEntry* f = FieldEntry(n);
  return f && f->type == 'M' && FieldSlotSize(*f) == 4;
}

bool HasMemoFile() {
  TWorkArea* wa = SelectedArea();
  return wa && wa->MemoArea;
}

int32_t MemoBlockOf(int n) {
  int32_t block = 0;
  std::memcpy(&block, FieldAddress(n), sizeof block);
  return block;
}

void SetMemoBlock(int n, int32_t block) { std::memcpy(FieldAddress(n), &block, sizeof block); }

// Whether a command that visits every record (a sequential search, a rebuild of the index, a
// pack of the memo file) can run: the record count in the header decides how many records a
// table has, so a damaged one can claim two thousand million records that each give a short
// read. That is slow by design, not a fault; such commands run only while the count is what
// the file's size can hold.
bool CountFitsFile() {
  TWorkArea* wa = SelectedArea();
  if (!wa) return true;
  uint64_t size = 0;
  if (wa->Table.File.Size(&size) != 0) return false;
  uint64_t room = size / std::max<uint16_t>(wa->Table.RecordSize, 1);
  return wa->Table.RecordCount <= static_cast<int64_t>(std::min<uint64_t>(room, 100000)) + 1;
}

class Session {
 public:
  Session(LibraryRun& run, Commands& commands) : run_(run), commands_(commands) {}

  // Everything the fixed part does, in natural order and then in each index order.
  void FixedWalk() {
    Walk();
    if (!indexed_) return;
    int tags = 0;
    run_.Step([&] { tags = MdxTagCount(); });
    for (int tag = 1; tag <= std::min(tags, 47); ++tag) {
      run_.Step([&] { Set_Order_To(tag); });
      Walk();
      int32_t count = 0;
      run_.Step([&] { count = RecCount(); });
      // The first records one after the other (each seek starts from the path the one before
      // left), then records spread over the whole table, so that the seeks meet every part of
      // the tree, and a few steps on from each, across the edges of its leaf and of the nodes
      // above.
      for (int32_t n = 1; n <= std::min(count, kRecordsInTurn); ++n) {
        run_.Step([&] { GO(n); });
        run_.Step([&] { FindCurrentKey(); });
      }
      int32_t stride = std::max(count / kRecordsFound, 1);
      for (int32_t n = 1, k = 0; n <= count && k < kRecordsFound; n += stride, ++k) {
        run_.Step([&] { GO(n); });
        run_.Step([&] { FindCurrentKey(); });
        for (int step : {1, 1, 1, -1, -1, -1, -1})
          run_.Step([&] {
            if (!dEOF() && !dBOF()) Skip(step);
          });
      }
    }
    run_.Step([&] { Set_Order_To(0); });
  }

  void Open(bool exclusive, bool indexed) {
    run_.Step([&] { Use(Folder().string() + "/t.dbf" + (exclusive ? " EXCLUSIVE" : "")); });
    exclusive_ = exclusive;
    if (!indexed) return;
    run_.Step([&] { indexed_ = SetIndexTo(""); });
  }

  void RunCommands() {
    for (int i = 0; i < kCommandLimit && !commands_.Done(); ++i) {
      uint8_t op = commands_.Byte();
      run_.Step([&] { Command(op); });
    }
  }

 private:
  void Walk() {
    run_.Step([] { GoTop(); });
    for (int k = 0; k < kWalkSteps; ++k) {
      bool end = true;
      run_.Step([&] {
        end = dEOF();
        if (end) return;
        ReadRecord();
        Skip(1);
      });
      if (end) break;
    }
    run_.Step([] { GoBottom(); });
    for (int k = 0; k < kWalkSteps; ++k) {
      bool begin = true;
      run_.Step([&] {
        begin = dBOF() || dEOF();
        if (begin) return;
        ReadRecord();
        Skip(-1);
      });
      if (begin) break;
    }
  }

  // Every field of the current record: its description, its stored bytes as Peek reads them
  // from the file, and a memo field's value as lines and as a BLOB.
  void ReadRecord() {
    int fields = FieldCount();
    int32_t recno = RecNo();
    for (int n = 1; n <= fields; ++n) {
      (void)Field(n);
      (void)FieldType(n);
      (void)FieldLen(n);
      (void)FieldDec(n);
      std::string stored;
      Peek(static_cast<uint8_t>(n), recno, stored);
      if (IsMemoField(n) && HasMemoFile()) ReadMemo(MemoBlockOf(n));
    }
  }

  void ReadMemo(int32_t block) {
    GetMemo(block, 0);
    if (CreateBlobDescriptor(true, block, 1) == 0) return;
    char buffer[257];
    for (int k = 0; k < kBlobReads; ++k)
      if (ReadBlobStream(buffer, static_cast<int32_t>(sizeof buffer)) <= 0) break;
    SeekBlobStream(-7, 2);
    ReadBlobStream(buffer, 16);
    DestroyBlobDescriptor();
  }

  void FindCurrentKey() {
    if (!IndexDriver.GetCurrentKeyProc) return;
    KeyTextProc key = IndexDriver.GetCurrentKeyProc();
    if (!key) return;
    std::string text = key();
    Find(text);
    if (text.size() > 1) Find(text.substr(0, text.size() / 2));
  }

  // A field of the field value record set from the commands.
  void SetField(int n) {
    const TFieldEntry* f = FieldEntry(n);
    if (!f) return;
    char* slot = FieldAddress(n);
    switch (f->type) {
      case 'C': {
        std::string text = commands_.Text(std::min<size_t>(commands_.Byte() % 24, f->length));
        slot[0] = static_cast<char>(text.size());
        std::memcpy(slot + 1, text.data(), text.size());
        break;
      }
      case 'D': {
        static const char* const kDates[] = {"03/15/24", "12/31/99", "02/29/00", "", "13/45/99"};
        std::string date = kDates[commands_.Byte() % std::size(kDates)];
        slot[0] = static_cast<char>(date.size());
        std::memcpy(slot + 1, date.data(), date.size());
        break;
      }
      case 'F':
      case 'N':
        if (f->decimals > 0) {
          double value = commands_.Signed() * 12.75;
          std::memcpy(slot, &value, sizeof value);
        } else {
          int32_t value = commands_.Signed() * 1001;
          std::memcpy(slot, &value, sizeof value);
        }
        break;
      case 'L':
        slot[0] = static_cast<char>(commands_.Byte() & 1);
        break;
      case 'M':
        SetMemoBlock(n, commands_.Signed());
        break;
      default:
        break;
    }
  }

  int FieldFromCommands() {
    int fields = FieldCount();
    return fields > 0 ? 1 + commands_.Byte() % fields : 0;
  }

  // The first memo field, 0 when the table has none or no memo file is open.
  int MemoField() {
    if (!HasMemoFile()) return 0;
    for (int n = 1; n <= FieldCount(); ++n)
      if (IsMemoField(n)) return n;
    return 0;
  }

  // Locks the current record (the append lock for an append), runs the write, unlocks.
  template <typename F>
  void Locked(bool append, F&& write) {
    if (!(append ? ALock() : RLock())) return;
    write();
    Unlock();
  }

  void Command(uint8_t op) {
    switch (op % 26) {
      case 0:
        GoTop();
        break;
      case 1:
        GoBottom();
        break;
      case 2:
        Skip(commands_.Signed());
        break;
      case 3:
        GO(commands_.Signed());
        break;
      case 4: {
        // Around the end of the table: the last record, the blank one past it, one further.
        int64_t n = int64_t{RecCount()} + commands_.Signed() % 3;
        GO(static_cast<int32_t>(std::clamp<int64_t>(n, INT32_MIN, INT32_MAX)));
        break;
      }
      case 5:
        ReadRecord();
        break;
      case 6:
        Set_Order_To(commands_.Byte() % 4);
        break;
      case 7:
        Find(commands_.Text(commands_.Byte() % 16));
        break;
      case 8:
        FindCurrentKey();
        break;
      case 9:
        if (commands_.Byte() & 1)
          SetExactOn();
        else
          SetExactOff();
        break;
      case 10: {
        int n = FieldFromCommands();
        Locked(false, [&] {
          SetField(n);
          Replace();
        });
        break;
      }
      case 11: {
        int n = FieldFromCommands();
        Locked(true, [&] {
          ClearRecord();
          SetField(n);
          Append();
        });
        break;
      }
      case 12:
        Locked(false, [] { DeleteRec(); });
        break;
      case 13:
        Locked(false, [] { RecallRec(); });
        break;
      case 14:
        SetIgnoreDel(commands_.Byte() & 1);
        break;
      case 15:
        if (int n = MemoField()) {
          std::string text = commands_.Text(commands_.Byte());
          int32_t block = AddMemo(text);
          Locked(false, [&] {
            SetMemoBlock(n, block);
            Replace();
          });
        }
        break;
      case 16:
        if (int n = MemoField()) {
          // An edit that reads the old value first, then writes it back changed.
          int32_t block = MemoBlockOf(n);
          if (!GetMemo(block, 0)) break;
          std::string line = commands_.Text(commands_.Byte() % 64);
          if (commands_.Byte() & 1) line += std::string(300, 'x');
          MemoLines.Lines.push_back(line);
          MemoLines.Ends.push_back(kHardLineEnd);
          int32_t now = EditMemo(block);
          Locked(false, [&] {
            SetMemoBlock(n, now);
            Replace();
          });
        }
        break;
      case 17:
        if (int n = MemoField()) {
          int32_t block = CreateBlobDescriptor(commands_.Byte() & 1, MemoBlockOf(n), 2);
          if (block == 0) break;
          std::string bytes = commands_.Text(commands_.Byte());
          WriteBlobStream(bytes.data(), static_cast<int32_t>(bytes.size()));
          SeekBlobStream(commands_.Signed(), commands_.Byte() % 3);
          WriteBlobStream(bytes.data(), static_cast<int32_t>(bytes.size() / 2));
          DestroyBlobDescriptor();
          Locked(false, [&] {
            SetMemoBlock(n, block);
            Replace();
          });
        }
        break;
      case 18:
        if (MemoField() && exclusive_ && CountFitsFile()) PackMemofile();
        break;
      case 19:
        if (indexed_ && CountFitsFile()) Reindex();
        break;
      case 20: {
        int n = FieldFromCommands();
        if (n > 0 && CountFitsFile())
          LocateValue(Field(n), commands_.Text(commands_.Byte() % 12), commands_.Byte() & 1, 1,
                      commands_.Byte() & 2);
        break;
      }
      case 21:
        SyncIndex(commands_.Byte() & 1);
        break;
      case 22: {
        int n = FieldFromCommands();
        Locked(false, [&] { Poke(commands_.Text(commands_.Byte() % 12), n, RecNo()); });
        break;
      }
      case 23:
        if (indexed_) {
          CloseIndexes();
          indexed_ = SetIndexTo("");
        }
        break;
      case 24:
        exclusive_ = ReopenDbf(commands_.Byte() & 1) == 0 ? !exclusive_ : exclusive_;
        break;
      case 25:
        if (MemoField()) ReadMemo(commands_.Signed());
        break;
    }
  }

  LibraryRun& run_;
  Commands& commands_;
  bool exclusive_ = false;
  bool indexed_ = false;
};

ErrorMode ModeOf(uint8_t options) {
  switch ((options >> 1) % 3) {
    case 0:
      return ErrorMode::kStored;
    case 1:
      return ErrorMode::kRoutine;
    default:
      return ErrorMode::kRaised;
  }
}

}  // namespace

void RunTableSession(const TableFiles& files, std::string_view commands) {
  FreshFolder();
  WriteFile("t.dbf", files.dbf);
  if (files.has_memo) {
    // The version byte chooses the memo file's extension: both names hold the input's file,
    // so a table whose version says the other layout still finds one.
    WriteFile("t.dbt", files.memo);
    WriteFile("t.fpt", files.memo);
  }
  if (files.has_index) WriteFile("t.mdx", files.mdx);
  Commands reader(commands);
  uint8_t options = reader.Byte();
  LibraryRun run(ModeOf(options));
  Session session(run, reader);
  session.Open((options & 1) == 0, files.has_index);
  session.FixedWalk();
  session.RunCommands();
}

void RunFilesInput(const uint8_t* data, size_t size, int kinds) {
  bool memo = kinds & kWithMemo, index = kinds & kWithIndex;
  auto parts = SplitParts(data, size, 2 + memo + index);
  TableFiles files;
  size_t next = 0;
  files.dbf = parts[next++];
  if (memo) files.memo = parts[next++], files.has_memo = true;
  if (index) files.mdx = parts[next++], files.has_index = true;
  RunTableSession(files, parts[next]);
}

}  // namespace kfuzz
