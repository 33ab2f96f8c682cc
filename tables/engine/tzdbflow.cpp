#include "tables/engine/tzdbflow.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <random>

#include "platform/text.h"
#include "tables/engine/timedate.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzutils.h"

namespace tz {

bool DbRecountOnOpen = false;

namespace {

constexpr uint8_t kVersions[] = {0x02, 0x03, 0x04, 0x83, 0x8B, 0x8C, 0xF5};
constexpr uint16_t kDbase2HeaderSize = 521;

uint16_t Word(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Long(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void PutWord(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLong(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool AcceptedVersion(uint8_t v) {
  return std::find(std::begin(kVersions), std::end(kVersions), v) != std::end(kVersions);
}

bool IsMemoType(char type) {
  return type == 'M' || type == 'B' || type == 'G' || type == 'P';
}

std::string TwoDigits(int v) {
  return std::string(1, static_cast<char>('0' + v / 10 % 10)) + static_cast<char>('0' + v % 10);
}

std::string DateText(int year, int month, int day) {
  std::string y = std::to_string(year);
  if (y.size() < 4) y.insert(0, 4 - y.size(), '0');
  return y + TwoDigits(month) + TwoDigits(day);
}

uint64_t RecordOffset(const TDbfTable& t, int32_t n) {
  return uint64_t{t.HeaderSize} + static_cast<uint64_t>(n - 1) * t.RecordSize;
}

// The most bytes of records one read-ahead takes.
constexpr size_t kReadAheadBytes = 64 * 1024;

void ResetTable(TDbfTable& t) {
  t.AheadAllowed = false;
  DropReadAhead(t);
  t.Ahead.clear();
  t.Ahead.shrink_to_fit();
  t.Scratch.clear();
  t.Scratch.shrink_to_fit();
  t.Outgoing.clear();
  t.Outgoing.shrink_to_fit();
  t.File.Close();
  t.Record.clear();
  t.Record.shrink_to_fit();
  t.Fields.clear();
  t.Unpacked.clear();
  t.HeaderState = kHeaderClosed;
}

// The error of an open that found no table: the file is closed and the buffers freed first.
bool FailOpen(TDbfTable& t, uint16_t code, const std::string& context) {
  ResetTable(t);
  SetDbError(code, context);
  return false;
}

// Decodes one field descriptor at `d`; false (with error 211 set) for a bad type or length.
bool DecodeDescriptor(TDbfTable& t, const uint8_t* d, size_t name_area, size_t type_at,
                      size_t length_at, size_t decimals_at, uint32_t& running_offset) {
  TFieldEntry f;
  size_t n = 0;
  while (n < std::min<size_t>(name_area, 11) && d[n] != 0) ++n;
  f.name = platform::AnsiUpper(std::string(reinterpret_cast<const char*>(d), n));
  f.type = static_cast<char>(d[type_at]);
  f.length = d[length_at];
  f.decimals = d[decimals_at];
  if (f.type == 'B' || f.type == 'G' || f.type == 'P') f.type = 'M';
  bool type_ok = std::string_view("CDFLMN").find(f.type) != std::string_view::npos;
  // A date is always YYYYMMDD; any other length would leave the typed slot out of step.
  if (!type_ok || (f.type == 'D' && f.length != 8)) {
    ResetTable(t);
    SetDbError(211, "Field: " + f.name + " [" + std::string(1, static_cast<char>(d[type_at])) +
                        "] in " + t.FileName + " is not a valid field type");
    return false;
  }
  f.offset = static_cast<uint16_t>(std::min<uint32_t>(running_offset, 0xFFFF));
  running_offset += f.length;
  t.Fields.push_back(std::move(f));
  return true;
}

// The record size must hold the deleted mark and every field.
bool CheckRecordSize(TDbfTable& t, uint32_t field_bytes) {
  if (t.RecordSize == 0 || t.RecordSize < 1 + field_bytes)
    return FailOpen(t, 210,
                    t.FileName +
                        " is not a dBASE database. (Record size is out of range) "
                        "[Use/OpenDbf]");
  return true;
}

bool ReadExact(TDbfTable& t, uint64_t offset, void* buffer, size_t count) {
  size_t got = 0;
  int rc = t.File.ReadAt(offset, buffer, count, &got);
  if (rc == 0 && got < count) rc = 100;
  if (rc != 0)
    return FailOpen(t, static_cast<uint16_t>(rc), "Error reading " + t.FileName + " [Use/OpenDbf]");
  return true;
}

bool OpenDbase2(TDbfTable& t, uint64_t file_size) {
  const uint8_t* p = t.Prolog.data();
  t.RecordCount = Word(p + 1);
  t.LastUpdate = DateText(p[5] + 1900, p[3], p[4]);
  t.RecordSize = Word(p + 6);
  t.HeaderSize = kDbase2HeaderSize;
  if (file_size < kDbase2HeaderSize)
    return FailOpen(t, 210,
                    t.FileName +
                        " is not a dBASE database.(Header is less than 521 bytes) "
                        "[Use/OpenDBF]");
  t.HasMemo = false;
  uint8_t area[512];
  if (!ReadExact(t, 8, area, sizeof area)) return false;
  uint32_t offset = 1;
  for (int i = 0; i < 32 && area[i * 16] != 0x0D; ++i)
    if (!DecodeDescriptor(t, area + i * 16, 11, 11, 12, 15, offset)) return false;
  if (t.Fields.empty())
    return FailOpen(
        t, 210,
        TableFileName(t.FileName) +
            " is not a dBASE database.(Number of fields is out of range) [Use/OpenDbf]");
  if (!CheckRecordSize(t, offset - 1)) return false;
  t.FieldCount = static_cast<uint8_t>(t.Fields.size());
  t.Record.assign(t.RecordSize, ' ');
  t.HeaderState = kHeaderOpen;
  return true;
}

// Puts today's date and the record count into the prolog and LastUpdate. Answers where they
// end in the prolog: they take bytes 1 to 5 of a version-02 table, else 1 to 7.
size_t StampProlog(TDbfTable& t) {
  uint16_t year, month, day, dow;
  DayOfWeekOf(year, month, day, dow);
  uint8_t* p = t.Prolog.data();
  uint32_t count = static_cast<uint32_t>(std::max(t.RecordCount, 0));
  t.LastUpdate = DateText(year, month, day);
  if (IsDbase2Table(t)) {
    PutWord(p + 1, static_cast<uint16_t>(count));
    p[3] = static_cast<uint8_t>(month);
    p[4] = static_cast<uint8_t>(day);
    p[5] = static_cast<uint8_t>(year - 1900);
    return 6;
  }
  p[1] = static_cast<uint8_t>(year - 1900);
  p[2] = static_cast<uint8_t>(month);
  p[3] = static_cast<uint8_t>(day);
  PutLong(p + 4, count);
  return 8;
}

int WriteHeaderBytes(TDbfTable& t) {
  uint8_t* p = t.Prolog.data();
  if (IsDbase2Table(t)) {
    StampProlog(t);
    return t.File.WriteAt(0, p, 8);
  }
  uint8_t others[12];
  size_t got = 0;
  int rc = t.File.ReadAt(16, others, sizeof others, &got);
  if (rc != 0) return rc;
  std::memcpy(p + 16, others, got);
  StampProlog(t);
  return t.File.WriteAt(0, p, 32);
}

// The prolog and, after appends, the end mark; 0 or the I/O code.
int FinishHeader(TDbfTable& t) {
  if (t.HeaderState != kHeaderRewritten && t.HeaderState != kHeaderAppended) return 0;
  int rc = WriteHeaderBytes(t);
  if (rc == 0 && t.HeaderState == kHeaderAppended) {
    // Only at the real end of the data: a longer file holds records of another program.
    uint64_t end = RecordOffset(t, t.RecordCount + 1);
    uint64_t size = 0;
    rc = t.File.Size(&size);
    const char mark = 0x1A;
    if (rc == 0 && size <= end + 1) rc = t.File.WriteAt(end, &mark, 1);
  }
  return rc;
}

bool RecordNumberInRange(TDbfTable& t, int32_t n, int32_t last, const char* tag) {
  if (n >= 1 && n <= last) return true;
  SetDbError(
      212, "Invalid record number = " + std::to_string(n) + " (" + t.FileName + ")  [" + tag + "]");
  return false;
}

}  // namespace

bool OpenDbfFile(TDbfTable& t) {
  t.FileName = DefaultExtension(t.FileName, "DBF");
  t.OpenMode = FileMode;
  if (int rc = t.File.Open(t.FileName, t.OpenMode); rc != 0) {
    SetDbError(static_cast<uint16_t>(rc), "Failure to open " + t.FileName + " [USE/OpenDbf]");
    return false;
  }
  std::string key = ShortPath(t.FileName);
  if (t.Oem) key = AnsiToOemStr(key);
  key.erase(std::remove_if(key.begin(), key.end(),
                           [](char c) { return c == '\\' || c == '/' || c == ':'; }),
            key.end());
  t.FileKey = key;
  AllowReadAhead(t);
  uint64_t size = 0;
  if (int rc = t.File.Size(&size); rc != 0)
    return FailOpen(t, static_cast<uint16_t>(rc),
                    "Failure to open " + t.FileName + " [USE/OpenDbf]");
  if (!OpenDbf(t, size)) return false;
  // The file decides, not the header: a header that counts fewer records than the file holds
  // is stale (its writer died before it rewrote it), one that counts more names records that
  // are not there (the file was cut short). The table is the whole records the file holds, so
  // an append goes right after the last of them; a last record cut short is not one of them.
  uint64_t whole = size < t.HeaderSize ? 0 : (size - t.HeaderSize) / t.RecordSize;
  t.RecordCount = static_cast<int32_t>(std::min<uint64_t>(whole, MaxRecordCount(t)));
  t.CurrentRecord = t.RecordCount > 0 ? 1 : 0;
  t.OnBlankRecord = t.RecordCount <= 0;
  t.AtEnd = t.AtBeginning = t.RecordCount <= 0;
  return true;
}

bool OpenDbf(TDbfTable& t, uint64_t file_size) {
  t.Fields.clear();
  size_t got = 0;
  int rc = t.File.ReadAt(0, t.Prolog.data(), 32, &got);
  if (rc != 0)
    return FailOpen(t, static_cast<uint16_t>(rc), "Error reading " + t.FileName + " [Use/OpenDbf]");
  if (got < 32)
    return FailOpen(t, 210,
                    t.FileName +
                        " is not a dBASE database. (Prolog is less than 32 bytes) "
                        "[USE/OpenDBF]");
  if (!AcceptedVersion(t.Version()))
    return FailOpen(t, 210,
                    t.FileName +
                        " is not a dBASE database.(Invalid version byte)+ "
                        "[USE/OpenDBF]");
  if (IsDbase2Table(t)) return OpenDbase2(t, file_size);

  const uint8_t* p = t.Prolog.data();
  t.HasMemo = (t.Version() & 0x80) != 0;
  int64_t short_area = int64_t{Word(p + 8)} - 33;
  bool short_layout = short_area > 0 && short_area % 32 == 0;
  t.WideDescriptors = (t.Version() == 0x04 || t.Version() == 0x8C) && !short_layout;
  bool wide = t.WideDescriptors;
  int64_t area = int64_t{Word(p + 8)} - 32 - (wide ? 36 : 0);
  int64_t count = area / (wide ? 48 : 32);
  if (count <= 0 || count >= 256)
    return FailOpen(
        t, 210,
        TableFileName(t.FileName) +
            " is not a dBASE database. (Number of fields is out of range) [Use/OpenDbf]");
  t.LastUpdate = DateText(p[1] + 1900, p[2], p[3]);
  t.RecordCount = static_cast<int32_t>(std::min<int64_t>(Long(p + 4), MaxRecordCount(t)));
  t.HeaderSize = Word(p + 8);
  t.RecordSize = Word(p + 10);
  size_t descriptor = wide ? 48 : 32;
  std::vector<uint8_t> descriptors(static_cast<size_t>(count) * descriptor);
  if (!ReadExact(t, wide ? 68 : 32, descriptors.data(), descriptors.size())) return false;
  uint32_t offset = 1;
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t* d = descriptors.data() + i * descriptor;
    bool ok = wide ? DecodeDescriptor(t, d, 32, 32, 33, 34, offset)
                   : DecodeDescriptor(t, d, 11, 11, 16, 17, offset);
    if (!ok) return false;
  }
  if (!CheckRecordSize(t, offset - 1)) return false;
  t.FieldCount = static_cast<uint8_t>(count);
  t.Record.assign(t.RecordSize, ' ');
  t.HeaderState = kHeaderOpen;
  return true;
}

void AllowReadAhead(TDbfTable& t) {
  // Share modes 10h (deny all) and 20h (deny write): nobody else can change the records.
  unsigned share = t.OpenMode & 0x70u;
  t.AheadAllowed = share == 0x10 || share == 0x20;
  DropReadAhead(t);
}

void DropReadAhead(TDbfTable& t) {
  t.AheadFirst = t.AheadCount = 0;
  t.LastRead = 0;
  t.KnownSize = 0;
}

namespace {

// Record n, as stored, into `into` (RecordSize bytes): from the read-ahead when it holds it,
// else from the file, filling the read-ahead first when n follows the record read last.
int ReadStoredRecord(TDbfTable& t, int32_t n, char* into) {
  if (n >= t.AheadFirst && n - t.AheadFirst < t.AheadCount) {
    std::memcpy(into, t.Ahead.data() + size_t(n - t.AheadFirst) * t.RecordSize, t.RecordSize);
    return 0;
  }
  size_t got = 0;
  // Two records in a row make a walk; a single read (the first record at the open, a GO)
  // reads only its record.
  if (t.AheadAllowed && t.LastRead > 0 && n == t.LastRead + 1) {
    size_t records = std::clamp<size_t>(kReadAheadBytes / t.RecordSize, 1,
                                        static_cast<size_t>(t.RecordCount - n) + 1);
    t.Ahead.resize(records * t.RecordSize);
    t.AheadFirst = t.AheadCount = 0;
    if (int rc = t.File.ReadAt(RecordOffset(t, n), t.Ahead.data(), t.Ahead.size(), &got); rc != 0)
      return rc;
    t.AheadFirst = n;
    t.AheadCount = static_cast<int32_t>(got / t.RecordSize);
    if (t.AheadCount == 0) return 213;
    std::memcpy(into, t.Ahead.data(), t.RecordSize);
    return 0;
  }
  int rc = t.File.ReadAt(RecordOffset(t, n), into, t.RecordSize, &got);
  return rc == 0 && got < t.RecordSize ? 213 : rc;
}

}  // namespace

bool GetDbfRecord(TDbfTable& t, int32_t n) {
  if (!RecordNumberInRange(t, n, t.RecordCount, "GetDbfRecord")) return false;
  t.AtEnd = t.AtBeginning = false;
  t.Scratch.resize(t.RecordSize);
  if (int rc = ReadStoredRecord(t, n, t.Scratch.data()); rc != 0) {
    SetDbError(static_cast<uint16_t>(rc), "File:  " + t.FileName + "  [GetDbfRecord]");
    return false;
  }
  t.LastRead = n;
  TranslateBuffer(false, t.Oem, t.FromFile, t.Scratch.size(), t.RecordSize, t.Scratch.data());
  t.Record.swap(t.Scratch);
  t.CurrentRecord = n;
  t.OnBlankRecord = false;
  return true;
}

bool PutDbfRecord(TDbfTable& t, int32_t n) {
  if (!RecordNumberInRange(t, n, t.RecordCount + 1, "Replace/Append/PutDbfRecord")) return false;
  bool append = n == t.RecordCount + 1;
  if (append && t.RecordCount >= MaxRecordCount(t)) {
    SetDbError(212, "Database \"" + t.FileName + "\" holds " + std::to_string(MaxRecordCount(t)) +
                        " records, the most a " + (IsDbase2Table(t) ? "dBASE II table" : "table") +
                        " can hold [Replace/Append/PutDbfRecord]");
    return false;
  }
  const uint64_t known_size = t.KnownSize;  // the drop forgets it
  DropReadAhead(t);
  std::vector<char>& scratch = t.Outgoing;
  scratch.assign(t.Record.begin(), t.Record.end());
  TranslateBuffer(true, t.Oem, t.ToFile, scratch.size(), t.RecordSize, scratch.data());
  // An appended record takes the end mark with it in the same write, so the file ends as a
  // close would leave it also when the program dies before it closes.
  if (append) scratch.push_back(0x1A);
  uint64_t offset = RecordOffset(t, n);
  uint64_t old_size = known_size;
  int rc = append && old_size == 0 ? t.File.Size(&old_size) : 0;
  // What the appended record is written over (the end mark): a write that fails part way, as
  // on a full disk, has changed those bytes, and they are put back with the file's old size.
  std::string covered;
  if (append && rc == 0 && old_size > offset) {
    covered.resize(static_cast<size_t>(std::min<uint64_t>(old_size - offset, scratch.size())));
    size_t got = 0;
    if (t.File.ReadAt(offset, covered.data(), covered.size(), &got) != 0) got = 0;
    covered.resize(got);
  }
  if (rc == 0) rc = t.File.WriteAt(offset, scratch.data(), scratch.size());
  if (rc != 0) {
    if (append) {
      t.File.Truncate(old_size);  // no partial record stays behind
      if (!covered.empty()) t.File.WriteAt(offset, covered.data(), covered.size());
    }
    SetDbError(static_cast<uint16_t>(rc),
               "File:  " + t.FileName + " [Replace/Append/PutDbfRecord]");
    return false;
  }
  if (append) {
    // Nobody else may write the file: its size is known from here to the next write.
    if (t.AheadAllowed) t.KnownSize = std::max(old_size, offset + scratch.size());
    t.RecordCount = n;
    t.CurrentRecord = n;
    t.OnBlankRecord = false;
    t.HeaderState = kHeaderAppended;
  } else if (t.HeaderState != kHeaderAppended) {
    t.HeaderState = kHeaderRewritten;
  }
  return true;
}

bool AppendDbfRecord(TDbfTable& t) {
  return PutDbfRecord(t, t.RecordCount + 1);
}

bool WriteDeleteFlag(TDbfTable& t, int32_t n) {
  // Only existing records: a mark alone past the end would leave a partial record.
  if (!RecordNumberInRange(t, n, t.RecordCount, "DeleteRec/RecallRec")) return false;
  DropReadAhead(t);
  if (int rc = t.File.WriteAt(RecordOffset(t, n), t.Record.data(), 1); rc != 0) {
    SetDbError(static_cast<uint16_t>(rc), "File:  " + t.FileName + " [DeleteRec/RecallRec]");
    return false;
  }
  if (t.HeaderState != kHeaderAppended) t.HeaderState = kHeaderRewritten;
  return true;
}

bool WriteRecordCount(TDbfTable& t) {
  size_t end = StampProlog(t);
  if (int rc = t.File.WriteAt(1, t.Prolog.data() + 1, end - 1); rc != 0) {
    SetDbError(static_cast<uint16_t>(rc),
               "File:  " + t.FileName + " [Replace/Append/PutDbfRecord]");
    return false;
  }
  return true;
}

bool WriteDbfHeader(TDbfTable& t) {
  if (int rc = WriteHeaderBytes(t); rc != 0) {
    DbLastError = static_cast<uint16_t>(rc);
    if (DbReportErrors) ReportError();
    return false;
  }
  return true;
}

bool CommitDbfHeader(TDbfTable& t) {
  DbLastError = 0;
  int rc = FinishHeader(t);
  if (rc != 0) {
    DbLastError = static_cast<uint16_t>(rc);
    if (DbReportErrors) ReportError();
  }
  t.HeaderState = kHeaderOpen;
  if (rc == 0) return FlushFile(t.File);
  return false;
}

bool CloseDbf(TDbfTable& t) {
  DbLastError = 0;
  int rc = t.File.IsOpen() ? FinishHeader(t) : 0;
  int close_rc = t.File.Close();
  if (rc == 0) rc = close_rc;
  ResetTable(t);
  if (rc != 0) {
    SetDbError(static_cast<uint16_t>(rc),
               "File:  " + t.FileName + " [CloseDbf(" + t.FileName + ")]");
    return false;
  }
  return true;
}

bool FlushFile(platform::File& file) {
  if (int rc = file.Flush(); rc != 0) {
    SetDbError(static_cast<uint16_t>(rc), "Unable to flush file [FlushFile]");
    return false;
  }
  return true;
}

namespace {

// The header of a new table from its field definitions, and the table record of it (named
// `path` with the default extension); the memo version a memo field makes it. False with 211
// "Invalid dBASE field definition [CreateDBF]" for a bad definition or count.
bool NewTableHeader(TDbfTable& t, const std::string& path, const std::vector<TFieldEntry>& fields,
                    std::vector<uint8_t>& header, uint8_t& memo_version) {
  t = TDbfTable();
  const std::string bad = "Invalid dBASE field definition [CreateDBF]";
  if (fields.empty() || fields.size() > 255) {
    SetDbError(211, bad);
    return false;
  }
  header.assign(32 * fields.size() + 33, 0);
  uint32_t record_size = 1;
  for (size_t i = 0; i < fields.size(); ++i) {
    TFieldEntry f = fields[i];
    f.name = platform::AnsiUpper(AllTrim(f.name)).substr(0, 10);
    f.type = CharUpperChar(f.type);
    switch (f.type) {
      case 'C':
      case 'F':
      case 'N':
        if (f.length == 0) f.name.clear();
        break;
      case 'D':
        f.length = 8;
        break;
      case 'L':
        f.length = 1;
        break;
      case 'M':
      case 'B':
      case 'G':
      case 'P':
        f.length = 10;
        break;
      default:
        f.name.clear();
        break;
    }
    if (f.name.empty() || record_size + f.length > 0xFFFF) {
      SetDbError(211, bad);
      return false;
    }
    if (f.type != 'N' && f.type != 'F') f.decimals = 0;
    if (IsMemoType(f.type)) t.HasMemo = true;
    uint8_t* d = header.data() + 32 * (i + 1);
    std::memcpy(d, f.name.data(), f.name.size());
    d[11] = static_cast<uint8_t>(f.type);
    d[16] = f.length;
    d[17] = f.decimals;
    f.offset = static_cast<uint16_t>(record_size);
    record_size += f.length;
    t.Fields.push_back(std::move(f));
  }
  memo_version = DbDefaultTableVersion;
  if (memo_version != 0x83 && memo_version != 0x8B && memo_version != 0x8C && memo_version != 0xF5)
    memo_version = 0x8B;
  t.FieldCount = static_cast<uint8_t>(fields.size());
  t.HeaderSize = static_cast<uint16_t>(header.size());
  t.RecordSize = static_cast<uint16_t>(record_size);
  header.back() = 0x0D;
  header[0] = t.HasMemo ? memo_version : 0x03;
  PutWord(header.data() + 8, t.HeaderSize);
  PutWord(header.data() + 10, t.RecordSize);
  std::copy(header.begin(), header.begin() + 32, t.Prolog.begin());
  t.FileName = AllTrim(DefaultExtension(path, "DBF"));
  return true;
}

// Writes the new table of NewTableHeader into `file` (created, or emptied, in the exclusive
// share mode; 32 when another open has it) with today's date and the end mark, and closes it.
bool WriteNewTable(TDbfTable& t, const std::string& file, const std::vector<uint8_t>& header) {
  int rc = t.File.Create(file, platform::kModeReadWriteExclusive);
  if (rc == 0) rc = t.File.WriteAt(0, header.data(), header.size());
  if (rc != 0) {
    ResetTable(t);
    SetDbError(static_cast<uint16_t>(rc), "Error writing " + file + ". [CreateDbf]");
    return false;
  }
  t.HeaderState = kHeaderAppended;
  t.RecordCount = 0;
  uint16_t year, month, day, dow;
  DayOfWeekOf(year, month, day, dow);
  t.LastUpdate = DateText(year, month, day);
  return CloseDbf(t);
}

// The empty memo file of the table `table_path` written as `memo`, in the layout of the
// version's memo type (the dBASE IV header names the table).
bool WriteEmptyMemofile(const std::string& memo, const std::string& table_path, uint8_t version,
                        uint16_t block_size, const std::string& caller_tag) {
  if (!AcceptedVersion(version)) version = DbDefaultTableVersion;
  if (block_size == 0) block_size = 512;
  std::vector<uint8_t> bytes;
  if (version == 0x83) {
    bytes.assign(513, 0);
    bytes[0] = 1;
    bytes[512] = 0x1A;
  } else if (version == 0xF5) {
    bytes.assign(512, 0);
    PutLong(bytes.data(), SwapLong(511u / block_size + 1));
    PutWord(bytes.data() + 6, SwapWord(block_size));
  } else {
    bytes.assign(24, 0);
    PutLong(bytes.data(), 1);
    std::string base = PathPart(table_path).substr(0, 8);
    std::memcpy(bytes.data() + 8, base.data(), base.size());
    bytes[18] = 0x02;
    bytes[19] = 0x01;
    PutWord(bytes.data() + 20, block_size);
  }
  platform::File file;
  int rc = file.Create(memo, platform::kModeReadWriteExclusive);
  if (rc == 0) rc = file.WriteAt(0, bytes.data(), bytes.size());
  if (rc != 0) {
    SetDbError(static_cast<uint16_t>(rc),
               "Cannot create memo file " + memo + " [" + caller_tag + "]");
    return false;
  }
  if (int close_rc = file.Close(); close_rc != 0) {
    SetDbError(static_cast<uint16_t>(close_rc), memo + " [" + caller_tag + "]");
    return false;
  }
  return true;
}

// A name beside `path` that no file has: a hidden name made of the path's own name and a
// random number.
std::string TemporaryNameBeside(const std::string& path) {
  static std::mt19937_64 random{std::random_device{}()};
  std::string dir, name, ext;
  FSplit(path, dir, name, ext);
  while (true) {
    char number[17];
    auto end = std::to_chars(number, number + 16, random(), 16).ptr;
    std::string candidate = dir + "." + name + ext + "." + std::string(number, end) + "~";
    if (!platform::FileExists(candidate)) return candidate;
  }
}

}  // namespace

bool CreateDBF(TDbfTable& t, const std::string& path, const std::vector<TFieldEntry>& fields) {
  std::vector<uint8_t> header;
  uint8_t memo_version = 0;
  if (!NewTableHeader(t, path, fields, header, memo_version)) return false;
  if (!WriteNewTable(t, t.FileName, header)) return false;
  if (t.HasMemo)
    return CreateEmptyMemofile(t.FileName, memo_version, DbDefaultMemoBlockSize, "CreateDbf()");
  return true;
}

bool CreateMissingDBF(TDbfTable& t, const std::string& path, const std::vector<TFieldEntry>& fields,
                      bool* made) {
  if (made) *made = false;
  std::vector<uint8_t> header;
  uint8_t memo_version = 0;
  if (!NewTableHeader(t, path, fields, header, memo_version)) return false;
  const std::string name = t.FileName;
  const bool has_memo = t.HasMemo;
  const std::string memo = has_memo ? ForceExtension(name, MemoExtension(memo_version)) : "";
  // The files as they are being written: gone again however the creation ends.
  struct Written {
    std::string table = "", memo = "";
    ~Written() {
      if (!table.empty()) platform::RemoveFile(table);
      if (!memo.empty()) platform::RemoveFile(memo);
    }
  } written;
  written.table = TemporaryNameBeside(name);
  if (!WriteNewTable(t, written.table, header)) return false;
  if (has_memo) {
    written.memo = TemporaryNameBeside(memo);
    if (!WriteEmptyMemofile(written.memo, name, memo_version, DbDefaultMemoBlockSize, "CreateDbf()"))
      return false;
  }
  // A table another program made meanwhile stays as it is, its memo file too.
  if (platform::FileExists(name)) return true;
  if (has_memo) {
    if (int rc = platform::MoveFile(written.memo, memo, true); rc != 0) {
      SetDbError(static_cast<uint16_t>(rc), "Cannot create memo file " + memo + " [CreateDbf()]");
      return false;
    }
    written.memo.clear();
  }
  int rc = platform::MoveFile(written.table, name, false);
  if (rc == platform::kErrFileExists) return true;
  if (rc != 0) {
    SetDbError(static_cast<uint16_t>(rc), "Error writing " + name + ". [CreateDbf]");
    return false;
  }
  written.table.clear();
  if (made) *made = true;
  return true;
}

std::string MemoExtension(uint8_t version) {
  if (!AcceptedVersion(version)) version = DbDefaultTableVersion;
  return version == 0xF5 ? "FPT" : "DBT";
}

bool CreateEmptyMemofile(const std::string& table_path, uint8_t version, uint16_t block_size,
                         const std::string& caller_tag) {
  return WriteEmptyMemofile(ForceExtension(table_path, MemoExtension(version)), table_path,
                            version, block_size, caller_tag);
}

void TranslateBuffer(bool to_file, bool oem, TranslateProc proc, size_t byte_count,
                     uint16_t record_size, char* buffer) {
  if ((!oem && !proc) || record_size < 2) return;
  for (size_t r = 0; r + record_size <= byte_count; r += record_size) {
    char* data = buffer + r + 1;
    size_t n = record_size - 1u;
    if (to_file) {
      if (oem) platform::AnsiToOemBuf(data, n);
      if (proc) proc(data, n);
    } else {
      if (proc) proc(data, n);
      if (oem) platform::OemToAnsiBuf(data, n);
    }
  }
}

bool IsDbase2Table(const TDbfTable& t) {
  return t.Version() == 0x02;
}

int32_t MaxRecordCount(const TDbfTable& t) {
  return IsDbase2Table(t) ? 65535 : 0x7FFFFFFE;
}

bool Uses48ByteDescriptors(const TDbfTable& t) {
  return t.Version() == 0x04 || t.Version() == 0x8C;
}

uint32_t SwapLong(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

uint16_t SwapWord(uint16_t v) {
  return static_cast<uint16_t>((v >> 8) | (v << 8));
}

std::string TableFileName(const std::string& path) {
  std::string dir, name, ext;
  FSplit(path, dir, name, ext);
  return name + ext;
}

std::string PathPart(const std::string& path) {
  std::string dir, name, ext;
  FSplit(path, dir, name, ext);
  return name;
}

}  // namespace tz
