#include "tables/components/atznav.h"

#include "platform/qt/data_grid.h"

namespace tz {

void TTzNavigator::BtnClick(platform::TNavigateBtn button) {
  if (button != platform::nbDelete) {
    TDataNavigator::BtnClick(button);
    return;
  }
  TTzNavDeleteResult result = TTzNavDeleteResult::Ignored;
  // A delete or restore that failed (a record another program holds locked) is shown, and
  // OnClick fires after it as after one that was written.
  platform::TDataGrid::Guarded([&] {
    std::exception_ptr failure;
    result = TzNavigatorDeleteClick(DataSource(), {ConfirmDelete(), confirm_restore_}, &failure);
    if (failure) std::rethrow_exception(failure);
  });
  if (result == TTzNavDeleteResult::Framework) {
    TDataNavigator::BtnClick(button);
    return;
  }
  UpdateButtons();
  if (TzNavigatorFiresOnClick(result, Designing())) FireOnClick(button);
}

}  // namespace tz
