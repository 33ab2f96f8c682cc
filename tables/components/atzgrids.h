// TTzGrid: the data grid of the table components. Over the base grid (platform/qt/data_grid.h)
// it gives every cell seven colours with a hook to change them per row, draws records that
// carry the deleted mark red, draws Boolean fields as boxes toggled by Space, Enter or a
// click, restores a deleted record on Ctrl+Delete, can be kept from appending a record when
// the cursor leaves the last row, shows a right-clicked title pressed, reports clicks on the
// corner cell, and reads the column layout older forms saved.
//
// The pure parts (colours, Boolean texts, the saved layout) are free functions, so they run
// without a window. One GUI thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/qt/data_grid.h"

namespace tz {

using platform::TColor;

enum TTzBooleanBox { bbCheckBox, bbCheckMark, bbText, bbFillBox, bbFillBoxRed, bbRButton,
                     bbRButtonRed, bbDot, bbDotRed };

// --- Cell colours -------------------------------------------------------------------------

// The seven colours of the cell being drawn.
struct TTzCellColors {
  TColor IndicatorColor;
  TColor CellColor;
  TColor CellTextColor;
  TColor HiliteColor;
  TColor HiliteTextColor;
  TColor DeletedColor;
  TColor DeletedTextColor;
  bool operator==(const TTzCellColors&) const = default;
};

// What decides a cell's colours.
struct TTzCellState {
  bool Indicator = false;    // the indicator cell of the row
  bool Deleted = false;      // the row's record carries the deleted mark
  bool Highlighted = false;  // the cell is selected
  bool Enabled = true;       // the grid is enabled
  TColor FixedColor = platform::clBtnFace;
  TColor ColumnColor = platform::clWindow;
  TColor ColumnFontColor = platform::clWindowText;
  TColor FontColor = platform::clWindowText;  // the grid's font
};

// The brush and text colour a cell is drawn with.
struct TTzCellBrush {
  TColor Brush;
  TColor Text;
  bool operator==(const TTzCellBrush&) const = default;
};

// The colours set afresh for every cell: the fixed colour for the indicator, the column's
// colour and font colour (fixed colour and black for the indicator), the highlight colours,
// pure red with the grid's font colour for deleted records.
TTzCellColors TzDefaultCellColors(const TTzCellState& state);
// The brush and text of a cell from its colours: the indicator in IndicatorColor and black;
// a data cell in CellColor / CellTextColor, the deleted colours for a deleted record, the
// highlight colours when highlighted (over the deleted ones), grey text when disabled.
TTzCellBrush TzCellBrush(const TTzCellState& state, const TTzCellColors& colors);

// The values of the row being drawn, for the colour hook: the field name and display text of
// each column, and the deleted mark.
struct TTzRowView {
  int Row = -1;
  bool Deleted = false;
  std::vector<std::string> FieldNames;
  std::vector<std::string> Texts;
  // The text of the column showing `field_name` (without regard to case); empty for none.
  std::string Value(const std::string& field_name) const;
};

// --- Boolean fields -----------------------------------------------------------------------

// The true and false texts of display values "yes;no": split at the first ";"; without
// display values "true" and "false".
std::pair<std::string, std::string> TzBooleanTexts(const std::string& display_values);
// A field counts as true when its text equals the true text without regard to case.
bool TzBooleanIsTrue(const std::string& text, const std::string& true_text);
// The text a toggle sets: the true text unless the text is the true text, then the false one.
std::string TzToggledText(const std::string& text, const std::string& true_text,
                          const std::string& false_text);

// --- The saved column layout --------------------------------------------------------------

// At most this many columns are made from a saved layout; a "cvColumn" beyond them is ignored.
inline constexpr int kMaxSavedColumns = 256;

// A colour from its name ("clRed", "clWindow", ...), "$BBGGRR" hex or a decimal number; false
// when it is none of them.
bool TzColorFromName(const std::string& name, TColor& color);
// A font "name,colourname,number": the number's low byte is the size, bits 0-3 of its second
// byte bold, italic, underline and strike-out. False (and nothing set) for a malformed text.
bool TzFontFromText(const std::string& text, platform::TGridFont& font);

// Applies the saved layout `list` to `columns` ("key=value" strings, trimmed). "cvColumn=n"
// adds columns until column n (from 0) exists and makes column n the current one, also when it
// existed already; the other keys change the current column. Strings with an unknown key, a
// value that does not read (a number, a colour, a font) and keys before the first "cvColumn"
// change nothing. A grid holding only one empty column (no field, no field name, no caption)
// has it removed first. Returns the current column (-1: none).
int TzApplySavedColumns(const std::vector<std::string>& list,
                        std::vector<platform::TGridColumn>& columns);

// --- The grid -----------------------------------------------------------------------------

class TTzGrid;
using TTzChangeColorsEvent =
    std::function<void(TTzGrid& sender, int cur_row, const TTzRowView& row, TTzCellColors& colors)>;
using TTzGridClickEvent = std::function<void(TTzGrid& sender, int cur_column)>;
using TTzNotifyEvent = std::function<void(TTzGrid& sender)>;

class TTzGrid : public platform::TDataGrid {
 public:
  explicit TTzGrid(QWidget* parent = nullptr);

  bool AutoAppend() const { return auto_append_; }
  void SetAutoAppend(bool value) { auto_append_ = value; }
  TTzBooleanBox BooleanBox() const { return boolean_box_; }
  // Lays the grid out again.
  void SetBooleanBox(TTzBooleanBox value);
  bool DepressDisabled() const { return depress_disabled_; }
  // Releases a pressed title first.
  void SetDepressDisabled(bool value);
  // The fixed columns minus the indicator: 0. Writing has no effect.
  int FixedColumns() const { return 0; }
  void SetFixedColumns(int) {}

  TTzNotifyEvent OnCornerLeftClick;
  TTzNotifyEvent OnCornerRightClick;
  TTzChangeColorsEvent OnChangeColorsEvent;
  TTzGridClickEvent OnDepressTitle;

  // Reads a saved column layout (TzApplySavedColumns) and makes the current column the
  // selected one; the columns are laid out once, at the end.
  void ReadSavedColumns(const std::vector<std::string>& list);
  // The colours of a cell as drawn (hook included); for tests and the indicator.
  TTzCellColors ColorsOf(int row, int column, bool highlighted, TTzCellState* state = nullptr);

  platform::TCellPaint CellColours(int row, int column, bool selected) override;
  bool RecordDeleted(platform::dataset::TDataSet& dataset) override;
  // A TTzDataSet that hides its deleted records hides one that another work area (or another
  // program) deleted while the grid held its row.
  bool HidesRecords(platform::dataset::TDataSet& dataset) override;
  bool RecordHidden(platform::dataset::TDataSet& dataset) override;
  platform::TBoolBox BooleanBoxStyle() const override {
    return static_cast<platform::TBoolBox>(boolean_box_);
  }
  bool MayAppend() const override { return auto_append_; }
  // Ctrl+Delete: on a record with the deleted mark "Restore Record ?" and the restore; on
  // another the framework's delete.
  void DeleteKey() override;
  void TitleRightClick(int column) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  bool BooleanColumn(int column) const;
  void ToggleBoolean();

  bool auto_append_ = true;
  TTzBooleanBox boolean_box_ = bbCheckBox;
  bool depress_disabled_ = false;
};

}  // namespace tz
