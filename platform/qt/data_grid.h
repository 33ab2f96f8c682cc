// The base data grid: a QTableView that shows a dataset (platform/dataset) through a data
// source, one row per record in the dataset's order and one column per grid column.
//
// Rows. The dataset is a cursor: record numbers are physical and an index order is not
// sequenced, so neither can place a row. The model holds a run of consecutive records around
// the current one, as bookmarks with each row's display texts and deleted mark read when the
// row comes in: a page before the current record and a page after it when the rows are read
// anew, then more at either end as the view scrolls there (fetchMore at the bottom, a page
// more above when the view stands at the top of the rows it holds). So a move to a far record
// (Last, a Find that misses, a bookmark) costs the rows around it, never a walk from the first
// record. A walk saves the current record, holds back the dataset's notifications and its
// scroll events, and goes back.
//
// A grid that is not visible reads nothing: the first notification drops its rows, and they
// are read anew around the current record when it is shown (a show always reads them anew,
// so what other programs changed meanwhile is seen). A shown grid reads its rows anew on every
// dataset change (a refresh, a post, First, Last, a seek), around the current record, keeping
// that record's row where it was on the screen.
//
// The cursor in edit and insert state: the grid never moves the dataset while it is in edit or
// insert state. A move would re-read the engine's record and destroy what the puts of the
// table components have written into it; the rows then come from what the grid read before,
// only the row of the record being written from the fields. A record being inserted is shown
// as an extra row (at the end for an append, before the current row for an insert).
//
// Moving the current row moves the dataset (GotoBookmark, which posts a pending edit through
// the framework's browse-mode check); a post that is refused puts the selection back. A row
// whose record the grid's descendant says is hidden now (RecordHidden: deleted by another work
// area while deleted records are hidden) is not moved to: the rows are read anew instead. The
// dataset's own moves move the current row.
//
// Editing a cell: the first change of the editor's text puts the dataset into edit state, as
// in a desktop data grid. The text goes into the field when the user presses Return or Enter,
// leaves the cell (Tab, a row key, a click) and, through the data link's UpdateData, before
// any post (the navigator's Post, a move of the dataset); Esc drops it.
//
// Drawing: an indicator column (the vertical header: a triangle on the current row, "I" while
// editing, "*" while inserting), a delegate that draws the column's text with its alignment
// (2 pixels from the left, 3 from the right, 2 from the top) or a Boolean box, a header whose
// title can be shown pressed, and the corner button's left and right clicks. The colours of
// every cell come from CellColours, which a descendant overrides.
//
// One GUI thread. A dataset error inside a key or mouse handler is shown with
// ApplicationHandleException and never leaves the event handler.
#pragma once

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableView>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/dataset/datasource.h"

namespace platform {

// A colour as the forms store it: 0x00BBGGRR, or a system colour 0x800000nn (nn the index of
// the system colour, as clHighlight 0x8000000D).
using TColor = uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clWindow = 0x80000005;
inline constexpr TColor clWindowText = 0x80000008;
inline constexpr TColor clBtnFace = 0x8000000F;
inline constexpr TColor clHighlight = 0x8000000D;
inline constexpr TColor clHighlightText = 0x8000000E;
inline constexpr TColor clGrayText = 0x80000011;
// The colour the palette gives a system colour; a plain colour as it is.
QColor ToQColor(TColor color);

// A font as the forms store it.
struct TGridFont {
  std::string Name;  // empty: the grid's font
  TColor Color = clWindowText;
  int Size = 0;  // points; 0: the grid's size
  bool Bold = false, Italic = false, Underline = false, StrikeOut = false;
};

struct TGridTitle {
  std::string Caption;  // empty: the field's display name
  TColor Color = clBtnFace;
  dataset::TAlignment Alignment = dataset::taLeftJustify;
  TGridFont Font;
};

// One column of the grid. A column with a field name shows that field of the dataset; one
// without shows nothing.
struct TGridColumn {
  std::string FieldName;
  int Width = -1;  // pixels; -1: from the field's display width
  dataset::TAlignment Alignment = dataset::taLeftJustify;
  bool AlignmentSet = false;  // false: the field's alignment
  TColor Color = clWindow;
  TGridFont Font;
  bool ReadOnly = false;
  bool Visible = true;
  TGridTitle Title;
};

// The box styles of Boolean cells (the table components' TTzBooleanBox has the same order).
enum class TBoolBox { CheckBox, CheckMark, Text, FillBox, FillBoxRed, RButton, RButtonRed, Dot,
                      DotRed };

// The colours one cell is drawn with.
struct TCellPaint {
  QColor Background;
  QColor Text;
};

class TDataGrid;

// The model under the grid; made by the grid, one per grid.
class TDataGridModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // Roles beyond Qt's: the field's display text even where the cell shows a box, whether the
  // row's record carries the deleted mark, whether the column's field is a Boolean one.
  enum Role { FieldTextRole = Qt::UserRole + 1, DeletedRole, BooleanRole };

