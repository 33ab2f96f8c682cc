#include "platform/dataset/fields.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/dataset/dataset.h"
#include "platform/text.h"

namespace platform::dataset {

void DatabaseError(const std::string& message) { throw EDatabaseError(message); }

std::string FieldTypeName(TFieldType type) {
  switch (type) {
    case ftString:
      return "String";
    case ftInteger:
      return "Integer";
    case ftFloat:
      return "Float";
    case ftDate:
      return "Date";
    case ftTime:
      return "Time";
    case ftDateTime:
      return "DateTime";
    case ftBoolean:
      return "Boolean";
    case ftMemo:
      return "Memo";
    case ftUnknown:
      break;
  }
  return "Unknown";
}

std::unique_ptr<TField> CreateFrameworkField(TFieldType type) {
  switch (type) {
    case ftString:
      return std::make_unique<TStringField>();
    case ftInteger:
      return std::make_unique<TIntegerField>();
    case ftFloat:
      return std::make_unique<TFloatField>();
    case ftDate:
      return std::make_unique<TDateField>();
    case ftTime:
    case ftDateTime:
      return std::make_unique<TDateTimeField>();
    case ftBoolean:
      return std::make_unique<TBooleanField>();
    case ftMemo:
      return std::make_unique<TMemoField>();
    case ftUnknown:
      break;
  }
  return nullptr;
}

// --- TField -----------------------------------------------------------------------------------

TField::TField(TFieldType type) : data_type_(type) {}

TField::~TField() = default;

int TField::DataSize() const { return 0; }

void TField::SetSize(int size) {
  if (dataset_) dataset_->CheckInactive();
  CheckSize(size);
  size_ = size;
}

void TField::CheckSize(int size) {
  if (size != 0) DatabaseError("Invalid field size");
}

void TField::SetDisplayLabel(const std::string& label) {
  display_label_ = label;
  LayoutChanged();
}

const std::string& TField::DisplayName() const {
  return display_label_.empty() ? field_name_ : display_label_;
}

int TField::DisplayWidth() const { return display_width_ >= 0 ? display_width_ : DefaultWidth(); }

void TField::SetDisplayWidth(int width) {
  display_width_ = width;
  LayoutChanged();
}

void TField::SetVisible(bool value) {
  visible_ = value;
  LayoutChanged();
}

void TField::SetAlignment(TAlignment value) {
  alignment_ = value;
  LayoutChanged();
}

void TField::LayoutChanged() {
  if (dataset_ && dataset_->Active()) dataset_->DataEvent(deLayoutChange);
}

bool TField::CanModify() const {
  return !read_only_ && field_kind_ == fkData && dataset_ && dataset_->Active() &&
         dataset_->CanModify();
}

std::string TField::GetText(bool) { return AsString(); }

void TField::SetText(const std::string& text) { SetAsString(text); }

std::string TField::AsString() { AccessError("String"); }
void TField::SetAsString(const std::string&) { AccessError("String"); }
int32_t TField::AsInteger() { AccessError("Integer"); }
void TField::SetAsInteger(int32_t) { AccessError("Integer"); }
double TField::AsFloat() { AccessError("Float"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
bool TField::AsBoolean() { AccessError("Boolean"); }
void TField::SetAsBoolean(bool) { AccessError("Boolean"); }
TDateTime TField::AsDateTime() { AccessError("DateTime"); }
void TField::SetAsDateTime(TDateTime) { AccessError("DateTime"); }

TVariant TField::Value() {
  if (IsNull()) return {};
  return TVariant(AsString());
}

bool TField::IsNull() {
  // Read the value itself: only a read into a target tells a blank value (an empty date)
  // from a present one.
  std::vector<char> scratch(std::max(DataSize(), 1), 0);
  return !GetData(scratch.data());
}

void TField::AccessError(const std::string& type_name) const {
  DatabaseError("Cannot access field '" + DisplayName() + "' as type " + type_name);
}

void TField::Validate(const void* value) {
  if (!OnValidate) return;
  struct Under {
    TField& f;
    Under(TField& field, const void* value) : f(field) {
      f.validating_ = true;
      f.value_under_test_ = value;
    }
    ~Under() {
      f.validating_ = false;
      f.value_under_test_ = nullptr;
    }
  } under(*this, value);
  OnValidate(*this);
}

bool TField::GetData(void* target) {
  if (validating_) {
    if (!value_under_test_) return false;
    if (target) std::memcpy(target, value_under_test_, DataSize());
    return true;
  }
  if (!dataset_) DatabaseError("Field '" + DisplayName() + "' is not bound to a dataset");
  return dataset_->GetFieldData(*this, target);
}

void TField::SetData(const void* value) {
  if (!dataset_) DatabaseError("Field '" + DisplayName() + "' is not bound to a dataset");
  dataset_->SetFieldData(*this, value);
}

// --- TStringField -----------------------------------------------------------------------------

TStringField::TStringField() : TField(ftString) { TField::SetSize(20); }

void TStringField::CheckSize(int size) {
  if (size < 0 || size > 8192) DatabaseError("Invalid field size");
}

std::string TStringField::AsString() {
  std::vector<char> buffer(DataSize() + 1, 0);
  if (!GetData(buffer.data())) return "";
  return std::string(buffer.data(), strnlen(buffer.data(), DataSize()));
}

void TStringField::SetAsString(const std::string& value) {
  std::vector<char> buffer(DataSize(), 0);
  std::memcpy(buffer.data(), value.data(), std::min<size_t>(value.size(), Size()));
  SetData(buffer.data());
}

int32_t TStringField::AsInteger() { return StrToInt(AsString()); }
void TStringField::SetAsInteger(int32_t value) { SetAsString(IntToStr(value)); }
double TStringField::AsFloat() { return StrToFloat(AsString()); }
void TStringField::SetAsFloat(double value) { SetAsString(FloatToStr(value)); }

bool TStringField::AsBoolean() {
  std::string s = AsString();
  return !s.empty() && (s[0] == 'T' || s[0] == 't' || s[0] == 'Y' || s[0] == 'y');
}

void TStringField::SetAsBoolean(bool value) { SetAsString(value ? "T" : "F"); }
TDateTime TStringField::AsDateTime() { return StrToDateTime(AsString()); }
void TStringField::SetAsDateTime(TDateTime value) { SetAsString(DateTimeToStr(value)); }

TVariant TStringField::Value() {
  if (IsNull()) return {};
  return TVariant(AsString());
}

// --- TIntegerField ----------------------------------------------------------------------------

TIntegerField::TIntegerField() : TField(ftInteger) { TField::SetAlignment(taRightJustify); }

int32_t TIntegerField::AsInteger() {
  int32_t value = 0;
  return GetData(&value) ? value : 0;
}

void TIntegerField::SetAsInteger(int32_t value) { SetData(&value); }

std::string TIntegerField::AsString() {
  int32_t value = 0;
  return GetData(&value) ? IntToStr(value) : "";
}

void TIntegerField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  int32_t number;
  if (!TryStrToInt(value, number)) {
    DatabaseError("'" + value + "' is not a valid integer value for field '" + DisplayName() +
                  "'");
  }
  SetAsInteger(number);
}

double TIntegerField::AsFloat() { return AsInteger(); }

void TIntegerField::SetAsFloat(double value) {
  SetAsInteger(static_cast<int32_t>(std::lround(value)));
}

TVariant TIntegerField::Value() {
  int32_t value = 0;
  if (!GetData(&value)) return {};
  return TVariant(value);
}

// --- TFloatField ------------------------------------------------------------------------------

TFloatField::TFloatField() : TField(ftFloat) { TField::SetAlignment(taRightJustify); }

double TFloatField::AsFloat() {
  double value = 0;
  return GetData(&value) ? value : 0;
}

void TFloatField::SetAsFloat(double value) { SetData(&value); }

std::string TFloatField::AsString() {
  double value = 0;
  return GetData(&value) ? FloatToStr(value) : "";
}

void TFloatField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  double number;
  if (!TryStrToFloat(value, number)) {
    DatabaseError("'" + value + "' is not a valid floating point value for field '" +
                  DisplayName() + "'");
  }
  SetAsFloat(number);
}

int32_t TFloatField::AsInteger() { return static_cast<int32_t>(std::lround(AsFloat())); }
void TFloatField::SetAsInteger(int32_t value) { SetAsFloat(value); }

TVariant TFloatField::Value() {
  double value = 0;
  if (!GetData(&value)) return {};
  return TVariant(value);
}

// --- TBooleanField ----------------------------------------------------------------------------

TBooleanField::TBooleanField() : TField(ftBoolean) {}

void TBooleanField::SetDisplayValues(const std::string& values) {
  display_values_ = values;
  size_t semicolon = values.find(';');
  true_text_ = values.substr(0, semicolon);
  false_text_ = semicolon == std::string::npos ? "" : values.substr(semicolon + 1);
  LayoutChanged();
}

bool TBooleanField::AsBoolean() {
  uint16_t value = 0;
  return GetData(&value) && value != 0;
}

void TBooleanField::SetAsBoolean(bool value) {
  uint16_t native = value ? 1 : 0;
  SetData(&native);
}

std::string TBooleanField::AsString() {
  uint16_t value = 0;
  if (!GetData(&value)) return "";
  return value ? true_text_ : false_text_;
}

void TBooleanField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  auto starts = [&](const std::string& text) {
    return AnsiCompareText(value, std::string_view(text).substr(0, value.size())) == 0;
  };
  if (starts(false_text_)) {
    SetAsBoolean(false);
  } else if (starts(true_text_)) {
    SetAsBoolean(true);
  } else {
    DatabaseError("'" + value + "' is not a valid boolean value for field '" + DisplayName() +
                  "'");
  }
}

