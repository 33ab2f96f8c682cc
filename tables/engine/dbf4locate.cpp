// Sequential search of the selected work area by one or several fields.
#include <cmath>

#include "platform/text.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/memotextfile.h"
#include "tables/engine/timedate.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzutils.h"

namespace tz {

std::string LocateSearchValue;
bool LocateCaseSensitive = true;
bool LocateExact = false;
bool LocateContained = false;
uint8_t LocateField = 0;

namespace {

bool IsTrue(char c) {
  return c == 'T' || c == 'Y' || c == 't' || c == 'y';
}

// The stored text of a field of record n as the program sees it (Windows-1252).
std::string StoredText(TWorkArea& wa, uint8_t field, int32_t n) {
  std::string text;
  Peek(field, n, text);
  if (!text.empty() && (wa.Table.Oem || wa.Table.FromFile)) {
    // The translations work on records: hand them the field behind a dummy deleted mark.
    std::string record = " " + text;
    TranslateBuffer(false, wa.Table.Oem, wa.Table.FromFile, record.size(),
                    static_cast<uint16_t>(record.size()), record.data());
    text = record.substr(1);
  }
  return text;
}

bool Matches(TWorkArea& wa, uint8_t field, int32_t n) {
  const TFieldEntry& f = wa.Table.Fields[field - 1];
  if (f.type == 'M') {
    // The memo unit searches the memo text line by line.
    std::string stored;
    Peek(field, n, stored);
    return MemoContains(LocateSearchValue, stored, LocateCaseSensitive);
  }
  std::string text = StoredText(wa, field, n);
  if (text.empty()) return false;
  if (f.type == 'L')
    return IsTrue(text[0]) == IsTrue(LocateSearchValue.empty() ? ' ' : LocateSearchValue[0]);
  if (!LocateExact && !LocateContained) text = text.substr(0, LocateSearchValue.size());
  if (!LocateCaseSensitive) text = platform::AnsiUpper(text);
  if (LocateContained) return text.find(LocateSearchValue) != std::string::npos;
  return text == LocateSearchValue;
}

std::string Right(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// The value as the field stores it.
std::string SearchText(const TFieldEntry& f, const TLocateValue& value, bool exact) {
  switch (f.type) {
    case 'C':
    case 'M':
      if (const auto* s = std::get_if<std::string>(&value))
        return exact && f.type == 'C' ? PadRightTo(*s, f.length) : *s;
      return "";
    case 'D':
      if (const auto* d = std::get_if<TDateValue>(&value)) {
        std::string y = std::to_string(d->year), m = std::to_string(d->month),
                    day = std::to_string(d->day);
        return std::string(4 - std::min<size_t>(4, y.size()), '0') + y +
               std::string(2 - std::min<size_t>(2, m.size()), '0') + m +
               std::string(2 - std::min<size_t>(2, day.size()), '0') + day;
      }
      if (const auto* s = std::get_if<std::string>(&value)) return DateToDTOS(*s);
      return "";
    case 'F':
    case 'N':
      if (const auto* d = std::get_if<double>(&value))
        return Right(f.decimals > 0 ? FormatFixed(*d, f.decimals)
                                    : std::to_string(static_cast<long long>(std::trunc(*d))),
                     f.length);
      if (const auto* s = std::get_if<std::string>(&value)) return Right(AllTrim(*s), f.length);
      return "";
    case 'L':
      if (const auto* b = std::get_if<bool>(&value)) return *b ? "T" : "F";
      if (const auto* s = std::get_if<std::string>(&value))
        return !s->empty() && IsTrue((*s)[0]) ? "T" : "F";
      return "F";
    default:
      return "";
  }
}

}  // namespace

uint8_t Locate(const std::string& spec_text) {
  DbLastError = 0;
  if (CheckDbInUse("Locate/Count/Sum")) return 0;
  std::string spec = platform::AnsiUpper(AllTrim(spec_text));
  if (spec.empty()) {
    SetDbError(220, "No field name specified [Locate/Count/Sum]");
    return 0;
  }
  // The options follow the name: each needs a blank before it (the name never counts).
  LocateCaseSensitive = !RemoveWord(" NOCASE", spec += " ");
  LocateExact = RemoveWord(" EXACT", spec += " ");
  LocateContained = RemoveWord(" CONTAINED", spec += " ");
  int field = FieldNo(spec);
  if (field == 0) {
    SetDbError(220, "Unrecognized field name [Locate/Count/Sum(" + spec + ")]");
    return 0;
  }
  return static_cast<uint8_t>(field);
}

void LocateFrom(int32_t first, uint8_t field, bool is_new) {
  DbLastError = 0;
  if (CheckDbInUse("Locate/Count/Sum")) return;
  TWorkArea& wa = *SelectedArea();
  if (is_new) {
    if (!LocateExact) LocateSearchValue = RTrim(LocateSearchValue);
    if (!LocateCaseSensitive) LocateSearchValue = platform::AnsiUpper(LocateSearchValue);
    LocateField = field;
  }
  if (field >= 1 && field <= wa.Table.FieldCount) {
    for (int32_t n = std::max(first, 1); n <= RecCount(); ++n) {
      if (Matches(wa, field, n)) {
        GO(n);
        return;
      }
      if (DbLastError != 0) break;
    }
  }
  GoBottom();
  if (RecCount() > 0 && !dEOF()) Skip(1);
  LocateField = 0;
}

void Continue() {
  if (LocateField == 0) {
    SetDbError(220, "Call to CONTINUE not preceeded by call to LOCATE. [Continue]");
    return;
  }
  LocateFrom(RecNo() + 1, LocateField, false);
}

bool LocateValue(const std::string& field_name, const TLocateValue& value, bool no_case,
                 int32_t first, bool exact) {
  std::string name = AllTrim(field_name);
  name = name.substr(0, name.find(' '));
  if (name.empty()) return false;
  uint8_t field = Locate(name + (no_case ? " NOCASE" : "") + (exact ? " EXACT" : ""));
  if (field == 0) return false;
  LocateSearchValue = SearchText(SelectedArea()->Table.Fields[field - 1], value, exact);
  LocateFrom(first, field, true);
  while (!dEOF() && DbLastError == 0 && !RecordVisible(*SelectedArea())) Continue();
  return !dEOF();
}

bool LocateFields(const std::string& field_names, const std::vector<TLocateValue>& values,
                  bool no_case, bool stay_on_found, bool exact) {
  if (CheckDbInUse("LocateFields")) return false;
  TWorkArea& wa = *SelectedArea();
  int32_t remembered = wa.Table.CurrentRecord;
  std::function<void()> hook = std::move(wa.Hook);
  wa.Hook = nullptr;
  std::vector<std::string> names;
  for (size_t start = 0;;) {
    size_t semi = field_names.find(';', start);
    names.push_back(
        field_names.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
    if (semi == std::string::npos) break;
    start = semi + 1;
  }
  bool found = false;
  if (!values.empty() && names.size() <= values.size()) {
    if (names.size() == 1) {
      found = LocateValue(names[0], values[0], no_case, 1, exact);
    } else {
      size_t i = 0;
      int32_t start = 1;
      while (true) {
        if (!LocateValue(names[i], values[i], no_case, start, exact)) break;
        ++i;
        if (i > 1) {
          if (RecNo() == start) {
            if (i == names.size()) {
              found = true;
              break;
            }
          } else {
            i = 0;
          }
        }
        start = RecNo();
      }
    }
  }
  if (!(stay_on_found && found)) GoChecked(remembered);
  if (TWorkArea* own = SelectedArea()) own->Hook = std::move(hook);
  return found;
}

}  // namespace tz
