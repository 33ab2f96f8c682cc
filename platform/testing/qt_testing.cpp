#include "platform/testing/qt_testing.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <memory>

namespace platform::testing {

std::string SaveScreenshot(QWidget& widget, const std::string& name) {
  const char* binary_dir = std::getenv("KESTROVA_BINARY_DIR");
  QDir dir(QString::fromUtf8(binary_dir ? binary_dir : KESTROVA_DEFAULT_BINARY_DIR));
  if (!dir.mkpath("screenshots")) return "";
  QString path = dir.filePath(QString::fromStdString("screenshots/" + name + ".png"));
  if (!widget.grab().save(path, "PNG")) return "";
  return path.toStdString();
}

void AnswerNextBox(std::function<void(QMessageBox&)> answer, bool* timed_out, int timeout_ms) {
  auto* poll = new QTimer(qApp);
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, clock, answer, timed_out, timeout_ms] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box && box->isVisible()) {
      poll->stop();
      poll->deleteLater();
      answer(*box);
      return;
    }
    if (clock->elapsed() > timeout_ms) {
      poll->stop();
      poll->deleteLater();
      if (timed_out) *timed_out = true;
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    }
  });
  poll->start();
}

}  // namespace platform::testing
