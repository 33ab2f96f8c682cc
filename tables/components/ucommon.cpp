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
  CreateDBF(table, path, fields);
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

}  // namespace tz
