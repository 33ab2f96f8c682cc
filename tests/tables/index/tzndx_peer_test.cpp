// An independent reader of production indexes, libdbd-xbase-perl's index_dump, lists the keys
// of our tags in order with their record numbers: the key bytes, a blank, the record number.
#include <algorithm>
#include <cstring>
#include <random>

#include "tables/index/tzndxlow.h"
#include "tests/tables/index/ndx_test_support.h"

namespace tz {
namespace {

struct Key {
  std::string bytes;
  int32_t record;
};

std::string NumberKey(const std::string& text, uint8_t decimals) {
  BcdKey key;
  TextToBcdKey(key, text, decimals);
  return std::string(key.begin(), key.end());
}

std::string DateKey(const std::string& dtos) {
  double julian = DtosToJulian(dtos);
  std::string bytes(8, '\0');
  std::memcpy(bytes.data(), &julian, 8);
  return bytes;
}

std::string Listing(const std::vector<Key>& keys) {
  std::string out;
  for (const Key& k : keys) out += k.bytes + " " + std::to_string(k.record) + "\n";
  return out;
}

using IndexDumpPeer = IndexTest;

TEST_F(IndexDumpPeer, ListsSmallCharacterNumberAndDateTags) {
  OpenTable("small.dbf", {{"NAME", 'C', 8}, {"N", 'N', 6, 2}, {"D", 'D', 8}},
            {"delta     1.5020240229", "alpha    -3.0019991231", "charlie   0.0020240101"});
  ASSERT_TRUE(MakeIndex({{"NAME", "name", "", false, false},
                         {"N", "n", "", false, false},
                         {"D", "d", "", true, false}},
                        ""));
  EXPECT_EQ(Dump("small.MDX", "NAME"),
            Listing({{"alpha   ", 2}, {"charlie ", 3}, {"delta   ", 1}}));
  EXPECT_EQ(
      Dump("small.MDX", "N"),
      Listing({{NumberKey("-3.00", 2), 2}, {NumberKey("0.00", 2), 3}, {NumberKey("1.50", 2), 1}}));
  EXPECT_EQ(
      Dump("small.MDX", "D"),  // descending
      Listing({{DateKey("20240229"), 1}, {DateKey("20240101"), 3}, {DateKey("19991231"), 2}}));
}

TEST_F(IndexDumpPeer, ListsMultiLevelTags) {
  std::mt19937 random(17);
  std::vector<std::string> records;
  std::vector<Key> names, numbers, dates;
  for (int32_t r = 1; r <= 800; ++r) {
    std::string name(40, ' ');
    for (int i = 0; i < 5; ++i) name[i] = static_cast<char>('A' + random() % 26);
    int value = static_cast<int>(random() % 2000) - 1000;
    std::string number = std::to_string(value);
    number.insert(0, 6 - number.size(), ' ');
    std::string dtos = std::to_string(1990 + random() % 30) + "0" +
                       std::to_string(1 + random() % 9) + "1" + std::to_string(random() % 9);
    records.push_back(name + number + dtos);
    names.push_back({name, r});
    numbers.push_back({NumberKey(number, 0), r});
    dates.push_back({DateKey(dtos), r});
  }
  OpenTable("multi.dbf", {{"NAME", 'C', 40}, {"N", 'N', 6}, {"D", 'D', 8}}, records);
  ASSERT_TRUE(MakeIndex({{"NAME", "name", "", false, false},
                         {"N", "n", "", false, false},
                         {"D", "d", "", false, false}},
                        ""));
  auto by = [](int (*compare)(const uint8_t*, const uint8_t*, size_t)) {
    return [compare](const Key& a, const Key& b) {
      int c = compare(reinterpret_cast<const uint8_t*>(a.bytes.data()),
                      reinterpret_cast<const uint8_t*>(b.bytes.data()), a.bytes.size());
      return c != 0 ? c < 0 : a.record < b.record;
    };
  };
  std::sort(names.begin(), names.end(), by(CompareBytes));
  std::sort(numbers.begin(), numbers.end(), by(CompareBcdKeys));
  std::sort(dates.begin(), dates.end(), by(CompareDateKeys));
  EXPECT_TRUE(Dump("multi.MDX", "NAME") == Listing(names));
  EXPECT_TRUE(Dump("multi.MDX", "N") == Listing(numbers));
  EXPECT_TRUE(Dump("multi.MDX", "D") == Listing(dates));
}

}  // namespace
}  // namespace tz
