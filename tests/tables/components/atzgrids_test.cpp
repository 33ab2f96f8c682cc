// The data grid and the navigator over real tables on the offscreen screen: Qt's model tester
// while records come and go through the dataset and a second work area, the colours of
// deleted, selected and Boolean cells in a grabbed grid, the keys, the navigator's delete
// button, and the pure parts (colours, Boolean texts, the saved column layout) as tables.
#include "tables/components/atzgrids.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>
#include <functional>

#include "platform/qt/qt_text.h"
#include "platform/testing/child_process.h"
#include "platform/testing/qt_testing.h"
#include "tables/components/atznav.h"
#include "tzdbf_test_support.h"

namespace tz {
namespace {

using platform::TGridColumn;
using platform::dataset::TBooleanField;
using platform::dataset::TDataSource;

// Counts what Qt's model tester complains about.
int g_model_warnings = 0;
QtMessageHandler g_previous_handler = nullptr;
void CountModelWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (context.category && QByteArray(context.category).startsWith("qt.modeltest")) {
    if (type != QtDebugMsg && type != QtInfoMsg) ++g_model_warnings;
  }
  if (g_previous_handler) g_previous_handler(type, context, text);
}

void Pump() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

const std::vector<std::string> kAdFields = {"werbetext, C, 30, 0", "aktiv, L, 1, 0"};

class GridTest : public TzDbfTest {
 protected:
  // An advertisement table of `rows` records ("Anzeige 1", ...), every third one inactive.
  std::unique_ptr<TTzDbf> Ads(int rows) {
    auto dbf = Open("DBWerbung", "werbung.dbf", kAdFields);
    for (int i = 1; i <= rows; ++i)
      AppendRow(*dbf, {{"werbetext", "Anzeige " + std::to_string(i)}, {"aktiv", i % 3 ? "T" : "F"}});
    dbf->First();
    return dbf;
  }
  void Show(TTzGrid& grid, TTzDbf& dbf) {
    source_.SetDataSet(&dbf);
    grid.SetDataSource(&source_);
    grid.resize(360, 220);
    grid.show();
    Pump();
  }
  // Makes record `recno` (1 and up, in file order) the current one and marks it deleted.
  static void DeleteRecord(TTzDbf& dbf, int recno) {
    dbf.First();
    dbf.MoveBy(recno - 1);
    dbf.SetDeleted(true);
  }
  static std::string Text(TTzGrid& grid, int row, int column) {
    return platform::FromQString(
        grid.Model().index(row, column).data(platform::TDataGridModel::FieldTextRole).toString());
  }
  // A pixel of a cell in the grabbed grid, `dx` from its right edge, at its vertical middle.
  static QColor CellPixel(TTzGrid& grid, const QImage& image, int row, int column, int dx = 4) {
    QRect r = grid.visualRect(grid.Model().index(row, column));
    QPoint p = grid.viewport()->mapTo(&grid, QPoint(r.right() - dx, r.center().y()));
    return image.pixelColor(p);
  }