  explicit TDataGridModel(TDataGrid& grid);
  ~TDataGridModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  // The row of the dataset's current record (the insert row while inserting); -1 for none.
  int CurrentRow() const { return current_row_; }
  // The row shown for a record being inserted; -1 outside insert state.
  int InsertRow() const { return insert_row_; }
  // Rows held and the count of rows the walks have read, for tests and the benchmark.
  int FetchedRows() const { return static_cast<int>(rows_.size()); }
  long RecordReads() const { return record_reads_; }
  // The last record / the first record is among the rows.
  bool AtEnd() const { return at_end_; }
  bool AtStart() const { return at_start_; }
  // Reads up to `count` records before the first row and puts them above it; the number of
  // rows added. Nothing while the dataset is written, the grid is hidden or the first record
  // is among the rows.
  int FetchAbove(int count);
  // The field shown in a column, or nullptr.
  dataset::TField* FieldOf(int column) const;
  // Display texts of one row: per column, the field's text as the grid last read it.
  std::vector<std::string> RowTexts(int row) const;
  bool RowDeleted(int row) const;
  // Moves the dataset to the record of `row` (browse, edit: through the browse-mode check).
  // False when the move was refused (the error has been shown).
  bool MoveDataSetTo(int row);
  // The view's change of the current row has finished: a reset the move asked for is done now.
  void FinishViewMove();

 signals:
  // The dataset's current record is now shown in `row` (-1: none).
  void CurrentRowMoved(int row);

 private:
  class Link;
  friend class Link;
  struct Row {
    dataset::TBookmark Bookmark;  // empty for the row of a record being inserted
    bool Deleted = false;
    std::vector<std::string> Texts;
  };
  // What a walk read: rows in the dataset's order, and whether it ran out of records.
  struct Run {
    std::vector<Row> Rows;
    bool RanOut = false;
  };

  // Fields anew from the columns, rows anew around the current record (none while hidden).
  void Reset();
  // Hidden: the rows are dropped once and read anew when the grid is shown.
  void DropRows();
  void LayoutChanged();
  void DataSetChanged();
  void DataSetScrolled();
  void RecordChanged();
  bool Writing() const;
  bool Shown() const;
  dataset::TDataSet* DataSet() const;
  // The rows around the current record: up to `page` before it, the record and up to `page`
  // + 1 after it; `at_start` when no record comes before them, `current_at` the current record's
  // place among them. Browse state only.
  Run ReadAround(int page, bool& at_start, int& current_at);
  // Up to `count` records after the last row (before the first, `forward` false), stopping
  // at `stop_at` when given. Browse state only.
  Run ReadBeyond(bool forward, int count, const dataset::TBookmark* stop_at);
  // Adds a walk's rows after the last row or before the first one.
  void AddRows(Run run, bool at_bottom);
  // The current record's row; the rows are extended by a page at either end to find it.
  // -1 when it is not among them.
  int FindCurrent();
  // The row of `bookmark`, or -1.
  int RowOf(const dataset::TBookmark& bookmark) const;
  void IndexRows();
  // The row shows the dataset's active record (its bookmark, or the insert row).
  bool IsActiveRow(int row) const;
  // Reads the active record's texts and deleted mark into `row` (no move).
  void ReadRowFromFields(Row& row) const;
  // The record under the dataset's cursor, read as a row of the walk.
  Row ReadRow(dataset::TDataSet& ds);
  // Whether `bookmark`'s record is one the grid's descendant hides now (a quiet look).
  bool BookmarkHidden(const dataset::TBookmark& bookmark);
  void SetCurrentRow(int row);
  void ApplyInsertState();
  // The link's UpdateData: the grid's open editor writes its text.
  void UpdateData();

