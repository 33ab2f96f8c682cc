#include "tables/components/ucommon.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/dataset/convert.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/timedate.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzdbflow.h"
#include "tables/engine/tzutils.h"

namespace tz {

// --- Field definition lines ---------------------------------------------------------------

bool ParseFieldDefinition(std::string_view line, TFieldDefinition& def) {
  if (std::count(line.begin(), line.end(), ',') != 3) return false;
  size_t first = line.find(',');
  size_t second = line.find(',', first + 1);
  size_t third = line.find(',', second + 1);
  std::string_view type = line.substr(first + 1, second - first - 1);
  std::string_view length = line.substr(second + 1, third - second - 1);
  std::string_view decimals = line.substr(third + 1, 255);
  TFieldDefinition parsed;
  parsed.Name = AllTrim(line.substr(0, first)).substr(0, 10);
  std::string type_item = AllTrim(type);
  parsed.Type = type_item.empty() ? '\0' : type_item.front();
  parsed.Length = StrToIntSigned(AllTrim(length));
  parsed.Decimals = StrToIntSigned(AllTrim(decimals));
  def = parsed;
  return true;
}

TFieldDefinition CorrectFieldDefinition(const TFieldDefinition& line) {
  TFieldDefinition d = line;
  if (d.Type == 'X') return d;
  if (d.Type == 'B' || d.Type == 'G' || d.Type == 'P') d.Type = 'M';
  if (std::string_view("CDFLMN").find(d.Type) == std::string_view::npos || d.Type == '\0')
    d.Type = 'C';
  // The header keeps length and decimals in one byte each: a value beyond it must be corrected
  // here, where it is still whole, or it would turn into its low 8 bits.
  d.Length = std::clamp(d.Length, 0, 255);
  d.Decimals = std::clamp(d.Decimals, 0, 255);
  if ((d.Type == 'C' || d.Type == 'F' || d.Type == 'N') && d.Length < 1) d.Length = 1;
  if (d.Type == 'N') {
    d.Length = std::min(d.Length, 20);
    d.Decimals = std::min(d.Decimals, 18);
    if (d.Decimals != 0 && d.Length - d.Decimals < 2) d.Decimals = std::max(0, d.Length - 2);
  }
  if (d.Type == 'C' && d.Length > 254) {
    d.Length = 254;
    d.Decimals = 0;
  }
  return d;
}

namespace {

std::string TypeText(char type) {
  return type == '\0' ? std::string() : std::string(1, type);
}

}  // namespace

std::string FieldCorrectionText(const std::string& component, const TFieldDefinition& line,
                                const TFieldDefinition& corrected) {
  return "Invalid field definition for " + component + ": " + line.Name + "," +
         TypeText(line.Type) + "," + std::to_string(line.Length) + "," +
         std::to_string(line.Decimals) + ". Will use corrected definition: " + line.Name + "," +
         TypeText(corrected.Type) + "," + std::to_string(corrected.Length) + "," +
         std::to_string(corrected.Decimals);
}

TFieldDefinition CheckFieldDefinition(const std::string& component, const TFieldDefinition& line) {
  TFieldDefinition corrected = CorrectFieldDefinition(line);
  if (corrected != line) ShowUnitMessage(FieldCorrectionText(component, line, corrected));
  return corrected;
}

void ShowUnitMessage(const std::string& text) {
  platform::ShowMessage(OemToAnsiStr(text));
}

bool CreateTableFromFieldLines(const std::string& component, const std::string& path,
                               const std::vector<std::string>* lines, bool memo_as_number) {
  if (lines == nullptr) {
    ShowUnitMessage("DbfFieldList is Nil trying to create a database");
    return false;
  }
  if (lines->empty()) {
    ShowUnitMessage("FieldList.Count is <= 0 trying to create a database");
    return false;
  }
  std::vector<TFieldEntry> fields;
  fields.reserve(lines->size());
  for (const std::string& line : *lines) {
    TFieldDefinition read;
    if (!ParseFieldDefinition(line, read)) return false;
    TFieldDefinition def = CheckFieldDefinition(component, read);
    if (def.Type == 'X') continue;
    if (memo_as_number && def.Type == 'M') {
      def.Type = 'N';
      def.Length = 10;
      def.Decimals = 0;
    }
    TFieldEntry entry;
    entry.name = def.Name;
    entry.type = def.Type;
    entry.length = static_cast<uint8_t>(def.Length);
    entry.decimals = static_cast<uint8_t>(def.Decimals);
    fields.push_back(std::move(entry));
  }
  bool reporting = SetErrorReporting(false);
  TDbfTable table;
  CreateMissingDBF(table, path, fields);
  SetErrorReporting(reporting);
  return DbLastError == 0;
}

std::string FieldDefinitionLine(const TFieldDefinition& def) {
  return platform::AnsiLower(def.Name).substr(0, 10) + ", " + TypeText(def.Type) + ", " +
         std::to_string(def.Length) + ", " + std::to_string(def.Decimals);
}

// --- The descriptor list ------------------------------------------------------------------

TDbfFieldProps::TDbfFieldProps(bool copy_buffer) {
  TWorkArea* area = SelectedArea();
  if (area == nullptr) return;
  size_t offset = 1;
  for (const TFieldEntry& f : area->Table.Fields) {
    TDTField field;
    field.Name = f.name;
    field.Type = f.type;
    field.Length = f.length;
    field.Decimals = f.decimals;
    field.Offset = offset;
    offset += FieldSlotSize(f);
    fields_.push_back(std::move(field));
  }
  if (copy_buffer) {
    copy_.assign(area->FieldValues, area->FieldValues + area->FieldValuesLen);
    buffer_ = copy_.data();
  } else {
    buffer_ = area->FieldValues;
  }
}

char* TDbfFieldProps::FieldAddress(int n) const {
  if (buffer_ == nullptr || n < 0 || n > Count()) return nullptr;
  return buffer_ + (n == 0 ? 0 : Offset(n));
}

// --- The dataset record buffer ------------------------------------------------------------

bool IsWideInteger(const TDTField& f) {
  return (f.Type == 'N' || f.Type == 'F') && f.Decimals == 0 && f.Length >= 10;
}

size_t DatasetSlotSize(const TDTField& f) {
  if (f.Name.empty()) return 0;
  switch (f.Type) {
    case 'C':
      return size_t{f.Length} + 1;
    case 'D':
      return 8;
    case 'F':
    case 'N':
      return f.Decimals > 0 || IsWideInteger(f) ? 8 : 4;
    case 'L':
      return 2;
    case 'M':
      return 4;
    default:
      return 0;
  }
}

bool HasDatasetSlot(const TDTField& f) {
  return DatasetSlotSize(f) > 0;
}

size_t DatasetRecordSize(const TDbfFieldProps& props) {
  size_t size = 1;
  for (const TDTField& f : props.Fields()) size += DatasetSlotSize(f);
  return size;
}

std::vector<size_t> DatasetFieldOffsets(const TDbfFieldProps& props) {
  std::vector<size_t> offsets;
  size_t at = 1;
  for (const TDTField& f : props.Fields()) {
    size_t size = DatasetSlotSize(f);
    offsets.push_back(size > 0 ? at : 0);
    at += size;
  }
  return offsets;
}

namespace {

// The date of the engine's date text; false for a blank text or one that is no date. The day,
// month and year are taken from the text in the engine's own format, so the user's locale and
// its separators play no part.
bool DateOfEngineText(std::string text, int& year, int& month, int& day) {
  text = LTrim(text).substr(0, 10);
  std::string check = text;
  if (!IsValidDate(check) || check == DatePicture(DbDateFormat)) return false;
  NormalizeDate(text);  // MM/DD/YY or MM/DD/YYYY
  if ((text.size() != 8 && text.size() != 10) || text[2] != '/' || text[5] != '/') return false;
  auto number = [](std::string_view digits) {
    int value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return value;
  };
  month = number(std::string_view(text).substr(0, 2));
  day = number(std::string_view(text).substr(3, 2));
  std::string_view y = std::string_view(text).substr(6);
  year = number(y);
  if (y.size() == 2) year += CenturyYearOf(y);
  return true;
}

template <typename T>
T Load(const char* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

template <typename T>
void Store(char* p, T value) {
  std::memcpy(p, &value, sizeof value);
}

// An integer of `width` bytes (4 or 8) and back. Stored into a narrower slot than it came
// from, it saturates at the slot's range: an integer field and its slot may differ in width (a
// persistent field of the framework's 32-bit class over a 64-bit slot), and a value then
// travels whole or at the nearest end of the range, never as a part of its bytes.
int64_t LoadInteger(const char* p, size_t width) {
  return width >= 8 ? Load<int64_t>(p) : Load<int32_t>(p);
}

void StoreInteger(char* p, size_t width, int64_t value) {
  if (width >= 8) {
    Store(p, value);
  } else {
    Store(p, static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                      std::numeric_limits<int32_t>::max())));
  }
}

// The value as the field's decimals show it.
double RoundedToDecimals(double value, int decimals) {
  if (!std::isfinite(value)) return 0;
  std::string text = FormatFixed(value, decimals);
  double rounded = 0;
  std::from_chars(text.data(), text.data() + text.size(), rounded);
  return rounded;
}

}  // namespace

