// The dialog that takes a phone model's vendor and type, for a new model ("New Mobile") and
// for renaming one ("Change Mobile"); the caller sets the caption and the edits. Each time it
// is shown the focus is in Vendor, the cursor after its text. Ok ends it with the OK result
// when both texts hold more than blanks; otherwise it says which one is missing ("Please
// enter the Vendor", "Please enter the Mobile Type"), puts the focus there and stays open.
// Abort ends it with Cancel.
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

  void BtnOKClick();
  void btnAbortClick() { reject(); }

  // Shows the dialog with the focus in Vendor, the cursor after its text and nothing selected
  // (QDialog's own showing would select the whole text, so that a key typed replaces it).
  void setVisible(bool visible) override;
};

}  // namespace handy
