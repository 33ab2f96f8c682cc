// Fields of the dataset framework: one column of a dataset's current record, with its value
// in several shapes (text, integer, float, Boolean, date-time, variant), its display
// properties, and the definitions (TFieldDef) a dataset builds its default fields from.
//
// A field never stores a value itself. Its value lives in the dataset's record buffer and
// travels in the field type's native form through TDataSet::GetFieldData / SetFieldData:
//   string   Size characters and a terminating 0 (DataSize = Size + 1)
//   integer  int32_t (4)              float    double (8)
//   Boolean  uint16_t, 0 false (2)    date     int32_t day number of a TTimeStamp (4)
//   date-time  double, all milliseconds of a TTimeStamp (8)
//   memo     no buffer value (0); read and written through the dataset's blob stream
// A "no value" pointer (nullptr) means Null.
//
// Errors: a value that does not convert throws EConvertError (convert.h) or EDatabaseError
// with the texts named below; a conversion the class has none for throws EDatabaseError
// "Cannot access field '<name>' as type <type>". Fields belong to their dataset (dataset.h),
// which creates, binds and destroys them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/dataset/convert.h"
#include "platform/dataset/variant.h"

namespace platform::dataset {

class TDataSet;

// The framework's own errors ("Dataset not in edit or insert mode", ...). what() is the text.
class EDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// Throws EDatabaseError with `message`.
[[noreturn]] void DatabaseError(const std::string& message);

enum TFieldType { ftUnknown, ftString, ftInteger, ftFloat, ftDate, ftTime, ftDateTime, ftBoolean,
                  ftMemo };

// Data fields hold table columns; calculated and lookup fields are computed per record into
// the calculated-fields part of the record buffer; internal-calc fields are stored with the
// data but computed by the dataset.
enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc };

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// The name of a field type as messages give it: "String", "Integer", ...
std::string FieldTypeName(TFieldType type);

class TField {
 public:
  explicit TField(TFieldType type);
  virtual ~TField();
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  // --- Identity and layout ---
  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(const std::string& name) { field_name_ = name; }
  // The column's number in the dataset's field definitions (1 and up) while bound; -1 for
  // calculated and lookup fields; 0 while unbound.
  int FieldNo() const { return field_no_; }
  TFieldType DataType() const { return data_type_; }
  // Bytes of the native value (table above).
  virtual int DataSize() const;
  // The type's size parameter: the character count of a string field, 0 for most others.
  int Size() const { return size_; }
  // Checks the size with CheckSize (which throws EDatabaseError "Invalid field size" for one the
  // class does not take) and stores it; only while the dataset is closed.
  void SetSize(int size);
  // Of calculated and lookup fields: where the presence byte sits in the calculated-fields
  // part of the record buffer (the value follows it). Set by the dataset when it binds.
  int Offset() const { return offset_; }
  TFieldKind FieldKind() const { return field_kind_; }
  void SetFieldKind(TFieldKind kind) { field_kind_ = kind; }
  bool Calculated() const { return field_kind_ == fkCalculated || field_kind_ == fkLookup; }
  virtual bool IsBlob() const { return false; }
  TDataSet* DataSet() const { return dataset_; }

