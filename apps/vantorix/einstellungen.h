// The general settings dialog: the standard phone and its port, the advertisement interval,
// the two checks and the SIM PIN. Showing it fills the controls from the main window; OK
// stores them into the main window, the registry and the phone's COMPORT, and checks that an
// active advertisement is left; Abort stores nothing.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TfrmEinstell;
}

namespace vantorix {

class TMainForm;

class TfrmEinstell : public QDialog {
 public:
  // A modal dialog owned by `MainForm`, which it registers itself with (frmEinstell).
  explicit TfrmEinstell(TMainForm* MainForm);
  ~TfrmEinstell() override;
  TfrmEinstell(const TfrmEinstell&) = delete;
  TfrmEinstell& operator=(const TfrmEinstell&) = delete;

  std::unique_ptr<Ui::TfrmEinstell> ui;

  void FormShow();
  // Stores the settings and closes with the result OK. A PIN that is neither empty nor 4 to 8
  // digits is refused with a message before anything is stored, and the dialog stays open.
  // Without a selected model the standard phone stays and no COMPORT is written; without a
  // selected port the port stays and no COMPORT is written either. A failed registry write,
  // a refused record lock and a phone that is not in the table each show their message and
  // the other steps still run.
  void btnOKClick();
  // Closes with the result Cancel; nothing is stored.
  void btnAbbruchClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void StoreComPort(int32_t port);
  void FindNextAdvertisement();

  TMainForm& MainForm_;
};

}  // namespace vantorix
