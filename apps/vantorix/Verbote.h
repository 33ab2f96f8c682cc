// The forbidden words and telephone numbers dialog over verbwort.dbf and verbtel.dbf. Its
// grids and navigators come with the data grid; Close ends it with the result OK.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TfrmVerbote;
}

namespace vantorix {

class TfrmVerbote : public QDialog {
 public:
  explicit TfrmVerbote(QWidget* parent = nullptr);
  ~TfrmVerbote() override;
  TfrmVerbote(const TfrmVerbote&) = delete;
  TfrmVerbote& operator=(const TfrmVerbote&) = delete;

  std::unique_ptr<Ui::TfrmVerbote> ui;

  void btnCloseClick() { accept(); }
};

}  // namespace vantorix
