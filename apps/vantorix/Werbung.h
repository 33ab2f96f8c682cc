// The advertisements dialog: TzGrid1 and TzNavigator1 on the main window's DSWerbung
// (werbung.dbf). What is typed is in the table at once; the row the grid stands on is the one
// the receive loop shows as the next advertisement. Close ends it with the result OK.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TWerbetexte;
}

namespace vantorix {

class TMainForm;

class TWerbetexte : public QDialog {
 public:
  // A modal dialog owned by `MainForm`, which it registers itself with (Werbetexte).
  explicit TWerbetexte(TMainForm* MainForm);
  ~TWerbetexte() override;
  TWerbetexte(const TWerbetexte&) = delete;
  TWerbetexte& operator=(const TWerbetexte&) = delete;

  std::unique_ptr<Ui::TWerbetexte> ui;

  void FormCreate() {}
  void btnCloseClick() { accept(); }

  // Every way out (Close, Esc, the window's close box) first ends the grid's editing; a
  // refused post keeps the dialog open.
  void done(int result) override;
};

}  // namespace vantorix
