#include <gtest/gtest.h>

#include <cstring>
#include <variant>

#include "engine_test_support.h"
#include "tables/engine/timedate.h"
#include "tables/engine/tzdbflow.h"

namespace tz {
namespace {

// A table of one field, in memory only.
TDbfTable OneField(char type, uint8_t length, uint8_t decimals = 0) {
  TDbfTable t;
  t.Fields.push_back({"F", type, length, decimals, 1});
  t.FieldCount = 1;
  t.RecordSize = static_cast<uint16_t>(1 + length);
  t.Record.assign(t.RecordSize, ' ');
  return t;
}

using Value = std::variant<std::string, int32_t, int64_t, double, bool>;

// The slot bytes that hold `value` for a field of that type.
std::string SlotOf(char type, uint8_t decimals, const Value& value) {
  if (type == 'C' || type == 'D') {
    const std::string& text = std::get<std::string>(value);
    std::string slot(1, static_cast<char>(text.size()));
    slot += text;
    if (type == 'D') slot.resize(11, ' ');
    return slot;
  }
  if (type == 'L') return std::string(1, std::get<bool>(value) ? 1 : 0);
  if ((type == 'N' || type == 'F') && decimals > 0) {
    double d = std::get<double>(value);
    return std::string(reinterpret_cast<const char*>(&d), 8);
  }
  if (const int64_t* wide = std::get_if<int64_t>(&value))
    return std::string(reinterpret_cast<const char*>(wide), 8);
  int32_t i = std::get<int32_t>(value);
  return std::string(reinterpret_cast<const char*>(&i), 4);
}

class FieldValues : public EngineTest {
 protected:
  FieldValues() {
    DbCentury = false;
    SetDateFormat(5);
  }
};

TEST_F(FieldValues, StoredBytesAndSlots) {
  struct Case {
    char type;
    uint8_t length, decimals;
    std::string stored;
    Value slot;
    std::string packed;  // what packing the slot stores (into a blank field)
  } cases[] = {
      {'C', 5, 0, "ab   ", std::string("ab   "), "ab   "},
      {'C', 5, 0,
       "\xE4"
       "rger",
       std::string("\xE4rger"), "\xE4rger"},
      {'D', 8, 0, "20261209", std::string("09.12.26"), "20261209"},
      {'D', 8, 0, "19601209", std::string("09.12.60"), "19601209"},
      {'D', 8, 0, "        ", std::string("  .  .  "), "        "},
      {'N', 5, 0, "  123", int32_t{123}, "  123"},
      {'N', 5, 0, "  -12", int32_t{-12}, "  -12"},
      {'N', 5, 0, "     ", int32_t{0}, "    0"},
      {'N', 9, 0, "999999999", int32_t{999999999}, "999999999"},
      {'N', 12, 0, "  9999999999", int64_t{9999999999}, "  9999999999"},
      {'N', 12, 0, " -9999999999", int64_t{-9999999999}, " -9999999999"},
      {'N', 10, 0, "2147483648", int64_t{2147483648}, "2147483648"},
      {'N', 20, 0, "99999999999999999999", int64_t{9223372036854775807}, " 9223372036854775807"},
      {'N', 20, 0, "-9999999999999999999", int64_t{-9223372036854775807 - 1},
       "-9223372036854775808"},
      {'N', 8, 2, "   -1.50", -1.5, "   -1.50"},
      {'F', 6, 1, "  12.5", 12.5, "  12.5"},
      {'N', 8, 2, "        ", 0.0, "    0.00"},
      {'L', 1, 0, "T", true, "T"},
      {'L', 1, 0, "y", true, "T"},
      {'L', 1, 0, "F", false, "F"},
      {'L', 1, 0, "?", false, "F"},
      {'M', 10, 0, "         7", int32_t{7}, "         7"},
      {'M', 10, 0, "          ", int32_t{0}, "         0"},
  };
  for (const Case& c : cases) {
    TDbfTable t = OneField(c.type, c.length, c.decimals);
    t.Record = std::vector<char>(1, '*');
    t.Record.insert(t.Record.end(), c.stored.begin(), c.stored.end());
    std::vector<char> values(FieldValueRecordSize(t));
    UnpackRecord(t, values.data());
    EXPECT_EQ(values[0], 1) << c.stored;
    std::string slot = SlotOf(c.type, c.decimals, c.slot);
    EXPECT_EQ(std::string(values.begin() + 1, values.end()), slot) << c.type << " " << c.stored;

    TDbfTable blank = OneField(c.type, c.length, c.decimals);
    std::string with_flag = std::string(1, '\0') + slot;
    PackRecord(blank, with_flag.data());
    EXPECT_EQ(std::string(blank.Record.begin(), blank.Record.end()), " " + c.packed)
        << c.type << " " << c.stored;
  }
}

TEST_F(FieldValues, PackingEdgeCases) {
  struct Case {
    char type;
    uint8_t length, decimals;
    Value slot;
    std::string stored;
  } cases[] = {
      {'N', 5, 0, int32_t{123456}, "*****"},
      {'N', 8, 2, 3.14159, "    3.14"},
      {'N', 5, 2, 12345.5, "*****"},
      {'N', 6, 1, 0.25, "   0.3"},
      {'C', 5, 0, std::string(""), "     "},
      {'C', 3, 0, std::string("abc"), "abc"},
      {'D', 8, 0, std::string("  .  .  "), "        "},
      {'D', 8, 0, std::string("  /  /  "), "        "},
      {'D', 8, 0, std::string(""), "        "},
      {'D', 8, 0, std::string("1.2.26"), "20260201"},
      {'D', 8, 0, std::string("09.12.1926"), "19261209"},  // a four-digit year keeps its century
      {'D', 8, 0, std::string("31.04.26"), "        "},    // no such day: stored blank
      {'D', 8, 0, std::string("29.02.25"), "        "},
      {'D', 8, 0, std::string("xx.yy.zz"), "        "},
      {'M', 10, 0, int32_t{42}, "        42"},
      {'L', 1, 0, true, "T"},
  };
  for (const Case& c : cases) {
    TDbfTable t = OneField(c.type, c.length, c.decimals);
    std::string values = std::string(1, '\0') + SlotOf(c.type, c.decimals, c.slot);
    PackRecord(t, values.data());
    EXPECT_EQ(std::string(t.Record.begin() + 1, t.Record.end()), c.stored) << c.stored;
  }
  // A C slot longer than its field is cut.
  TDbfTable t = OneField('C', 3);
  std::string values = std::string(1, '\0') + "\x05" + "abcde";
  values.resize(5);
  PackRecord(t, values.data());
  EXPECT_EQ(std::string(t.Record.begin(), t.Record.end()), " abc");
}

TEST_F(FieldValues, FieldsTheCallerLeftAloneKeepTheirStoredBytes) {
  TDbfTable t;
  const char* names[] = {"NAME", "DATUM", "NULL", "ANZ", "OK", "GROSS"};
  const char types[] = {'C', 'D', 'D', 'N', 'L', 'N'};
  const uint8_t lengths[] = {4, 8, 8, 21, 1, 20};
  const uint8_t decimals[] = {0, 0, 0, 0, 0, 2};
  uint16_t offset = 1;
  for (int i = 0; i < 6; ++i) {
    t.Fields.push_back({names[i], types[i], lengths[i], decimals[i], offset});
    offset += lengths[i];
  }
  t.FieldCount = 6;
  t.RecordSize = offset;
  std::string stored = " Anna1926120900000000 99999999999999999999?12345678901234567.89";
  ASSERT_EQ(stored.size(), offset);
  t.Record.assign(stored.begin(), stored.end());
  std::vector<char> values(FieldValueRecordSize(t));
  UnpackRecord(t, values.data());
  std::memcpy(values.data() + 2, "Bert", 4);  // only the name changes
  PackChangedFields(t, values.data());
  EXPECT_EQ(std::string(t.Record.begin(), t.Record.end()),
            " Bert1926120900000000 99999999999999999999?12345678901234567.89");
  values[0] = 1;  // deleting changes only the mark
  PackChangedFields(t, values.data());
  EXPECT_EQ(t.Record[0], '*');
  EXPECT_EQ(std::string(t.Record.begin() + 5, t.Record.end()),
            "1926120900000000 99999999999999999999?12345678901234567.89");
  EXPECT_EQ(FieldValueRecordSize(t), 1u + 5 + 11 + 11 + 8 + 1 + 8);
  // Packing every field shows what the kept bytes were spared: the century, the "00000000"
  // date, the digits beyond 64 bits and beyond a double's precision, the "?".
  PackRecord(t, values.data());
  EXPECT_EQ(std::string(t.Record.begin(), t.Record.end()),
            "*Bert20261209          9223372036854775807F12345678901234568.00");
}

}  // namespace
}  // namespace tz
