#include "platform/qt/data_grid.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPolygon>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>

#include "platform/qt/qt_text.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace platform {

using dataset::TBookmark;
using dataset::TDataSet;
using dataset::TField;

QColor ToQColor(TColor color) {
  if (color & 0x80000000u) {
    QPalette palette = QApplication::palette();
    switch (color & 0xFF) {
      case 0x05: return palette.color(QPalette::Base);
      case 0x08: return palette.color(QPalette::Text);
      case 0x0D: return palette.color(QPalette::Highlight);
      case 0x0E: return palette.color(QPalette::HighlightedText);
      case 0x0F: return palette.color(QPalette::Button);
      case 0x11: return palette.color(QPalette::Disabled, QPalette::Text);
      case 0x12: return palette.color(QPalette::ButtonText);
      default: return palette.color(QPalette::Window);
    }
  }
  return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

namespace {

std::string BookmarkKey(const TBookmark& bookmark) {
  return std::string(bookmark.begin(), bookmark.end());
}

QFont FontOf(const TGridFont& font, const QFont& base) {
  QFont f = base;
  if (!font.Name.empty()) f.setFamily(ToQString(font.Name));
  if (font.Size > 0) f.setPointSize(font.Size);
  f.setBold(font.Bold);
  f.setItalic(font.Italic);
  f.setUnderline(font.Underline);
  f.setStrikeOut(font.StrikeOut);
  return f;
}

Qt::Alignment AlignmentOf(dataset::TAlignment alignment) {
  switch (alignment) {
    case dataset::taRightJustify: return Qt::AlignRight;
    case dataset::taCenter: return Qt::AlignHCenter;
    default: return Qt::AlignLeft;
  }
}

}  // namespace

// --- The data link ------------------------------------------------------------------------------

class TDataGridModel::Link : public dataset::TDataLink {
 public:
  explicit Link(TDataGridModel& model) : model_(model) {}
  // Set while a notification runs: the dataset is inside an operation and must not be moved.
  bool in_event = false;

 protected:
  void ActiveChanged() override { Run([this] { model_.Reset(); }); }
  void DataSetChanged() override { Run([this] { model_.DataSetChanged(); }); }
  void DataSetScrolled(int) override { Run([this] { model_.DataSetScrolled(); }); }
  void RecordChanged(TField*) override { Run([this] { model_.RecordChanged(); }); }
  void LayoutChanged() override { Run([this] { model_.LayoutChanged(); }); }
  void EditingChanged() override { Run([this] { model_.RecordChanged(); }); }
  void UpdateData() override { Run([this] { model_.UpdateData(); }); }

 private:
  template <typename F>
  void Run(F action) {
    if (model_.walking_) return;
    // UpdateData may throw (a text the field refuses) into the post that asked for it.
    struct Restore {
      bool& flag;
      bool outer;
      ~Restore() { flag = outer; }
    } restore{in_event, in_event};
    in_event = true;
    action();
  }
  TDataGridModel& model_;
};

// Walks the dataset behind its users' backs: notifications held, the program's scroll events
// kept from running, and the current record (with its Bof and Eof) put back afterwards.
class QuietWalk {
 public:
  QuietWalk(TDataSet& dataset, bool& walking) : dataset_(dataset), walking_(walking) {
    walking_ = true;
    dataset_.DisableControls();
    before_.swap(dataset_.BeforeScroll);
    after_.swap(dataset_.AfterScroll);
    saved_ = dataset_.GetBookmark();
    bof_ = dataset_.Bof();
    eof_ = dataset_.Eof();
  }
  ~QuietWalk() {
    try {
      if (!saved_.empty()) {
        dataset_.GotoBookmark(saved_);
        if (eof_) dataset_.Next();
        if (bof_) dataset_.Prior();
      }
    } catch (...) {
    }
    before_.swap(dataset_.BeforeScroll);
    after_.swap(dataset_.AfterScroll);
    dataset_.EnableControls();
    walking_ = false;
  }
  QuietWalk(const QuietWalk&) = delete;
  QuietWalk& operator=(const QuietWalk&) = delete;

 private:
  TDataSet& dataset_;
  bool& walking_;
  dataset::TDataSetNotifyEvent before_, after_;
  TBookmark saved_;
  bool bof_, eof_;
};

// --- The model ----------------------------------------------------------------------------------

TDataGridModel::TDataGridModel(TDataGrid& grid)
    : QAbstractTableModel(&grid), grid_(grid), link_(std::make_unique<Link>(*this)) {}

TDataGridModel::~TDataGridModel() { link_->SetDataSource(nullptr); }

TDataSet* TDataGridModel::DataSet() const {
  return link_->Active() ? link_->DataSet() : nullptr;
}

bool TDataGridModel::Writing() const {
  TDataSet* ds = DataSet();
  return ds && (ds->State() == dataset::dsEdit || ds->State() == dataset::dsInsert);
}

bool TDataGridModel::Shown() const { return grid_.isVisible(); }

int TDataGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TDataGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(fields_.size());
}

TField* TDataGridModel::FieldOf(int column) const {
  if (column < 0 || column >= static_cast<int>(fields_.size())) return nullptr;
  return fields_[static_cast<size_t>(column)];
}

void TDataGridModel::ReadRowFromFields(Row& row) const {
  row.Texts.assign(fields_.size(), std::string());
  for (size_t c = 0; c < fields_.size(); ++c) {
    if (!fields_[c]) continue;
    try {
      row.Texts[c] = fields_[c]->DisplayText();
    } catch (...) {
    }
  }
  if (TDataSet* ds = DataSet()) row.Deleted = grid_.RecordDeleted(*ds);
}

TDataGridModel::Row TDataGridModel::ReadRow(TDataSet& ds) {
  ++record_reads_;
  Row row;
  row.Bookmark = ds.GetBookmark();
  ReadRowFromFields(row);
  return row;
}