double EncodeDateValue(int year, int month, int day) {
  platform::dataset::TDateTime value = 0;
  return platform::dataset::TryEncodeDate(year, month, day, value) ? value : 0;
}

bool DecodeDateValue(double value, int& year, int& month, int& day) {
  // Years 1 to 9999, the range dates are written in. Before 1899-12-30 the day is the whole
  // part towards zero and the fraction the time of day, as TDateTime counts them.
  if (!std::isfinite(value) || value <= EncodeDateValue(1, 1, 1) - 1 ||
      value >= EncodeDateValue(9999, 12, 31) + 1) {
    return false;
  }
  platform::dataset::DecodeDate(value, year, month, day);
  return true;
}

void CopyRecordFromEngine(const TDbfFieldProps& props, const char* values, char* buffer) {
  buffer[0] = values[0];
  size_t at = 1;
  for (const TDTField& f : props.Fields()) {
    size_t size = DatasetSlotSize(f);
    if (size == 0) continue;
    const char* slot = values + f.Offset;
    char* out = buffer + at;
    at += size;
    switch (f.Type) {
      case 'C':
        std::memcpy(out, slot, size);
        break;
      case 'D': {
        int year, month, day;
        std::string text(slot + 1, std::min<size_t>(static_cast<uint8_t>(slot[0]), f.Length + 2u));
        Store(out, DateOfEngineText(text, year, month, day) ? EncodeDateValue(year, month, day)
                                                            : 0.0);
        break;
      }
      case 'F':
      case 'N':
        if (f.Decimals > 0)
          Store(out, RoundedToDecimals(Load<double>(slot), f.Decimals));
        else if (IsWideInteger(f))
          Store(out, Load<int64_t>(slot));
        else
          Store(out, Load<int32_t>(slot));
        break;
      case 'L':
        out[0] = slot[0];
        out[1] = 0;
        break;
      case 'M':
        std::memcpy(out, slot, 4);
        break;
    }
  }
}