  TDataSource source_;
};

TEST_F(GridTest, ModelTesterPassesWhileRecordsComeAndGo) {
  auto dbf = Ads(5);
  TTzGrid grid;
  g_model_warnings = 0;
  g_previous_handler = qInstallMessageHandler(CountModelWarnings);
  QAbstractItemModelTester tester(&grid.Model(),
                                  QAbstractItemModelTester::FailureReportingMode::Warning);
  Show(grid, *dbf);
  EXPECT_EQ(grid.Model().rowCount(), 5);
  EXPECT_EQ(Text(grid, 4, 0), "Anzeige 5");

  // Appended, edited, deleted and restored through the dataset.
  dbf->Append();
  Pump();
  EXPECT_EQ(grid.Model().rowCount(), 6);
  dbf->FieldByName("werbetext").SetText("Neu");
  dbf->Post();
  Pump();
  EXPECT_EQ(grid.Model().rowCount(), 6);
  EXPECT_EQ(Text(grid, 5, 0), "Neu");
  dbf->First();
  dbf->Edit();
  dbf->FieldByName("werbetext").SetText("Erste");
  Pump();
  EXPECT_EQ(Text(grid, 0, 0), "Erste");
  dbf->Post();
  DeleteRecord(*dbf, 2);
  Pump();
  EXPECT_TRUE(grid.Model().RowDeleted(1));
  dbf->SetDeleted(false);
  Pump();
  EXPECT_FALSE(grid.Model().RowDeleted(1));

  // A second work area appends and deletes; the grid sees it after a refresh.
  auto other = Open("DBWerbung2", "werbung.dbf", kAdFields);
  AppendRow(*other, {{"werbetext", "Von aussen"}, {"aktiv", "T"}});
  other->First();
  other->SetDeleted(true);
  dbf->Refresh();
  Pump();
  EXPECT_EQ(grid.Model().rowCount(), 7);
  EXPECT_EQ(Text(grid, 6, 0), "Von aussen");
  EXPECT_TRUE(grid.Model().RowDeleted(0));
  // And with deleted records hidden, the rows follow.
  dbf->SetHideDeletedRecs(true);
  dbf->First();
  Pump();
  EXPECT_EQ(grid.Model().rowCount(), 6);

  qInstallMessageHandler(g_previous_handler);
  EXPECT_EQ(g_model_warnings, 0);
}

TEST_F(GridTest, DeletedRowsAreRedSelectedOnesHighlightedAndBooleansBoxed) {
  auto dbf = Ads(4);
  DeleteRecord(*dbf, 2);
  TTzGrid grid;
  Show(grid, *dbf);
  dbf->First();
  Pump();
  grid.setCurrentIndex(grid.Model().index(0, 0));
  Pump();
  QImage image = grid.grab().toImage();
  // Row 1 is the deleted record: both cells red (the first at its right end, past the text).
  EXPECT_EQ(CellPixel(grid, image, 1, 0), QColor(255, 0, 0));
  EXPECT_EQ(CellPixel(grid, image, 1, 1, 2), QColor(255, 0, 0));
  EXPECT_NE(CellPixel(grid, image, 0, 1, 2), QColor(255, 0, 0));

  // Selected, the deleted row's cell takes the highlight colour; its other cell stays red.
  dbf->First();
  dbf->Next();
  Pump();
  ASSERT_EQ(grid.currentIndex().row(), 1);
  image = grid.grab().toImage();
  EXPECT_EQ(CellPixel(grid, image, 1, 0), platform::ToQColor(platform::clHighlight));
  EXPECT_EQ(CellPixel(grid, image, 1, 1, 2), QColor(255, 0, 0));

  // Boolean cells: a true one has its cross through the box centre, a false one an empty box
  // (the centre in the cell colour, the frame in the text colour).
  QColor text = platform::ToQColor(platform::clWindowText);
  QColor back = platform::ToQColor(platform::clWindow);
  auto centre = [&](int row) {
    QRect r = grid.visualRect(grid.Model().index(row, 1));
    int side = std::min(r.width(), r.height());
    QPoint c(r.left() + r.width() / 2, r.top() + side / 2);
    return grid.viewport()->mapTo(&grid, c);
  };
  auto frame_left = [&](int row) {
    QRect r = grid.visualRect(grid.Model().index(row, 1));
    int side = std::min(r.width(), r.height());
    return grid.viewport()->mapTo(&grid, QPoint(r.left() + (r.width() - side) / 2 + 2, r.top() + side / 2));
  };
  ASSERT_EQ(Text(grid, 0, 1), "True");
  ASSERT_EQ(Text(grid, 2, 1), "False");
  EXPECT_EQ(image.pixelColor(centre(0)), text);
  EXPECT_EQ(image.pixelColor(centre(2)), back);
  EXPECT_EQ(image.pixelColor(frame_left(2)), text);
}

TEST_F(GridTest, AColumnWiderThanTheGridShowsTheStartOfItsTextsWhateverRowIsCurrent) {
  // A text column wider than the grid (the forbidden words' 40 characters in a narrow
  // dialog): moving to another row, by the dataset or by the keyboard, keeps the start of its
  // texts in view instead of scrolling to the column's right end.
  auto dbf = Open("DBVerbWordList", "verbwort.dbf", {"wort, C, 200, 0"});
  for (const char* word : {"BAD", "WORSE", "WORST"}) AppendRow(*dbf, {{"wort", word}});
  dbf->First();
  TTzGrid grid;
  Show(grid, *dbf);
  grid.resize(200, 220);
  Pump();
  ASSERT_GT(grid.columnWidth(0), grid.viewport()->width());
  dbf->MoveBy(2);
  Pump();
  EXPECT_EQ(grid.currentIndex().row(), 2);
  EXPECT_EQ(grid.columnViewportPosition(0), 0);
  QTest::keyClick(&grid, Qt::Key_Up);
  Pump();
  EXPECT_EQ(grid.currentIndex().row(), 1);
  EXPECT_EQ(grid.columnViewportPosition(0), 0);
  // Shown again too low for the current row, which is then brought into view.
  dbf->MoveBy(1);
  grid.hide();
  grid.resize(200, 60);
  grid.show();
  Pump();
  EXPECT_EQ(grid.currentIndex().row(), 2);
  EXPECT_EQ(grid.columnViewportPosition(0), 0);
}

TEST_F(GridTest, DownOnTheLastRowAppendsOnlyWithAutoAppendAndEscCancels) {
  auto dbf = Ads(3);
  TTzGrid grid;
  Show(grid, *dbf);
  dbf->Last();
  Pump();
  ASSERT_EQ(grid.currentIndex().row(), 2);

  grid.SetAutoAppend(false);
  QTest::keyClick(&grid, Qt::Key_Down);
  EXPECT_EQ(grid.Model().rowCount(), 3);
  EXPECT_EQ(dbf->State(), platform::dataset::dsBrowse);

  grid.SetAutoAppend(true);
  QTest::keyClick(&grid, Qt::Key_Down);
  EXPECT_EQ(dbf->State(), platform::dataset::dsInsert);
  EXPECT_EQ(grid.Model().rowCount(), 4);
  EXPECT_EQ(grid.currentIndex().row(), 3);

  QTest::keyClick(&grid, Qt::Key_Escape);
  Pump();
  EXPECT_EQ(dbf->State(), platform::dataset::dsBrowse);
  EXPECT_EQ(grid.Model().rowCount(), 3);
  EXPECT_EQ(Column(*dbf, "werbetext").size(), 3u);
}

TEST_F(GridTest, SpaceTogglesABooleanAndPrintableKeysAreSwallowed) {
  auto dbf = Ads(2);
  static_cast<TBooleanField&>(dbf->FieldByName("aktiv")).SetDisplayValues("Ja;Nein");
  TTzGrid grid;
  Show(grid, *dbf);
  grid.setCurrentIndex(grid.Model().index(0, 1));
  ASSERT_EQ(dbf->FieldByName("aktiv").DisplayText(), "Ja");
  QTest::keyClick(&grid, Qt::Key_Space);
  EXPECT_EQ(dbf->FieldByName("aktiv").DisplayText(), "Nein");
  EXPECT_EQ(Text(grid, 0, 1), "Nein");
  QTest::keyClick(&grid, Qt::Key_Return);
  EXPECT_EQ(dbf->FieldByName("aktiv").DisplayText(), "Ja");
  QTest::keyClick(&grid, Qt::Key_Space);
  dbf->Post();
  EXPECT_EQ(Column(*dbf, "aktiv"), (std::vector<std::string>{"F", "T"}));

  dbf->First();
  Pump();
  QTest::keyClicks(&grid, "x1");
  QTest::keyClick(&grid, Qt::Key_Backspace);
  EXPECT_EQ(dbf->State(), platform::dataset::dsBrowse);
  EXPECT_EQ(grid.findChild<QLineEdit*>(), nullptr);  // no editor opened
  EXPECT_EQ(dbf->FieldByName("aktiv").DisplayText(), "Nein");
}

// What a user does to leave a cell editor after typing into it, and whether the typed text
// is to be stored.
struct EditorExit {
  const char* how;
  std::function<void(TTzGrid& grid, QLineEdit& editor, TTzNavigator& nav)> leave;
  bool stored;
};

const EditorExit kEditorExits[] = {
    {"Return", [](TTzGrid&, QLineEdit& e, TTzNavigator&) { QTest::keyClick(&e, Qt::Key_Return); },
     true},
    {"Enter", [](TTzGrid&, QLineEdit& e, TTzNavigator&) { QTest::keyClick(&e, Qt::Key_Enter); },
     true},
    {"Return sent to the grid itself",
     [](TTzGrid& g, QLineEdit&, TTzNavigator&) { QTest::keyClick(&g, Qt::Key_Return); }, true},
    {"Tab", [](TTzGrid&, QLineEdit& e, TTzNavigator&) { QTest::keyClick(&e, Qt::Key_Tab); }, true},
    {"Up", [](TTzGrid&, QLineEdit& e, TTzNavigator&) { QTest::keyClick(&e, Qt::Key_Up); }, true},
    {"Down", [](TTzGrid&, QLineEdit& e, TTzNavigator&) { QTest::keyClick(&e, Qt::Key_Down); },
     true},
    {"a click on the first row",
     [](TTzGrid& g, QLineEdit&, TTzNavigator&) {
       QTest::mouseClick(g.viewport(), Qt::LeftButton, {},
                         g.visualRect(g.Model().index(0, 0)).center());
     },
     true},
    {"the navigator's Post",
     [](TTzGrid&, QLineEdit&, TTzNavigator& n) { n.Button(platform::nbPost).click(); }, true},
    {"Esc", [](TTzGrid&, QLineEdit& e, TTzNavigator&) { QTest::keyClick(&e, Qt::Key_Escape); },
     false},
};

// The form of a list dialog: a grid and a navigator on one data source.
struct ListForm {
  explicit ListForm(TTzDbf& dbf) : source(&dbf) {
    auto* layout = new QVBoxLayout(&window);
    grid = new TTzGrid(&window);
    nav = new TTzNavigator(&window);
    layout->addWidget(grid);
    layout->addWidget(nav);
    grid->SetDataSource(&source);
    nav->SetDataSource(&source);
    window.resize(420, 260);
    window.show();
    Pump();
  }
  TDataSource source;
  QWidget window;
  TTzGrid* grid = nullptr;
  TTzNavigator* nav = nullptr;
};

class GridEditorTest : public GridTest {
 protected:
  // An advertisement table of its own for each case.
  std::unique_ptr<TTzDbf> AdsNamed(const std::string& file, int rows) {
    auto dbf = Open("DBWerbung", file, kAdFields);
    for (int i = 1; i <= rows; ++i)
      AppendRow(*dbf, {{"werbetext", "Anzeige " + std::to_string(i)}, {"aktiv", "T"}});
    dbf->First();
    return dbf;
  }
  // Types `text` into the current cell as a user does: the first key opens the cell's editor
  // (which selects the cell's text), the others go to the editor, which has the focus.
  static QLineEdit* TypeIntoCurrent(TTzGrid& grid, const QString& text) {
    QTest::keyClicks(&grid, text.left(1));
    auto* editor = qobject_cast<QLineEdit*>(grid.indexWidget(grid.currentIndex()));
    if (editor) QTest::keyClicks(editor, text.mid(1));
    return editor;
  }
  // The dataset leaves edit state as the dialogs do when they close, then the table is read.
  static std::vector<std::string> Stored(TTzDbf& dbf) {
    if (dbf.State() != platform::dataset::dsBrowse) dbf.CheckBrowseMode();
    return Column(dbf, "werbetext");
  }
};

TEST_F(GridEditorTest, TextTypedIntoAnExistingRowIsStoredHoweverTheEditorIsLeft) {
  int n = 0;
  for (const EditorExit& exit : kEditorExits) {
    SCOPED_TRACE(exit.how);
    auto dbf = AdsNamed("werbung" + std::to_string(++n) + ".dbf", 3);
    ListForm form(*dbf);
    TTzGrid& grid = *form.grid;
    dbf->Next();
    Pump();
    ASSERT_EQ(grid.currentIndex(), grid.Model().index(1, 0));
    QLineEdit* editor = TypeIntoCurrent(grid, "Neuer Text");
    ASSERT_NE(editor, nullptr);
    ASSERT_EQ(editor->text(), "Neuer Text");
    exit.leave(grid, *editor, *form.nav);
    std::string expected = exit.stored ? "Neuer Text" : "Anzeige 2";
    // Nothing waits for the event loop: the row shows the text (or not) at once.
    EXPECT_EQ(Text(grid, 1, 0), expected);
    EXPECT_EQ(grid.indexWidget(grid.Model().index(1, 0)), nullptr) << "the editor is closed";
    // Esc also ends the edit that the typing started.
    if (!exit.stored) {
      EXPECT_EQ(dbf->State(), platform::dataset::dsBrowse);
    }
    Pump();
    EXPECT_EQ(Stored(*dbf), (std::vector<std::string>{"Anzeige 1", expected, "Anzeige 3"}));
  }
}

// A new row: Down on the last row appends one, the user types into it and leaves the editor.
// The navigator's Post used to store the row blank.
TEST_F(GridEditorTest, TextTypedIntoANewRowIsStoredHoweverTheEditorIsLeft) {
  int n = 0;
  for (const EditorExit& exit : kEditorExits) {
    SCOPED_TRACE(exit.how);
    auto dbf = AdsNamed("neu" + std::to_string(++n) + ".dbf", 2);
    ListForm form(*dbf);
    TTzGrid& grid = *form.grid;
    dbf->Last();
    Pump();
    QTest::keyClick(&grid, Qt::Key_Down);
    ASSERT_EQ(dbf->State(), platform::dataset::dsInsert);
    ASSERT_EQ(grid.currentIndex(), grid.Model().index(2, 0));
    QLineEdit* editor = TypeIntoCurrent(grid, "Frisch");
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(form.nav->Button(platform::nbPost).isEnabled());
    exit.leave(grid, *editor, *form.nav);
    EXPECT_EQ(grid.indexWidget(grid.Model().index(2, 0)), nullptr) << "the editor is closed";
    Pump();
    std::vector<std::string> expected{"Anzeige 1", "Anzeige 2"};
    if (exit.stored) expected.push_back("Frisch");
    EXPECT_EQ(Stored(*dbf), expected);
  }
}

// A one-column grid: putting the record into edit state re-reads the row, which must not
// hand the stored text back to the editor while the user types.
TEST_F(GridEditorTest, TypingIntoAOneColumnGridKeepsEveryKey) {
  auto dbf = Open("DBVerbWordList", "verbwort.dbf", {"wort, C, 40, 0"});
  AppendRow(*dbf, {{"wort", "Mist"}});
  dbf->First();
  ListForm form(*dbf);
  QLineEdit* editor = TypeIntoCurrent(*form.grid, "Quatsch");
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->text(), "Quatsch");
  EXPECT_EQ(dbf->State(), platform::dataset::dsEdit);
  QTest::keyClick(editor, Qt::Key_Return);
  dbf->Post();
  EXPECT_EQ(Column(*dbf, "wort"), (std::vector<std::string>{"Quatsch"}));
}

