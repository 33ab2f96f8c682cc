// What the tests of Vazor's main window share: program folder and Windows directory in a fresh
// temporary folder, the library started in the "C" language, a recording Ui (no box is ever
// shown; Yes/No answers come from a queue), phone-table rows written before the window opens,
// the vendor and type dialog answered from a timer, and telstamm.dbf read back by an
// independent reader (python3-dbfread).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/common/apps_common.h"
#include "apps/handy/Handytest.h"
#include "apps/handy/NewMobile.h"
#include "platform/qt/qt_text.h"
#include "platform/registry.h"
#include "platform/testing/child_process.h"
#include "platform/testing/recording_ui.h"
#include "platform/testing/temp_dir.h"
#include "platform/ui.h"
#include "tables/engine/tzstart.h"
#include "tests/apps/dbfread_rows.h"
#include "ui_Handytest.h"
#include "ui_NewMobile.h"

namespace handy {

// One telstamm.dbf row as Vazor writes it.
struct ModelRow {
  std::string id, maker, model;
  int smsstack = 5, comport = 1;
  std::string baudrate = "9600", databits = "8", stopbits = "1", parity = "N", flow = "None";
  int inputbuf = 1024, outputbuf = 1024, waitopen = 10, waitclose = 10, waitsend = 10, waitrec = 20;
  bool deleted = false;  // written, then marked deleted
};

// The fields python3-dbfread reads of each row, in this order, joined by "|".
inline const char kPeerFields[] =
    "ID HERSTELLER MODELL SMSSTACK COMPORT BAUDRATE DATABITS STOPBITS PARITY FLOWCONTR INPUTBUF "
    "OUTPUTBUF WAITOPEN WAITCLOSE WAITSEND WAITREC";

// A program folder and a Windows directory of their own, for one case of a table of cases.
class CaseFolders {
 public:
  CaseFolders()
      : program_("KESTROVA_PROGRAM_DIR", (dir / "program").string()),
        windows_("KESTROVA_WINDOWS_DIR", (dir / "windows").string()) {}
  platform::TempDir dir;

 private:
  platform::ScopedEnv program_, windows_;
};

class HandyTest : public ::testing::Test {
 protected:
  HandyTest()
      : lc_all_("LC_ALL", "C"),
        program_("KESTROVA_PROGRAM_DIR", (dir_ / "program").string()),
        windows_("KESTROVA_WINDOWS_DIR", (dir_ / "windows").string()),
        use_ui_(ui_) {
    tz::StartTarazed();
  }
  ~HandyTest() override {
    dialog_timer_.reset();
    form_.reset();
    tz::EndTarazed();
  }

  static void WriteRows(const std::vector<ModelRow>& rows) {
    tz::TTzDbf table;
    table.SetName("Models");
    table.DbfFields() = apps::TelstammFields();
    table.IndexList() = apps::TelstammIndex();
    table.SetDbfFileName(apps::ProgramFolder() + apps::kTelstammFile);
    table.Open();
    for (const ModelRow& row : rows) {
      ASSERT_TRUE(table.ALock());
      table.FieldPutStr("id", row.id);
      table.FieldPutStr("hersteller", row.maker);
      table.FieldPutStr("modell", row.model);
      table.FieldPutInt("smsstack", row.smsstack);
      table.FieldPutInt("comport", row.comport);
      table.FieldPutStr("baudrate", row.baudrate);
      table.FieldPutStr("databits", row.databits);
      table.FieldPutStr("stopbits", row.stopbits);
      table.FieldPutStr("parity", row.parity);
      table.FieldPutStr("flowcontr", row.flow);
      table.FieldPutInt("inputbuf", row.inputbuf);
      table.FieldPutInt("outputbuf", row.outputbuf);
      table.FieldPutInt("waitopen", row.waitopen);
      table.FieldPutInt("waitclose", row.waitclose);
      table.FieldPutInt("waitsend", row.waitsend);
      table.FieldPutInt("waitrec", row.waitrec);
      table.AppendRec();
      if (row.deleted) {
        table.UnLock();  // the append lock; a work area holds it or record locks
        ASSERT_TRUE(table.RLock());
        table.DeleteRec();
      }
      table.UnLock();
    }
  }

  static void WriteRegistry(const std::string& name, const std::string& value) {
    platform::RegIniFile(apps::kRegistryKey).WriteString(apps::kRegistrySection, name, value);
  }
  static std::string RegistryValue(const std::string& name) {
    return platform::RegIniFile(apps::kRegistryKey)
        .ReadString(apps::kRegistrySection, name, "<none>");
  }