std::vector<std::string> TDataGridModel::RowTexts(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return {};
  return rows_[static_cast<size_t>(row)].Texts;
}

bool TDataGridModel::RowDeleted(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
  return rows_[static_cast<size_t>(row)].Deleted;
}

int TDataGridModel::RowOf(const TBookmark& bookmark) const {
  if (bookmark.empty()) return -1;
  auto it = row_of_.find(BookmarkKey(bookmark));
  return it == row_of_.end() ? -1 : static_cast<int>(it->second - base_);
}

void TDataGridModel::IndexRows() {
  row_of_.clear();
  base_ = 0;
  for (size_t r = 0; r < rows_.size(); ++r)
    if (!rows_[r].Bookmark.empty()) row_of_[BookmarkKey(rows_[r].Bookmark)] = static_cast<long>(r);
}

bool TDataGridModel::IsActiveRow(int row) const {
  TDataSet* ds = DataSet();
  if (!ds || row < 0 || row >= static_cast<int>(rows_.size())) return false;
  if (ds->State() == dataset::dsInsert) return row == insert_row_;
  TBookmark current = ds->GetBookmark();
  return !current.empty() && rows_[static_cast<size_t>(row)].Bookmark == current;
}

QVariant TDataGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()) ||
      index.column() >= static_cast<int>(fields_.size()))
    return {};
  TField* field = FieldOf(index.column());
  const TGridColumn& column = grid_.ShownColumns()[static_cast<size_t>(index.column())];
  bool boolean = field && field->DataType() == dataset::ftBoolean;
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case FieldTextRole: {
      if (role == Qt::DisplayRole && boolean && grid_.BooleanBoxStyle() != TBoolBox::Text)
        return QString();
      const Row& row = rows_[static_cast<size_t>(index.row())];
      size_t c = static_cast<size_t>(index.column());
      return c < row.Texts.size() ? ToQString(row.Texts[c]) : QString();
    }
    case DeletedRole: return RowDeleted(index.row());
    case BooleanRole: return boolean;
    case Qt::TextAlignmentRole: {
      dataset::TAlignment a = column.AlignmentSet || !field ? column.Alignment : field->Alignment();
      return QVariant::fromValue(AlignmentOf(a) | Qt::AlignTop);
    }
    case Qt::FontRole: return FontOf(column.Font, grid_.font());
    case Qt::BackgroundRole:
      return grid_.CellColours(index.row(), index.column(), false).Background;
    case Qt::ForegroundRole: return grid_.CellColours(index.row(), index.column(), false).Text;
    default: return {};
  }
}

QVariant TDataGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Vertical) return role == Qt::DisplayRole ? QVariant(QString()) : QVariant();
  if (section < 0 || section >= static_cast<int>(fields_.size())) return {};
  const TGridColumn& column = grid_.ShownColumns()[static_cast<size_t>(section)];
  switch (role) {
    case Qt::DisplayRole: {
      if (!column.Title.Caption.empty()) return ToQString(column.Title.Caption);
      TField* field = FieldOf(section);
      return field ? ToQString(field->DisplayName()) : ToQString(column.FieldName);
    }
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(AlignmentOf(column.Title.Alignment) | Qt::AlignVCenter);
    case Qt::FontRole: return FontOf(column.Title.Font, grid_.font());
    default: return {};
  }
}

Qt::ItemFlags TDataGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  TField* field = FieldOf(index.column());
  TDataSet* ds = DataSet();
  const TGridColumn& column = grid_.ShownColumns()[static_cast<size_t>(index.column())];
  if (field && ds && grid_.Editing() && !grid_.ReadOnly() && !column.ReadOnly &&
      field->DataType() != dataset::ftBoolean && field->CanModify())
    flags |= Qt::ItemIsEditable;
  return flags;
}

bool TDataGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  TField* field = FieldOf(index.column());
  if (role != Qt::EditRole || !field || !DataSet()) return false;
  if (index.row() != current_row_ && !MoveDataSetTo(index.row())) return false;
  std::string text = FromQString(value.toString());
  return TDataGrid::Guarded([&] {
    if (!link_->Edit()) DataSet()->Edit();
    field->SetText(text);
  });
}

bool TDataGridModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && DataSet() && !rows_.empty() && !at_end_ && !stale_ && !Writing() &&
         Shown();
}

void TDataGridModel::fetchMore(const QModelIndex& parent) {
  if (parent.isValid() || !canFetchMore(parent)) return;
  if (resetting_) {
    // A view asks while the reset is being announced: rows may come only after it.
    QTimer::singleShot(0, this, [this] {
      if (canFetchMore(QModelIndex())) fetchMore(QModelIndex());
    });
    return;
  }
  AddRows(ReadBeyond(true, grid_.PageRows(), nullptr), true);
}

int TDataGridModel::FetchAbove(int count) {
  if (rows_.empty() || at_start_ || stale_ || walking_ || Writing() || !Shown() || !DataSet())
    return 0;
  size_t before = rows_.size();
  AddRows(ReadBeyond(false, count, nullptr), false);
  return static_cast<int>(rows_.size() - before);
}

TDataGridModel::Run TDataGridModel::ReadAround(int page, bool& at_start, int& current_at) {
  Run run;
  at_start = false;
  current_at = -1;
  TDataSet* ds = DataSet();
  TBookmark current = ds ? ds->GetBookmark() : TBookmark();
  if (current.empty()) {
    // No record: an empty dataset, or one standing on none.
    at_start = true;
    run.RanOut = true;
    return run;
  }
  std::vector<Row> above;
  {
    QuietWalk walk(*ds, walking_);
    try {
      run.Rows.push_back(ReadRow(*ds));
      // One more than a page after it: the row that the screen shows in part as well.
      while (static_cast<int>(run.Rows.size()) <= page + 1) {
        ds->Next();
        if (ds->Eof()) {
          run.RanOut = true;
          break;
        }
        run.Rows.push_back(ReadRow(*ds));
      }
      ds->GotoBookmark(current);
      while (static_cast<int>(above.size()) < page) {
        ds->Prior();
        if (ds->Bof()) {
          at_start = true;
          break;
        }
        above.push_back(ReadRow(*ds));
      }
    } catch (...) {
      // What was read stands; the ends are not walked again.
      run.RanOut = true;
      at_start = true;
    }
  }
  current_at = static_cast<int>(above.size());
  run.Rows.insert(run.Rows.begin(), std::make_move_iterator(above.rbegin()),
                  std::make_move_iterator(above.rend()));
  return run;
}