TVariant TBooleanField::Value() {
  uint16_t value = 0;
  if (!GetData(&value)) return {};
  return TVariant(value != 0);
}

// --- TDateTimeField, TDateField ---------------------------------------------------------------

TDateTimeField::TDateTimeField() : TField(ftDateTime) {}

TDateTimeField::TDateTimeField(TFieldType type) : TField(type) {}

TDateTime TDateTimeField::AsDateTime() {
  double msecs = 0;
  if (!GetData(&msecs)) return 0;
  return TimeStampToDateTime(MSecsToTimeStamp(msecs));
}

void TDateTimeField::SetAsDateTime(TDateTime value) {
  double msecs = TimeStampToMSecs(DateTimeToTimeStamp(value));
  SetData(&msecs);
}

std::string TDateTimeField::AsString() {
  if (IsNull()) return "";
  return DateTimeToStr(AsDateTime());
}

void TDateTimeField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  SetAsDateTime(StrToDateTime(value));
}

double TDateTimeField::AsFloat() { return AsDateTime(); }
void TDateTimeField::SetAsFloat(double value) { SetAsDateTime(value); }

TVariant TDateTimeField::Value() {
  if (IsNull()) return {};
  return TVariant::FromDate(AsDateTime());
}

TDateField::TDateField() : TDateTimeField(ftDate) {}

