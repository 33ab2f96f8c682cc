// What the tests of the display program's main window share: program folder and Windows
// directory in a fresh temporary folder, the library started in the "C" language, a recording
// Ui (a halt becomes an exception, no box is ever shown), the laser library's in-memory record,
// phone-table rows written before the window opens, and the start/stop log read back by an
// independent reader (python3-dbfread).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>
#include <string>
#include <vector>

#include "apps/common/apps_common.h"
#include "apps/vantorix/Protocol.h"
#include "apps/vantorix/Unit1.h"
#include "apps/vantorix/Verbote.h"
#include "apps/vantorix/Werbung.h"
#include "apps/vantorix/einstellungen.h"
#include "apps/vantorix/noad.h"
#include "platform/ld2000/recorder.h"
#include "platform/registry.h"
#include "platform/testing/child_process.h"
#include "platform/testing/recording_ui.h"
#include "platform/testing/temp_dir.h"
#include "platform/ui.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"
#include "tests/apps/dbfread_rows.h"
#include "ui_Unit1.h"

namespace vantorix {

// One telstamm.dbf row: id, maker, model, port and the serial settings as text.
struct PhoneRow {
  std::string id, maker, model;
  int comport = 1;
  std::string baudrate = "9600", databits = "8", stopbits = "1", parity = "N";
};

class VantorixTest : public ::testing::Test {
 protected:
  VantorixTest()
      : lc_all_("LC_ALL", "C"),
        program_("KESTROVA_PROGRAM_DIR", (dir_ / "program").string()),
        windows_("KESTROVA_WINDOWS_DIR", (dir_ / "windows").string()),
        ld_log_("LD2000_LOG", std::nullopt),
        use_ui_(ui_) {
    tz::StartTarazed();
    DefaultDisplayText = kBuiltInDisplayText;
    platform::ld2000::Reset();
  }
  ~VantorixTest() override {
    CloseForm();
    tz::EndTarazed();
  }

  // Writes the rows into telstamm.dbf of the program folder as Vazor would.
  void WritePhones(const std::vector<PhoneRow>& rows) {
    bool raise = tz::DbRaiseErrors;
    tz::DbRaiseErrors = true;
    {
      tz::TTzDbf table;
      table.SetName("Phones");
      table.DbfFields() = apps::TelstammFields();
      table.IndexList() = apps::TelstammIndex();
      table.SetDbfFileName(apps::ProgramFolder() + apps::kTelstammFile);
      table.Open();
      for (const PhoneRow& row : rows) {
        ASSERT_TRUE(table.ALock());
        table.FieldPutStr("id", row.id);
        table.FieldPutStr("hersteller", row.maker);
        table.FieldPutStr("modell", row.model);
        table.FieldPutInt("smsstack", 5);
        table.FieldPutInt("comport", row.comport);
        table.FieldPutStr("baudrate", row.baudrate);
        table.FieldPutStr("databits", row.databits);
        table.FieldPutStr("stopbits", row.stopbits);
        table.FieldPutStr("parity", row.parity);
        table.FieldPutStr("flowcontr", "None");
        table.FieldPutInt("inputbuf", 1024);
        table.FieldPutInt("outputbuf", 1024);
        table.FieldPutInt("waitopen", 10);
        table.FieldPutInt("waitclose", 10);
        table.FieldPutInt("waitsend", 10);
        table.FieldPutInt("waitrec", 20);
        table.AppendRec();
        table.UnLock();
      }
    }
    tz::DbRaiseErrors = raise;
  }

  // Appends rows to a table of the open window as the program does: under the append lock.
  static void AppendRows(tz::TTzDbf& table,
                         const std::vector<std::vector<std::pair<std::string, std::string>>>& rows) {
    for (const auto& row : rows) {
      ASSERT_TRUE(table.ALock());
      for (const auto& [field, value] : row) table.FieldPutStr(field, value);
      table.AppendRec();
      table.UnLock();
    }
  }

  void WriteRegistry(const std::string& name, const std::string& value) {
    platform::RegIniFile(apps::kRegistryKey).WriteString(apps::kRegistrySection, name, value);
  }

  // Creates the main window (FormCreate) and shows it (FormShow).
  TMainForm& OpenForm() {
    form_ = std::make_unique<TMainForm>();
    form_->show();
    return *form_;
  }

  // The main window with its dialogs, as the program block makes them.
  TMainForm& OpenWithDialogs() {
    TMainForm& form = OpenForm();
    new TWerbetexte(&form);
    new TSMSProtocol(&form);
    new TfrmVerbote(&form);
    new TfrmEinstell(&form);
    new TNoAdForm(&form);
    return form;
  }

  // Closes the window as the user would (FormCloseQuery, FormClose) and destroys it.
  void CloseForm() {
    if (form_) form_->close();
    form_.reset();
  }

  // The rows of a table read by python3-dbfread, one line per record, fields joined by "|".
  std::vector<std::string> PeerRows(const std::filesystem::path& table) {
    return apps_testing::DbfreadRows(table, "", dir_ / "peer.out");
  }

  // The texts of the library calls recorded since the fixture began.
  static std::vector<std::string> LdCalls() { return platform::ld2000::CallTexts(); }

  platform::TempDir dir_;
  platform::ScopedEnv lc_all_, program_, windows_, ld_log_;
  platform::RecordingUi ui_;
  platform::ScopedUi use_ui_;
  std::unique_ptr<TMainForm> form_;
};

}  // namespace vantorix
