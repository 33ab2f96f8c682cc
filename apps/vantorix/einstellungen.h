// The general settings dialog: the phone, its port, the advertisement interval, the two checks
// and the SIM PIN. Its widgets; storing the settings comes with the dialog's own handlers.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TfrmEinstell;
}

namespace vantorix {

class TfrmEinstell : public QDialog {
 public:
  explicit TfrmEinstell(QWidget* parent = nullptr);
  ~TfrmEinstell() override;
  TfrmEinstell(const TfrmEinstell&) = delete;
  TfrmEinstell& operator=(const TfrmEinstell&) = delete;

  std::unique_ptr<Ui::TfrmEinstell> ui;
};

}  // namespace vantorix