TDataGridModel::Run TDataGridModel::ReadBeyond(bool forward, int count, const TBookmark* stop_at) {
  Run run;
  TDataSet* ds = DataSet();
  if (!ds || rows_.empty() || walking_ || Writing()) return run;
  // The record rows at that end (an insert row has no record).
  TBookmark from;
  if (forward) {
    for (auto it = rows_.rbegin(); it != rows_.rend() && from.empty(); ++it) from = it->Bookmark;
  } else {
    for (auto it = rows_.begin(); it != rows_.end() && from.empty(); ++it) from = it->Bookmark;
  }
  if (from.empty()) return run;
  QuietWalk walk(*ds, walking_);
  try {
    ds->GotoBookmark(from);
    while (static_cast<int>(run.Rows.size()) < count) {
      if (forward) ds->Next();
      else ds->Prior();
      if (forward ? ds->Eof() : ds->Bof()) {
        run.RanOut = true;
        break;
      }
      run.Rows.push_back(ReadRow(*ds));
      if (stop_at && run.Rows.back().Bookmark == *stop_at) break;
    }
  } catch (...) {
    run.RanOut = true;
  }
  if (!forward) std::reverse(run.Rows.begin(), run.Rows.end());
  return run;
}

void TDataGridModel::AddRows(Run run, bool at_bottom) {
  if (at_bottom && run.RanOut) at_end_ = true;
  if (!at_bottom && run.RanOut) at_start_ = true;
  if (run.Rows.empty()) return;
  int n = static_cast<int>(run.Rows.size());
  // What the views do while the rows are announced must not start another walk.
  walking_ = true;
  if (at_bottom) {
    int first = static_cast<int>(rows_.size());
    beginInsertRows(QModelIndex(), first, first + n - 1);
    for (Row& row : run.Rows) {
      row_of_[BookmarkKey(row.Bookmark)] = base_ + static_cast<long>(rows_.size());
      rows_.push_back(std::move(row));
    }
    endInsertRows();
  } else {
    beginInsertRows(QModelIndex(), 0, n - 1);
    for (auto it = run.Rows.rbegin(); it != run.Rows.rend(); ++it) {
      --base_;
      row_of_[BookmarkKey(it->Bookmark)] = base_;
      rows_.push_front(std::move(*it));
    }
    if (current_row_ >= 0) current_row_ += n;
    if (insert_row_ >= 0) insert_row_ += n;
    endInsertRows();
  }
  walking_ = false;
}

int TDataGridModel::FindCurrent() {
  TDataSet* ds = DataSet();
  if (!ds) return -1;
  TBookmark current = ds->GetBookmark();
  int row = RowOf(current);
  if (row >= 0 || current.empty() || !Shown() || stale_ || Writing()) return row;
  // A move just past either end of the rows (the navigator's Next, a key) extends them.
  int page = grid_.PageRows();
  if (!at_end_) AddRows(ReadBeyond(true, page, &current), true);
  row = RowOf(current);
  if (row < 0 && !at_start_) AddRows(ReadBeyond(false, page, &current), false);
  return RowOf(current);
}

void TDataGridModel::SetCurrentRow(int row) {
  current_row_ = row;
  emit CurrentRowMoved(row);
}

void TDataGridModel::Reset() {
  int offset = grid_.CurrentRowOffset();
  TDataSet* ds = link_->Active() ? link_->DataSet() : nullptr;
  std::vector<TField*> fields;
  if (ds) {
    for (const TGridColumn& column : grid_.ShownColumns())
      fields.push_back(column.FieldName.empty() ? nullptr : ds->FindField(column.FieldName));
  } else {
    fields.assign(grid_.ShownColumns().size(), nullptr);
  }
  // The rows are read before the model announces the reset, so that no view asks for data
  // in between; nothing is read while hidden, and nothing walks while the dataset is written.
  bool read = ds && Shown() && !Writing();
  Run run;
  bool at_start = false;
  int current_at = -1;
  if (read) {
    fields_ = fields;
    run = ReadAround(grid_.PageRows(), at_start, current_at);
  }
  beginResetModel();
  rows_.clear();
  row_of_.clear();
  base_ = 0;
  at_start_ = at_start;
  at_end_ = run.RanOut;
  stale_ = !read;
  current_row_ = -1;
  insert_row_ = -1;
  pending_reset_ = false;
  fields_ = std::move(fields);
  for (Row& row : run.Rows) rows_.push_back(std::move(row));
  IndexRows();
  resetting_ = true;
  endResetModel();
  resetting_ = false;
  grid_.ApplyWidths();
  if (!ds || !Shown()) return;
  if (Writing()) {
    // Shown while the record is being written: its row is all there is to show until the
    // write ends (its post or cancel reads the rows anew).
    stale_ = false;
    at_start_ = at_end_ = true;
    if (ds->State() == dataset::dsInsert) {
      ApplyInsertState();
    } else {
      Row row;
      row.Bookmark = ds->GetBookmark();
      ReadRowFromFields(row);
      beginInsertRows(QModelIndex(), 0, 0);
      rows_.push_back(std::move(row));
      IndexRows();
      endInsertRows();
      SetCurrentRow(0);
    }
    return;
  }
  SetCurrentRow(current_at);
  if (current_at >= 0) grid_.PlaceCurrentRow(current_at, offset);
  grid_.FillAboveLater();
}

