// The unit shared by the table components: field definition lines and the tables created from
// them, the descriptor list of an open table (TDbfFieldProps with its TDTField entries), the
// copies between the engine's field value record and a dataset record buffer, and the library's
// date and number settings taken from the user's locale.
//
// The dataset record buffer (what a dataset keeps per record) is the deleted-mark byte (1 =
// deleted) and then one slot per field with a name, in table order:
//   C  length + 1 bytes, a length byte and the text;
//   D  8 bytes, a date-time value (days since 1899-12-30, as TDateTime); 0 = blank;
//   F, N with decimals: 8 bytes, a double;
//   F, N without decimals: 4 bytes, a signed 32-bit integer, or 8 bytes, a signed 64-bit integer
//      when the field is 10 or more long (such numbers do not fit in 32 bits);
//   L  2 bytes, the first the engine's logical byte;
//   M  4 bytes, the engine's memo block number.
// Slots are unaligned: copy values with memcpy.
//
// Messages of this unit go to platform::ShowMessage after their text is converted from OEM to
// ANSI. Nothing here blocks or pumps, except that a message may pump while it is shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tz {

// --- Field definition lines ---------------------------------------------------------------
// A line "name, type, len, dec" describes one table field; blanks around the items are
// optional. The lines of the programs' own forms look like "hersteller, C, 20, 0".

// One line's items. Length and decimals are kept as read (StrToIntSigned, -32768..32767), so
// that the corrections see the value the line gives and not its low 8 bits. Type is the first
// character of the type item, '\0' when that item is empty.
struct TFieldDefinition {
  std::string Name;  // trimmed, cut to 10 characters, in the case given
  char Type = '\0';
  int Length = 0;
  int Decimals = 0;

  bool operator==(const TFieldDefinition&) const = default;
};

// Reads one line into `def`. False, and `def` untouched, unless the line holds exactly three
// commas. The fourth item is everything after the third comma (up to 255 characters).
bool ParseFieldDefinition(std::string_view line, TFieldDefinition& def);

// The corrected definition. The rules run in this order, each on the values the rules before
// it left:
//   1. B, G and P are M.
//   2. Any other type that is none of C, D, F, L, M, N (lower case and an empty item included)
//      is C.
//   3. A length or decimals outside 0..255 (what the table header can hold) is brought to the
//      nearer end; a C, F or N field gets a length of at least 1.
//   4. N longer than 20 is 20 long.
//   5. N decimals above 18 are 18.
//   6. N decimals other than 0 are at most length - 2, and at least 0.
//   7. C longer than 254 is 254 long with 0 decimals.
// A type X is left as it is (the line makes no field).
TFieldDefinition CorrectFieldDefinition(const TFieldDefinition& line);

// "Invalid field definition for <component>: <line's name,type,len,dec>. Will use corrected
// definition: <name,corrected type,len,dec>".
std::string FieldCorrectionText(const std::string& component, const TFieldDefinition& line,
                                const TFieldDefinition& corrected);

// CorrectFieldDefinition, and when anything changed the correction text is shown (ShowUnitMessage).
TFieldDefinition CheckFieldDefinition(const std::string& component, const TFieldDefinition& line);

// Shows a message of this unit: `text` converted from OEM to ANSI, with platform::ShowMessage.
void ShowUnitMessage(const std::string& text);

// Creates the table file `path` from definition lines, as a dataset creates its missing table:
//   - no list (nullptr): the message "DbfFieldList is Nil trying to create a database", false;
//   - no lines: "FieldList.Count is <= 0 trying to create a database", false;
//   - a line without exactly three commas ends the walk: false, no message of its own;
//   - every other line is read and checked (CheckFieldDefinition, messages naming
//     `component`); X lines make no field; with `memo_as_number` an M line becomes N 10,0;
//   - CreateDBF (tables/engine/tzdbflow.h) runs with error reporting off and the reporting
//     switched back afterwards; the result is DbLastError == 0.
// Never throws for a failed creation (its error stays in DbLastError); nothing is left open.
bool CreateTableFromFieldLines(const std::string& component, const std::string& path,
                               const std::vector<std::string>* lines, bool memo_as_number);

// The line a table field gives back in design mode: "name, T, len, dec" with the name lower
// case and cut to 10 characters.
std::string FieldDefinitionLine(const TFieldDefinition& def);

// --- The descriptor list of an open table -------------------------------------------------

// One field of the open table, in table order.
struct TDTField {
  std::string Name;
  char Type = 'C';
  uint16_t Length = 0;
  uint16_t Decimals = 0;
  // The field's slot in the engine's field value record, counted from its first byte (the
  // deleted mark).
  size_t Offset = 0;
};

