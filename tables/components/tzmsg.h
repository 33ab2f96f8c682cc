// The table components' message windows: TTzMsg, a small borderless window that stays on top
// and shows one line of text centred over the form that was active when it was made, and
// TTzProgress100, a TTzMsg whose text is a bar of 100 "|" that loses one character a step
// (the index build's progress, through the components' progress factory: the programs
// install TTzProgress100Factory()).
//
// The owner (the Qt parent, or the caller when there is none) creates and frees them. They
// are hidden until the first ShowText and visible from then on. Texts are Windows-1252.
#pragma once

#include <QPointer>
#include <QWidget>
#include <string>

#include "tables/components/tzprogress.h"

class QFrame;
class QLabel;

namespace tz {

class TTzMsg : public QWidget {
 public:
  // A hidden window of size 0 x 0, without border or border icons, staying on top, yellow;
  // it remembers the active window as the form to centre on. `owner` becomes the Qt parent
  // (it deletes the window with itself) and may be nullptr.
  explicit TTzMsg(QWidget* owner = nullptr);
  ~TTzMsg() override;
  TTzMsg(const TTzMsg&) = delete;
  TTzMsg& operator=(const TTzMsg&) = delete;

  // Shows `text`, or, when it is empty, the stored text again:
  //   - the window needs the text's size on its font plus 30 pixels each way; with a caption
  //     it gets a title bar (no border otherwise) and is at least as wide as the caption in
  //     the font "System";
  //   - when it is narrower or lower than that, or its border changed, it takes that size,
  //     is centred over the remembered form (over the screen when that form is gone or
  //     hidden) and shown; a shorter text keeps the size it has;
  //   - then the text is painted and pending events are processed (platform::ProcessEvents),
  //     last, so a handler run there may even delete this window.
  void ShowText(const std::string& text = "");

  // The stored text.
  const std::string& Text() const { return text_; }
  // The caption (window title); empty: no title bar.
  std::string Caption() const;
  void SetCaption(const std::string& caption);
  // The form the window centres on, or nullptr when there was none or it has been deleted.
  QWidget* CentreForm() const { return form_.data(); }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void AlignPanels();

  // The raised bevel around the text, shown only without a title bar.
  QFrame* outer_panel_;
  // The text, inside a one-pixel border.
  QLabel* inner_panel_;
  std::string text_;
  bool dialog_border_ = false;
  // Guarded: the form may close and be deleted while this window lives.
  QPointer<QWidget> form_;
};

class TTzProgress100 : public TTzMsg, public TTzProgressWindow {
 public:
  static constexpr int kBarLength = 100;

  // A TTzMsg captioned `title`, showing the full bar at once.
  explicit TTzProgress100(QWidget* owner = nullptr, const std::string& title = "Progress");

  // One step: the bar loses its first character; an empty bar is filled again. Then the
  // bar is shown (ShowText, so an empty bar shows the last character again until the next
  // step fills it).
  void StepBar() override;

  // The bar text (0 to 100 "|").
  const std::string& Bar() const { return bar_; }

 private:
  std::string bar_;
};

// The factory a program with windows installs with SetProgressFactory: each window is a
// TTzProgress100 with the title, without a Qt parent (the caller's pointer is its only owner)
// and centred over the form active when it is made.
TTzProgressFactory TTzProgress100Factory();

}  // namespace tz
