// The dialog that takes a phone model's vendor and type, for a new model ("New Mobile") and
// for renaming one ("Change Mobile"); the caller sets the caption and the edits. Ok ends it
// with the OK result, Abort with Cancel.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TMobileNew;
}

namespace handy {

class TMobileNew : public QDialog {
 public:
  explicit TMobileNew(QWidget* parent = nullptr);
  ~TMobileNew() override;
  TMobileNew(const TMobileNew&) = delete;
  TMobileNew& operator=(const TMobileNew&) = delete;

  std::unique_ptr<Ui::TMobileNew> ui;

  void BtnOKClick() { accept(); }
  void btnAbortClick() { reject(); }
};

}  // namespace handy
