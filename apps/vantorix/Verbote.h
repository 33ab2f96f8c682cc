// The forbidden words and telephone numbers dialog: at the left grdVerbWorte and TzNavigator1
// on the main window's DSVerbWordList (verbwort.dbf), at the right TzGrid1 and TzNavigator2
// on DSVerbTelList (verbtel.dbf). The receive loop uses what is typed at its next lookup.
// Close ends it with the result OK.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TfrmVerbote;
}

namespace vantorix {

class TMainForm;

class TfrmVerbote : public QDialog {
 public:
  // A modal dialog owned by `MainForm`, which it registers itself with (frmVerbote).
  explicit TfrmVerbote(TMainForm* MainForm);
  ~TfrmVerbote() override;
  TfrmVerbote(const TfrmVerbote&) = delete;
  TfrmVerbote& operator=(const TfrmVerbote&) = delete;

  std::unique_ptr<Ui::TfrmVerbote> ui;

  void btnCloseClick() { accept(); }

  // Every way out first ends both grids' editing; a refused post keeps the dialog open.
  void done(int result) override;
};

}  // namespace vantorix