void TDataGridModel::DropRows() {
  if (stale_ && rows_.empty()) return;
  beginResetModel();
  rows_.clear();
  row_of_.clear();
  base_ = 0;
  at_start_ = at_end_ = false;
  stale_ = true;
  current_row_ = -1;
  insert_row_ = -1;
  pending_reset_ = false;
  endResetModel();
}

void TDataGridModel::LayoutChanged() {
  grid_.default_columns_.clear();
  Reset();
}

void TDataGridModel::DataSetChanged() {
  if (!Shown()) {
    DropRows();
    return;
  }
  if (Writing()) {
    ApplyInsertState();
    RecordChanged();
    return;
  }
  // The view's own move: MoveDataSetTo decides what follows.
  if (view_move_) return;
  Reset();
}

void TDataGridModel::DataSetScrolled() {
  TDataSet* ds = DataSet();
  if (!ds || view_move_) return;
  if (!Shown()) {
    DropRows();
    return;
  }
  int row = FindCurrent();
  // Far from the rows held: they are read anew around the record.
  if (row < 0 && !Writing() && !ds->GetBookmark().empty()) {
    Reset();
    return;
  }
  SetCurrentRow(row);
}

void TDataGridModel::RecordChanged() {
  // Only the row of the record the fields show; while a new record is being set up (its
  // state announced before its row exists) the rows keep what they show.
  if (!IsActiveRow(current_row_)) return;
  ReadRowFromFields(rows_[static_cast<size_t>(current_row_)]);
  emit dataChanged(index(current_row_, 0), index(current_row_, columnCount() - 1));
  emit headerDataChanged(Qt::Vertical, current_row_, current_row_);
}

void TDataGridModel::UpdateData() { grid_.WriteEditorToField(); }

void TDataGridModel::ApplyInsertState() {
  TDataSet* ds = DataSet();
  if (!ds || ds->State() != dataset::dsInsert || insert_row_ >= 0 || stale_) return;
  // An append goes after the last record, an insert before the current one.
  bool append = ds->Appending();
  int at = append || current_row_ < 0 ? static_cast<int>(rows_.size()) : current_row_;
  if (append) at_end_ = true;
  Row row;
  ReadRowFromFields(row);
  beginInsertRows(QModelIndex(), at, at);
  rows_.insert(rows_.begin() + at, std::move(row));
  IndexRows();
  insert_row_ = at;
  endInsertRows();
  SetCurrentRow(at);
}

bool TDataGridModel::BookmarkHidden(const TBookmark& bookmark) {
  TDataSet* ds = DataSet();
  if (!ds || !grid_.HidesRecords(*ds)) return false;
  QuietWalk walk(*ds, walking_);
  try {
    ds->GotoBookmark(bookmark);
    return grid_.RecordHidden(*ds);
  } catch (...) {
    // A record the dataset cannot go to is gone as well.
    return true;
  }
}

bool TDataGridModel::MoveDataSetTo(int row) {
  TDataSet* ds = DataSet();
  if (!ds || row < 0 || row >= static_cast<int>(rows_.size())) return false;
  if (row == insert_row_ || row == current_row_) return true;
  TBookmark target = rows_[static_cast<size_t>(row)].Bookmark;
  bool posted = false;
  bool gone = false;
  view_move_ = true;
  bool moved = TDataGrid::Guarded([&] {
    if (Writing()) {
      // The record being written is posted (or dropped) first; the look at the target below
      // must not do it behind the user's back.
      posted = true;
      ds->CheckBrowseMode();
    }
    gone = BookmarkHidden(target);
    if (!gone) ds->GotoBookmark(target);
  });
  view_move_ = false;
  if (Writing()) return false;
  if (posted || gone || !moved) {
    // A post or a cancel ran, or the row's record is gone: rows may have come or gone. They
    // are read anew once the view has finished its move.
    pending_reset_ = true;
    QTimer::singleShot(0, this, [this] { FinishViewMove(); });
    return moved && !gone;
  }
  current_row_ = row;
  ReadRowFromFields(rows_[static_cast<size_t>(row)]);
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
  return true;
}

void TDataGridModel::FinishViewMove() {
  if (link_->in_event || walking_) return;
  if (pending_reset_) {
    pending_reset_ = false;
    Reset();
  }
}

// --- Headers ------------------------------------------------------------------------------------

TDataGridHeader::TDataGridHeader(TDataGrid& grid) : QHeaderView(Qt::Horizontal, &grid), grid_(grid) {
  setSectionsClickable(true);
  setSectionsMovable(true);
  setHighlightSections(false);
}

void TDataGridHeader::SetPressedSection(int section) {
  pressed_ = section;
  viewport()->update();
}

void TDataGridHeader::paintSection(QPainter* painter, const QRect& rect, int logical) const {
  QStyleOptionHeader option;
  initStyleOption(&option);
  option.rect = rect;
  option.section = logical;
  option.text = model() ? model()->headerData(logical, Qt::Horizontal).toString() : QString();
  option.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
  option.state |= QStyle::State_Enabled;
  if (logical == pressed_) option.state |= QStyle::State_Sunken;
  else option.state |= QStyle::State_Raised;
  const auto& columns = grid_.ShownColumns();
  if (logical >= 0 && logical < static_cast<int>(columns.size()))
    option.palette.setColor(QPalette::Button, ToQColor(columns[static_cast<size_t>(logical)].Title.Color));
  painter->save();
  style()->drawControl(QStyle::CE_Header, &option, painter, this);
  if (logical == pressed_) {
    // The sunken edge: dark at the top and left, light at the bottom and right.
    painter->setPen(option.palette.color(QPalette::Dark));
    painter->drawLine(rect.topLeft(), rect.topRight());
    painter->drawLine(rect.topLeft(), rect.bottomLeft());
    painter->setPen(option.palette.color(QPalette::Light));
    painter->drawLine(rect.bottomLeft(), rect.bottomRight());
    painter->drawLine(rect.topRight(), rect.bottomRight());
  }
  painter->restore();
}