void CopyRecordToEngine(const TDbfFieldProps& props, const char* buffer, char* values, int field) {
  values[0] = buffer[0];
  size_t at = 1;
  int n = 0;
  for (const TDTField& f : props.Fields()) {
    ++n;
    size_t size = DatasetSlotSize(f);
    if (size == 0) continue;
    const char* in = buffer + at;
    at += size;
    if (field != -1 && n != field) continue;
    char* slot = values + f.Offset;
    switch (f.Type) {
      case 'C': {
        size_t length = std::min<size_t>(static_cast<uint8_t>(in[0]), f.Length);
        slot[0] = static_cast<char>(length);
        std::memcpy(slot + 1, in + 1, length);
        std::memset(slot + 1 + length, ' ', f.Length - length);
        break;
      }
      case 'D': {
        double value = Load<double>(in);
        std::string text = DatePicture(DbDateFormat);
        int year, month, day;
        if (value != 0) {
          if (DecodeDateValue(value, year, month, day)) {
            // DateFrom clears or sets DbLastError; the copy is no command of its own.
            uint16_t last = DbLastError;
            text = DateFrom(year, month, day);
            DbLastError = last;
          } else {
            ShowUnitMessage("        Invalid date       ");
          }
        }
        size_t room = f.Length + 2u;
        slot[0] = static_cast<char>(std::min(text.size(), room));
        std::memset(slot + 1, ' ', room);
        std::memcpy(slot + 1, text.data(), std::min(text.size(), room));
        break;
      }
      case 'F':
      case 'N':
        std::memcpy(slot, in, size);
        break;
      case 'L':
        slot[0] = in[0];
        break;
      case 'M':
        std::memcpy(slot, in, 4);
        break;
    }
    if (field != -1) break;
  }
}

// --- The unit start -----------------------------------------------------------------------

TLocaleFormats UserLocaleFormats() {
  const platform::dataset::TFormatSettings& settings = platform::dataset::FormatSettings();
  return {settings.ShortDateFormat, settings.DateSeparator, settings.DecimalSeparator,
          settings.ThousandSeparator};
}

uint8_t DateFormatOf(const TLocaleFormats& formats) {
  char first = formats.ShortDateFormat.empty() ? '\0' : formats.ShortDateFormat.front();
  if (first == 'D' || first == 'd') {
    if (formats.DateSeparator == '-') return 3;
    if (formats.DateSeparator == '.') return 5;
    return 2;
  }
  if (first == 'Y' || first == 'y') return 1;
  return 0;
}

void ApplyLocaleFormats(const TLocaleFormats& formats) {
  DbThousandsSeparator = formats.ThousandsSeparator;
  DbDecimalSeparator = formats.DecimalSeparator;
  DbCentury = Upper(formats.ShortDateFormat).find("YYYY") != std::string::npos;
  SetDateFormat(DateFormatOf(formats));
}

void StartUCommon() {
  ApplyLocaleFormats(UserLocaleFormats());
}

// --- Field classes ------------------------------------------------------------------------

namespace {

using platform::dataset::DatabaseError;
using platform::dataset::TDataSetState;

}  // namespace

std::string TTzDateField::GetText(bool display_text) {
  std::string text = TDateField::GetText(display_text);
  if (text.size() <= 10) return text;
  // A longer text is cut to what the engine's date texts hold only when that is still this
  // date: "24.12.2026 r." is cut, "24. 12. 2026" would become "24. 12. 20", another date.
  int year, month, day, own_year, own_month, own_day;
  std::string cut = text.substr(0, 10);
  if (DateOfEngineText(cut, year, month, day) &&
      DecodeDateValue(AsDateTime(), own_year, own_month, own_day) && year == own_year &&
      month == own_month && day == own_day) {
    return cut;
  }
  return text;
}

void TTzDateField::SetText(const std::string& text) {
  std::string value = RTrim(text);
  // Where digits go on past what the engine's date texts hold (the year of "24. 12. 2026"),
  // the cut would read as another date: such a text is first read whole by the user's format.
  platform::dataset::TDateTime whole = 0;
  if (value.size() > 10 && value.find_first_of("0123456789", 10) != std::string::npos &&
      platform::dataset::TryStrToDate(value, whole)) {
    SetAsDateTime(whole);
    return;
  }
  value = value.substr(0, 10);
  if (value.empty() || value == RTrim(DatePicture(DbDateFormat))) {
    Clear();
    return;
  }
  int year, month, day;
  if (DateOfEngineText(value, year, month, day))
    SetAsDateTime(EncodeDateValue(year, month, day));
  else
    SetAsDateTime(platform::dataset::StrToDate(value));
}

void TTzFloatField::CheckSize(int size) {
  if (size < 0 || size > 20) TFloatField::CheckSize(size);
}

void TTzIntegerField::CheckSize(int size) {
  if (size < 0 || size > 20) TIntegerField::CheckSize(size);
}

int64_t TTzIntegerField::AsLargeInt() {
  if (!Wide()) return TIntegerField::AsInteger();
  int64_t value = 0;
  return GetData(&value) ? value : 0;
}

void TTzIntegerField::SetAsLargeInt(int64_t value) {
  if (!Wide()) {
    TIntegerField::SetAsInteger(static_cast<int32_t>(std::clamp<int64_t>(
        value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max())));
    return;
  }
  SetData(&value);
}

