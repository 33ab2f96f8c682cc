// What the table navigator's delete button does. The navigator widget (a record navigator on
// Qt tool buttons) calls TzNavigatorDeleteClick for its delete button and acts on the
// result; the decision itself is plain C++ on the dataset framework and platform::MessageBox,
// so it runs without a window.
//
// On a live record of a TTzDataSet the button deletes it; on a record that carries the
// deleted mark (shown when HideDeletedRecs is off) it restores it. Either can be confirmed
// first with an OK/Cancel question.
#pragma once

#include <exception>

#include "platform/dataset/datasource.h"

namespace tz {

// The questions, as the unit stores them (OEM; shown converted to ANSI).
inline constexpr const char* kDeleteRecordQuestion = "Delete Record ?";
inline constexpr const char* kRestoreRecordQuestion = "Restore Record ?";
// The caption of the confirmation box.
inline constexpr const char* kConfirmCaption = "Confirm";

// What happened on a press of the delete button.
enum class TTzNavDeleteResult {
  // No data source, a disabled one, a closed dataset, or one that cannot be modified:
  // nothing was done.
  Ignored,
  // The dataset is not a TTzDataSet: the navigator runs the framework's own delete button
  // (which fires OnClick itself). Nothing was done here.
  Framework,
  // The record was deleted (SetDeleted(true)), or its delete failed (see `failure` below).
  Deleted,
  // The record was restored (SetDeleted(false)), or its restore failed.
  Restored,
  // The question was answered Cancel: the record is as it was.
  Cancelled,
};

// The navigator's properties the decision reads.
struct TTzNavDeleteOptions {
  // Ask "Delete Record ?" before deleting.
  bool ConfirmDelete = true;
  // Ask "Restore Record ?" before restoring.
  bool ConfirmRestore = true;
};

// One press of the delete button of a navigator on `source` (nullptr: none). A question is a
// platform::MessageBox with OK and Cancel and the question icon; any answer but Cancel counts
// as yes. Errors of the delete or restore come from the dataset (raised or reported as the
// library's switches say); the question is asked before either, never after.
// With `failure` given, what the delete or restore throws (a lock another program holds:
// EAbort after "Lock failed [...]") is stored there instead of passing on, and the result
// still says Deleted or Restored: the press did its part, and the navigator fires OnClick
// after showing the error. The checks before the write pass their errors on either way.
TTzNavDeleteResult TzNavigatorDeleteClick(platform::dataset::TDataSource* source,
                                          const TTzNavDeleteOptions& options,
                                          std::exception_ptr* failure = nullptr);

// Whether the navigator fires its OnClick event with the delete button after `result`: after
// a delete, a restore and a Cancel alike, never in design mode; after Framework the framework
// button fires it, after Ignored nobody does.
bool TzNavigatorFiresOnClick(TTzNavDeleteResult result, bool designing);

}  // namespace tz