void TDataGridHeader::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton && !(event->modifiers() & Qt::ShiftModifier)) {
    int section = logicalIndexAt(event->position().toPoint());
    if (section >= 0) emit TitleRightClicked(section);
    event->accept();
    return;
  }
  QHeaderView::mousePressEvent(event);
}

TDataGridIndicator::TDataGridIndicator(TDataGrid& grid)
    : QHeaderView(Qt::Vertical, &grid), grid_(grid) {
  setSectionsClickable(false);
  setSectionResizeMode(QHeaderView::Fixed);
}

QSize TDataGridIndicator::sectionSizeFromContents(int) const { return QSize(12, defaultSectionSize()); }

void TDataGridIndicator::paintSection(QPainter* painter, const QRect& rect, int logical) const {
  TCellPaint paint = grid_.CellColours(logical, -1, false);
  painter->save();
  painter->fillRect(rect, paint.Background);
  painter->setPen(palette().color(QPalette::Mid));
  painter->drawLine(rect.topRight(), rect.bottomRight());
  painter->drawLine(rect.bottomLeft(), rect.bottomRight());
  const TDataGridModel& model = grid_.Model();
  if (logical == model.CurrentRow()) {
    TDataSet* ds = grid_.DataSource() ? grid_.DataSource()->DataSet() : nullptr;
    dataset::TDataSetState state = ds ? ds->State() : dataset::dsInactive;
    painter->setPen(paint.Text);
    painter->setBrush(paint.Text);
    QPoint c = rect.center();
    if (state == dataset::dsInsert) {
      painter->drawText(rect, Qt::AlignCenter, QStringLiteral("*"));
    } else if (state == dataset::dsEdit) {
      painter->drawText(rect, Qt::AlignCenter, QStringLiteral("I"));
    } else {
      QPolygon triangle;
      triangle << QPoint(c.x() - 2, c.y() - 4) << QPoint(c.x() + 2, c.y())
               << QPoint(c.x() - 2, c.y() + 4);
      painter->drawPolygon(triangle);
    }
  }
  painter->restore();
}

// --- Delegate -----------------------------------------------------------------------------------

void PaintBooleanBox(QPainter& painter, const QRect& cell, TBoolBox style, bool value,
                     const QColor& pen_colour) {
  int side = std::min(cell.width(), cell.height());
  QRect box(cell.left() + (cell.width() - side) / 2, cell.top(), side, side);
  // Shrunk on each side by the pen width + 1.
  box.adjust(2, 2, -2, -2);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(pen_colour, 1));
  bool round = style == TBoolBox::RButton || style == TBoolBox::RButtonRed;
  bool frameless = style == TBoolBox::CheckMark || style == TBoolBox::Dot || style == TBoolBox::DotRed;
  if (round) painter.drawEllipse(box);
  else if (!frameless) painter.drawRect(box);
  if (value) {
    bool red = style == TBoolBox::FillBoxRed || style == TBoolBox::RButtonRed || style == TBoolBox::DotRed;
    QColor mark = red ? QColor(255, 0, 0) : pen_colour;
    painter.setPen(QPen(mark, 2));
    switch (style) {
      case TBoolBox::CheckBox: {
        QRect x = box.adjusted(3, 3, -3, -3);
        painter.drawLine(x.topLeft(), x.bottomRight());
        painter.drawLine(x.topRight(), x.bottomLeft());
        break;
      }
      case TBoolBox::CheckMark: {
        QPoint a(box.left() + 2, box.top() + box.height() / 2);
        QPoint b(box.left() + box.width() / 3, box.bottom());
        QPoint c(box.right(), box.top());
        painter.drawLine(a, b);
        painter.drawLine(b, c);
        break;
      }
      case TBoolBox::FillBox:
      case TBoolBox::FillBoxRed:
        painter.setPen(Qt::NoPen);
        painter.fillRect(box.adjusted(1, 1, 0, 0), mark);
        break;
      case TBoolBox::RButton:
      case TBoolBox::RButtonRed:
      case TBoolBox::Dot:
      case TBoolBox::DotRed:
        painter.setPen(Qt::NoPen);
        painter.setBrush(mark);
        painter.drawEllipse(box.adjusted(2, 2, -2, -2));
        break;
      case TBoolBox::Text: break;
    }
  }
  painter.restore();
}

TDataGridDelegate::TDataGridDelegate(TDataGrid& grid) : QStyledItemDelegate(&grid), grid_(grid) {}

void TDataGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  bool selected = option.state & QStyle::State_Selected;
  TCellPaint paint = grid_.CellColours(index.row(), index.column(), selected);
  painter->save();
  painter->fillRect(option.rect, paint.Background);
  painter->setClipRect(option.rect);
  painter->setPen(paint.Text);
  QString text = index.data(TDataGridModel::FieldTextRole).toString();
  TField* field = grid_.Model().FieldOf(index.column());
  if (index.data(TDataGridModel::BooleanRole).toBool() && grid_.BooleanBoxStyle() != TBoolBox::Text) {
    auto* boolean = dynamic_cast<dataset::TBooleanField*>(field);
    std::string true_text = boolean ? boolean->TrueText() : "true";
    bool value = AnsiCompareText(FromQString(text), true_text) == 0;
    PaintBooleanBox(*painter, option.rect, grid_.BooleanBoxStyle(), value, paint.Text);
  } else {
    painter->setFont(index.data(Qt::FontRole).value<QFont>());
    Qt::Alignment align(index.data(Qt::TextAlignmentRole).toInt());
    QRect area = option.rect.adjusted(2, 2, -3, 0);
    painter->drawText(area, static_cast<int>(align & Qt::AlignHorizontal_Mask) | Qt::AlignTop |
                                Qt::TextSingleLine, text);
  }
  if ((option.state & QStyle::State_HasFocus) && (grid_.hasFocus() || grid_.AlwaysShowSelection())) {
    QStyleOptionFocusRect focus;
    focus.QStyleOption::operator=(option);
    focus.rect = option.rect.adjusted(0, 0, -1, -1);
    focus.backgroundColor = paint.Background;
    grid_.style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, &grid_);
  }
  painter->restore();
}

