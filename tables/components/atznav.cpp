#include "tables/components/atznav.h"

#include "platform/qt/data_grid.h"

namespace tz {

void TTzNavigator::BtnClick(platform::TNavigateBtn button) {
  if (button != platform::nbDelete) {
    TDataNavigator::BtnClick(button);
    return;
  }
  TTzNavDeleteResult result = TTzNavDeleteResult::Ignored;
  platform::TDataGrid::Guarded([&] {
    result = TzNavigatorDeleteClick(DataSource(), {ConfirmDelete(), confirm_restore_});
  });
  if (result == TTzNavDeleteResult::Framework) {
    TDataNavigator::BtnClick(button);
    return;
  }
  UpdateButtons();
  if (TzNavigatorFiresOnClick(result, Designing())) FireOnClick(button);
}

}  // namespace tz
