// The copies between the engine's field value record and the dataset record buffer, on a real
// table: each type's slot both ways, dates under every date format, numbers rounded to their
// decimals, numbers beyond 32 bits, texts longer than their field.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tables/components/ucommon.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/timedate.h"
#include "ucommon_test_support.h"

namespace tz {
namespace {

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

std::string TextSlot(const char* slot) {
  return std::string(slot + 1, static_cast<uint8_t>(slot[0]));
}

TEST(DateValues, DaysSince1899December30) {
  struct Case {
    int year, month, day;
    double value;
  } cases[] = {
      {1899, 12, 30, 0},    {1899, 12, 31, 1},     {1900, 3, 1, 61},    {2000, 1, 1, 36526},
      {2026, 12, 9, 46365}, {2024, 2, 29, 45351}, {1, 1, 1, -693593}, {9999, 12, 31, 2958465},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeDateValue(c.year, c.month, c.day), c.value) << c.year << "-" << c.month;
    int year = 0, month = 0, day = 0;
    // The time of day is the fraction away from zero (6 pm of that day).
    ASSERT_TRUE(DecodeDateValue(c.value + (c.value < 0 ? -0.75 : 0.75), year, month, day))
        << c.value;
    EXPECT_EQ(year * 10000 + month * 100 + day, c.year * 10000 + c.month * 100 + c.day);
  }
  int year = 7, month = 7, day = 7;
  for (double outside : {-693594.0, 2958466.0, 1e300, -1e300, std::nan("")}) {
    EXPECT_FALSE(DecodeDateValue(outside, year, month, day)) << outside;
    EXPECT_EQ(year, 7);
  }
}

class RecordCopies : public UCommonTest {
 protected:
  RecordCopies() {
    path_ = (dir_ / "werte.dbf").string();
    TDbfTable table;
    EXPECT_TRUE(CreateDBF(table, path_,
                          {{"NAME", 'C', 10},
                           {"DATUM", 'D', 8},
                           {"PREIS", 'N', 8, 2},
                           {"ANZ", 'N', 5},
                           {"GROSS", 'N', 15},
                           {"OK", 'L', 1},
                           {"NOTIZ", 'M', 10}}));
    Use(path_ + " EXCLUSIVE");
    ClearRecord();
    std::memcpy(FieldAddress(1), "\x04" "Anna", 5);
    std::memcpy(FieldAddress(2), "\x08" "12/09/26", 9);
    Store(FieldAddress(3), 12.5);
    Store(FieldAddress(4), int32_t{-42});
    Store(FieldAddress(5), int64_t{123456789012345});
    FieldAddress(6)[0] = 1;
    Store(FieldAddress(7), int32_t{7});
    Append();
    ClearRecord();
    Append();  // a blank second record
    GO(1);
  }

  // The dataset buffer's slot of field n.
  char* Slot(int n) { return buffer_.data() + offsets_[n - 1]; }

  void Fetch(const TDbfFieldProps& props) {
    buffer_.assign(DatasetRecordSize(props), '\x55');
    offsets_ = DatasetFieldOffsets(props);
    CopyRecordFromEngine(props, props.Buffer(), buffer_.data());
  }

