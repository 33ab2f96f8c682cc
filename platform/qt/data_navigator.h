// The base record navigator: ten tool buttons (First, Prior, Next, Last, Insert, Delete,
// Edit, Post, Cancel, Refresh) that move and edit the dataset of a data source, enabled by the
// framework's rules from the data link:
//   First, Prior   open and not at the first record (Bof);
//   Next, Last     open and not after the last record (Eof);
//   Insert         open and the dataset can be modified;
//   Delete         the same, and the dataset is not empty;
//   Edit           the same as Insert, and not editing;
//   Post, Cancel   the same as Insert, and editing;
//   Refresh        open and not editing.
// A press runs BtnClick; a dataset error is shown (ApplicationHandleException) and the
// navigator goes on. One GUI thread.
#pragma once

#include <QToolButton>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "platform/dataset/datasource.h"

namespace platform {

enum TNavigateBtn { nbFirst, nbPrior, nbNext, nbLast, nbInsert, nbDelete, nbEdit, nbPost, nbCancel,
                    nbRefresh };
inline constexpr int kNavigateButtons = 10;

class TDataNavigator : public QWidget {
  Q_OBJECT
 public:
  explicit TDataNavigator(QWidget* parent = nullptr);
  ~TDataNavigator() override;

  dataset::TDataSource* DataSource() const;
  void SetDataSource(dataset::TDataSource* source);
  // Ask "Delete record?" (OK/Cancel) before the delete button deletes [true].
  bool ConfirmDelete() const { return confirm_delete_; }
  void SetConfirmDelete(bool value) { confirm_delete_ = value; }
  // A navigator placed in a form designer fires no OnClick.
  bool Designing() const { return designing_; }
  void SetDesigning(bool value) { designing_ = value; }
  QToolButton& Button(TNavigateBtn button) const { return *buttons_[button]; }

  // Fires after a button's action (the button pressed).
  std::function<void(TDataNavigator& sender, TNavigateBtn button)> OnClick;

  // What a press does: the dataset operation of the button, then OnClick (not in design mode).
  virtual void BtnClick(TNavigateBtn button);
  // The buttons' enabled states anew from the data link.
  void UpdateButtons();

 protected:
  void FireOnClick(TNavigateBtn button);

 private:
  class Link;
  std::unique_ptr<Link> link_;
  std::array<QToolButton*, kNavigateButtons> buttons_{};
  bool confirm_delete_ = true;
  bool designing_ = false;
};

}  // namespace platform
