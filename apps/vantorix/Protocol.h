// The SMS protocol dialog: grdProtokoll and TzNavigator1 on the main window's DSProtocol
// (protocol.dbf), the grid with its default options. Close ends it with the result OK.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TSMSProtocol;
}

namespace vantorix {

class TMainForm;

class TSMSProtocol : public QDialog {
 public:
  // A modal dialog owned by `MainForm`, which it registers itself with (SMSProtocol).
  explicit TSMSProtocol(TMainForm* MainForm);
  ~TSMSProtocol() override;
  TSMSProtocol(const TSMSProtocol&) = delete;
  TSMSProtocol& operator=(const TSMSProtocol&) = delete;

  std::unique_ptr<Ui::TSMSProtocol> ui;

  void btnCloseClick() { accept(); }

  // Every way out first ends the grid's editing; a refused post keeps the dialog open.
  void done(int result) override;
};

}  // namespace vantorix