QWidget* TDataGridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const {
  QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
  if (auto* line = qobject_cast<QLineEdit*>(editor)) {
    grid_.EditorOpened(line, index);
    QObject::connect(line, &QLineEdit::textEdited, &grid_,
                     [grid = &grid_, line] { grid->EditorTextEdited(line); });
  }
  return editor;
}

void TDataGridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  // Putting the dataset into edit state re-reads the row; the view then hands the row's
  // stored text to the editor of a one-column row, which would undo the user's typing.
  if (auto* line = qobject_cast<QLineEdit*>(editor); line && line->isModified()) return;
  QStyledItemDelegate::setEditorData(editor, index);
}

bool TDataGridDelegate::eventFilter(QObject* object, QEvent* event) {
  // Qt's delegate commits on Return only from a queued call, after the key event: until the
  // event loop runs, the field keeps its old text and the editor stays open. The grid commits
  // at once, so whatever runs next (a post, a test, a dialog's close) sees the text.
  if (event->type() == QEvent::KeyPress && qobject_cast<QLineEdit*>(object)) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      grid_.CommitEditor();
      return true;
    }
  }
  return QStyledItemDelegate::eventFilter(object, event);
}

// --- The grid -----------------------------------------------------------------------------------

TDataGrid::TDataGrid(QWidget* parent) : QTableView(parent) {
  model_ = std::make_unique<TDataGridModel>(*this);
  header_ = new TDataGridHeader(*this);
  indicator_ = new TDataGridIndicator(*this);
  setHorizontalHeader(header_);
  setVerticalHeader(indicator_);
  setModel(model_.get());
  setItemDelegate(new TDataGridDelegate(*this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  // Rows scroll whole, so that the scroll bar's value is the top row.
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  indicator_->setDefaultSectionSize(fontMetrics().height() + 4);
  indicator_->setMinimumSectionSize(fontMetrics().height() + 4);
  indicator_->setFixedWidth(12);
  connect(header_, &TDataGridHeader::TitleRightClicked, this, [this](int c) { TitleRightClick(c); });
  connect(model_.get(), &TDataGridModel::CurrentRowMoved, this, [this](int row) { FollowDataSet(row); });
  if (auto* corner = findChild<QAbstractButton*>()) corner->installEventFilter(this);
}

TDataGrid::~TDataGrid() {
  model_->link_->SetDataSource(nullptr);
  setModel(nullptr);
}

void TDataGrid::SetDataSource(dataset::TDataSource* source) {
  source_ = source;
  default_columns_.clear();
  model_->link_->SetDataSource(source);
  model_->Reset();
}

const std::vector<TGridColumn>& TDataGrid::ShownColumns() const {
  if (!columns_.empty()) return columns_;
  if (default_columns_.empty() && source_ && source_->DataSet() && source_->DataSet()->Active()) {
    TDataSet& ds = *source_->DataSet();
    for (int i = 0; i < ds.FieldCount(); ++i) {
      TField& f = ds.Fields(i);
      if (!f.Visible()) continue;
      TGridColumn column;
      column.FieldName = f.FieldName();
      column.Alignment = f.Alignment();
      default_columns_.push_back(column);
    }
  }
  return default_columns_;
}

void TDataGrid::ColumnsChanged() {
  default_columns_.clear();
  model_->Reset();
}

void TDataGrid::ApplyWidths() {
  const auto& columns = ShownColumns();
  int char_width = fontMetrics().horizontalAdvance(QLatin1Char('0'));
  for (size_t c = 0; c < columns.size(); ++c) {
    int width = columns[c].Width;
    if (width < 0) {
      TField* field = model_->FieldOf(static_cast<int>(c));
      int chars = field ? std::max<int>(field->DisplayWidth(), static_cast<int>(field->DisplayName().size())) : 10;
      width = std::min(chars, 40) * char_width + 8;
    }
    header_->resizeSection(static_cast<int>(c), width);
    setColumnHidden(static_cast<int>(c), !columns[c].Visible);
  }
}

int TDataGrid::SelectedIndex() const { return currentIndex().isValid() ? currentIndex().column() : 0; }

void TDataGrid::SetSelectedIndex(int column) {
  int row = std::max(model_->CurrentRow(), 0);
  following_ = true;
  setCurrentIndex(model_->index(row, column));
  following_ = false;
}

void TDataGrid::SetRowSelect(bool value) {
  row_select_ = value;
  setSelectionBehavior(value ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
}

TCellPaint TDataGrid::CellColours(int row, int column, bool selected) {
  if (column < 0) return {ToQColor(fixed_color_), QColor(0, 0, 0)};
  const auto& columns = ShownColumns();
  TCellPaint paint{ToQColor(clWindow), ToQColor(font_color_)};
  if (column < static_cast<int>(columns.size())) {
    paint.Background = ToQColor(columns[static_cast<size_t>(column)].Color);
    paint.Text = ToQColor(columns[static_cast<size_t>(column)].Font.Color);
  }
  (void)row;
  if (selected) paint = {ToQColor(clHighlight), ToQColor(clHighlightText)};
  if (!isEnabled()) paint.Text = ToQColor(clGrayText);
  return paint;
}

bool TDataGrid::RecordDeleted(TDataSet&) { return false; }

bool TDataGrid::Guarded(const std::function<void()>& action) {
  try {
    action();
    return true;
  } catch (...) {
    dataset::ApplicationHandleException();
    return false;
  }
}

bool TDataGrid::CanModifyDataSet() const {
  TDataSet* ds = source_ ? source_->DataSet() : nullptr;
  return ds && ds->Active() && !read_only_ && ds->CanModify();
}

void TDataGrid::DeleteKey() {
  TDataSet* ds = source_ ? source_->DataSet() : nullptr;
  if (!CanModifyDataSet() || ds->IsEmpty()) return;
  if (confirm_delete_ &&
      MessageBox("Delete record?", "Confirm", kMbOkCancel | kMbIconQuestion) == kIdCancel)
    return;
  Guarded([&] { ds->Delete(); });
}

QLineEdit* TDataGrid::OpenEditor() const {
  return editor_ && state() == QAbstractItemView::EditingState ? editor_.data() : nullptr;
}

void TDataGrid::EditorOpened(QLineEdit* editor, const QModelIndex& index) {
  editor_ = editor;
  editor_index_ = index;
  editor_started_edit_ = false;
}

void TDataGrid::EditorTextEdited(QLineEdit* editor) {
  TDataSet* ds = source_ ? source_->DataSet() : nullptr;
  if (editor != editor_ || !ds || !ds->Active()) return;
  if (ds->State() == dataset::dsEdit || ds->State() == dataset::dsInsert) return;
  bool edited = Guarded([&] { source_->Edit(); });
  if (edited && (ds->State() == dataset::dsEdit || ds->State() == dataset::dsInsert)) {
    editor_started_edit_ = true;
    return;
  }
  // The record cannot be edited: the editor takes no more keys (the refusal is shown once)
  // and closes without writing.
  editor->setReadOnly(true);
  QTimer::singleShot(0, this, [this, guard = QPointer<QLineEdit>(editor)] {
    if (guard && guard == editor_) closeEditor(guard, QAbstractItemDelegate::RevertModelCache);
  });
}

void TDataGrid::WriteEditorToField() {
  QLineEdit* editor = OpenEditor();
  if (!editor || !editor->isModified() || !editor_index_.isValid()) return;
  if (editor_index_.row() != model_->CurrentRow()) return;
  TField* field = model_->FieldOf(editor_index_.column());
  if (!field) return;
  // Inside a post: an error goes to the post, which then stays in edit state.
  field->SetText(FromQString(editor->text()));
  editor->setModified(false);
}

bool TDataGrid::CommitEditor() {
  QLineEdit* editor = OpenEditor();
  if (!editor) return true;
  QModelIndex cell = editor_index_;
  bool written = true;
  if (cell.isValid()) {
    // setData shows a refused write itself and reports it as false.
    written = model_->setData(cell, editor->text(), Qt::EditRole);
  }
  closeEditor(editor, QAbstractItemDelegate::NoHint);
  return written;
}

void TDataGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  bool was_open = editor == editor_;
  bool started_edit = was_open && editor_started_edit_;
  if (was_open) {
    editor_ = nullptr;
    editor_index_ = QPersistentModelIndex();
    editor_started_edit_ = false;
  }
  QTableView::closeEditor(editor, hint);
  // Esc: the typed text is gone; an edit that the typing alone started ends with it.
  TDataSet* ds = source_ ? source_->DataSet() : nullptr;
  if (hint == QAbstractItemDelegate::RevertModelCache && started_edit && ds && ds->Active() &&
      ds->State() == dataset::dsEdit && !ds->Modified()) {
    Guarded([&] { ds->Cancel(); });
    FinishUserAction();
  }
}

void TDataGrid::FollowDataSet(int row) {
  if (row < 0 || !model_) return;
  // The dataset moved by itself (a navigator, the program): an editor left open on another
  // row would write into the record now current. What the user typed was written by the
  // browse-mode check before the move.
  if (QLineEdit* editor = OpenEditor(); editor && editor_index_.row() != row)
    closeEditor(editor, QAbstractItemDelegate::NoHint);
  int column = currentIndex().isValid() ? currentIndex().column() : current_column_;
  following_ = true;
  setCurrentIndex(model_->index(row, std::max(column, 0)));
  following_ = false;
  indicator_->viewport()->update();
}

void TDataGrid::FinishUserAction() {
  model_->FinishViewMove();
  if (revert_) {
    revert_ = false;
    FollowDataSet(model_->CurrentRow());
  }
}

int TDataGrid::PageRows() const {
  int height = std::max(indicator_->defaultSectionSize(), 1);
  return std::max(viewport()->height() / height, 4);
}

int TDataGrid::CurrentRowOffset() const {
  if (!isVisible() || !currentIndex().isValid()) return -1;
  int offset = currentIndex().row() - verticalScrollBar()->value();
  int shown = viewport()->height() / std::max(indicator_->defaultSectionSize(), 1);
  return offset >= 0 && offset < shown ? offset : -1;
}

void TDataGrid::PlaceCurrentRow(int row, int offset) {
  executeDelayedItemsLayout();
  updateGeometries();
  if (offset >= 0) verticalScrollBar()->setValue(row - offset);
  else scrollTo(model_->index(row, std::max(currentIndex().column(), 0)), PositionAtCenter);
}

void TDataGrid::FillAboveLater() {
  if (fill_above_queued_ || model_->AtStart()) return;
  fill_above_queued_ = true;
  QTimer::singleShot(0, this, [this] {
    fill_above_queued_ = false;
    FillAbove();
  });
}

void TDataGrid::FillAbove() {
  if (!isVisible() || model_->AtStart() || model_->rowCount() == 0) return;
  if (verticalScrollBar()->value() == verticalScrollBar()->minimum()) AddRowsAbove();
}

void TDataGrid::AddRowsAbove() {
  int added = model_->FetchAbove(PageRows());
  if (added <= 0) return;
  // The rows on the screen stay where they are.
  executeDelayedItemsLayout();
  updateGeometries();
  verticalScrollBar()->setValue(verticalScrollBar()->value() + added);
}

void TDataGrid::showEvent(QShowEvent* event) {
  QTableView::showEvent(event);
  // What the dataset did while the grid was hidden, and what other programs did to the
  // table meanwhile, is read now.
  if (model_->DataSet() && !model_->walking_ && !model_->link_->in_event) model_->Reset();
}

void TDataGrid::scrollTo(const QModelIndex& index, ScrollHint hint) {
  QTableView::scrollTo(index, hint);
  if (!index.isValid() || columnWidth(index.column()) <= viewport()->width()) return;
  int left = columnViewportPosition(index.column());
  if (left < 0) horizontalScrollBar()->setValue(horizontalScrollBar()->value() + left);
}

void TDataGrid::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  FillAboveLater();
}

void TDataGrid::verticalScrollbarValueChanged(int value) {
  QTableView::verticalScrollbarValueChanged(value);
  if (value == verticalScrollBar()->minimum()) FillAboveLater();
}

void TDataGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableView::currentChanged(current, previous);
  indicator_->viewport()->update();
  if (current.isValid()) current_column_ = current.column();
  if (following_ || !current.isValid() || current.row() == model_->CurrentRow()) return;
  if (!model_->MoveDataSetTo(current.row())) {
    // The dataset stays where it is (a refused post, a record gone): the selection goes back
    // to its row, wherever the rows read anew put it.
    QTimer::singleShot(0, this, [this] { FollowDataSet(model_->CurrentRow()); });
    revert_ = true;
  }
}