std::string TTzIntegerField::AsString() {
  if (!Wide()) return TIntegerField::AsString();
  int64_t value = 0;
  return GetData(&value) ? std::to_string(value) : "";
}

void TTzIntegerField::SetAsString(const std::string& value) {
  if (!Wide()) {
    TIntegerField::SetAsString(value);
    return;
  }
  if (value.empty()) {
    Clear();
    return;
  }
  std::string text = AllTrim(value);
  std::string_view digits(text);
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  int64_t number = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
    DatabaseError("'" + value + "' is not a valid integer value for field '" + DisplayName() +
                  "'");
  }
  SetAsLargeInt(number);
}

int32_t TTzIntegerField::AsInteger() {
  return static_cast<int32_t>(std::clamp<int64_t>(AsLargeInt(),
                                                  std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

void TTzIntegerField::SetAsInteger(int32_t value) {
  SetAsLargeInt(value);
}

double TTzIntegerField::AsFloat() {
  return static_cast<double>(AsLargeInt());
}

void TTzIntegerField::SetAsFloat(double value) {
  if (!Wide()) {
    TIntegerField::SetAsFloat(value);
    return;
  }
  // The largest doubles below 2^63 still convert; beyond, the value saturates.
  double rounded = std::round(value);
  if (!(rounded < 9223372036854775808.0)) {
    SetAsLargeInt(std::numeric_limits<int64_t>::max());
  } else if (!(rounded >= -9223372036854775808.0)) {
    SetAsLargeInt(std::numeric_limits<int64_t>::min());
  } else {
    SetAsLargeInt(static_cast<int64_t>(rounded));
  }
}

platform::dataset::TVariant TTzIntegerField::Value() {
  if (!Wide()) return TIntegerField::Value();
  int64_t value = 0;
  if (!GetData(&value)) return {};
  if (value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max())
    return TVariant(static_cast<int32_t>(value));
  return TVariant(static_cast<double>(value));
}

// --- TTzDataSet ---------------------------------------------------------------------------

bool Editing(platform::dataset::TDataSetState state) {
  using namespace platform::dataset;
  return state == dsEdit || state == dsInsert || state == dsSetKey;
}

namespace {

using platform::dataset::dsBrowse;
using platform::dataset::dsCalcFields;
using platform::dataset::dsEdit;
using platform::dataset::dsInsert;
using platform::dataset::dsSetKey;
using platform::dataset::TFieldType;

// A key value as the engine's search takes it.
TLocateValue LocateValueOf(const TVariant& v) {
  switch (v.GetKind()) {
    case TVariant::Kind::Integer:
    case TVariant::Kind::Float:
      return v.AsFloat();
    case TVariant::Kind::Boolean:
      return v.AsBoolean();
    case TVariant::Kind::Date: {
      int year, month, day;
      if (DecodeDateValue(v.AsDateTime(), year, month, day)) return TDateValue{year, month, day};
      return std::string();
    }
    case TVariant::Kind::Null:
      return std::string();
    default:
      return v.AsString();
  }
}

}  // namespace

TTzDataSet::TTzDataSet(bool designing) : design_mode_(designing) {
  if (designing) {
    SetComponentState(ComponentState() | platform::dataset::csDesigning);
    SetRaiseErrors(true);
  }
}

TTzDataSet::~TTzDataSet() = default;

int32_t TTzDataSet::ErrorCode() {
  return DbLastError;
}

bool TTzDataSet::SelectWorkArea(const std::string& operation) {
  DbLastError = 0;
  if (work_area_ == 0) {
    SetDbError(1103, "Database is not open [" + Name() + "." + operation + "]");
    if (DbLastError == 0) DbLastError = 1103;  // an installed error routine may clear it
    return false;
  }
  if (CurrentWorkArea != work_area_) tz::Select(work_area_);
  DbAnsiTables = table_language_ == tlAnsi;
  return DbLastError == 0;
}

void TTzDataSet::DoBeforeRestore() {
  if (BeforeRestore) BeforeRestore(*this);
}

void TTzDataSet::DoAfterRestore() {
  if (AfterRestore) AfterRestore(*this);
}

void TTzDataSet::SyncRecordToEngine() {
  if (State() == dsInsert)
    CopyRecordToEngine(ActiveBuffer());
  else
    UpdateCursorPos();
}

void TTzDataSet::CopyRecordFromEngine(char* buffer) {
  if (props_) tz::CopyRecordFromEngine(*props_, props_->Buffer(), buffer);
}

void TTzDataSet::CopyRecordToEngine(const char* buffer, int field) {
  if (props_) tz::CopyRecordToEngine(*props_, buffer, props_->Buffer(), field);
}

bool TTzDataSet::IsEmptyDbf() {
  if (!SelectWorkArea("s_IsEmptyDbf")) return true;
  return tz::dBOF() && tz::dEOF();
}

bool TTzDataSet::IsEmptyData() {
  return design_mode_ ? false : IsEmptyDbf();
}

std::string TTzDataSet::ErrorCodeText(int32_t code) {
  std::string message = GetErrorMessage();
  return message.empty() ? std::to_string(code) : message;
}

// --- Opening and closing ---

namespace {

// Closes what a failing open left in work area `area` and selects `selected` again, with
// errors neither reported nor kept: the open's own failure is the one the caller learns. Runs
// while that failure may be unwinding, so it never throws.
void CloseFailedOpen(uint8_t area, uint8_t selected) noexcept {
  TQuietCleanup quiet;
  try {
    tz::Select(area);
    tz::CloseDatabase();
    tz::Select(selected);
  } catch (...) {
    // Nothing is raised with reporting off; a lack of memory leaves what it leaves.
  }
}

}  // namespace

int32_t TTzDataSet::TziOpen() {
  if (dbf_file_name_.empty()) return kTziNoFileName;
  props_.reset();
  record_size_ = 0;
  uint8_t remembered = tz::GetWorkArea();
  DbLastError = 0;
  tz::Select(work_area_);  // 0: the lowest free one
  if (DbLastError != 0) {
    uint16_t code = DbLastError;
    tz::Select(remembered);
    if (DbLastError == 0) DbLastError = code;
    return code;
  }
  DbAnsiTables = table_language_ == tlAnsi;
  // Whatever fails once the table is open, an error left or raised on the way (the production
  // index included), closes it again: the work area is free afterwards, and the next open of
  // this dataset starts afresh.
  struct Opening {
    TTzDataSet& dataset;
    uint8_t area;
    uint8_t remembered;
    bool done = false;
    ~Opening() {
      if (done) return;
      dataset.props_.reset();
      dataset.work_area_ = 0;
      CloseFailedOpen(area, remembered);
    }
  } opening{*this, tz::GetWorkArea(), remembered};
  if (HasDbf()) {
    if (OpenDbfTable(dbf_file_name_) && DbLastError == 0) {
      tz::SetIgnoreDel(hide_deleted_recs_);
      if (design_mode_) RefillDbfFields();
      work_area_ = tz::GetWorkArea();
      props_ = std::make_unique<TDbfFieldProps>(design_mode_);
    }
  } else {
    tz::Use(dbf_file_name_);
    if (DbLastError == 0) {
      RefillDbfFields();
      work_area_ = tz::GetWorkArea();
      props_ = std::make_unique<TDbfFieldProps>(true);
      tz::CloseDatabase();
    }
  }
  if (props_ && DbLastError == 0) {
    opening.done = true;
    return 0;
  }
  return DbLastError != 0 ? DbLastError : kTziOpenFailed;
}

int32_t TTzDataSet::TziClose() {
  // Closed afterwards also when closing the table fails (the engine frees its work area either
  // way); the failure is reported as the library's switches say.
  struct Closed {
    TTzDataSet& dataset;
    ~Closed() {
      dataset.work_area_ = 0;
      dataset.props_.reset();
      dataset.record_size_ = 0;
      dataset.field_offsets_.clear();
    }
  } closed{*this};
  if (work_area_ != 0 && SelectWorkArea("TziClose")) {
    if (HasDbf()) ResetOnClose();
    tz::CloseDatabase();
  }
  return 0;
}

void TTzDataSet::RefillDbfFields() {
  dbf_fields_.clear();
  TWorkArea* area = tz::SelectedArea();
  if (area == nullptr) return;
  for (const TFieldEntry& f : area->Table.Fields) {
    TFieldDefinition def{f.name, f.type, f.length, f.decimals};
    dbf_fields_.push_back(FieldDefinitionLine(CheckFieldDefinition(Name(), def)));
  }
}

bool TTzDataSet::CreateTableFromDbfFields() {
  return CreateTableFromFieldLines(Name(), dbf_file_name_, &dbf_fields_, KeepOpenOnRename());
}

void TTzDataSet::InternalInitFieldDefs() {
  FieldDefs().Clear();
  field_offsets_.clear();
  if (!props_) DatabaseError(Name() + ".DbfFields undefined. Set Active to TRUE");
  field_offsets_ = DatasetFieldOffsets(*props_);
  for (int n = 1; n <= props_->Count(); ++n) {
    const TDTField& f = props_->Field(n);
    if (!HasDatasetSlot(f)) continue;
    switch (f.Type) {
      case 'C':
        FieldDefs().Add(f.Name, platform::dataset::ftString, f.Length, false, n);
        break;
      case 'D':
        FieldDefs().Add(f.Name, platform::dataset::ftDate, 0, false, n);
        break;
      case 'F':
      case 'N':
        FieldDefs().Add(f.Name,
                        f.Decimals > 0 ? platform::dataset::ftFloat : platform::dataset::ftInteger,
                        f.Length, false, n);
        break;
      case 'L':
        FieldDefs().Add(f.Name, platform::dataset::ftBoolean, 0, false, n);
        break;
      case 'M':
        FieldDefs().Add(f.Name,
                        KeepOpenOnRename() ? platform::dataset::ftInteger : platform::dataset::ftMemo,
                        0, false, n);
        break;
    }
  }
}

void TTzDataSet::InternalOpen() {
  TTzPrimDataset::InternalOpen();
  if (DefaultFields()) return;
  for (int i = 0; i < FieldCount(); ++i) {
    TField& field = Fields(i);
    if (field.FieldNo() < 1) continue;
    if (!dynamic_cast<TTzIntegerField*>(&field) && !dynamic_cast<TTzFloatField*>(&field)) continue;
    // At most 20, the most these classes take: a foreign table's longer field opens as before.
    if (const platform::dataset::TFieldDef* def = FieldDefs().Find(field.FieldName()))
      field.SetSize(std::clamp(def->Size, 0, 20));
  }
}

std::unique_ptr<TField> TTzDataSet::CreateFieldObject(TFieldType type) {
  switch (type) {
    case platform::dataset::ftInteger:
      return std::make_unique<TTzIntegerField>();
    case platform::dataset::ftFloat:
      return std::make_unique<TTzFloatField>();
    case platform::dataset::ftDate:
      return std::make_unique<TTzDateField>();
    default:
      return TTzPrimDataset::CreateFieldObject(type);
  }
}

size_t TTzDataSet::TziGetRecordSize() {
  if (record_size_ == 0) record_size_ = props_ ? DatasetRecordSize(*props_) : 1;
  return record_size_;
}

// --- Record movement ---

int32_t TTzDataSet::TziSetToBegin() {
  if (!SelectWorkArea("TziSetToBegin")) return ErrorCode();
  if (HasDbf()) tz::GoTopWhile();
  bof_flag_ = 1;
  eof_flag_ = 0;
  return ErrorCode();
}

int32_t TTzDataSet::TziSetToEnd() {
  if (!SelectWorkArea("TziSetToEnd")) return ErrorCode();
  if (HasDbf()) tz::GoBottomWhile();
  eof_flag_ = 1;
  bof_flag_ = 0;
  return ErrorCode();
}

int32_t TTzDataSet::TziGetRecord(char* buffer, int32_t& record_number) {
  if (bof_flag_) return kTziBof;
  if (eof_flag_) return kTziEof;
  if (!SelectWorkArea("TziGetRecord")) return ErrorCode();
  if (buffer) {
    tz::Skip(0);
    if (DbLastError != 0) return ErrorCode();
    CopyRecordFromEngine(buffer);
  }
  record_number = tz::RecNo();
  return ErrorCode();
}

int32_t TTzDataSet::TziGetNextRecord(char* buffer, int32_t& record_number) {
  if (eof_flag_) return kTziEof;
  if (!SelectWorkArea("TziGetNextRecord")) return ErrorCode();
  if (bof_flag_) {
    tz::Skip(0);
    bof_flag_ = 0;
  } else if (!tz::dEOF()) {
    tz::Skip(1);
  }
  if (DbLastError != 0) return ErrorCode();
  if (!tz::dEOF()) {
    if (buffer) CopyRecordFromEngine(buffer);
    record_number = tz::RecNo();
    return ErrorCode();
  }
  if (!tz::dBOF()) tz::Skip(-1);
  eof_flag_ = 1;
  return kTziEof;
}

int32_t TTzDataSet::TziGetPriorRecord(char* buffer, int32_t& record_number) {
  if (bof_flag_) return kTziBof;
  if (!SelectWorkArea("TziGetPriorRecord")) return ErrorCode();
  if (eof_flag_) {
    tz::Skip(0);
    eof_flag_ = 0;
  } else if (!tz::dBOF()) {
    tz::Skip(-1);
  }
  if (DbLastError != 0) return ErrorCode();
  if (!tz::dBOF()) {
    if (buffer) CopyRecordFromEngine(buffer);
    record_number = tz::RecNo();
    return ErrorCode();
  }
  bof_flag_ = 1;
  return kTziBof;
}

int32_t TTzDataSet::TziGetRecordCount() {
  // Without a bound table the one record is the copy the descriptor list keeps.
  if (!HasDbf()) return 1;
  if (!SelectWorkArea("TziGetRecordCount")) return 0;
  return tz::RecCount();
}

int32_t TTzDataSet::TziForceReread() {
  if (!SelectWorkArea("TziForceReread")) return ErrorCode();
  if (HasDbf()) tz::Skip(0);
  return ErrorCode();
}

platform::dataset::TGetResult TTzDataSet::GetRecord(char* buffer, platform::dataset::TGetMode mode,
                                                    bool check) {
  if (HasDbf()) return TTzPrimDataset::GetRecord(buffer, mode, check);
  CopyRecordFromEngine(buffer);
  return platform::dataset::grOK;
}

int32_t TTzDataSet::SafeGo(int32_t record_number) {
  if (!SelectWorkArea("SafeGo")) return ErrorCode();
  if (!HasDbf()) return 0;
  if (tz::GoChecked(record_number)) {
    bof_flag_ = eof_flag_ = 0;
  } else {
    TziSetToEnd();
  }
  return 0;
}

int32_t TTzDataSet::TziSetToRecNo(int32_t record_number) {
  if (!SelectWorkArea("TziSetToRecNo")) return ErrorCode();
  // A number of no record leaves the cursor where it is: the dataset stays on its record.
  if (record_number < 1 || record_number > tz::RecCount()) return kTziEof;
  return SafeGo(record_number);
}

int32_t TTzDataSet::TziGotoBookmark(const char* bookmark) {
  int32_t record_number;
  std::memcpy(&record_number, bookmark, sizeof record_number);
  return SafeGo(record_number);
}

int32_t TTzDataSet::TziSetToBookmark(char* bookmark) {
  if (!SelectWorkArea("TziSetToBookmark")) return ErrorCode();
  int32_t record_number = HasDbf() ? tz::RecNo() : 1;
  std::memcpy(bookmark, &record_number, sizeof record_number);
  return ErrorCode();
}

int32_t TTzDataSet::TziCompareBookmarks(const char* a, const char* b, int& result) {
  int32_t x, y;
  std::memcpy(&x, a, sizeof x);
  std::memcpy(&y, b, sizeof y);
  result = x < y ? -1 : (x > y ? 1 : 0);
  return 0;
}

// --- Writing ---

int32_t TTzDataSet::TziInitRecord(char*) {
  if (!SelectWorkArea("TziInitRecord")) return ErrorCode();
  if (HasDbf()) tz::ClearRecord();
  return ErrorCode();
}

int32_t TTzDataSet::TziAppendRecord(char* buffer) {
  if (!SelectWorkArea("TziAppendRecord")) return ErrorCode();
  buffer[0] = 0;
  CopyRecordToEngine(buffer);
  WriteOrForget(&TTzDataSet::AppendWithLock);
  bof_flag_ = eof_flag_ = 0;
  return ErrorCode();
}

// A table has no place between records: an inserted record is appended.
int32_t TTzDataSet::TziInsertRecord(char* buffer) {
  return TziAppendRecord(buffer);
}

int32_t TTzDataSet::TziDeleteRecord() {
  if (!SelectWorkArea("TziDeleteRecord")) return ErrorCode();
  WriteOrForget(&TTzDataSet::DeleteWithLock);
  int32_t code = ErrorCode();
  if (code == 0 && IsEmptyDbf()) {
    bof_flag_ = eof_flag_ = 1;
    Resync(0);
  }
  return code;
}

int32_t TTzDataSet::TziUpdateRecord(char* buffer, int32_t) {
  if (bof_flag_) return kTziBof;
  if (eof_flag_) return kTziEof;
  if (!SelectWorkArea("TziUpdateRecord")) return ErrorCode();
  CopyRecordToEngine(buffer);
  WriteOrForget(&TTzDataSet::ReplaceWithLock);
  return ErrorCode();
}

void TTzDataSet::WriteOrForget(void (TTzDataSet::*write)()) {
  try {
    (this->*write)();
  } catch (...) {
    ForgetFailedWrite();
    throw;
  }
  if (DbLastError != 0) ForgetFailedWrite();
}

void TTzDataSet::ForgetFailedWrite() {
  TQuietCleanup quiet;
  if (HasDbf() && work_area_ != 0 && SelectWorkArea("ForgetFailedWrite")) {
    // Skip(0) reads the current record from the file; it fails on none (past the end).
    tz::Skip(0);
    if (DbLastError != 0) tz::ClearRecord();
  }
}

void TTzDataSet::InternalCancel() {
  if (ActiveBuffer()) std::memset(ActiveBuffer(), 0, TziGetRecordSize());
}

void TTzDataSet::InternalPost() {
  try {
    TTzPrimDataset::InternalPost();
  } catch (const platform::dataset::EAbort&) {
    // A refused lock: nothing was tried, and the edit stays for the retry after it.
    throw;
  } catch (...) {
    post_write_failed_ = true;
    throw;
  }
}

void TTzDataSet::Post() {
  if (!Editing(State())) return;
  post_write_failed_ = false;
  try {
    TTzPrimDataset::Post();
  } catch (...) {
    if (!post_write_failed_) throw;
    post_write_failed_ = false;
    // The write failed: what was typed is dropped, and the record is shown as stored. A
    // failure of the cancel itself must not hide the write's error.
    {
      TQuietCleanup quiet;
      try {
        Cancel();
      } catch (...) {
        if (Editing(State())) SetState(platform::dataset::dsBrowse);
      }
    }
    throw;
  }
  if (IsEmptyData()) Resync(0);
}

void TTzDataSet::PutActiveRecord() {
  if (!Editing(State())) Edit();
  CopyRecordToEngine(ActiveBuffer());
}

// --- Field data ---

int32_t TTzDataSet::TziGetFieldData(TField& field, char* buffer, bool& blank, void* target) {
  blank = false;
  if (target == nullptr) return 0;
  int n = field.FieldNo();
  if (!props_ || n < 1 || n > props_->Count()) return 0;
  const TDTField& f = props_->Field(n);
  size_t slot_size = DatasetSlotSize(f);
  size_t size = static_cast<size_t>(std::max(field.DataSize(), 0));
  std::memset(target, 0, size);
  if (slot_size == 0) return 0;
  const char* slot = buffer + field_offsets_[static_cast<size_t>(n - 1)];
  char* out = static_cast<char*>(target);
  switch (field.DataType()) {
    case platform::dataset::ftString: {
      std::string text = RTrim(std::string_view(
          slot + 1, std::min<size_t>(static_cast<uint8_t>(slot[0]), slot_size - 1)));
      if (size > 0) std::memcpy(out, text.data(), std::min(text.size(), size - 1));
      break;
    }
    case platform::dataset::ftDate:
    case platform::dataset::ftTime:
    case platform::dataset::ftDateTime: {
      double value = Load<double>(slot);
      if (value == 0) {
        blank = true;
        break;
      }
      platform::dataset::TTimeStamp stamp = platform::dataset::DateTimeToTimeStamp(value);
      if (field.DataType() == platform::dataset::ftDate)
        Store(out, stamp.Date);
      else if (field.DataType() == platform::dataset::ftTime)
        Store(out, stamp.Time);
      else
        Store(out, platform::dataset::TimeStampToMSecs(stamp));
      break;
    }
    case platform::dataset::ftInteger:
      if (size >= 4) StoreInteger(out, size, LoadInteger(slot, slot_size));
      break;
    default:
      std::memcpy(out, slot, std::min(size, slot_size));
      break;
  }
  return 0;
}

int32_t TTzDataSet::TziSetFieldData(TField& field, char* buffer, const void* value) {
  // The framework has validated the value once already; it is stored as it is.
  int n = field.FieldNo();
  if (!props_ || n < 1 || n > props_->Count()) return 0;
  const TDTField& f = props_->Field(n);
  size_t slot_size = DatasetSlotSize(f);
  if (slot_size == 0) return 0;
  char* slot = buffer + field_offsets_[static_cast<size_t>(n - 1)];
  if (value == nullptr) {
    std::memset(slot, 0, slot_size);
  } else {
    const char* in = static_cast<const char*>(value);
    switch (field.DataType()) {
      case platform::dataset::ftString: {
        // Never past the slot: a text longer than the field is cut to the field's length.
        size_t length = std::min({strnlen(in, 255), slot_size - 1, size_t{255}});
        std::memset(slot, 0, slot_size);
        slot[0] = static_cast<char>(length);
        std::memcpy(slot + 1, in, length);
        break;
      }
      case platform::dataset::ftDate:
        Store(slot, platform::dataset::TimeStampToDateTime({0, Load<int32_t>(in)}));
        break;
      case platform::dataset::ftTime:
        Store(slot, platform::dataset::TimeStampToDateTime(
                        {Load<int32_t>(in), platform::dataset::DateDelta}));
        break;
      case platform::dataset::ftDateTime: {
        double msecs = std::round(Load<double>(in));
        double stored = 0;
        if (std::isfinite(msecs) && msecs > 0 && msecs < 1e18)
          stored = platform::dataset::TimeStampToDateTime(platform::dataset::MSecsToTimeStamp(msecs));
        Store(slot, stored);
        break;
      }
      case platform::dataset::ftInteger:
        if (field.DataSize() >= 4)
          StoreInteger(slot, slot_size, LoadInteger(in, static_cast<size_t>(field.DataSize())));
        break;
      default:
        std::memcpy(slot, in,
                    std::min(slot_size, static_cast<size_t>(std::max(field.DataSize(), 0))));
        break;
    }
  }
  CopyRecordToEngine(buffer, n);
  return 0;
}

// --- Searching ---

bool TTzDataSet::TziLocate(const std::string& key_fields, const TVariant& key_values,
                           TLocateOptions options) {
  if (!SelectWorkArea("TziLocate")) return false;
  std::vector<TLocateValue> values;
  for (size_t i = 0; i < key_values.Count(); ++i) values.push_back(LocateValueOf(key_values.Item(i)));
  bool found = tz::LocateFields(key_fields, values, (options & platform::dataset::loCaseInsensitive) != 0,
                            true, (options & platform::dataset::loPartialKey) == 0);
  if (found) bof_flag_ = eof_flag_ = 0;
  return found;
}

void TTzDataSet::TziLookup(const std::string& key_fields, const TVariant& key_values,
                           const std::string& result_fields, TVariant& result) {
  result = TVariant();
  if (!SelectWorkArea("TziLookup")) return;
  TWorkArea& area = *tz::SelectedArea();
  // The search moves the engine and reads the found record into the field value record, which
  // may hold the pending edits of the current record: both are put back afterwards.
  int32_t record_number = tz::RecNo();
  std::vector<char> values(area.FieldValues, area.FieldValues + area.FieldValuesLen);
  uint8_t bof = bof_flag_, eof = eof_flag_;
  struct Back {
    TTzDataSet& ds;
    TWorkArea& area;
    int32_t record_number;
    std::vector<char>& values;
    uint8_t bof, eof;
    ~Back() {
      uint16_t last = DbLastError;
      if (CurrentWorkArea == ds.work_area_) {
        if (!tz::GoChecked(record_number)) tz::Dbf4RawGo(record_number);
        std::memcpy(area.FieldValues, values.data(), values.size());
      }
      ds.bof_flag_ = bof;
      ds.eof_flag_ = eof;
      if (DbLastError == 0) DbLastError = last;
    }
  } back{*this, area, record_number, values, bof, eof};
  std::vector<TLocateValue> keys;
  for (size_t i = 0; i < key_values.Count(); ++i) keys.push_back(LocateValueOf(key_values.Item(i)));
  if (!tz::LocateFields(key_fields, keys, false, true, true)) return;
  char* temp = TempBuffer();
  if (temp == nullptr) return;
  CopyRecordFromEngine(temp);
  result = ReadValuesFromBuffer(temp, result_fields);
}

// --- Public routines ---

void TTzDataSet::DirectOpenClose(bool open) {
  if (!Active()) {
    SetDbError(1103, "DataSet must be active. " + Name());
    return;
  }
  if (HasDbf()) return;
  if (!SelectWorkArea("DirectOpenClose")) return;
  if (open)
    tz::Use(dbf_file_name_);
  else
    tz::CloseDatabase();
}

bool TTzDataSet::IsDeleted() {
  return !design_mode_ && ActiveBuffer() != nullptr && ActiveBuffer()[0] != 0;
}

void TTzDataSet::SetDeleted(bool value) {
  if (IsDeleted() == value) return;
  if (value) {
    if (!IsEmpty()) Delete();
    return;
  }
  CheckActive();
  if (State() == dsInsert || State() == dsSetKey) {
    Cancel();
    return;
  }
  DataEvent(platform::dataset::deCheckBrowseMode);
  DoBeforeRestore();
  UpdateCursorPos();
  if (!SelectWorkArea("SetDeleted")) return;
  RestoreWithLock();
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync(0);
  DoAfterRestore();
}

void TTzDataSet::SyncDataSet() {
  if (DbLastError != 0) return;
  if (Editing(State())) SetState(dsBrowse);
  if (IsEmptyDbf()) {
    if (ActiveBuffer()) std::memset(ActiveBuffer(), 0, TziGetRecordSize());
    bof_flag_ = eof_flag_ = 1;
    Resync(0);
  } else {
    bof_flag_ = eof_flag_ = 0;
    Resync(platform::dataset::rmExact);
  }
  DoAfterScroll();
}

}  // namespace tz
