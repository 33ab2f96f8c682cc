// The advertisements dialog over werbung.dbf. Its grid and navigator come with the data grid;
// Close ends it with the result OK.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TWerbetexte;
}

namespace vantorix {

class TWerbetexte : public QDialog {
 public:
  explicit TWerbetexte(QWidget* parent = nullptr);
  ~TWerbetexte() override;
  TWerbetexte(const TWerbetexte&) = delete;
  TWerbetexte& operator=(const TWerbetexte&) = delete;

  std::unique_ptr<Ui::TWerbetexte> ui;

  void btnCloseClick() { accept(); }
};

}  // namespace vantorix