  // Creates the window and its dialog as the program block does, and shows it (FormShow).
  THandyForm& OpenForm() {
    form_ = std::make_unique<THandyForm>();
    form_->MobileNew = new TMobileNew(form_.get());
    form_->resize(990, 740);
    form_->show();
    QApplication::processEvents();
    return *form_;
  }

  // Answers the vendor and type dialog as soon as it is up: `keys` typed into the control that
  // has the focus, then the texts set (unless nullopt, then left as they are), and Ok or Abort.
  // A dialog that stays open after Ok (it refused the texts) is then aborted. The caption, the
  // texts it came up with, the control that had the focus and whether it stayed open are kept.
  void AnswerDialog(std::optional<std::string> vendor, std::optional<std::string> type, bool ok,
                    const std::string& keys = "") {
    dialog_caption_.clear();
    dialog_focus_.clear();
    dialog_stayed_open_ = false;
    dialog_timer_ = std::make_unique<QTimer>();
    dialog_timer_->setInterval(5);
    QObject::connect(dialog_timer_.get(), &QTimer::timeout, [this, vendor, type, ok, keys] {
      TMobileNew* dialog = form_->MobileNew;
      if (!dialog->isVisible()) return;
      dialog_timer_->stop();
      dialog_caption_ = platform::FromQString(dialog->windowTitle());
      dialog_texts_ = platform::FromQString(dialog->ui->txtVendorName->text()) + "|" +
                      platform::FromQString(dialog->ui->txtMobileType->text());
      if (QWidget* focus = dialog->focusWidget()) {
        dialog_focus_ = focus->objectName().toStdString();
        if (!keys.empty()) QTest::keyClicks(focus, QString::fromLatin1(keys.c_str()));
      }
      if (vendor) dialog->ui->txtVendorName->setText(platform::ToQString(*vendor));
      if (type) dialog->ui->txtMobileType->setText(platform::ToQString(*type));
      QTest::mouseClick(ok ? dialog->ui->BtnOK : dialog->ui->btnAbort, Qt::LeftButton);
      if (dialog->isVisible()) {
        dialog_stayed_open_ = true;
        QTest::mouseClick(dialog->ui->btnAbort, Qt::LeftButton);
      }
    });
    dialog_timer_->start();
  }

  // The grid's rows as "maker|model", blanks cut at the right.
  std::vector<std::string> GridRows() {
    tz::TTzGrid& grid = *form_->ui->grdMobilTel;
    auto& model = grid.Model();
    while (model.canFetchMore({})) model.fetchMore({});
    std::vector<std::string> rows;
    for (int r = 0; r < model.rowCount(); ++r) {
      std::string row;
      for (int c = 0; c < model.columnCount(); ++c) {
        QString text = model.index(r, c).data(platform::TDataGridModel::FieldTextRole).toString();
        row += (c ? "|" : "") + platform::FromQString(text.trimmed());
      }
      rows.push_back(row);
    }
    return rows;
  }

  // Clicks the grid's row `row` (from 0), as the user does to load a model.
  void ClickRow(int row) {
    tz::TTzGrid& grid = *form_->ui->grdMobilTel;
    GridRows();
    QRect cell = grid.visualRect(grid.Model().index(row, 0));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
    QApplication::processEvents();
  }

  // The rows of telstamm.dbf as python3-dbfread reads them (deleted rows left out), the
  // fields of kPeerFields joined by "|", blanks cut at the right.
  std::vector<std::string> PeerRows() {
    return apps_testing::DbfreadRows(apps::ProgramFolder() + apps::kTelstammFile, kPeerFields,
                                     dir_ / "peer.out");
  }
  // The deleted rows, the same way.
  std::vector<std::string> PeerDeletedRows() {
    return apps_testing::DbfreadRows(apps::ProgramFolder() + apps::kTelstammFile, kPeerFields,
                                     dir_ / "peer.out", true);
  }

  platform::TempDir dir_;
  platform::ScopedEnv lc_all_, program_, windows_;
  platform::RecordingUi ui_;
  platform::ScopedUi use_ui_;
  std::unique_ptr<THandyForm> form_;
  std::unique_ptr<QTimer> dialog_timer_;
  std::string dialog_caption_, dialog_texts_, dialog_focus_;
  bool dialog_stayed_open_ = false;
};

}  // namespace handy