  // --- Display properties (a change tells the dataset's data links about a new layout) ---
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  bool Required() const { return required_; }
  void SetRequired(bool value) { required_ = value; }
  const std::string& DisplayLabel() const { return display_label_; }
  void SetDisplayLabel(const std::string& label);
  // DisplayLabel, or FieldName when no label is set.
  const std::string& DisplayName() const;
  // Characters a grid column shows; the class's default until set (strings: Size).
  int DisplayWidth() const;
  void SetDisplayWidth(int width);
  bool Visible() const { return visible_; }
  void SetVisible(bool value);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value);
  // Not read-only, a data field, and its dataset is open and can be modified.
  bool CanModify() const;

  // --- Values ---
  // The value as an editor shows it (Text) and as a grid shows it (DisplayText); GetText
  // decides, so a class changes both at once.
  std::string Text() { return GetText(false); }
  std::string DisplayText() { return GetText(true); }
  // Sets the value from an editor's text; by default SetAsString.
  virtual void SetText(const std::string& text);
  virtual std::string AsString();
  virtual void SetAsString(const std::string& value);
  virtual int32_t AsInteger();
  virtual void SetAsInteger(int32_t value);
  virtual double AsFloat();
  virtual void SetAsFloat(double value);
  virtual bool AsBoolean();
  virtual void SetAsBoolean(bool value);
  virtual TDateTime AsDateTime();
  virtual void SetAsDateTime(TDateTime value);
  // Null when IsNull, else the class's natural kind (text, integer, float, Boolean, date).
  virtual TVariant Value();
  // The dataset reports no value for the current record.
  virtual bool IsNull();
  // Sets Null.
  void Clear() { SetData(nullptr); }

  // Runs OnValidate once for a value about to be stored (nullptr = Null). While it runs, the
  // field's getters read that new value. An exception from the handler rejects the value and
  // passes on; the dataset calls this once per put, before it stores anything.
  void Validate(const void* value);
  std::function<void(TField&)> OnValidate;

  // The native value (table at the top) into `target`, which holds DataSize bytes; nullptr
  // only asks whether there is a value. Returns false for Null (the target then holds what
  // the dataset left there). Throws EDatabaseError "Field '<name>' is not bound to a dataset"
  // outside a dataset.
  bool GetData(void* target);
  // Stores the native value through the dataset (which validates it once); nullptr = Null.
  void SetData(const void* value);

 protected:
  virtual std::string GetText(bool display_text);
  // Throws EDatabaseError "Invalid field size" unless the class takes `size`; by default only 0.
  virtual void CheckSize(int size);
  virtual int DefaultWidth() const { return 10; }
  [[noreturn]] void AccessError(const std::string& type_name) const;
  void SetDataType(TFieldType type) { data_type_ = type; }
  void LayoutChanged();

 private:
  friend class TDataSet;

  TDataSet* dataset_ = nullptr;
  std::string field_name_;
  TFieldType data_type_;
  int size_ = 0;
  int field_no_ = 0;
  int offset_ = 0;
  TFieldKind field_kind_ = fkData;
  bool read_only_ = false;
  bool required_ = false;
  std::string display_label_;
  int display_width_ = -1;  // -1: the class's default
  bool visible_ = true;
  TAlignment alignment_ = taLeftJustify;
  // Set while OnValidate runs: the value under test.
  bool validating_ = false;
  const void* value_under_test_ = nullptr;
};

// Texts of at most Size characters; a longer value is cut. AsInteger / AsFloat / AsDateTime
// read the text (EConvertError when it is none); AsBoolean is true for a text starting with
// T, t, Y or y.
class TStringField : public TField {
 public:
  TStringField();
  int DataSize() const override { return Size() + 1; }
  std::string AsString() override;
  void SetAsString(const std::string& value) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t value) override;
  double AsFloat() override;
  void SetAsFloat(double value) override;
  bool AsBoolean() override;
  void SetAsBoolean(bool value) override;
  TDateTime AsDateTime() override;
  void SetAsDateTime(TDateTime value) override;
  TVariant Value() override;

 protected:
  void CheckSize(int size) override;  // 0..8192
  int DefaultWidth() const override { return Size(); }
};

// 32-bit integers. Setting an empty text sets Null; another text that is no integer throws
// EDatabaseError "'<text>' is not a valid integer value for field '<name>'".
class TIntegerField : public TField {
 public:
  TIntegerField();
  int DataSize() const override { return 4; }
  std::string AsString() override;
  void SetAsString(const std::string& value) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t value) override;
  double AsFloat() override;
  void SetAsFloat(double value) override;  // rounded
  TVariant Value() override;

 protected:
  int DefaultWidth() const override { return 11; }
};

// Doubles, shown by FloatToStr. Setting an empty text sets Null; another text that is no
// number throws EDatabaseError "'<text>' is not a valid floating point value for field
// '<name>'". AsInteger rounds.
class TFloatField : public TField {
 public:
  TFloatField();
  int DataSize() const override { return 8; }
  std::string AsString() override;
  void SetAsString(const std::string& value) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t value) override;
  double AsFloat() override;
  void SetAsFloat(double value) override;
  TVariant Value() override;
};

