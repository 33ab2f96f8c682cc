// The form that says the program runs without advertisements. Created at start and never
// opened; its OK button and its timer close it with the result OK.
#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>

namespace Ui {
class TNoAdForm;
}

namespace vantorix {

class TNoAdForm : public QDialog {
 public:
  explicit TNoAdForm(QWidget* parent = nullptr);
  ~TNoAdForm() override;
  TNoAdForm(const TNoAdForm&) = delete;
  TNoAdForm& operator=(const TNoAdForm&) = delete;

  std::unique_ptr<Ui::TNoAdForm> ui;
  // Runs while the form is shown.
  QTimer Timer1;

  void Button1Click() { accept(); }
  void Timer1Timer() {
    Timer1.stop();
    accept();
  }

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace vantorix