// The fields of the table open in the selected work area and the record buffer they live in.
// At run time the buffer is the work area's own field value record (not copied, size 0); in
// design mode it is a copy of it that the list owns. Field numbers are 1-based; field 0 of
// FieldAddress is the deleted mark. Copying is deleted: the list may own its buffer.
class TDbfFieldProps {
 public:
  // Builds the list from the selected work area; an empty list when no table is open there.
  explicit TDbfFieldProps(bool copy_buffer);
  TDbfFieldProps(const TDbfFieldProps&) = delete;
  TDbfFieldProps& operator=(const TDbfFieldProps&) = delete;

  int Count() const { return static_cast<int>(fields_.size()); }
  const TDTField& Field(int n) const { return fields_.at(static_cast<size_t>(n - 1)); }
  const std::string& Name(int n) const { return Field(n).Name; }
  char Type(int n) const { return Field(n).Type; }
  uint16_t Length(int n) const { return Field(n).Length; }
  uint16_t Decimals(int n) const { return Field(n).Decimals; }
  size_t Offset(int n) const { return Field(n).Offset; }
  // 0 at run time, else the size of the owned copy.
  size_t BufferSize() const { return copy_.size(); }
  char* Buffer() const { return buffer_; }
  // The address of field n's slot in the buffer (0: the deleted mark); nullptr without one.
  char* FieldAddress(int n) const;
  const std::vector<TDTField>& Fields() const { return fields_; }

 private:
  std::vector<TDTField> fields_;
  mutable std::vector<char> copy_;
  char* buffer_ = nullptr;
};

// --- The dataset record buffer ------------------------------------------------------------

// A table field's slot size in the dataset record buffer (layout at the top); 0 for a field
// that has no slot (no name, or a type the engine gives none).
size_t DatasetSlotSize(const TDTField& field);
// The field has a slot in the dataset record buffer.
bool HasDatasetSlot(const TDTField& field);
// A number field whose dataset slot is a 64-bit integer.
bool IsWideInteger(const TDTField& field);

// The engine's field value record `values` to the dataset record buffer `buffer`: the deleted
// mark, C texts as they are, D dates as date-time values made from the day, month and year of
// the engine's date text (0 for a blank or invalid date), numbers with decimals rounded to the
// field's decimals, the rest copied. `buffer` has room for the record size of `props`.
void CopyRecordFromEngine(const TDbfFieldProps& props, const char* values, char* buffer);
// The dataset record buffer to the field value record: every field (field -1) or only field
// `field` (1-based table position; the deleted mark is copied either way). A D value becomes
// the engine's date text of that day (0 the blank date text); a value that is no date of the
// years 1..9999 stores the blank date text after the message "        Invalid date       ".
void CopyRecordToEngine(const TDbfFieldProps& props, const char* buffer, char* values,
                        int field = -1);
// 1 + the slot sizes of every field.
size_t DatasetRecordSize(const TDbfFieldProps& props);
// Each table field's offset in the dataset record buffer (0 for one without a slot).
std::vector<size_t> DatasetFieldOffsets(const TDbfFieldProps& props);

// --- Date-time values ---------------------------------------------------------------------
// Days since 1899-12-30 with the time as the fraction, as the dataset framework counts them.

double EncodeDateValue(int year, int month, int day);
// False (and nothing set) for a value outside the years 1..9999.
bool DecodeDateValue(double value, int& year, int& month, int& day);

// --- The unit start -----------------------------------------------------------------------

// The user's date and number formats, as the unit start needs them.
struct TLocaleFormats {
  std::string ShortDateFormat;  // "dd.MM.yyyy", "M/d/yyyy", ...
  char DateSeparator = '/';
  char DecimalSeparator = '.';
  char ThousandsSeparator = ',';
};

// The user's formats: those of the dataset framework's process-wide FormatSettings
// (platform/dataset/convert.h), which it takes from the user's language, so that the engine and
// the framework's date texts agree.
TLocaleFormats UserLocaleFormats();
// The date format number of a short date format: 3 for d... with "-", 5 for d... with ".",
// 2 for other d..., 1 for y..., 0 for anything else.
uint8_t DateFormatOf(const TLocaleFormats& formats);
// Sets the engine's separators, DbCentury (the format holds "YYYY" in upper case) and the date
// format (SetDateFormat) from `formats`.
void ApplyLocaleFormats(const TLocaleFormats& formats);
// The unit start: ApplyLocaleFormats(UserLocaleFormats()). A program runs it once after
// StartTarazed.
void StartUCommon();

}  // namespace tz