// A text the field refuses, posted by the navigator: the error is shown, the record stays in
// edit state with the editor open, and the grid goes on following the dataset.
TEST_F(GridEditorTest, APostOfATextTheFieldRefusesKeepsTheEditorAndTheGridFollowing) {
  auto dbf = Open("DBMobilTel", "telstamm.dbf", {"modell, C, 20, 0", "smsstack, N, 3, 0"});
  AppendRow(*dbf, {{"modell", "Eins"}, {"smsstack", "10"}});
  AppendRow(*dbf, {{"modell", "Zwei"}, {"smsstack", "20"}});
  dbf->First();
  ListForm form(*dbf);
  TTzGrid& grid = *form.grid;
  grid.setCurrentIndex(grid.Model().index(0, 1));
  QLineEdit* editor = TypeIntoCurrent(grid, "viele");
  ASSERT_NE(editor, nullptr);
  ui_.Clear();
  form.nav->Button(platform::nbPost).click();
  ASSERT_EQ(ui_.Texts().size(), 1u);
  EXPECT_NE(ui_.Texts()[0].find("'viele' is not a valid"), std::string::npos) << ui_.Texts()[0];
  EXPECT_EQ(dbf->State(), platform::dataset::dsEdit);
  EXPECT_EQ(grid.indexWidget(grid.Model().index(0, 1)), editor);

  // Corrected in the editor, and posted by moving down a row.
  editor->selectAll();
  QTest::keyClicks(editor, "30");
  QTest::keyClick(editor, Qt::Key_Down);
  Pump();
  EXPECT_EQ(dbf->State(), platform::dataset::dsBrowse);
  EXPECT_EQ(grid.Model().CurrentRow(), 1);
  EXPECT_EQ(grid.currentIndex().row(), 1);
  EXPECT_EQ(Text(grid, 0, 1), "30");
  EXPECT_EQ(Column(*dbf, "smsstack"), (std::vector<std::string>{" 30", " 20"}));
}

