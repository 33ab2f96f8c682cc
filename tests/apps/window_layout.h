// What the window-size tests of both programs share: the controls a form places, what is wrong
// with them as the window stands (a control out of sight or on top of another), each control's
// place in the window, and the window shown at its smallest and at a large size with a
// screenshot of each.
#pragma once

#include <QApplication>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "platform/testing/qt_testing.h"

// Sizes and rectangles in failure messages as "w x h" and "x,y w x h".
inline void PrintTo(const QSize& size, std::ostream* out) {
  *out << size.width() << "x" << size.height();
}
inline void PrintTo(const QRect& rect, std::ostream* out) {
  *out << rect.x() << "," << rect.y() << " " << rect.width() << "x" << rect.height();
}

namespace apps_testing {

// A plain container of a form (the central widget, a panel): its children are controls of the
// form. Every other named widget is a control whose own children (a spin box's edit, a grid's
// scroll bars, a navigator's buttons) belong to it.
inline bool IsContainer(const QWidget& widget) {
  const char* kind = widget.metaObject()->className();
  return std::strcmp(kind, "QWidget") == 0 || std::strcmp(kind, "QFrame") == 0;
}

// The controls of `window`, containers included, in the order the form created them: named,
// not hidden, not windows of their own (the dialogs a main window owns).
inline void CollectControls(QWidget& parent, std::vector<QWidget*>& controls) {
  for (QObject* child : parent.children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (!widget || widget->isWindow() || widget->isHidden()) continue;
    QString name = widget->objectName();
    if (name.isEmpty() || name.startsWith("qt_")) continue;
    controls.push_back(widget);
    if (IsContainer(*widget)) CollectControls(*widget, controls);
  }
}

inline std::vector<QWidget*> Controls(QWidget& window) {
  std::vector<QWidget*> controls;
  CollectControls(window, controls);
  return controls;
}

inline std::string Describe(const QWidget& widget, const QRect& r) {
  return widget.objectName().toStdString() + " (" + std::to_string(r.x()) + "," +
         std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
         std::to_string(r.height()) + ")";
}

// One line for each control that is squeezed to nothing, reaches out of the widget it sits on
// (and so out of sight, since every container is checked the same way up to the window), or
// overlaps another control on the same widget. Empty when every control can be seen and used.
inline std::vector<std::string> LayoutFaults(QWidget& window) {
  std::vector<std::string> faults;
  std::vector<QWidget*> controls = Controls(window);
  for (QWidget* control : controls) {
    QRect place = control->geometry();
    QWidget& parent = *control->parentWidget();
    if (place.isEmpty())
      faults.push_back(Describe(*control, place) + " is squeezed to nothing");
    else if (!parent.rect().contains(place))
      faults.push_back(Describe(*control, place) + " reaches out of " +
                       Describe(parent, parent.rect()));
  }
  for (size_t a = 0; a < controls.size(); ++a) {
    for (size_t b = a + 1; b < controls.size(); ++b) {
      QWidget& first = *controls[a];
      QWidget& second = *controls[b];
      if (first.parentWidget() != second.parentWidget()) continue;
      if (first.geometry().intersects(second.geometry()))
        faults.push_back(Describe(first, first.geometry()) + " overlaps " +
                         Describe(second, second.geometry()));
    }
  }
  return faults;
}

// Each control's rectangle in the window's coordinates, by object name.
inline std::map<std::string, QRect> Places(QWidget& window) {
  std::map<std::string, QRect> places;
  for (QWidget* control : Controls(window)) {
    QRect place(control->mapTo(&window, QPoint(0, 0)), control->size());
    places[control->objectName().toStdString()] = place;
  }
  return places;
}

// Asks for `size` as a user dragging the frame would, lets the layout settle, and returns the
// size the window took.
inline QSize ResizeTo(QWidget& window, QSize size) {
  window.resize(size);
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
  return window.size();
}

// A list or grid that takes the room a larger window gives: in width, in height or both.
struct Growing {
  const char* name;
  bool wider, taller;
};

// Shows that `window` (shown, at its designed size) keeps every control whatever size the user
// drags it to: at its smallest size (asked for 1 x 1, its minimum wins) and at 1600 x 1200 no
// control is out of sight or on another. A window without `growing` controls keeps its designed
// size; one with them shrinks to at most its designed size, takes the large size and gives the
// room to them. Writes <name>_min.png and <name>_large.png into the screenshots, and leaves the
// window at its designed size.
inline void CheckSmallestAndLargeSize(QWidget& window, const std::string& name, QSize designed,
                                      const std::vector<Growing>& growing) {
  SCOPED_TRACE(name);
  ASSERT_EQ(window.size(), designed);
  std::map<std::string, QRect> at_design = Places(window);
  for (const Growing& g : growing) ASSERT_TRUE(at_design.count(g.name)) << g.name;

  QSize smallest = ResizeTo(window, {1, 1});
  for (const std::string& fault : LayoutFaults(window))
    ADD_FAILURE() << "at the smallest size " << smallest.width() << "x" << smallest.height()
                  << ": " << fault;
  EXPECT_FALSE(platform::testing::SaveScreenshot(window, name + "_min").empty());

  const QSize kLarge(1600, 1200);
  QSize large = ResizeTo(window, kLarge);
  for (const std::string& fault : LayoutFaults(window))
    ADD_FAILURE() << "at " << large.width() << "x" << large.height() << ": " << fault;
  EXPECT_FALSE(platform::testing::SaveScreenshot(window, name + "_large").empty());

  if (growing.empty()) {
    EXPECT_EQ(smallest, designed) << "a window of fixed size shrank";
    EXPECT_EQ(large, designed) << "a window of fixed size grew";
  } else {
    EXPECT_LE(smallest.width(), designed.width());
    EXPECT_LE(smallest.height(), designed.height());
    EXPECT_EQ(large, kLarge);
    std::map<std::string, QRect> at_large = Places(window);
    for (const Growing& g : growing) {
      QSize before = at_design[g.name].size(), after = at_large[g.name].size();
      if (g.wider) {
        EXPECT_GT(after.width(), before.width()) << g.name << " did not get wider";
      }
      if (g.taller) {
        EXPECT_GT(after.height(), before.height()) << g.name << " did not get taller";
      }
    }
  }
  ResizeTo(window, designed);
}

}  // namespace apps_testing
