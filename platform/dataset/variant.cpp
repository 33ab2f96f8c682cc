#include "platform/dataset/variant.h"

#include <cmath>
#include <stdexcept>

namespace platform::dataset {

TVariant TVariant::FromDate(TDateTime value) {
  TVariant v;
  v.value_ = DateValue{value};
  return v;
}

std::string TVariant::AsString() const {
  switch (GetKind()) {
    case Kind::Null:
      return "";
    case Kind::String:
      return std::get<std::string>(value_);
    case Kind::Integer:
      return IntToStr(std::get<int32_t>(value_));
    case Kind::Float:
      return FloatToStr(std::get<double>(value_));
    case Kind::Boolean:
      return std::get<bool>(value_) ? "True" : "False";
    case Kind::Date:
      return DateTimeToStr(std::get<DateValue>(value_).value);
    case Kind::Array:
      return Count() ? Item(0).AsString() : "";
  }
  return "";
}

int32_t TVariant::AsInteger() const {
  switch (GetKind()) {
    case Kind::String:
      return StrToInt(std::get<std::string>(value_));
    case Kind::Integer:
      return std::get<int32_t>(value_);
    case Kind::Float:
      return static_cast<int32_t>(std::lround(std::get<double>(value_)));
    case Kind::Boolean:
      return std::get<bool>(value_) ? 1 : 0;
    case Kind::Date:
      return static_cast<int32_t>(std::get<DateValue>(value_).value);
    case Kind::Array:
      return Count() ? Item(0).AsInteger() : 0;
    case Kind::Null:
      break;
  }
  return 0;
}

double TVariant::AsFloat() const {
  switch (GetKind()) {
    case Kind::String:
      return StrToFloat(std::get<std::string>(value_));
    case Kind::Integer:
      return std::get<int32_t>(value_);
    case Kind::Float:
      return std::get<double>(value_);
    case Kind::Boolean:
      return std::get<bool>(value_) ? 1 : 0;
    case Kind::Date:
      return std::get<DateValue>(value_).value;
    case Kind::Array:
      return Count() ? Item(0).AsFloat() : 0;
    case Kind::Null:
      break;
  }
  return 0;
}

bool TVariant::AsBoolean() const {
  switch (GetKind()) {
    case Kind::String: {
      const std::string& s = std::get<std::string>(value_);
      return !s.empty() && (s[0] == 'T' || s[0] == 't' || s[0] == 'Y' || s[0] == 'y');
    }
    case Kind::Integer:
      return std::get<int32_t>(value_) != 0;
    case Kind::Float:
      return std::get<double>(value_) != 0;
    case Kind::Boolean:
      return std::get<bool>(value_);
    case Kind::Date:
      return std::get<DateValue>(value_).value != 0;
    case Kind::Array:
      return Count() && Item(0).AsBoolean();
    case Kind::Null:
      break;
  }
  return false;
}

TDateTime TVariant::AsDateTime() const {
  switch (GetKind()) {
    case Kind::String:
      return StrToDateTime(std::get<std::string>(value_));
    case Kind::Date:
      return std::get<DateValue>(value_).value;
    case Kind::Array:
      return Count() ? Item(0).AsDateTime() : 0;
    default:
      return AsFloat();
  }
}

size_t TVariant::Count() const {
  if (IsArray()) return std::get<std::vector<TVariant>>(value_).size();
  return IsNull() ? 0 : 1;
}

const TVariant& TVariant::Item(size_t i) const {
  if (IsArray()) return std::get<std::vector<TVariant>>(value_).at(i);
  if (i == 0) return *this;
  throw std::out_of_range("variant item " + std::to_string(i));
}

bool TVariant::operator==(const TVariant& other) const {
  Kind a = GetKind(), b = other.GetKind();
  bool a_number = a == Kind::Integer || a == Kind::Float;
  bool b_number = b == Kind::Integer || b == Kind::Float;
  if (a_number && b_number) return AsFloat() == other.AsFloat();
  return value_ == other.value_;
}

}  // namespace platform::dataset
