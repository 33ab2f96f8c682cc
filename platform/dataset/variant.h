// A small variant value: what a field's Value is, what Locate and Lookup take as key values
// and what Lookup and FieldValues give back. It holds nothing (Null), a text, a 32-bit
// integer, a double, a Boolean, a date (a TDateTime kept apart from plain doubles) or an array
// of variants (the values of several fields, in the order of their names).
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/dataset/convert.h"

namespace platform::dataset {

class TVariant {
 public:
  enum class Kind { Null, String, Integer, Float, Boolean, Date, Array };

  TVariant() = default;  // Null
  TVariant(std::string value) : value_(std::move(value)) {}
  TVariant(const char* value) : value_(std::string(value)) {}
  TVariant(int32_t value) : value_(value) {}
  TVariant(double value) : value_(value) {}
  TVariant(bool value) : value_(value) {}
  TVariant(std::vector<TVariant> items) : value_(std::move(items)) {}
  static TVariant FromDate(TDateTime value);

  Kind GetKind() const { return static_cast<Kind>(value_.index()); }
  bool IsNull() const { return GetKind() == Kind::Null; }
  bool IsArray() const { return GetKind() == Kind::Array; }

  // Conversions. Null gives "", 0, 0.0, false; an array gives those of its first item (Null
  // when empty). Numbers and dates become texts by FormatSettings (convert.h); a text that is
  // not a number throws EConvertError from AsInteger and AsFloat, one that is not a date from
  // AsDateTime. A Boolean reads as 1 / 0 and as "True" / "False".
  std::string AsString() const;
  int32_t AsInteger() const;
  double AsFloat() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;

  // The items of an array; a value that is no array counts as one item (Null as none).
  size_t Count() const;
  // Item i of an array, or the value itself for i == 0 when it is no array. Out of range:
  // std::out_of_range.
  const TVariant& Item(size_t i) const;

  // Same kind and same value; a Float and an Integer with the same value are equal too.
  bool operator==(const TVariant& other) const;

 private:
  struct DateValue {
    TDateTime value;
    bool operator==(const DateValue&) const = default;
  };
  std::variant<std::monostate, std::string, int32_t, double, bool, DateValue,
               std::vector<TVariant>>
      value_;
};

}  // namespace platform::dataset
