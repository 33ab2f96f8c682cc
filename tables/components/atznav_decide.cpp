#include "tables/components/atznav_decide.h"

#include "platform/text.h"
#include "platform/ui.h"
#include "tables/components/ucommon.h"

namespace tz {
namespace {

// True unless the user answers Cancel.
bool Confirmed(const char* question) {
  int answer = platform::MessageBox(platform::OemToAnsi(question), kConfirmCaption,
                                    platform::kMbOkCancel | platform::kMbIconQuestion);
  return answer != platform::kIdCancel;
}

// Runs the write; with `failure`, what it throws is kept there.
void Write(TTzDataSet& dataset, bool deleted, std::exception_ptr* failure) {
  if (!failure) {
    dataset.SetDeleted(deleted);
    return;
  }
  try {
    dataset.SetDeleted(deleted);
  } catch (...) {
    *failure = std::current_exception();
  }
}

}  // namespace

TTzNavDeleteResult TzNavigatorDeleteClick(platform::dataset::TDataSource* source,
                                          const TTzNavDeleteOptions& options,
                                          std::exception_ptr* failure) {
  // A disabled source, like a closed dataset, shows as inactive.
  if (!source || !source->DataSet() || source->State() == platform::dataset::dsInactive)
    return TTzNavDeleteResult::Ignored;
  auto* dataset = dynamic_cast<TTzDataSet*>(source->DataSet());
  if (!dataset) return TTzNavDeleteResult::Framework;
  if (!dataset->CanModify()) return TTzNavDeleteResult::Ignored;
  if (!dataset->IsDeleted()) {
    if (options.ConfirmDelete && !Confirmed(kDeleteRecordQuestion))
      return TTzNavDeleteResult::Cancelled;
    Write(*dataset, true, failure);
    return TTzNavDeleteResult::Deleted;
  }
  if (options.ConfirmRestore && !Confirmed(kRestoreRecordQuestion))
    return TTzNavDeleteResult::Cancelled;
  Write(*dataset, false, failure);
  return TTzNavDeleteResult::Restored;
}

bool TzNavigatorFiresOnClick(TTzNavDeleteResult result, bool designing) {
  if (designing) return false;
  return result == TTzNavDeleteResult::Deleted || result == TTzNavDeleteResult::Restored ||
         result == TTzNavDeleteResult::Cancelled;
}

}  // namespace tz
