#include "apps/vantorix/listdialogs.h"

#include <QAbstractItemDelegate>

namespace vantorix {

void PutOnDataSource(tz::TTzGrid& grid, tz::TTzNavigator& navigator,
                     platform::dataset::TDataSource& source) {
  grid.SetDataSource(&source);
  navigator.SetDataSource(&source);
  navigator.SetConfirmRestore(false);
}

bool LeaveEditing(std::initializer_list<tz::TTzGrid*> grids) {
  bool left = true;
  for (tz::TTzGrid* grid : grids) {
    QModelIndex cell = grid->currentIndex();
    // The view keeps the cell editor it opened as the cell's index widget.
    if (cell.isValid()) {
      if (QWidget* editor = grid->indexWidget(cell)) {
        grid->itemDelegate()->setModelData(editor, grid->model(), cell);
        QMetaObject::invokeMethod(grid, "closeEditor", Qt::DirectConnection,
                                  Q_ARG(QWidget*, editor),
                                  Q_ARG(QAbstractItemDelegate::EndEditHint,
                                        QAbstractItemDelegate::NoHint));
      }
    }
    platform::dataset::TDataSource* source = grid->DataSource();
    platform::dataset::TDataSet* dataset = source ? source->DataSet() : nullptr;
    if (!dataset || !dataset->Active()) continue;
    if (!platform::TDataGrid::Guarded([&] { dataset->CheckBrowseMode(); })) left = false;
  }
  return left;
}

}  // namespace vantorix