  TDataGrid& grid_;
  std::unique_ptr<Link> link_;
  // The rows, and each record row's serial number: its row is the serial minus base_, so
  // that rows put above the first ones renumber nothing.
  std::deque<Row> rows_;
  std::unordered_map<std::string, long> row_of_;
  long base_ = 0;
  std::vector<dataset::TField*> fields_;
  bool at_start_ = false;
  bool at_end_ = false;
  bool stale_ = true;  // hidden since the rows were dropped: read them when shown
  int current_row_ = -1;
  int insert_row_ = -1;
  bool walking_ = false;
  bool view_move_ = false;
  bool pending_reset_ = false;
  bool resetting_ = false;
  long record_reads_ = 0;
  friend class TDataGrid;
};

// The title row: a title can be shown pressed (sunken), a right click reports its section.
class TDataGridHeader : public QHeaderView {
  Q_OBJECT
 public:
  explicit TDataGridHeader(TDataGrid& grid);
  // The pressed section (logical index), -1 for none.
  int PressedSection() const { return pressed_; }
  void SetPressedSection(int section);

 signals:
  void TitleRightClicked(int section);

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logical) const override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  TDataGrid& grid_;
  int pressed_ = -1;
};

// The indicator column.
class TDataGridIndicator : public QHeaderView {
  Q_OBJECT
 public:
  explicit TDataGridIndicator(TDataGrid& grid);

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logical) const override;
  QSize sectionSizeFromContents(int logical) const override;

 private:
  TDataGrid& grid_;
};

// Draws the cells and makes the cell editors, whose keys it watches (editing a cell: see the
// top of this file).
class TDataGridDelegate : public QStyledItemDelegate {
 public:
  explicit TDataGridDelegate(TDataGrid& grid);
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  // An editor the user has typed into keeps its text when the row is read anew.
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override;

 private:
  TDataGrid& grid_;
};

// Draws a Boolean box of `style` in `cell` with `pen_colour` (the frame and a true mark); the
// "Red" styles draw their mark in red. The box is the largest square of the cell, centred
// across a wide cell and at the top of a narrow one.
void PaintBooleanBox(QPainter& painter, const QRect& cell, TBoolBox style, bool value,
                     const QColor& pen_colour);

class TDataGrid : public QTableView {
  Q_OBJECT
 public:
  explicit TDataGrid(QWidget* parent = nullptr);
  ~TDataGrid() override;

  // --- The data ---
  dataset::TDataSource* DataSource() const { return source_; }
  void SetDataSource(dataset::TDataSource* source);
  TDataGridModel& Model() const { return *model_; }

  // --- Columns ---
  // Persistent columns; without any, the grid shows one default column per visible field.
  std::vector<TGridColumn>& Columns() { return columns_; }
  const std::vector<TGridColumn>& Columns() const { return columns_; }
  // The columns shown: the persistent ones, or the default ones.
  const std::vector<TGridColumn>& ShownColumns() const;
  // The columns changed: lay out anew.
  void ColumnsChanged();
  int SelectedIndex() const;
  void SetSelectedIndex(int column);

  // --- Options ---
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  // Cells may be edited (the framework's editing option) [true].
  bool Editing() const { return editing_; }
  void SetEditing(bool value) { editing_ = value; }
  bool RowSelect() const { return row_select_; }
  void SetRowSelect(bool value);
  bool AlwaysShowSelection() const { return always_show_selection_; }
  void SetAlwaysShowSelection(bool value) { always_show_selection_ = value; }
  // Ask "Delete record?" before Ctrl+Delete deletes [true].
  bool ConfirmDelete() const { return confirm_delete_; }
  void SetConfirmDelete(bool value) { confirm_delete_ = value; }
  TColor FixedColor() const { return fixed_color_; }
  void SetFixedColor(TColor value) { fixed_color_ = value; viewport()->update(); }
  TColor FontColor() const { return font_color_; }
  void SetFontColor(TColor value) { font_color_ = value; viewport()->update(); }

