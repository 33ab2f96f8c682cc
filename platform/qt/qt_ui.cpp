#include "platform/qt/qt_ui.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

#include "platform/qt/qt_text.h"

namespace platform {

// Watches the application's quit requests. Since Qt 6, quit() first asks every window to
// close and gives up when one refuses, so seeing the Quit event is not enough: the watcher
// delivers it itself and looks whether it was accepted.
class QtUi::QuitWatcher : public QObject {
 public:
  QuitWatcher() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
      app->installEventFilter(this);
      QObject::connect(app, &QCoreApplication::aboutToQuit, this, [this] { quitting_ = true; });
    }
  }

  bool Quitting() const { return quitting_; }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != QCoreApplication::instance() || event->type() != QEvent::Quit || delivering_)
      return false;
    delivering_ = true;
    // QObject::event is public; the application's own handler runs through it.
    static_cast<QObject*>(watched)->event(event);
    delivering_ = false;
    if (event->isAccepted()) quitting_ = true;
    return true;
  }

 private:
  bool quitting_ = false;
  bool delivering_ = false;
};

namespace {

struct ButtonSet {
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton first;
  QMessageBox::StandardButton escape;  // NoButton: Qt's own choice
};

ButtonSet ButtonsOf(unsigned flags) {
  using B = QMessageBox;
  switch (flags & kMbButtonMask) {
    case kMbOkCancel: return {B::Ok | B::Cancel, B::Ok, B::Cancel};
    case kMbAbortRetryIgnore: return {B::Abort | B::Retry | B::Ignore, B::Abort, B::NoButton};
    case kMbYesNoCancel: return {B::Yes | B::No | B::Cancel, B::Yes, B::Cancel};
    case kMbYesNo: return {B::Yes | B::No, B::Yes, B::NoButton};
    case kMbRetryCancel: return {B::Retry | B::Cancel, B::Retry, B::Cancel};
    default: return {B::Ok, B::Ok, B::Ok};
  }
}

QMessageBox::Icon IconOf(unsigned flags) {
  switch (flags & kMbIconMask) {
    case kMbIconStop: return QMessageBox::Critical;
    case kMbIconQuestion: return QMessageBox::Question;
    case kMbIconExclamation: return QMessageBox::Warning;
    case kMbIconInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

}  // namespace

std::unique_ptr<QMessageBox> BuildMessageBox(const std::string& text, const std::string& caption,
                                             unsigned flags, QWidget* owner) {
  auto box = std::make_unique<QMessageBox>(owner);
  box->setWindowTitle(ToQString(caption));
  box->setTextFormat(Qt::PlainText);
  QString shown = ToQString(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  box->setText(shown);
  box->setIcon(IconOf(flags));
  ButtonSet set = ButtonsOf(flags);
  box->setStandardButtons(set.buttons);
  box->setDefaultButton(set.first);
  if (set.escape != QMessageBox::NoButton) box->setEscapeButton(set.escape);
  return box;
}

int MessageBoxAnswerOf(int exec_result, unsigned flags) {
  switch (exec_result) {
    case QMessageBox::Ok: return kIdOk;
    case QMessageBox::Cancel: return kIdCancel;
    case QMessageBox::Abort: return kIdAbort;
    case QMessageBox::Retry: return kIdRetry;
    case QMessageBox::Ignore: return kIdIgnore;
    case QMessageBox::Yes: return kIdYes;
    case QMessageBox::No: return kIdNo;
    default: break;
  }
  switch (flags & kMbButtonMask) {
    case kMbOkCancel:
    case kMbYesNoCancel:
    case kMbRetryCancel: return kIdCancel;
    case kMbYesNo: return kIdNo;
    case kMbAbortRetryIgnore: return kIdAbort;
    default: return kIdOk;
  }
}

QWidget* MessageBoxOwner() {
  if (QWidget* grabber = QWidget::mouseGrabber()) return grabber->window();
  return QApplication::activeWindow();
}

QtUi::QtUi() : watcher_(std::make_unique<QuitWatcher>()) {}

QtUi::~QtUi() = default;

int QtUi::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  std::unique_ptr<QMessageBox> owned = BuildMessageBox(text, caption, flags, MessageBoxOwner());
  // The owner deletes its child boxes: when a handler run by exec() destroys the owner, the
  // box goes with it and must not be deleted a second time.
  QPointer<QMessageBox> box = owned.get();
  int result = owned->exec();
  if (box.isNull()) {
    (void)owned.release();
    return MessageBoxAnswerOf(-1, flags);
  }
  return MessageBoxAnswerOf(result, flags);
}

void QtUi::ProcessEvents() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtUi::Halt(int code) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
    for (QWidget* window : QApplication::topLevelWidgets()) window->hide();
  }
  ExitNowForHalt(code);
}

bool QtUi::Terminating() {
  return watcher_->Quitting() || QCoreApplication::closingDown();
}

}  // namespace platform
