#include "tables/components/tzmsg.h"

#include <algorithm>

#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QScreen>

#include "platform/qt/qt_text.h"
#include "platform/ui.h"

namespace tz {
namespace {

// The window's colour: yellow, the colour value 0xFFFF in blue-green-red order.
const QColor kMsgColor(0xFF, 0xFF, 0x00);
// Room around the text, each way.
constexpr int kTextMargin = 30;
constexpr int kBevelWidth = 2;

Qt::WindowFlags FlagsFor(bool dialog_border) {
  // A tool window: no task bar entry of its own, it belongs to the program's main window.
  // It takes no keyboard focus, so the form the user works in stays the active one (and a
  // second message window made meanwhile centres over that form, not over this one).
  Qt::WindowFlags flags = Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;
  if (dialog_border)
    return flags | Qt::CustomizeWindowHint | Qt::WindowTitleHint;  // a title, no buttons
  return flags | Qt::FramelessWindowHint;
}

// The form a new message window centres on: the active window, or, when that is itself a
// message window (some window systems activate a window when it is shown), the form that one
// centres on.
QWidget* ActiveForm() {
  QWidget* active = QApplication::activeWindow();
  if (auto* msg = dynamic_cast<TTzMsg*>(active)) return msg->CentreForm();
  return active;
}

}  // namespace

TTzMsg::TTzMsg(QWidget* owner)
    : QWidget(owner, FlagsFor(false)),
      outer_panel_(new QFrame(this)),
      inner_panel_(new QLabel(this)),
      form_(ActiveForm()) {
  // Showing the message must not take the keyboard from the form the user works in.
  setAttribute(Qt::WA_ShowWithoutActivating);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, kMsgColor);
  palette.setColor(QPalette::WindowText, Qt::black);
  setPalette(palette);
  setAutoFillBackground(true);

  outer_panel_->setFrameStyle(QFrame::Panel | QFrame::Raised);
  outer_panel_->setLineWidth(kBevelWidth);

  inner_panel_->setFrameStyle(QFrame::Box | QFrame::Plain);
  inner_panel_->setLineWidth(1);
  inner_panel_->setAlignment(Qt::AlignCenter);
  inner_panel_->setTextFormat(Qt::PlainText);
  resize(0, 0);
}

TTzMsg::~TTzMsg() = default;

std::string TTzMsg::Caption() const { return platform::FromQString(windowTitle()); }

void TTzMsg::SetCaption(const std::string& caption) {
  setWindowTitle(platform::ToQString(caption));
}

void TTzMsg::ShowText(const std::string& text) {
  if (!text.empty()) text_ = text;
  QString shown = platform::ToQString(text_);
  QFontMetrics metrics(font());
  int height = metrics.height() + kTextMargin;
  int width = metrics.horizontalAdvance(shown) + kTextMargin;

  bool dialog_border = !windowTitle().isEmpty();
  bool resize_forced = dialog_border != dialog_border_;
  if (resize_forced) {
    dialog_border_ = dialog_border;
    setWindowFlags(FlagsFor(dialog_border));  // hides the window; shown again below
  }
  if (dialog_border_) {
    // The title bar is the window system's frame around this client area, so the height
    // stays that of the text; the caption's width is the least width.
    width = std::max(width, QFontMetrics(QFont("System")).horizontalAdvance(windowTitle()));
  }
  outer_panel_->setVisible(!dialog_border_);

  if (this->width() < width || this->height() < height || resize_forced) {
    resize(width, height);
    AlignPanels();
    // Shown first: the window system's frame (the title bar) is known only then, and the
    // frame is what is centred.
    show();
    QRect over = form_ && form_->isVisible() ? form_->frameGeometry() : QRect();
    if (over.isNull()) {
      QScreen* screen = form_ ? form_->screen() : QGuiApplication::primaryScreen();
      if (screen) over = screen->availableGeometry();
    }
    QRect frame = frameGeometry();
    frame.moveCenter(over.center());
    move(frame.topLeft());
  }

  inner_panel_->setText(shown);
  inner_panel_->repaint();
  platform::ProcessEvents();
}

void TTzMsg::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  AlignPanels();
}

void TTzMsg::AlignPanels() {
  outer_panel_->setGeometry(rect());
  int inset = outer_panel_->isVisibleTo(this) ? kBevelWidth : 0;
  inner_panel_->setGeometry(rect().adjusted(inset, inset, -inset, -inset));
}

TTzProgress100::TTzProgress100(QWidget* owner, const std::string& title)
    : TTzMsg(owner), bar_(kBarLength, '|') {
  SetCaption(title);
  ShowText(bar_);
}

void TTzProgress100::StepBar() {
  if (!bar_.empty()) bar_.erase(0, 1);
  else bar_.assign(kBarLength, '|');
  ShowText(bar_);
}

TTzProgressFactory TTzProgress100Factory() {
  return [](const std::string& title) -> std::unique_ptr<TTzProgressWindow> {
    return std::make_unique<TTzProgress100>(nullptr, title);
  };
}

}  // namespace tz
