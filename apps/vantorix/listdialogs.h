// What the three list dialogs (advertisements, protocol, forbidden values) share: their grids
// and navigators stand on the main window's own data sources, and a dialog closes only with
// its tables out of edit state.
#pragma once

#include <QDialog>
#include <initializer_list>

#include "platform/dataset/datasource.h"
#include "tables/components/atzgrids.h"
#include "tables/components/atznav.h"

namespace vantorix {

// Puts `grid` and `navigator` on `source`. The grid keeps its defaults: it appends a row when
// the cursor moves past the last one, shows Boolean fields as check boxes, edits, and asks
// before a delete; the navigator restores a deleted record without asking. A table error
// while they attach is shown in a box; they stay on the source.
void PutOnDataSource(tz::TTzGrid& grid, tz::TTzNavigator& navigator,
                     platform::dataset::TDataSource& source);

// Shows a dialog of the menus modally (QDialog::exec) with the table library's errors raised,
// so that what its grids and buttons run on the tables is shown as a message when it fails
// and the program goes on; returns the dialog's result.
int ShowMenuDialog(QDialog& dialog);

// Ends what the grids are editing: an open cell editor is written into its field, then a
// modified record is posted and an untouched one cancelled. The receive loop seeks and skips
// these tables when the dialog has closed; a table left in edit state would have its cursor
// moved under a half-written record. False when a post was refused (its error has been
// shown): the table is still in edit state and the dialog must stay open.
bool LeaveEditing(std::initializer_list<tz::TTzGrid*> grids);

}  // namespace vantorix