// Booleans shown by DisplayValues, "True;False" until set: the text before the first ";" is
// the true text, the rest the false text. Setting a text picks the value whose text starts
// with it, without regard to case (the false text first); an empty text sets Null; any other
// throws EDatabaseError "'<text>' is not a valid boolean value for field '<name>'".
class TBooleanField : public TField {
 public:
  TBooleanField();
  int DataSize() const override { return 2; }
  const std::string& DisplayValues() const { return display_values_; }
  void SetDisplayValues(const std::string& values);
  const std::string& TrueText() const { return true_text_; }
  const std::string& FalseText() const { return false_text_; }
  std::string AsString() override;
  void SetAsString(const std::string& value) override;
  bool AsBoolean() override;
  void SetAsBoolean(bool value) override;
  TVariant Value() override;

 protected:
  int DefaultWidth() const override { return 5; }

 private:
  std::string display_values_ = "True;False";
  std::string true_text_ = "True";
  std::string false_text_ = "False";
};

// Date and time of day, shown by DateTimeToStr; setting a text reads it with StrToDateTime
// (an empty text sets Null). AsFloat is the TDateTime.
class TDateTimeField : public TField {
 public:
  TDateTimeField();
  int DataSize() const override { return 8; }
  std::string AsString() override;
  void SetAsString(const std::string& value) override;
  double AsFloat() override;
  void SetAsFloat(double value) override;
  TDateTime AsDateTime() override;
  void SetAsDateTime(TDateTime value) override;
  TVariant Value() override;

 protected:
  explicit TDateTimeField(TFieldType type);
  int DefaultWidth() const override { return 18; }
};

// A date without time, shown by DateToStr; setting a text reads it with StrToDate (an empty
// text sets Null; EConvertError "'<text>' is not a valid date" otherwise).
class TDateField : public TDateTimeField {
 public:
  TDateField();
  int DataSize() const override { return 4; }
  std::string AsString() override;
  void SetAsString(const std::string& value) override;
  TDateTime AsDateTime() override;
  void SetAsDateTime(TDateTime value) override;

 protected:
  int DefaultWidth() const override { return 10; }
};

// A text of any length kept outside the record, read and written through the dataset's blob
// stream (TDataSet::CreateBlobStream); Size may be any positive number. Without a stream from
// the dataset the text reads as empty and cannot be set.
class TMemoField : public TField {
 public:
  TMemoField();
  int DataSize() const override { return 0; }
  bool IsBlob() const override { return true; }
  std::string AsString() override;
  void SetAsString(const std::string& value) override;
  TVariant Value() override;
  bool IsNull() override;  // the text is empty

 protected:
  void CheckSize(int size) override;
};

// A new field object of the framework's own class for a type (TStringField for ftString, ...;
// TDateTimeField also for ftTime); nullptr for ftUnknown.
std::unique_ptr<TField> CreateFrameworkField(TFieldType type);

// --- Field definitions ------------------------------------------------------------------------

struct TFieldDef {
  std::string Name;
  TFieldType DataType = ftUnknown;
  int Size = 0;
  bool Required = false;
  int FieldNo = 0;  // the column's number, 1 and up
};

// The columns a dataset offers, filled by its InternalInitFieldDefs. Lookups by name ignore
// case. Owned by the dataset.
class TFieldDefs {
 public:
  explicit TFieldDefs(TDataSet& dataset) : dataset_(dataset) {}
  TFieldDefs(const TFieldDefs&) = delete;
  TFieldDefs& operator=(const TFieldDefs&) = delete;

  void Clear() { defs_.clear(); }
  // Adds a definition; `field_no` 0 numbers it after the last one.
  void Add(const std::string& name, TFieldType type, int size = 0, bool required = false,
           int field_no = 0);
  int Count() const { return static_cast<int>(defs_.size()); }
  const TFieldDef& operator[](int i) const { return defs_.at(i); }
  // The definition of that name, or nullptr.
  const TFieldDef* Find(const std::string& name) const;
  // False until Update has run since the last SetUpdated(false).
  bool Updated() const { return updated_; }
  void SetUpdated(bool value) { updated_ = value; }
  // Unless updated: the dataset's InternalInitFieldDefs fills the list; then updated.
  void Update();

 private:
  TDataSet& dataset_;
  std::vector<TFieldDef> defs_;
  bool updated_ = false;
};

}  // namespace platform::dataset
