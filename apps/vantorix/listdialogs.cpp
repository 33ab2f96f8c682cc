#include "apps/vantorix/listdialogs.h"

#include <QAbstractItemDelegate>
#include <exception>

#include "apps/vantorix/Unit1.h"
#include "tables/engine/tzcommon.h"

namespace vantorix {

void PutOnDataSource(tz::TTzGrid& grid, tz::TTzNavigator& navigator,
                     platform::dataset::TDataSource& source) {
  navigator.SetConfirmRestore(false);
  // The dialogs are made at start-up: a table error of what the grid or the navigator reads
  // now is shown and leaves them on the source all the same, to read again when shown.
  RaiseErrorsScope raise;
  RunShowingErrors([&] { grid.SetDataSource(&source); });
  RunShowingErrors([&] { navigator.SetDataSource(&source); });
}

int ShowMenuDialog(QDialog& dialog) {
  // The grids read and write while the dialog is up: a table error is shown by them (or by
  // the application) and the dialog goes on, instead of halting the program.
  RaiseErrorsScope raise;
  return dialog.exec();
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