void TDataGrid::keyPressEvent(QKeyEvent* event) {
  TDataSet* ds = source_ ? source_->DataSet() : nullptr;
  bool active = ds && ds->Active();
  bool editor_open = state() == QAbstractItemView::EditingState;
  bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
  if (active && editor_open && plain) {
    switch (event->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        // Sent to the grid itself while its editor is open.
        CommitEditor();
        FinishUserAction();
        event->accept();
        return;
      case Qt::Key_Up:
      case Qt::Key_Down:
      case Qt::Key_PageUp:
      case Qt::Key_PageDown:
        // The editor's text goes into the field first; the key then moves as without an
        // editor (Down on the last row posts a new record or appends one).
        CommitEditor();
        editor_open = state() == QAbstractItemView::EditingState;
        break;
      default: break;
    }
  }
  if (active && !editor_open && plain &&
      (event->key() == Qt::Key_Up || event->key() == Qt::Key_PageUp) &&
      currentIndex().row() < PageRows()) {
    // Near the first row held: a page more rows above first, so that the key moves as far as
    // it would over a table held whole.
    AddRowsAbove();
  }
  int row = currentIndex().row();
  int last = model_->rowCount() - 1;
  if (active && !editor_open) {
    switch (event->key()) {
      case Qt::Key_Down:
      case Qt::Key_Tab:
        if (!plain) break;
        if (event->key() == Qt::Key_Tab && currentIndex().column() < model_->columnCount() - 1) break;
        if (row >= last - 1 && model_->canFetchMore(QModelIndex())) model_->fetchMore(QModelIndex());
        last = model_->rowCount() - 1;
        if (row == last && model_->AtEnd()) {
          if (ds->State() == dataset::dsInsert) {
            if (ds->Modified()) Guarded([&] { ds->Post(); });
            event->accept();
          } else if (MayAppend() && editing_ && CanModifyDataSet()) {
            Guarded([&] { ds->Append(); });
            event->accept();
          } else {
            event->accept();
          }
          FinishUserAction();
          return;
        }
        break;
      case Qt::Key_Escape:
        if (ds->State() == dataset::dsEdit || ds->State() == dataset::dsInsert) {
          Guarded([&] { ds->Cancel(); });
          FinishUserAction();
          event->accept();
          return;
        }
        break;
      case Qt::Key_Insert:
        if (plain && editing_ && CanModifyDataSet()) {
          Guarded([&] { ds->Insert(); });
          event->accept();
          return;
        }
        break;
      case Qt::Key_Delete:
        if (event->modifiers() & Qt::ControlModifier) {
          DeleteKey();
          FinishUserAction();
          event->accept();
          return;
        }
        break;
      case Qt::Key_End:
        if (event->modifiers() & Qt::ControlModifier) {
          Guarded([&] { ds->Last(); });
          FinishUserAction();
          event->accept();
          return;
        }
        break;
      case Qt::Key_Home:
        if (event->modifiers() & Qt::ControlModifier) {
          Guarded([&] { ds->First(); });
          FinishUserAction();
          event->accept();
          return;
        }
        break;
      default: break;
    }
  }
  QTableView::keyPressEvent(event);
  FinishUserAction();
}

void TDataGrid::mousePressEvent(QMouseEvent* event) {
  QTableView::mousePressEvent(event);
  FinishUserAction();
}

void TDataGrid::mouseReleaseEvent(QMouseEvent* event) {
  QTableView::mouseReleaseEvent(event);
  FinishUserAction();
  QModelIndex index = indexAt(event->position().toPoint());
  if (index.isValid()) emit CellClicked(index.row(), index.column());
}

bool TDataGrid::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress && qobject_cast<QAbstractButton*>(watched)) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (!(mouse->modifiers() & Qt::ShiftModifier)) {
      if (mouse->button() == Qt::LeftButton) emit CornerLeftClick();
      if (mouse->button() == Qt::RightButton) emit CornerRightClick();
    }
    return true;
  }
  if (event->type() == QEvent::MouseButtonRelease && qobject_cast<QAbstractButton*>(watched))
    return true;
  return QTableView::eventFilter(watched, event);
}

}  // namespace platform