  // --- What a descendant decides ---
  // The colours of one cell: `row` counts data rows from 0, `column` -1 is the indicator.
  virtual TCellPaint CellColours(int row, int column, bool selected);
  // Whether the current record of `dataset` carries the deleted mark; false here.
  virtual bool RecordDeleted(dataset::TDataSet& dataset);
  // Whether the dataset may hide records that the grid still holds (a table that hides its
  // deleted records); false here. Only then is a row looked at before it is moved to.
  virtual bool HidesRecords(dataset::TDataSet& dataset) { (void)dataset; return false; }
  // Whether the current record of `dataset` is one the dataset hides now; false here.
  virtual bool RecordHidden(dataset::TDataSet& dataset) { (void)dataset; return false; }
  // How Boolean cells are drawn; text here.
  virtual TBoolBox BooleanBoxStyle() const { return TBoolBox::Text; }
  // Down or Tab past the last row may append a record; true here.
  virtual bool MayAppend() const { return true; }
  // Ctrl+Delete: the framework's delete of the current record (after "Delete record?" when
  // ConfirmDelete).
  virtual void DeleteKey();
  // A title was right-clicked (logical column).
  virtual void TitleRightClick(int column) { (void)column; }

  // The pressed title, -1 for none.
  int PressedTitle() const { return header_->PressedSection(); }
  void SetPressedTitle(int column) { header_->SetPressedSection(column); }

  // Runs `action` and shows what it throws (ApplicationHandleException); false when it threw.
  static bool Guarded(const std::function<void()>& action);

  // The open cell editor, or nullptr.
  QLineEdit* OpenEditor() const;
  // Writes the open editor's text into its field (through the model, as the editor's own
  // commit does) and closes the editor; nothing without an open editor. False when the write
  // was refused (the error has been shown); the editor is closed all the same.
  bool CommitEditor();

  // Brings the cell into view as the table view does, except that a cell wider than the view
  // shows its start (where its text begins) rather than its end.
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

 signals:
  void CornerLeftClick();
  void CornerRightClick();
  void CellClicked(int row, int column);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void verticalScrollbarValueChanged(int value) override;
  bool CanModifyDataSet() const;

 private:
  friend class TDataGridModel;
  friend class TDataGridDelegate;
  // The delegate made `editor` for `index`.
  void EditorOpened(QLineEdit* editor, const QModelIndex& index);
  // The user changed the editor's text: the dataset goes into edit state. When it refuses
  // (a failed lock, a read-only table) the editor is closed without writing.
  void EditorTextEdited(QLineEdit* editor);
  // The data link's UpdateData: a text the user typed into the open editor goes into the
  // current record's field, without moving the dataset; the editor stays open.
  void WriteEditorToField();
  void FollowDataSet(int row);
  // Rows of a page: those the viewport shows whole, at least a few.
  int PageRows() const;
  // Where the current row stands on the screen (rows below the top), -1 when not shown.
  int CurrentRowOffset() const;
  // After the rows were read anew: the current row goes to `offset` rows below the top, or
  // to the middle for -1, as far as the rows allow.
  void PlaceCurrentRow(int row, int offset);
  // Soon: a page more rows above when the view stands at the top of its rows.
  void FillAboveLater();
  void FillAbove();
  // A page more rows above the first one held, the screen kept as it is.
  void AddRowsAbove();
  void ApplyWidths();
  // After the view's own handling of a key or click: the rows read anew when a move asked for
  // it, and the selection put back after a refused move.
  void FinishUserAction();

  dataset::TDataSource* source_ = nullptr;
  std::unique_ptr<TDataGridModel> model_;
  TDataGridHeader* header_ = nullptr;
  TDataGridIndicator* indicator_ = nullptr;
  std::vector<TGridColumn> columns_;
  mutable std::vector<TGridColumn> default_columns_;
  bool read_only_ = false;
  bool editing_ = true;
  bool row_select_ = false;
  bool always_show_selection_ = false;
  bool confirm_delete_ = true;
  TColor fixed_color_ = clBtnFace;
  TColor font_color_ = clWindowText;
  bool following_ = false;  // the view follows a move of the dataset
  bool revert_ = false;     // a refused move: the selection goes back to the current row
  bool fill_above_queued_ = false;
  int current_column_ = 0;  // kept over a reset of the model
  QPointer<QLineEdit> editor_;            // the open cell editor
  QPersistentModelIndex editor_index_;    // its cell
  bool editor_started_edit_ = false;      // its first edit switched the dataset to edit state
};

}  // namespace platform