// A table that refuses the edit (it became read-only while the editor was open): the refusal
// is shown once however many keys follow, the editor closes, and nothing is stored.
TEST_F(GridEditorTest, AnEditTheTableRefusesClosesTheEditor) {
  auto dbf = AdsNamed("werbung.dbf", 1);
  ListForm form(*dbf);
  TTzGrid& grid = *form.grid;
  QModelIndex cell = grid.currentIndex();
  grid.edit(cell);
  auto* editor = qobject_cast<QLineEdit*>(grid.indexWidget(cell));
  ASSERT_NE(editor, nullptr);
  dbf->SetReadOnly(true);
  ui_.Clear();
  QTest::keyClicks(editor, "XYZ");
  EXPECT_EQ(ui_.Texts().size(), 1u);
  EXPECT_EQ(dbf->State(), platform::dataset::dsBrowse);
  Pump();
  EXPECT_EQ(grid.indexWidget(cell), nullptr);
  dbf->SetReadOnly(false);
  EXPECT_EQ(Column(*dbf, "werbetext"), (std::vector<std::string>{"Anzeige 1"}));
}

// Rows that another work area or another program changed or deleted while the grid held them,
// with deleted records hidden: after the grid's next refresh (the navigator's Refresh, the
// grid shown again) they show as they now are, and a click on the row of a record that is gone
// leaves the dataset on its own record and shows the rows as they now are.
TEST_F(GridEditorTest, RowsOthersChangedOrDeletedShowAsTheyNowAreAndAGoneOneIsNeverStoodOn) {
  enum Then { kRefresh, kShownAgain, kClickOnTheGoneRow };
  struct Case {
    const char* what;
    bool process;  // another program, else another work area of this one
    Then then;
  } cases[] = {
      {"another work area, Refresh", false, kRefresh},
      {"another work area, shown again", false, kShownAgain},
      {"another work area, a click on the gone row", false, kClickOnTheGoneRow},
      {"another program, Refresh", true, kRefresh},
      {"another program, shown again", true, kShownAgain},
      {"another program, a click on the gone row", true, kClickOnTheGoneRow},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string file = "werbung" + std::to_string(++n) + ".dbf";
    auto dbf = AdsNamed(file, 5);
    dbf->SetHideDeletedRecs(true);
    dbf->First();
    ListForm form(*dbf);
    TTzGrid& grid = *form.grid;
    ASSERT_EQ(grid.Model().rowCount(), 5);
    // Record 2 gets a new text, record 3 the deleted mark.
    if (c.process) {
      platform::ChildProcess holder(TABLE_HOLDER, {});
      for (const std::string& line : {"use " + PathOf(file), std::string("go 2"), std::string("rlock"),
                                      std::string("replace Geaendert"), std::string("unlock"),
                                      std::string("go 3"), std::string("rlock"),
                                      std::string("delete"), std::string("unlock")}) {
        ASSERT_TRUE(holder.WriteLine(line));
        std::string answer = holder.ReadLine();
        ASSERT_TRUE(answer == "ok" || answer == "true") << line << ": " << answer;
      }
    } else {
      auto other = Open("DBWerbung2", file, kAdFields);
      other->Go(2);
      ASSERT_TRUE(other->RLock());
      other->FieldPutStr("werbetext", "Geaendert");
      other->ReplaceRec();
      other->UnLock();
      other->Go(3);
      other->SetDeleted(true);
    }
    EXPECT_EQ(Text(grid, 1, 0), "Anzeige 2");  // what the grid held
    switch (c.then) {
      case kRefresh: form.nav->Button(platform::nbRefresh).click(); break;
      case kShownAgain:
        form.window.hide();
        Pump();
        form.window.show();
        break;
      case kClickOnTheGoneRow:
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {},
                          grid.visualRect(grid.Model().index(2, 0)).center());
        break;
    }
    Pump();
    std::vector<std::string> shown;
    for (int row = 0; row < grid.Model().rowCount(); ++row) shown.push_back(Text(grid, row, 0));
    EXPECT_EQ(shown, (std::vector<std::string>{"Anzeige 1", "Geaendert", "Anzeige 4", "Anzeige 5"}));
    EXPECT_FALSE(dbf->IsDeleted());
    EXPECT_EQ(RTrim(dbf->FieldGet("werbetext")), "Anzeige 1");
    EXPECT_EQ(grid.Model().CurrentRow(), 0);
    EXPECT_EQ(grid.currentIndex().row(), 0);
    EXPECT_TRUE(ui_.Messages().empty()) << ui_.Texts().front();
  }
}