  platform::TempDir dir_;
  std::string path_;
  std::vector<char> buffer_;
  std::vector<size_t> offsets_;
};

TEST_F(RecordCopies, TheDescriptorListAndTheBufferLayout) {
  TDbfFieldProps props(false);
  ASSERT_EQ(props.Count(), 7);
  struct Expected {
    const char* name;
    char type;
    uint16_t length, decimals;
    size_t engine_offset, dataset_offset, dataset_size;
  } fields[] = {
      {"NAME", 'C', 10, 0, 1, 1, 11},  {"DATUM", 'D', 8, 0, 12, 12, 8},
      {"PREIS", 'N', 8, 2, 23, 20, 8}, {"ANZ", 'N', 5, 0, 31, 28, 4},
      {"GROSS", 'N', 15, 0, 35, 32, 8}, {"OK", 'L', 1, 0, 43, 40, 2},
      {"NOTIZ", 'M', 10, 0, 44, 42, 4},
  };
  std::vector<size_t> offsets = DatasetFieldOffsets(props);
  for (int n = 1; n <= 7; ++n) {
    const Expected& e = fields[n - 1];
    EXPECT_EQ(props.Name(n), e.name);
    EXPECT_EQ(props.Type(n), e.type);
    EXPECT_EQ(props.Length(n), e.length);
    EXPECT_EQ(props.Decimals(n), e.decimals);
    EXPECT_EQ(props.Offset(n), e.engine_offset) << n;
    EXPECT_EQ(props.FieldAddress(n), FieldAddress(n)) << n;
    EXPECT_EQ(offsets[n - 1], e.dataset_offset) << n;
    EXPECT_EQ(DatasetSlotSize(props.Field(n)), e.dataset_size) << n;
  }
  EXPECT_EQ(props.FieldAddress(0), FieldAddress(0));
  EXPECT_EQ(props.FieldAddress(8), nullptr);
  EXPECT_EQ(props.BufferSize(), 0u);
  EXPECT_EQ(DatasetRecordSize(props), 46u);

  // In design mode the list holds a copy of the record that the engine no longer touches.
  TDbfFieldProps copy(true);
  EXPECT_EQ(copy.BufferSize(), size_t{SelectedArea()->FieldValuesLen});
  EXPECT_NE(copy.Buffer(), SelectedArea()->FieldValues);
  EXPECT_EQ(TextSlot(copy.FieldAddress(1)), "Anna      ");
  GO(2);
  EXPECT_EQ(TextSlot(copy.FieldAddress(1)), "Anna      ");
  EXPECT_EQ(TextSlot(props.FieldAddress(1)), "          ");
}

TEST_F(RecordCopies, FromTheEngineEveryType) {
  TDbfFieldProps props(false);
  Fetch(props);
  EXPECT_EQ(buffer_[0], 0);
  EXPECT_EQ(TextSlot(Slot(1)), "Anna      ");
  EXPECT_EQ(Load<double>(Slot(2)), EncodeDateValue(2026, 12, 9));
  EXPECT_EQ(Load<double>(Slot(3)), 12.5);
  EXPECT_EQ(Load<int32_t>(Slot(4)), -42);
  EXPECT_EQ(Load<int64_t>(Slot(5)), 123456789012345);
  EXPECT_EQ(Slot(6)[0], 1);
  EXPECT_EQ(Slot(6)[1], 0);
  EXPECT_EQ(Load<int32_t>(Slot(7)), 7);

  GO(2);
  Fetch(props);
  EXPECT_EQ(Load<double>(Slot(2)), 0.0) << "a blank date is no date";
  EXPECT_EQ(Slot(6)[0], 0);
}

TEST_F(RecordCopies, NumbersWithDecimalsAreRoundedToThem) {
  TDbfFieldProps props(false);
  struct Case {
    double engine, dataset;
  } cases[] = {{3.14159, 3.14}, {12.345678, 12.35}, {-0.125, -0.13}, {99999.994, 99999.99}};
  for (const Case& c : cases) {
    Store(FieldAddress(3), c.engine);
    Fetch(props);
    EXPECT_EQ(Load<double>(Slot(3)), c.dataset) << c.engine;
  }
}

TEST_F(RecordCopies, DatesComeOutTheSameUnderEveryDateFormat) {
  struct Case {
    uint8_t format;
    bool century;
    const char* slot;  // what the field value record then holds
  } cases[] = {
      {0, false, "12/09/26"},   {0, true, "12/09/2026"}, {1, false, "26.12.09"},
      {1, true, "2026.12.09"},  {2, false, "09/12/26"},  {3, false, "09-12-26"},
      {3, true, "09-12-2026"},  {5, false, "09.12.26"},  {5, true, "09.12.2026"},
      {8, false, "09.12.26"},
  };
  for (const Case& c : cases) {
    DbCentury = c.century;
    SetDateFormat(c.format);
    GO(1);
    EXPECT_EQ(TextSlot(FieldAddress(2)), c.slot);
    TDbfFieldProps props(false);
    Fetch(props);
    EXPECT_EQ(Load<double>(Slot(2)), EncodeDateValue(2026, 12, 9)) << c.slot;

    // And back: a day outside the century window keeps its century.
    Store(Slot(2), EncodeDateValue(1926, 2, 28));
    CopyRecordToEngine(props, buffer_.data(), props.Buffer(), 2);
    Replace();
    ASSERT_EQ(DbLastError, 0);
    std::string stored;
    Peek(2, 1, stored);
    EXPECT_EQ(stored, "19260228") << c.slot;
    Store(Slot(2), EncodeDateValue(2026, 12, 9));
    CopyRecordToEngine(props, buffer_.data(), props.Buffer(), 2);
    Replace();
    Peek(2, 1, stored);
    EXPECT_EQ(stored, "20261209") << c.slot;
  }
  EXPECT_TRUE(ui_.Texts().empty());
}

TEST_F(RecordCopies, ToTheEngineEveryTypeAndOneFieldAlone) {
  TDbfFieldProps props(false);
  Fetch(props);
  std::memcpy(Slot(1), "\x05" "Bernd", 6);
  Store(Slot(2), 0.0);
  Store(Slot(3), -7.25);
  Store(Slot(4), int32_t{99999});
  Store(Slot(5), int64_t{-99999999999999});
  Slot(6)[0] = 0;
  buffer_[0] = 1;

  // One field: that slot and the deleted mark, nothing else.
  CopyRecordToEngine(props, buffer_.data(), props.Buffer(), 3);
  EXPECT_EQ(FieldAddress(0)[0], 1);
  EXPECT_EQ(Load<double>(FieldAddress(3)), -7.25);
  EXPECT_EQ(TextSlot(FieldAddress(1)), "Anna      ");
  EXPECT_EQ(Load<int32_t>(FieldAddress(4)), -42);

  CopyRecordToEngine(props, buffer_.data(), props.Buffer());
  Replace();
  ASSERT_EQ(DbLastError, 0);
  std::string stored;
  std::vector<std::string> fields;
  for (uint8_t n = 0; n <= 6; ++n) {
    Peek(n, 1, stored);
    fields.push_back(stored);
  }
  EXPECT_EQ(fields, (std::vector<std::string>{"*", "Bernd     ", "        ", "   -7.25", "99999",
                                              "-99999999999999", "F"}));
}

TEST_F(RecordCopies, ATextLongerThanItsFieldIsCut) {
  TDbfFieldProps props(false);
  Fetch(props);
  // A length byte beyond the field's 10 characters.
  Slot(1)[0] = 15;
  std::memcpy(Slot(1) + 1, "0123456789", 10);
  char before = FieldAddress(2)[0];
  CopyRecordToEngine(props, buffer_.data(), props.Buffer(), 1);
  EXPECT_EQ(TextSlot(FieldAddress(1)), "0123456789");
  EXPECT_EQ(FieldAddress(2)[0], before) << "the date slot after it is untouched";
}

TEST_F(RecordCopies, ADateTheEngineCannotWriteIsStoredBlankWithAMessage) {
  TDbfFieldProps props(false);
  Fetch(props);
  Store(Slot(2), -800000.0);  // before the year 1
  CopyRecordToEngine(props, buffer_.data(), props.Buffer(), 2);
  EXPECT_EQ(TextSlot(FieldAddress(2)), DatePicture(DbDateFormat));
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{"        Invalid date       "}));
  Replace();
  std::string stored;
  Peek(2, 1, stored);
  EXPECT_EQ(stored, "        ");
}

}  // namespace
}  // namespace tz
