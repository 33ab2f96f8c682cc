// A primary dataset whose records live in memory: the test bed for the dataset framework and
// TTzPrimDataset. Its cursor is an index into the rows (0 before the first, rows.size() + 1
// after the last); every Tzi operation but the size and field-data ones is written to `calls`,
// so a test can see which operation each framework call ended in, with the record it acted on.
//
// Record data: NAME, a string of 10 characters (11 bytes), then QTY, an int32 (4 bytes), then
// the `extra_fields` (a presence byte and the native value each; they live only in the record
// buffers, the rows do not keep them), padded to `record_size` with a last byte 'Z' in every
// record read. A memo field reads and writes `memo_text` through its blob stream. Like the table engine, a failed fetch at either end leaves the
// cursor off the records, TziGotoBookmark of a number no row has goes after the last row and
// reports success, TziLocate and TziLookup leave the cursor on the record they found.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <exception>
#include <string>
#include <vector>

#include "tables/components/tzprimds.h"

namespace tz::testing {

using namespace platform::dataset;

struct Row {
  int32_t number;
  std::string name;
  int32_t qty;
  bool operator==(const Row&) const = default;
};

// The message of what `action` throws; empty when it throws nothing.
template <typename F>
std::string ErrorOf(F&& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// Rows 1..n named "r1".."rn" with qty 10, 20, ...
inline std::vector<Row> NumberedRows(int n) {
  std::vector<Row> rows;
  for (int i = 1; i <= n; ++i) rows.push_back({i, "r" + std::to_string(i), 10 * i});
  return rows;
}

class MemoryDataset : public TTzPrimDataset {
 public:
  static constexpr size_t kNameSize = 10;
  static constexpr size_t kQtyOffset = kNameSize + 1;

  explicit MemoryDataset(std::vector<Row> initial = {}) : rows(std::move(initial)) {}
  ~MemoryDataset() override { Close(); }

  std::vector<Row> rows;
  std::vector<std::string> calls;
  size_t cursor = 0;
  // Columns after QTY; see above.
  struct ExtraField {
    std::string name;
    TFieldType type;
    int size;
  };
  std::vector<ExtraField> extra_fields;
  // 0: just room for the fields.
  size_t record_size = 0;
  int32_t open_code = 0;
  std::string memo_text;
  // Codes the next fetches (TziGetRecord/Next/Prior) answer with instead of reading.
  std::deque<int32_t> scripted_fetch_codes;

  // A move of the cursor the dataset does not see (another row read, a direct command).
  void MoveCursorBehindTheBack(size_t position) { cursor = position; }
  std::string CurrentName() { return FieldByName("NAME").AsString(); }
  void ClearCalls() { calls.clear(); }

  using TTzPrimDataset::ActiveBuffer;
  using TTzPrimDataset::CalcBuffer;
  using TTzPrimDataset::GetRecord;
  using TTzPrimDataset::InternalAddRecord;
  using TTzPrimDataset::SetBookmarkFlag;
  using TTzPrimDataset::TempBuffer;

 protected:
  void InternalInitFieldDefs() override {
    FieldDefs().Clear();
    FieldDefs().Add("NAME", ftString, static_cast<int>(kNameSize));
    FieldDefs().Add("QTY", ftInteger);
    for (const ExtraField& extra : extra_fields) FieldDefs().Add(extra.name, extra.type, extra.size);
  }

  std::unique_ptr<TStream> CreateBlobStream(TField&, TBlobStreamMode mode) override {
    return std::make_unique<MemoStream>(*this, mode);
  }

  int32_t TziSetToBegin() override {
    Log("SetToBegin");
    cursor = 0;
    return 0;
  }
  int32_t TziSetToEnd() override {
    Log("SetToEnd");
    cursor = rows.size() + 1;
    return 0;
  }
  int32_t TziOpen() override {
    Log("Open");
    return open_code;
  }
  int32_t TziClose() override {
    Log("Close");
    return 0;
  }
  int32_t TziGetRecordCount() override { return static_cast<int32_t>(rows.size()); }
  int32_t TziForceReread() override {
    Log("ForceReread");
    return 0;
  }
  int32_t TziAppendRecord(char* buffer) override { return Add("AppendRecord", buffer); }
  int32_t TziInsertRecord(char* buffer) override { return Add("InsertRecord", buffer); }
  int32_t TziDeleteRecord() override {
    if (!OnRow()) return Log("DeleteRecord:off"), kTziEof;
    Log("DeleteRecord(" + std::to_string(rows[cursor - 1].number) + ")");
    rows.erase(rows.begin() + static_cast<long>(cursor - 1));
    if (cursor > rows.size()) cursor = rows.size() + 1;
    return 0;
  }
  int32_t TziInitRecord(char*) override {
    Log("InitRecord");
    return 0;
  }
  int32_t TziUpdateRecord(char* buffer, int32_t flag) override {
    if (!OnRow()) return Log("UpdateRecord:off"), cursor == 0 ? kTziBof : kTziEof;
    Row& row = rows[cursor - 1];
    Unpack(buffer, row);
    Log("UpdateRecord(" + std::to_string(row.number) + "," + row.name + "," +
        std::to_string(flag) + ")");
    return 0;
  }
  size_t TziGetRecordSize() override {
    extra_offsets_.clear();
    size_t offset = kQtyOffset + 4;
    for (const ExtraField& extra : extra_fields) {
      extra_offsets_.push_back(offset);
      auto probe = CreateFrameworkField(extra.type);
      probe->SetSize(extra.size);
      offset += 1 + static_cast<size_t>(probe->DataSize());
    }
    fields_end_ = offset;
    return std::max(record_size, fields_end_);
  }
  uint8_t TziGetKind() override { return kTziTableKind; }
  int32_t TziGetRecord(char* buffer, int32_t& number) override {
    return Fetch("GetRecord", 0, buffer, number);
  }
  int32_t TziGetNextRecord(char* buffer, int32_t& number) override {
    return Fetch("GetNextRecord", 1, buffer, number);
  }
  int32_t TziGetPriorRecord(char* buffer, int32_t& number) override {
    return Fetch("GetPriorRecord", -1, buffer, number);
  }
  int32_t TziGetFieldData(TField& field, char* buffer, bool& blank, void* target) override {
    if (field.FieldNo() > 2) {
      const char* slot = buffer + extra_offsets_[field.FieldNo() - 3];
      blank = slot[0] == 0;
      if (target) std::memcpy(target, slot + 1, field.DataSize());
    } else if (field.FieldNo() == 1) {
      blank = buffer[0] == 0;
      if (target) std::memcpy(target, buffer, kNameSize + 1);
    } else {
      blank = false;
      if (target) std::memcpy(target, buffer + kQtyOffset, 4);
    }
    return 0;
  }
  int32_t TziSetFieldData(TField& field, char* buffer, const void* value) override {
    if (field.FieldNo() > 2) {
      char* slot = buffer + extra_offsets_[field.FieldNo() - 3];
      slot[0] = value ? 1 : 0;
      if (value) std::memcpy(slot + 1, value, field.DataSize());
      return 0;
    }
    size_t offset = field.FieldNo() == 1 ? 0 : kQtyOffset;
    size_t size = field.FieldNo() == 1 ? kNameSize + 1 : 4;
    if (value) {
      std::memcpy(buffer + offset, value, size);
    } else {
      std::memset(buffer + offset, 0, size);
    }
    return 0;
  }
  int32_t TziSetToRecNo(int32_t number) override {
    Log("SetToRecNo(" + std::to_string(number) + ")");
    size_t index = IndexOf(number);
    if (index == 0) return kTziEof;
    cursor = index;
    return 0;
  }
  bool TziLocate(const std::string& fields, const TVariant& values,
                 TLocateOptions options) override {
    Log("Locate(" + fields + "=" + values.AsString() + ")");
    size_t index = Find(fields, values, options);
    cursor = index ? index : rows.size() + 1;
    return index != 0;
  }
  void TziLookup(const std::string& fields, const TVariant& values,
                 const std::string& result_fields, TVariant& result) override {
    Log("Lookup(" + fields + "=" + values.AsString() + ")");
    result = TVariant();
    size_t index = Find(fields, values, 0);
    if (!index) return;
    cursor = index;
    Pack(rows[index - 1], TempBuffer());
    result = ReadValuesFromBuffer(TempBuffer(), result_fields);
  }
  size_t TziGetBookmarkSize() override { return 4; }
  int32_t TziGotoBookmark(const char* bookmark) override {
    int32_t number;
    std::memcpy(&number, bookmark, 4);
    Log("GotoBookmark(" + std::to_string(number) + ")");
    size_t index = IndexOf(number);
    cursor = index ? index : rows.size() + 1;
    return 0;
  }
  int32_t TziSetToBookmark(char* bookmark) override {
    int32_t number = OnRow() ? rows[cursor - 1].number : 0;
    std::memcpy(bookmark, &number, 4);
    return 0;
  }
  int32_t TziCompareBookmarks(const char* a, const char* b, int& result) override {
    int32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    result = x < y ? -1 : x > y ? 1 : 0;
    return 0;
  }

 private:
  // Reads memo_text; a written one replaces it when the stream goes.
  class MemoStream : public TStream {
   public:
    MemoStream(MemoryDataset& ds, TBlobStreamMode mode)
        : ds_(ds), write_(mode != TBlobStreamMode::Read) {
      if (mode != TBlobStreamMode::Write) text_ = ds.memo_text;
    }
    ~MemoStream() override {
      if (write_) ds_.memo_text = text_;
    }
    size_t Read(void* buffer, size_t count) override {
      size_t n = std::min(count, text_.size() - std::min(position_, text_.size()));
      std::memcpy(buffer, text_.data() + position_, n);
      position_ += n;
      return n;
    }
    size_t Write(const void* buffer, size_t count) override {
      text_.replace(position_, count, static_cast<const char*>(buffer), count);
      position_ += count;
      return count;
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
      int64_t base = origin == TSeekOrigin::Beginning ? 0
                     : origin == TSeekOrigin::Current ? static_cast<int64_t>(position_)
                                                      : static_cast<int64_t>(text_.size());
      position_ = static_cast<size_t>(std::max<int64_t>(0, base + offset));
      return static_cast<int64_t>(position_);
    }

   private:
    MemoryDataset& ds_;
    bool write_;
    std::string text_;
    size_t position_ = 0;
  };

  int Log(const std::string& call) {
    calls.push_back(call);
    return 0;
  }
  bool OnRow() const { return cursor >= 1 && cursor <= rows.size(); }
  size_t IndexOf(int32_t number) const {
    for (size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].number == number) return i + 1;
    }
    return 0;
  }
  size_t Find(const std::string& field, const TVariant& value, TLocateOptions options) const {
    for (size_t i = 0; i < rows.size(); ++i) {
      std::string have = field == "QTY" ? std::to_string(rows[i].qty) : rows[i].name;
      std::string want = value.AsString();
      if (options & loPartialKey) have = have.substr(0, want.size());
      if (options & loCaseInsensitive) {
        std::transform(have.begin(), have.end(), have.begin(), ::toupper);
        std::transform(want.begin(), want.end(), want.begin(), ::toupper);
      }
      if (have == want) return i + 1;
    }
    return 0;
  }
  void Pack(const Row& row, char* buffer) {
    std::memset(buffer, 0, kNameSize + 1);
    std::memcpy(buffer, row.name.data(), std::min(row.name.size(), kNameSize));
    std::memcpy(buffer + kQtyOffset, &row.qty, 4);
    if (record_size > fields_end_) buffer[record_size - 1] = 'Z';
  }
  static void Unpack(const char* buffer, Row& row) {
    row.name.assign(buffer, strnlen(buffer, kNameSize));
    std::memcpy(&row.qty, buffer + kQtyOffset, 4);
  }
  int32_t Add(const std::string& name, char* buffer) {
    Row row{0, "", 0};
    for (const Row& r : rows) row.number = std::max(row.number, r.number);
    ++row.number;
    Unpack(buffer, row);
    rows.push_back(row);
    cursor = rows.size();
    Log(name + "(" + row.name + ")");
    return 0;
  }
  int32_t Fetch(const std::string& name, int step, char* buffer, int32_t& number) {
    if (!scripted_fetch_codes.empty()) {
      int32_t code = scripted_fetch_codes.front();
      scripted_fetch_codes.pop_front();
      Log(name + ":" + std::to_string(code));
      if (code == 0 && OnRow()) number = rows[cursor - 1].number;
      return code;
    }
    if (step > 0) {
      cursor = cursor >= rows.size() ? rows.size() + 1 : cursor + 1;
    } else if (step < 0) {
      cursor = cursor <= 1 ? 0 : cursor - 1;
    }
    if (cursor == 0) return Log(name + ":1402"), kTziBof;
    if (cursor > rows.size()) return Log(name + ":1403"), kTziEof;
    const Row& row = rows[cursor - 1];
    if (buffer) Pack(row, buffer);
    number = row.number;
    Log(name + "(" + std::to_string(number) + ")");
    return 0;
  }

  std::vector<size_t> extra_offsets_;
  size_t fields_end_ = kQtyOffset + 4;
};

}  // namespace tz::testing