TEST_F(GridTest, CtrlDeleteRestoresADeletedRecordAfterTheQuestion) {
  auto dbf = Ads(3);
  TTzGrid grid;
  Show(grid, *dbf);
  DeleteRecord(*dbf, 2);
  Pump();
  ui_.Clear();
  ui_.QueueAnswer(platform::kIdCancel);
  QTest::keyClick(&grid, Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_TRUE(dbf->IsDeleted());
  ui_.QueueAnswer(platform::kIdOk);
  QTest::keyClick(&grid, Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_FALSE(dbf->IsDeleted());
  EXPECT_EQ(ui_.Texts(), (std::vector<std::string>{"Restore Record ?", "Restore Record ?"}));
  Pump();
  EXPECT_FALSE(grid.Model().RowDeleted(1));
}

TEST_F(GridTest, TheGridNeverMovesTheCursorWhileADatasetIsEdited) {
  auto dbf = Ads(600);
  TTzGrid grid;
  Show(grid, *dbf);
  ASSERT_FALSE(grid.Model().AtEnd());
  dbf->First();
  dbf->FieldPutStr("werbetext", "Geaendert");
  long reads = grid.Model().RecordReads();
  // What a paint or a scroll asks for while the put waits in the engine's buffer.
  grid.Model().fetchMore(QModelIndex());
  grid.scrollToBottom();
  grid.grab();
  for (int r = 0; r < grid.Model().rowCount(); ++r) Text(grid, r, 0);
  EXPECT_EQ(grid.Model().RecordReads(), reads);
  EXPECT_EQ(dbf->State(), platform::dataset::dsEdit);
  EXPECT_EQ(Text(grid, 0, 0), "Geaendert");
  dbf->Post();
  EXPECT_EQ(Column(*dbf, "werbetext").front(), "Geaendert");
}

TEST_F(GridTest, ARightClickPressesATitleAndTheCornerReportsItsClicks) {
  auto dbf = Ads(2);
  TTzGrid grid;
  Show(grid, *dbf);
  std::vector<std::string> events;
  grid.OnDepressTitle = [&](TTzGrid&, int c) { events.push_back("title " + std::to_string(c)); };
  grid.OnCornerLeftClick = [&](TTzGrid&) { events.push_back("corner left"); };
  grid.OnCornerRightClick = [&](TTzGrid&) { events.push_back("corner right"); };
  QHeaderView* header = grid.horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::RightButton, {},
                    QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
  EXPECT_EQ(grid.PressedTitle(), 1);
  header->moveSection(1, 0);
  EXPECT_EQ(grid.PressedTitle(), 1);
  grid.SetDepressDisabled(true);
  EXPECT_EQ(grid.PressedTitle(), -1);
  QTest::mouseClick(header->viewport(), Qt::RightButton, {}, QPoint(5, header->height() / 2));
  EXPECT_EQ(grid.PressedTitle(), -1);
  auto* corner = grid.findChild<QAbstractButton*>();
  ASSERT_NE(corner, nullptr);
  QTest::mouseClick(corner, Qt::LeftButton);
  QTest::mouseClick(corner, Qt::RightButton);
  EXPECT_EQ(events, (std::vector<std::string>{"title 1", "corner left", "corner right"}));
  EXPECT_EQ(grid.FixedColumns(), 0);
}

TEST_F(GridTest, TheNavigatorDeletesAndRestoresAndCancelStillFiresOnClick) {
  auto dbf = Ads(3);
  TTzNavigator nav;
  nav.SetDataSource(&source_);
  source_.SetDataSet(dbf.get());
  nav.SetDataSource(&source_);
  int clicks = 0;
  nav.OnClick = [&](platform::TDataNavigator&, platform::TNavigateBtn b) {
    if (b == platform::nbDelete) ++clicks;
  };
  nav.SetConfirmDelete(false);
  nav.SetConfirmRestore(false);
  nav.Button(platform::nbDelete).click();
  EXPECT_TRUE(dbf->IsDeleted());
  nav.Button(platform::nbDelete).click();
  EXPECT_FALSE(dbf->IsDeleted());
  EXPECT_EQ(clicks, 2);

  nav.SetConfirmDelete(true);
  ui_.QueueAnswer(platform::kIdCancel);
  nav.Button(platform::nbDelete).click();
  EXPECT_FALSE(dbf->IsDeleted());
  EXPECT_EQ(clicks, 3);
  EXPECT_EQ(ui_.Texts().back(), "Delete Record ?");

  dbf->SetReadOnly(true);
  nav.UpdateButtons();
  EXPECT_FALSE(nav.Button(platform::nbDelete).isEnabled());
  nav.BtnClick(platform::nbDelete);
  EXPECT_FALSE(dbf->IsDeleted());
  EXPECT_EQ(clicks, 3);

  // The other buttons move the dataset and follow its position.
  dbf->SetReadOnly(false);
  nav.Button(platform::nbLast).click();
  EXPECT_TRUE(dbf->Eof());
  EXPECT_FALSE(nav.Button(platform::nbNext).isEnabled());
  EXPECT_TRUE(nav.Button(platform::nbFirst).isEnabled());
}

// A record another program holds locked: the navigator's delete button shows "Lock failed
// [Delete]" (or "[Restore]"), writes nothing, and fires OnClick all the same; once the lock
// is gone the next press writes.
TEST_F(GridTest, TheNavigatorFiresOnClickAlsoWhenALockHeldByAnotherProgramRefusesTheWrite) {
  struct Case {
    bool deleted;  // record 2 carries the deleted mark before the press
    const char* message;
  } cases[] = {{false, "Lock failed [Delete]"}, {true, "Lock failed [Restore]"}};
  auto dbf = Ads(3);
  TTzNavigator nav;
  source_.SetDataSet(dbf.get());
  nav.SetDataSource(&source_);
  nav.SetConfirmDelete(false);
  nav.SetConfirmRestore(false);
  int clicks = 0;
  nav.OnClick = [&](platform::TDataNavigator&, platform::TNavigateBtn b) {
    if (b == platform::nbDelete) ++clicks;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    dbf->Go(2);
    ASSERT_EQ(dbf->IsDeleted(), c.deleted);
    platform::ChildProcess holder(TABLE_HOLDER, {});
    for (const std::string& line : {"use " + PathOf("werbung.dbf"), std::string("go 2"), std::string("rlock")}) {
      ASSERT_TRUE(holder.WriteLine(line));
      std::string answer = holder.ReadLine();
      ASSERT_TRUE(answer == "ok" || answer == "true") << line << ": " << answer;
    }
    ui_.Clear();
    clicks = 0;
    nav.Button(platform::nbDelete).click();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(ui_.Texts(), std::vector<std::string>{c.message});
    EXPECT_EQ(dbf->IsDeleted(), c.deleted);
    EXPECT_EQ(dbf->State(), platform::dataset::dsBrowse);
    EXPECT_EQ(dbf->RecNo(), 2);

    ASSERT_TRUE(holder.WriteLine("unlock"));
    ASSERT_EQ(holder.ReadLine(), "ok");
    nav.Button(platform::nbDelete).click();
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(dbf->IsDeleted(), !c.deleted);
    EXPECT_EQ(ui_.Texts().size(), 1u);
  }
}

TEST_F(GridTest, ScreenshotOfAnAdvertisementList) {
  auto dbf = Ads(6);
  DeleteRecord(*dbf, 4);
  QWidget form;
  auto* layout = new QVBoxLayout(&form);
  auto* grid = new TTzGrid(&form);
  auto* nav = new TTzNavigator(&form);
  layout->addWidget(grid);
  layout->addWidget(nav);
  source_.SetDataSet(dbf.get());
  grid->SetDataSource(&source_);
  nav->SetDataSource(&source_);
  form.resize(420, 260);
  form.show();
  dbf->First();
  Pump();
  EXPECT_FALSE(platform::testing::SaveScreenshot(form, "tzgrid_werbung").empty());
}

// Counts the records the dataset reads from its table, whoever asks for them.
class CountingDbf : public TTzDbf {
 public:
  long reads = 0;

 protected:
  platform::dataset::TGetResult GetRecord(char* buffer, platform::dataset::TGetMode mode,
                                          bool check) override {
    ++reads;
    return TTzDbf::GetRecord(buffer, mode, check);
  }
};

// The rows a grid of this height shows whole.
int ShownRows(TTzGrid& grid) {
  return grid.viewport()->height() / grid.verticalHeader()->defaultSectionSize();
}

// The grid reads only the rows around the current record: opening it over a big table, going
// to the last row, paging up through rows it never held, painting there and scrolling to the
// top of what it holds reads a few pages of records, never the table; its current row is the
// dataset's record all the way, and Qt's model tester finds nothing amiss as rows come in
// above and below.
TEST_F(GridTest, GoingToTheLastRowOfABigTableAndPagingUpReadsOnlyTheRowsShown) {
  constexpr int kRecords = 20000;
  std::vector<std::string> records;
  records.reserve(kRecords);
  for (int n = 1; n <= kRecords; ++n) {
    std::string record = " Anzeige " + std::to_string(n);
    record.resize(31, ' ');
    records.push_back(record + (n % 3 ? "T" : "F"));
  }
  dir_.Write("werbung.dbf", RawTable(0x03, {{"WERBETEXT", 'C', 30}, {"AKTIV", 'L', 1}}, records));
  CountingDbf dbf;
  dbf.SetName("DBWerbung");
  dbf.SetDbfFileName(PathOf("werbung.dbf"));
  dbf.Open();
  TTzGrid grid;
  g_model_warnings = 0;
  g_previous_handler = qInstallMessageHandler(CountModelWarnings);
  QAbstractItemModelTester tester(&grid.Model(),
                                  QAbstractItemModelTester::FailureReportingMode::Warning);
  Show(grid, dbf);
  int page = ShownRows(grid);
  ASSERT_GT(page, 3);
  EXPECT_LT(dbf.reads, 4 * page + 10);  // the first screen and the next, not the table

  dbf.reads = 0;
  QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
  Pump();
  ASSERT_TRUE(dbf.Eof());
  int row = grid.currentIndex().row();
  EXPECT_EQ(row, grid.Model().CurrentRow());
  EXPECT_EQ(row, grid.Model().rowCount() - 1);
  EXPECT_EQ(Text(grid, row, 0), "Anzeige 20000");
  EXPECT_EQ(Text(grid, row - 1, 0), "Anzeige 19999");
  EXPECT_LT(dbf.reads, 4 * page + 10);

  dbf.reads = 0;
  for (int i = 0; i < 5; ++i) {
    QTest::keyClick(&grid, Qt::Key_PageUp);
    grid.grab();
  }
  for (int i = 0; i < 5; ++i) grid.grab();
  Pump();
  row = grid.currentIndex().row();
  EXPECT_EQ(row, grid.Model().CurrentRow());
  std::string shown = Text(grid, row, 0);
  EXPECT_EQ(shown, RTrim(dbf.FieldGet("werbetext")));
  EXPECT_LE(std::stoi(shown.substr(8)), kRecords - 5 * (page - 2)) << shown;
  EXPECT_EQ(Text(grid, row - 1, 0), "Anzeige " + std::to_string(std::stoi(shown.substr(8)) - 1));
  EXPECT_LT(dbf.reads, 10 * page + 50);

  // The scroll bar at the top of the rows held: a page more comes in above, and the screen
  // stays as it was.
  QScrollBar& bar = *grid.verticalScrollBar();
  bar.setValue(0);
  std::string top = Text(grid, 0, 0);
  int held = grid.Model().rowCount();
  Pump();
  EXPECT_GT(grid.Model().rowCount(), held);
  EXPECT_EQ(Text(grid, bar.value(), 0), top);
  EXPECT_EQ(Text(grid, bar.value() - 1, 0),
            "Anzeige " + std::to_string(std::stoi(top.substr(8)) - 1));
  EXPECT_LT(dbf.reads, 12 * page + 60);
  qInstallMessageHandler(g_previous_handler);
  EXPECT_EQ(g_model_warnings, 0);
}

// A FindExact that misses, as the receive loop's for every SMS whose sender is not on the
// forbidden list, costs a search: a hidden grid on the table reads nothing, a shown one the
// rows it shows around the last record, where the miss leaves the dataset; a hit the same.
TEST_F(GridTest, AFindExactThatMissesCostsASearchNotAWalkOfTheTable) {
  constexpr int kRecords = 20000;
  auto number = [](int n) { return "+49170" + std::to_string(1000000 + n); };
  std::vector<std::string> records;
  records.reserve(kRecords);
  for (int n = 1; n <= kRecords; ++n) {
    std::string record = " " + number(n);
    record.resize(21, ' ');
    records.push_back(record);
  }
  dir_.Write("verbtel.dbf", RawTable(0x03, {{"TELNR", 'C', 20}}, records));
  CountingDbf dbf;
  dbf.SetName("DBVerbTelList");
  dbf.IndexList() = {"TELNR,F,F,telnr", ""};
  dbf.SetDbfFileName(PathOf("verbtel.dbf"));
  dbf.Open();
  struct Case {
    const char* sender;
    bool shown;
    bool found;
    std::string current;  // the record the dataset stands on afterwards
  } cases[] = {
      {"+4915112345678", false, false, number(kRecords)},  // before every number
      {"+491701000000x", false, false, number(kRecords)},  // among them
      {"+4917612345678", false, false, number(kRecords)},  // after them
      {"+4915112345678", true, false, number(kRecords)},
      {"+4917612345678", true, false, number(kRecords)},
      {"+491701010000", true, true, number(10000)},
  };
  // What the seek itself reads, without a grid.
  std::vector<long> own;
  for (const Case& c : cases) {
    dbf.First();
    dbf.reads = 0;
    EXPECT_EQ(dbf.FindExact(c.sender), c.found);
    own.push_back(dbf.reads);
  }
  TTzGrid grid;
  source_.SetDataSet(&dbf);
  grid.SetDataSource(&source_);
  grid.resize(300, 200);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(std::string(c.sender) + (c.shown ? " shown" : " hidden"));
    if (c.shown && !grid.isVisible()) grid.show();
    Pump();
    dbf.First();
    Pump();
    dbf.reads = 0;
    EXPECT_EQ(dbf.FindExact(c.sender), c.found);
    Pump();
    EXPECT_EQ(RTrim(dbf.FieldGet("telnr")), c.current);
    if (!c.shown) {
      EXPECT_EQ(dbf.reads, own[i]);
      continue;
    }
    int page = ShownRows(grid);
    EXPECT_LE(dbf.reads - own[i], 3 * page + 4) << page << " rows shown";
    int row = grid.currentIndex().row();
    EXPECT_EQ(row, grid.Model().CurrentRow());
    EXPECT_EQ(Text(grid, row, 0), c.current);
  }
}

// --- The pure parts -------------------------------------------------------------------------

TEST(TzGridColours, TheCellBrushAsATable) {
  using platform::clBtnFace, platform::clWindow, platform::clWindowText, platform::clHighlight,
      platform::clHighlightText, platform::clRed, platform::clGrayText, platform::clBlack;
  struct Case {
    const char* what;
    bool indicator, deleted, highlighted, enabled;
    TTzCellBrush expected;
  };
  const Case cases[] = {
      {"normal", false, false, false, true, {clWindow, clWindowText}},
      {"deleted", false, true, false, true, {clRed, 0x123456}},
      {"selected", false, false, true, true, {clHighlight, clHighlightText}},
      {"selected deleted", false, true, true, true, {clHighlight, clHighlightText}},
      {"indicator", true, false, false, true, {0x00C0FFEE, clBlack}},
      {"indicator deleted", true, true, true, true, {0x00C0FFEE, clBlack}},
      {"disabled", false, false, false, false, {clWindow, clGrayText}},
      {"disabled deleted", false, true, false, false, {clRed, clGrayText}},
  };
  for (const Case& c : cases) {
    TTzCellState s;
    s.Indicator = c.indicator;
    s.Deleted = c.deleted;
    s.Highlighted = c.highlighted;
    s.Enabled = c.enabled;
    s.FixedColor = 0x00C0FFEE;
    s.FontColor = 0x123456;
    EXPECT_EQ(TzCellBrush(s, TzDefaultCellColors(s)), c.expected) << c.what;
  }
  // A hook's colours win: a row it paints green with white text.
  TTzCellState s;
  TTzCellColors colors = TzDefaultCellColors(s);
  colors.CellColor = 0x00FF00;
  colors.CellTextColor = 0xFFFFFF;
  colors.DeletedColor = 0xFF0000;
  EXPECT_EQ(TzCellBrush(s, colors), (TTzCellBrush{0x00FF00, 0xFFFFFF}));
  s.Deleted = true;
  EXPECT_EQ(TzCellBrush(s, colors).Brush, 0xFF0000u);
}

TEST_F(GridTest, TheColourHookSeesTheRowsValuesWithoutMovingTheDataset) {
  auto dbf = Ads(3);
  TTzGrid grid;
  grid.OnChangeColorsEvent = [](TTzGrid&, int, const TTzRowView& row, TTzCellColors& c) {
    if (row.Value("AKTIV") == "False") c.CellColor = 0x00FF00;
  };
  Show(grid, *dbf);
  int32_t recno = dbf->RecNo();
  QImage image = grid.grab().toImage();
  EXPECT_EQ(CellPixel(grid, image, 2, 0), QColor(0, 255, 0));
  EXPECT_NE(CellPixel(grid, image, 1, 0), QColor(0, 255, 0));
  EXPECT_EQ(dbf->RecNo(), recno);
}

TEST(TzGridBooleans, TextsTruthAndToggle) {
  EXPECT_EQ(TzBooleanTexts("Ja;Nein"), (std::pair<std::string, std::string>{"Ja", "Nein"}));
  EXPECT_EQ(TzBooleanTexts(""), (std::pair<std::string, std::string>{"true", "false"}));
  EXPECT_EQ(TzBooleanTexts("a;b;c"), (std::pair<std::string, std::string>{"a", "b;c"}));
  struct Case {
    const char* text;
    bool is_true;
    const char* toggled;
  };
  const Case cases[] = {{"Ja", true, "Nein"}, {"jA", true, "Nein"}, {"JA", true, "Nein"},
                        {"Nein", false, "Ja"}, {"", false, "Ja"},     {"Jaa", false, "Ja"}};
  for (const Case& c : cases) {
    EXPECT_EQ(TzBooleanIsTrue(c.text, "Ja"), c.is_true) << c.text;
    EXPECT_EQ(TzToggledText(c.text, "Ja", "Nein"), c.toggled) << c.text;
  }
}

TEST(TzGridSavedColumns, TheLayoutAsATable) {
  std::vector<TGridColumn> columns(1);  // the one empty column a new grid holds
  int current = TzApplySavedColumns({"cvColumn=1", "cvWidthStr=80"}, columns);
  ASSERT_EQ(columns.size(), 2u);
  EXPECT_EQ(current, 1);
  EXPECT_EQ(columns[0].Width, -1);
  EXPECT_EQ(columns[1].Width, 80);

  columns.clear();
  current = TzApplySavedColumns(
      {"  cvColumn=0", "cvFieldNameStr= werbetext ", "cvColorStr=clYellow",
       "cvFontStr=Arial,clRed,778", "cvAlignmentStr=TARIGHTJUSTIFY", "cvReadOnlyStr=true",
       "cvTitleColorStr=$00FF00", "cvTitleCaptionStr=Werbetext", "cvTitleAlignmentStr=taCenter",
       "cvTitleFontStr=Courier,clBlue,10", "cvColumn=1", "cvAlignmentStr=whatever"},
      columns);
  ASSERT_EQ(columns.size(), 2u);
  EXPECT_EQ(current, 1);
  const TGridColumn& c = columns[0];
  EXPECT_EQ(c.FieldName, "werbetext");
  EXPECT_EQ(c.Color, 0x00FFFFu);
  EXPECT_EQ(c.Font.Name, "Arial");
  EXPECT_EQ(c.Font.Color, platform::clRed);
  EXPECT_EQ(c.Font.Size, 10);  // 778 = 0x30A: size 10, italic and bold... bits 1 and 2 of 3
  EXPECT_TRUE(c.Font.Bold);
  EXPECT_TRUE(c.Font.Italic);
  EXPECT_FALSE(c.Font.Underline);
  EXPECT_EQ(c.Alignment, platform::dataset::taRightJustify);
  EXPECT_TRUE(c.ReadOnly);
  EXPECT_EQ(c.Title.Color, 0x00FF00u);
  EXPECT_EQ(c.Title.Caption, "Werbetext");
  EXPECT_EQ(c.Title.Alignment, platform::dataset::taCenter);
  EXPECT_EQ(c.Title.Font.Name, "Courier");
  EXPECT_EQ(columns[1].Alignment, platform::dataset::taLeftJustify);
}

TEST(TzGridSavedColumns, UnknownKeysBadValuesAndHugeCountsChangeNothing) {
  struct Case {
    std::vector<std::string> list;
    size_t columns;
    int current;
    int width_of_0;
  };
  const Case cases[] = {
      {{"cvColumn=0", "cvWidthStr=50", "cvBogus=3"}, 1, 0, 50},       // unknown key: no column 3
      {{"cvColumn=0", "cvWidthStr=abc"}, 1, 0, -1},                   // non-numeric width
      {{"cvColumn=zwei", "cvWidthStr=50"}, 0, -1, 0},                 // non-numeric column
      {{"cvColumn=0", "cvWidthStr=80px"}, 1, 0, -1},                  // a number with a tail
      {{"cvColumn=256", "cvWidthStr=50"}, 0, -1, 0},                  // the first one refused
      {{"cvColumn=100000000", "cvWidthStr=50"}, 0, -1, 0},            // beyond the cap
      {{"cvColumn=-1"}, 0, -1, 0},                                    // negative
      {{"cvWidthStr=50"}, 0, -1, 0},                                  // before any column
      {{"cvColumn=2", "cvColumn=0", "cvWidthStr=70"}, 3, 0, 70},      // existing becomes current
      {{"cvColumn=255"}, 256, 255, -1},                               // the last one allowed
  };
  for (const Case& c : cases) {
    std::vector<TGridColumn> columns;
    int current = TzApplySavedColumns(c.list, columns);
    EXPECT_EQ(columns.size(), c.columns) << c.list[0];
    EXPECT_EQ(current, c.current) << c.list[0];
    if (!columns.empty()) {
      EXPECT_EQ(columns[0].Width, c.width_of_0) << c.list[0];
    }
  }
}

TEST_F(GridTest, ASavedLayoutMakesItsColumnsAndSelectsTheCurrentOne) {
  auto dbf = Ads(2);
  TTzGrid grid;
  Show(grid, *dbf);
  grid.ReadSavedColumns({"cvColumn=0", "cvFieldNameStr=aktiv", "cvColumn=1",
                         "cvFieldNameStr=werbetext", "cvWidthStr=80", "cvColumn=0"});
  ASSERT_EQ(grid.Model().columnCount(), 2);
  EXPECT_EQ(Text(grid, 0, 1), "Anzeige 1");
  EXPECT_EQ(grid.horizontalHeader()->sectionSize(1), 80);
  EXPECT_EQ(grid.SelectedIndex(), 0);
}

}  // namespace
}  // namespace tz
