// The display program's main window and its dialogs at the sizes a user drags them to: each
// opens at its designed size (the list dialogs with every control in its designed place),
// keeps every control in sight and apart at its smallest size, and at a large size either
// keeps its size (the main window and the small settings dialogs) or gives the room to its
// grids (the list dialogs). Screenshots of each at both sizes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>

#include "tests/apps/vantorix_fixture.h"
#include "tests/apps/window_layout.h"

namespace vantorix {
namespace {

class VantorixLayout : public VantorixTest {
 protected:
  // The main window with its dialogs as the program block makes them, a few rows in each list.
  TMainForm& OpenAll() {
    WritePhones({{"0000000001", "Nokia", "6310i"}});
    TMainForm& form = OpenWithDialogs();
    AppendRows(form.DBWerbung, {{{"werbetext", "Buy now"}, {"aktiv", "T"}},
                                {{"werbetext", "Old ad"}, {"aktiv", "F"}}});
    AppendRows(form.DBProtocol, {{{"telnr", "+491701111111"},
                                  {"zeit", "24.12.26 18:00:00"},
                                  {"text", "Frohe Feste"},
                                  {"provider", "+491710760000"}}});
    AppendRows(form.DBVerbWordList, {{{"wort", "BAD"}}, {{"wort", "WORSE"}}});
    AppendRows(form.DBVerbTelList, {{{"telnr", "01701234567"}}});
    QApplication::processEvents();
    return form;
  }
  static QDialog& Shown(TMainForm& form, const char* name) {
    auto* dialog = form.findChild<QDialog*>(name);
    EXPECT_NE(dialog, nullptr) << name;
    dialog->show();
    QApplication::processEvents();
    return *dialog;
  }
};

TEST_F(VantorixLayout, ListDialogsOpenWithEveryControlInItsPlace) {
  TMainForm& form = OpenAll();
  struct Place {
    const char* name;
    QRect rect;
  };
  struct Case {
    const char* dialog;
    QSize size;
    std::vector<Place> places;
  };
  const Case cases[] = {
      {"TWerbetexte",
       {520, 400},
       {{"Label1", {12, 12, 380, 18}},
        {"Label2", {400, 12, 100, 18}},
        {"TzGrid1", {12, 32, 496, 282}},
        {"TzNavigator1", {12, 322, 300, 28}},
        {"btnClose", {420, 360, 88, 30}}}},
      {"TSMSProtocol",
       {640, 420},
       {{"grdProtokoll", {12, 12, 616, 322}},
        {"TzNavigator1", {12, 342, 300, 28}},
        {"btnClose", {540, 380, 88, 30}}}},
      {"TfrmVerbote",
       {560, 400},
       {{"Label1", {12, 12, 260, 18}},
        {"Label2", {288, 12, 260, 18}},
        {"grdVerbWorte", {12, 32, 260, 282}},
        {"TzNavigator1", {12, 322, 260, 28}},
        {"TzGrid1", {288, 32, 260, 282}},
        {"TzNavigator2", {288, 322, 260, 28}},
        {"btnClose", {460, 360, 88, 30}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog);
    QDialog& dialog = Shown(form, c.dialog);
    EXPECT_EQ(dialog.size(), c.size);
    std::map<std::string, QRect> shown = apps_testing::Places(dialog);
    for (const Place& p : c.places) EXPECT_EQ(shown[p.name], p.rect) << p.name;
    dialog.hide();
  }
}

TEST_F(VantorixLayout, SmallestAndLargeSizesKeepEveryControl) {
  TMainForm& form = OpenAll();
  apps_testing::CheckSmallestAndLargeSize(form, "TMainForm", {463, 638}, {});
  struct Case {
    const char* dialog;
    QSize size;
    std::vector<apps_testing::Growing> growing;
  };
  const Case cases[] = {
      {"TfrmEinstell", {360, 300}, {}},
      {"TNoAdForm", {320, 150}, {}},
      {"TWerbetexte", {520, 400}, {{"TzGrid1", true, true}}},
      {"TSMSProtocol", {640, 420}, {{"grdProtokoll", true, true}}},
      {"TfrmVerbote", {560, 400}, {{"grdVerbWorte", true, true}, {"TzGrid1", true, true}}},
  };
  for (const Case& c : cases) {
    QDialog& dialog = Shown(form, c.dialog);
    apps_testing::CheckSmallestAndLargeSize(dialog, c.dialog, c.size, c.growing);
    dialog.hide();
  }
}

}  // namespace
}  // namespace vantorix
