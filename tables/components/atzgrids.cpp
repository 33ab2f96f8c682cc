#include "tables/components/atzgrids.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <charconv>

#include "platform/text.h"
#include "platform/ui.h"
#include "tables/components/atznav_decide.h"
#include "tables/components/ucommon.h"

namespace tz {

using platform::TGridColumn;
using platform::dataset::TDataSet;

// --- Cell colours -------------------------------------------------------------------------

TTzCellColors TzDefaultCellColors(const TTzCellState& state) {
  TTzCellColors c;
  c.IndicatorColor = state.FixedColor;
  c.CellColor = state.Indicator ? state.FixedColor : state.ColumnColor;
  c.CellTextColor = state.Indicator ? platform::clBlack : state.ColumnFontColor;
  c.HiliteColor = platform::clHighlight;
  c.HiliteTextColor = platform::clHighlightText;
  c.DeletedColor = platform::clRed;
  c.DeletedTextColor = state.FontColor;
  return c;
}

TTzCellBrush TzCellBrush(const TTzCellState& state, const TTzCellColors& colors) {
  if (state.Indicator) return {colors.IndicatorColor, platform::clBlack};
  TTzCellBrush brush{colors.CellColor, colors.CellTextColor};
  if (state.Deleted) brush = {colors.DeletedColor, colors.DeletedTextColor};
  if (state.Highlighted) brush = {colors.HiliteColor, colors.HiliteTextColor};
  if (!state.Enabled) brush.Text = platform::clGrayText;
  return brush;
}

std::string TTzRowView::Value(const std::string& field_name) const {
  for (size_t i = 0; i < FieldNames.size() && i < Texts.size(); ++i)
    if (platform::AnsiCompareText(FieldNames[i], field_name) == 0) return Texts[i];
  return {};
}

// --- Boolean fields -----------------------------------------------------------------------

std::pair<std::string, std::string> TzBooleanTexts(const std::string& display_values) {
  if (display_values.empty()) return {"true", "false"};
  size_t semicolon = display_values.find(';');
  if (semicolon == std::string::npos) return {display_values, ""};
  return {display_values.substr(0, semicolon), display_values.substr(semicolon + 1)};
}

bool TzBooleanIsTrue(const std::string& text, const std::string& true_text) {
  return platform::AnsiCompareText(text, true_text) == 0;
}

std::string TzToggledText(const std::string& text, const std::string& true_text,
                          const std::string& false_text) {
  return TzBooleanIsTrue(text, true_text) ? false_text : true_text;
}

// --- The saved column layout --------------------------------------------------------------

namespace {

std::string Trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

bool ReadInt(const std::string& text, long long& value) {
  std::string t = Trimmed(text);
  if (t.empty()) return false;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  return ec == std::errc() && end == t.data() + t.size();
}

struct NamedColor {
  const char* name;
  TColor color;
};
constexpr NamedColor kColors[] = {
    {"clBlack", 0x000000},       {"clMaroon", 0x000080},      {"clGreen", 0x008000},
    {"clOlive", 0x008080},       {"clNavy", 0x800000},        {"clPurple", 0x800080},
    {"clTeal", 0x808000},        {"clGray", 0x808080},        {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},         {"clLime", 0x00FF00},        {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},        {"clFuchsia", 0xFF00FF},     {"clAqua", 0xFFFF00},
    {"clWhite", 0xFFFFFF},       {"clScrollBar", 0x80000000}, {"clBackground", 0x80000001},
    {"clActiveCaption", 0x80000002}, {"clInactiveCaption", 0x80000003},
    {"clMenu", 0x80000004},      {"clWindow", 0x80000005},    {"clWindowFrame", 0x80000006},
    {"clMenuText", 0x80000007},  {"clWindowText", 0x80000008}, {"clCaptionText", 0x80000009},
    {"clActiveBorder", 0x8000000A}, {"clInactiveBorder", 0x8000000B},
    {"clAppWorkSpace", 0x8000000C}, {"clHighlight", 0x8000000D},
    {"clHighlightText", 0x8000000E}, {"clBtnFace", 0x8000000F}, {"clBtnShadow", 0x80000010},
    {"clGrayText", 0x80000011},  {"clBtnText", 0x80000012},
    {"clInactiveCaptionText", 0x80000013}, {"clBtnHighlight", 0x80000014},
    {"cl3DDkShadow", 0x80000015}, {"cl3DLight", 0x80000016}, {"clInfoText", 0x80000017},
    {"clInfoBk", 0x80000018},
};

platform::dataset::TAlignment AlignmentFromName(const std::string& name) {
  if (platform::AnsiCompareText(name, "taRightJustify") == 0) return platform::dataset::taRightJustify;
  if (platform::AnsiCompareText(name, "taCenter") == 0) return platform::dataset::taCenter;
  return platform::dataset::taLeftJustify;
}

}  // namespace

bool TzColorFromName(const std::string& name, TColor& color) {
  std::string t = Trimmed(name);
  for (const NamedColor& c : kColors)
    if (platform::AnsiCompareText(t, c.name) == 0) {
      color = c.color;
      return true;
    }
  if (!t.empty() && t[0] == '$') {
    unsigned long value = 0;
    auto [end, ec] = std::from_chars(t.data() + 1, t.data() + t.size(), value, 16);
    if (ec != std::errc() || end != t.data() + t.size() || t.size() == 1 || value > 0xFFFFFFFFul)
      return false;
    color = static_cast<TColor>(value);
    return true;
  }
  long long value = 0;
  if (!ReadInt(t, value) || value < INT32_MIN || value > 0xFFFFFFFFll) return false;
  color = static_cast<TColor>(value);
  return true;
}

bool TzFontFromText(const std::string& text, platform::TGridFont& font) {
  size_t first = text.find(',');
  if (first == std::string::npos) return false;
  size_t second = text.find(',', first + 1);
  if (second == std::string::npos) return false;
  TColor color;
  long long number = 0;
  if (!TzColorFromName(text.substr(first + 1, second - first - 1), color) ||
      !ReadInt(text.substr(second + 1), number))
    return false;
  font.Name = Trimmed(text.substr(0, first));
  font.Color = color;
  font.Size = static_cast<int>(number & 0xFF);
  int style = static_cast<int>((number >> 8) & 0x0F);
  font.Bold = style & 1;
  font.Italic = style & 2;
  font.Underline = style & 4;
  font.StrikeOut = style & 8;
  return true;
}

int TzApplySavedColumns(const std::vector<std::string>& list, std::vector<TGridColumn>& columns) {
  if (columns.size() == 1 && columns[0].FieldName.empty() && columns[0].Title.Caption.empty())
    columns.clear();
  int current = -1;
  for (const std::string& entry : list) {
    std::string line = Trimmed(entry);
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = Trimmed(line.substr(0, equals));
    std::string value = line.substr(equals + 1);
    auto is = [&](const char* name) { return platform::AnsiCompareText(key, name) == 0; };
    long long number = 0;
    if (is("cvColumn")) {
      if (!ReadInt(value, number) || number < 0 || number >= kMaxSavedColumns) continue;
      while (static_cast<long long>(columns.size()) <= number) columns.emplace_back();
      current = static_cast<int>(number);
      continue;
    }
    if (current < 0) continue;
    TGridColumn& column = columns[static_cast<size_t>(current)];
    TColor color;
    platform::TGridFont font;
    if (is("cvColorStr")) {
      if (TzColorFromName(value, color)) column.Color = color;
    } else if (is("cvWidthStr")) {
      if (ReadInt(value, number) && number >= 0 && number <= 0x7FFF) column.Width = static_cast<int>(number);
    } else if (is("cvFontStr")) {
      if (TzFontFromText(value, font)) column.Font = font;
    } else if (is("cvAlignmentStr")) {
      column.Alignment = AlignmentFromName(Trimmed(value));
      column.AlignmentSet = true;
    } else if (is("cvReadOnlyStr")) {
      column.ReadOnly = platform::AnsiCompareText(Trimmed(value), "TRUE") == 0;
    } else if (is("cvTitleColorStr")) {
      if (TzColorFromName(value, color)) column.Title.Color = color;
    } else if (is("cvTitleCaptionStr")) {
      column.Title.Caption = value;
    } else if (is("cvTitleAlignmentStr")) {
      column.Title.Alignment = AlignmentFromName(Trimmed(value));
    } else if (is("cvTitleFontStr")) {
      if (TzFontFromText(value, font)) column.Title.Font = font;
    } else if (is("cvFieldNameStr")) {
      column.FieldName = Trimmed(value);
    }
  }
  return current;
}

// --- The grid -----------------------------------------------------------------------------

TTzGrid::TTzGrid(QWidget* parent) : TDataGrid(parent) {
  connect(this, &TDataGrid::CornerLeftClick, this, [this] {
    if (OnCornerLeftClick) OnCornerLeftClick(*this);
  });
  connect(this, &TDataGrid::CornerRightClick, this, [this] {
    if (OnCornerRightClick) OnCornerRightClick(*this);
  });
}

void TTzGrid::SetBooleanBox(TTzBooleanBox value) {
  boolean_box_ = value;
  ColumnsChanged();
}

void TTzGrid::SetDepressDisabled(bool value) {
  SetPressedTitle(-1);
  depress_disabled_ = value;
}

void TTzGrid::ReadSavedColumns(const std::vector<std::string>& list) {
  int current = TzApplySavedColumns(list, Columns());
  ColumnsChanged();
  if (current >= 0) SetSelectedIndex(current);
}

TTzCellColors TTzGrid::ColorsOf(int row, int column, bool highlighted, TTzCellState* out) {
  TTzCellState state;
  state.Indicator = column < 0;
  state.Deleted = Model().RowDeleted(row);
  state.Highlighted = highlighted;
  state.Enabled = isEnabled();
  state.FixedColor = FixedColor();
  state.FontColor = FontColor();
  const auto& columns = ShownColumns();
  if (column >= 0 && column < static_cast<int>(columns.size())) {
    state.ColumnColor = columns[static_cast<size_t>(column)].Color;
    state.ColumnFontColor = columns[static_cast<size_t>(column)].Font.Color;
  }
  TTzCellColors colors = TzDefaultCellColors(state);
  if (OnChangeColorsEvent && row >= 0) {
    TTzRowView view;
    view.Row = row;
    view.Deleted = state.Deleted;
    for (const TGridColumn& c : columns) view.FieldNames.push_back(c.FieldName);
    view.Texts = Model().RowTexts(row);
    OnChangeColorsEvent(*this, row, view, colors);
  }
  if (out) *out = state;
  return colors;
}

platform::TCellPaint TTzGrid::CellColours(int row, int column, bool selected) {
  TTzCellState state;
  TTzCellColors colors = ColorsOf(row, column, selected, &state);
  TTzCellBrush brush = TzCellBrush(state, colors);
  return {platform::ToQColor(brush.Brush), platform::ToQColor(brush.Text)};
}

bool TTzGrid::RecordDeleted(TDataSet& dataset) {
  auto* tz = dynamic_cast<TTzDataSet*>(&dataset);
  return tz && tz->IsDeleted();
}

bool TTzGrid::HidesRecords(TDataSet& dataset) {
  auto* tz = dynamic_cast<TTzDataSet*>(&dataset);
  return tz && tz->HideDeletedRecs();
}

bool TTzGrid::RecordHidden(TDataSet& dataset) { return HidesRecords(dataset) && RecordDeleted(dataset); }

void TTzGrid::DeleteKey() {
  TDataSet* ds = DataSource() ? DataSource()->DataSet() : nullptr;
  auto* tz = dynamic_cast<TTzDataSet*>(ds);
  if (tz && tz->Active() && tz->IsDeleted()) {
    if (!CanModifyDataSet()) return;
    if (platform::MessageBox(platform::OemToAnsi(kRestoreRecordQuestion), kConfirmCaption,
                             platform::kMbOkCancel | platform::kMbIconQuestion) == platform::kIdCancel)
      return;
    Guarded([&] { tz->SetDeleted(false); });
    return;
  }
  TDataGrid::DeleteKey();
}

void TTzGrid::TitleRightClick(int column) {
  if (depress_disabled_) return;
  SetPressedTitle(column);
  repaint();
  if (OnDepressTitle) OnDepressTitle(*this, column);
}

bool TTzGrid::BooleanColumn(int column) const {
  auto* field = Model().FieldOf(column);
  return field && field->DataType() == platform::dataset::ftBoolean;
}

void TTzGrid::ToggleBoolean() {
  int column = currentIndex().column();
  auto* field = Model().FieldOf(column);
  TDataSet* ds = DataSource() ? DataSource()->DataSet() : nullptr;
  if (!field || !ds || !Editing() || ReadOnly() || ShownColumns()[static_cast<size_t>(column)].ReadOnly ||
      !field->CanModify())
    return;
  auto* boolean = dynamic_cast<platform::dataset::TBooleanField*>(field);
  auto [true_text, false_text] =
      boolean ? std::pair{boolean->TrueText(), boolean->FalseText()} : TzBooleanTexts("");
  Guarded([&] {
    if (ds->State() != platform::dataset::dsEdit && ds->State() != platform::dataset::dsInsert)
      ds->Edit();
    field->SetText(TzToggledText(field->DisplayText(), true_text, false_text));
  });
}

void TTzGrid::keyPressEvent(QKeyEvent* event) {
  bool editor_open = state() == QAbstractItemView::EditingState;
  if (!editor_open && currentIndex().isValid() && BooleanColumn(currentIndex().column()) &&
      !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
    int key = event->key();
    if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
      ToggleBoolean();
      event->accept();
      return;
    }
    if (key == Qt::Key_Backspace || (!event->text().isEmpty() && event->text().at(0).isPrint())) {
      event->accept();
      return;
    }
  }
  TDataGrid::keyPressEvent(event);
}

void TTzGrid::mousePressEvent(QMouseEvent* event) {
  QModelIndex index = indexAt(event->position().toPoint());
  bool on_current = index.isValid() && index == currentIndex() && index.row() == Model().CurrentRow();
  TDataGrid::mousePressEvent(event);
  if (event->button() == Qt::LeftButton && on_current && BooleanColumn(index.column())) {
    if (state() == QAbstractItemView::EditingState) closePersistentEditor(index);
    ToggleBoolean();
  }
}

}  // namespace tz
