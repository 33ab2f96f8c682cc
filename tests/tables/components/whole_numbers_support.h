// What the tests of whole numbers of ten digits and more share: a table of N fields on both
// sides of ten digits, where the field value record's slot grows from 32 to 64 bits, holding
// numbers in and beyond the 32-bit range, opened with the dataset's own fields or with
// persistent ones a program adds before it opens the table.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/dataset/fields.h"
#include "tests/apps/dbfread_rows.h"
#include "tzdbf_test_support.h"

namespace tz {

const std::vector<RawField> kNumberColumns = {
    {"N9", 'N', 9}, {"N10", 'N', 10}, {"N11", 'N', 11}, {"N20", 'N', 20}};

// One number as the file stores it, and what the field gives as a float and as a 32-bit
// integer (which stops at the ends of its range).
struct WholeNumber {
  std::string text;
  double as_float;
  int32_t as_integer;
};

inline const std::vector<WholeNumber> kWholeNumbers = {
    {"0", 0, 0},
    {"7", 7, 7},
    {"-7", -7, -7},
    {"2147483647", 2147483647.0, std::numeric_limits<int32_t>::max()},
    {"2147483648", 2147483648.0, std::numeric_limits<int32_t>::max()},
    {"5000000000", 5000000000.0, std::numeric_limits<int32_t>::max()},
    {"-5000000000", -5000000000.0, std::numeric_limits<int32_t>::min()},
    {"9999999999", 9999999999.0, std::numeric_limits<int32_t>::max()},
};

// How the dataset's fields over the columns come about: made by the dataset at open, or
// persistent fields without a size, with a size that is not the column's, or of the
// framework's own 32-bit integer class.
enum class NumberFields { kDefault, kPersistent, kPersistentSized20, kFrameworkInteger };

inline const char* NameOf(NumberFields kind) {
  switch (kind) {
    case NumberFields::kDefault:
      return "default fields";
    case NumberFields::kPersistent:
      return "persistent TTzIntegerField";
    case NumberFields::kPersistentSized20:
      return "persistent TTzIntegerField of size 20";
    case NumberFields::kFrameworkInteger:
      break;
  }
  return "persistent TIntegerField";
}

// `text` right-aligned in a column of `width`, or blanks when it does not fit.
inline std::string Aligned(const std::string& text, size_t width) {
  return text.size() > width ? std::string(width, ' ')
                             : std::string(width - text.size(), ' ') + text;
}

class WholeNumbers : public TzDbfTest {
 protected:
  // zahlen.dbf with one record per number of kWholeNumbers: each column holds it when it fits,
  // blanks otherwise.
  void WriteNumbers() {
    std::vector<std::string> records;
    for (const WholeNumber& v : kWholeNumbers) {
      std::string record = " ";
      for (const RawField& c : kNumberColumns) record += Aligned(v.text, c.length);
      records.push_back(record);
    }
    dir_.Write("zahlen.dbf", RawTable(0x03, kNumberColumns, records));
  }
  std::unique_ptr<TTzDbf> OpenNumbers(NumberFields kind) {
    auto dbf = Make("DBZahlen", "zahlen.dbf", {});
    for (const RawField& c : kNumberColumns) {
      if (kind == NumberFields::kDefault) break;
      std::unique_ptr<TField> field;
      if (kind == NumberFields::kFrameworkInteger)
        field = std::make_unique<platform::dataset::TIntegerField>();
      else
        field = std::make_unique<TTzIntegerField>();
      field->SetFieldName(c.name);
      if (kind == NumberFields::kPersistentSized20) field->SetSize(20);
      dbf->AddField(std::move(field));
    }
    dbf->Open();
    return dbf;
  }
  // The number columns of zahlen.dbf as python3-dbfread reads them, "N9|N10|N11|N20".
  std::vector<std::string> FileRows() {
    return apps_testing::DbfreadRows(dir_ / "zahlen.dbf", "N9 N10 N11 N20", dir_ / "rows.txt");
  }
};

}  // namespace tz