TDateTime TDateField::AsDateTime() {
  int32_t day = 0;
  if (!GetData(&day)) return 0;
  return TimeStampToDateTime(TTimeStamp{0, day});
}

void TDateField::SetAsDateTime(TDateTime value) {
  int32_t day = DateTimeToTimeStamp(value).Date;
  SetData(&day);
}

std::string TDateField::AsString() {
  if (IsNull()) return "";
  return DateToStr(AsDateTime());
}

void TDateField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  SetAsDateTime(StrToDate(value));
}

// --- TMemoField -------------------------------------------------------------------------------

TMemoField::TMemoField() : TField(ftMemo) {}

void TMemoField::CheckSize(int size) {
  if (size < 0) DatabaseError("Invalid field size");
}

std::string TMemoField::AsString() {
  if (!DataSet()) DatabaseError("Field '" + DisplayName() + "' is not bound to a dataset");
  std::unique_ptr<TStream> stream = DataSet()->CreateBlobStream(*this, TBlobStreamMode::Read);
  std::string text;
  if (!stream) return text;
  char chunk[4096];
  while (size_t n = stream->Read(chunk, sizeof chunk)) text.append(chunk, n);
  return text;
}

void TMemoField::SetAsString(const std::string& value) {
  if (!DataSet()) DatabaseError("Field '" + DisplayName() + "' is not bound to a dataset");
  std::unique_ptr<TStream> stream = DataSet()->CreateBlobStream(*this, TBlobStreamMode::Write);
  if (!stream) AccessError("String");
  if (!value.empty()) stream->Write(value.data(), value.size());
}

TVariant TMemoField::Value() {
  std::string text = AsString();
  if (text.empty()) return {};
  return TVariant(text);
}

bool TMemoField::IsNull() { return AsString().empty(); }

// --- TFieldDefs -------------------------------------------------------------------------------

void TFieldDefs::Add(const std::string& name, TFieldType type, int size, bool required,
                     int field_no) {
  TFieldDef def;
  def.Name = name;
  def.DataType = type;
  def.Size = size;
  def.Required = required;
  def.FieldNo = field_no ? field_no : (defs_.empty() ? 1 : defs_.back().FieldNo + 1);
  defs_.push_back(def);
}

const TFieldDef* TFieldDefs::Find(const std::string& name) const {
  for (const TFieldDef& def : defs_) {
    if (AnsiCompareText(def.Name, name) == 0) return &def;
  }
  return nullptr;
}

void TFieldDefs::Update() {
  if (updated_) return;
  dataset_.InternalInitFieldDefs();
  updated_ = true;
}

}  // namespace platform::dataset
