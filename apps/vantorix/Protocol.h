// The SMS protocol dialog over protocol.dbf. Its grid and navigator come with the data grid;
// Close ends it with the result OK.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TSMSProtocol;
}

namespace vantorix {

class TSMSProtocol : public QDialog {
 public:
  explicit TSMSProtocol(QWidget* parent = nullptr);
  ~TSMSProtocol() override;
  TSMSProtocol(const TSMSProtocol&) = delete;
  TSMSProtocol& operator=(const TSMSProtocol&) = delete;

  std::unique_ptr<Ui::TSMSProtocol> ui;

  void btnCloseClick() { accept(); }
};

}  // namespace vantorix
