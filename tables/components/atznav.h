// TTzNavigator: the record navigator of the table components. Its delete button deletes a
// live record of a TTzDataSet and restores one that carries the deleted mark (the decision is
// TzNavigatorDeleteClick, atznav_decide.h); every other button, and the delete button of other
// datasets, is the base navigator's. OnClick fires after a delete, a restore or a Cancel,
// also after a delete or restore that failed (its error shown first).
#pragma once

#include "platform/qt/data_navigator.h"
#include "tables/components/atznav_decide.h"

namespace tz {

class TTzNavigator : public platform::TDataNavigator {
 public:
  explicit TTzNavigator(QWidget* parent = nullptr) : TDataNavigator(parent) {}

  // Ask "Restore Record ?" before restoring [true; the forms set it false].
  bool ConfirmRestore() const { return confirm_restore_; }
  void SetConfirmRestore(bool value) { confirm_restore_ = value; }

  void BtnClick(platform::TNavigateBtn button) override;

 private:
  bool confirm_restore_ = true;
};

}  // namespace tz
