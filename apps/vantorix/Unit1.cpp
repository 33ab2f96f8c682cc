// The main window's creation, showing and closing, its settings, tables and start/stop log.
#include "apps/vantorix/Unit1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDialog>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <charconv>
#include <ctime>
#include <exception>
#include <functional>

#include "apps/common/apps_common.h"
#include "apps/vantorix/Protocol.h"
#include "apps/vantorix/Verbote.h"
#include "apps/vantorix/Werbung.h"
#include "apps/vantorix/einstellungen.h"
#include "laser/LD_FUNCT.h"
#include "platform/ini.h"
#include "platform/qt/application.h"
#include "platform/qt/qt_text.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "tables/engine/timedate.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzutils.h"
#include "ui_Unit1.h"

namespace vantorix {

std::string DefaultDisplayText = kBuiltInDisplayText;

namespace {

void Declare(tz::TTzDbf& table, const std::string& name, std::vector<std::string> fields,
             std::vector<std::string> index) {
  table.SetName(name);
  table.DbfFields() = std::move(fields);
  table.IndexList() = std::move(index);
  table.SetTableLanguage(tz::tlOem);
  table.SetExclusive(false);
  table.SetReadOnly(false);
  table.SetCreateIndex(tz::ciNotFound);
}

void OpenTable(tz::TTzDbf& table, const std::string& file) {
  table.SetDbfFileName(file);
  table.Open();
  table.SetHideDeletedRecs(true);
}

}  // namespace

void ShowError(const std::exception& error) {
  platform::MessageBox(error.what(), platform::ApplicationTitle(),
                       platform::kMbOk | platform::kMbIconStop);
}

bool RunShowingErrors(const std::function<void()>& step) {
  try {
    step();
    return true;
  } catch (const std::exception& error) {
    tz::DbLastError = 0;
    ShowError(error);
    return false;
  }
}

bool WriteUnderLock(tz::TTzDbf& table, bool append, const std::function<void()>& write) {
  RaiseErrorsScope raise;
  if (!(append ? table.ALock() : table.RLock())) return false;
  struct Unlock {
    tz::TTzDbf& table;
    ~Unlock() {
      // An unlock that fails (the table gone) must not replace the write's own error.
      const tz::TStoredError error;
      try {
        table.UnLock();
      } catch (const std::exception&) {
      }
      error.Restore();
    }
  } unlock{table};
  write();
  return true;
}

// At run time the library halts the program on an error. While the window is created, and
// while a row is written, its errors are raised instead, so that a table that does not open is
// reported in a message box and the program goes on, as a start-up error of any other kind
// would be.
RaiseErrorsScope::RaiseErrorsScope() : report_(tz::DbReportErrors), raise_(tz::DbRaiseErrors) {
  tz::DbReportErrors = true;
  tz::DbRaiseErrors = true;
}

RaiseErrorsScope::~RaiseErrorsScope() {
  tz::DbReportErrors = report_;
  tz::DbRaiseErrors = raise_;
}

int32_t StackSizeOf(const std::string& text) {
  int32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return (ec == std::errc() && end == text.data() + text.size() && !text.empty()) ? value : 10;
}

std::string StartStopTime(int hour, int minute) {
  char text[8];
  text[0] = static_cast<char>('0' + hour / 10 % 10);
  text[1] = static_cast<char>('0' + hour % 10);
  text[2] = ':';
  text[3] = static_cast<char>('0' + minute / 10 % 10);
  text[4] = static_cast<char>('0' + minute % 10);
  return std::string(text, 5);
}

TMainForm::TMainForm(QWidget* parent)
    : QMainWindow(parent),
      ui(std::make_unique<Ui::TMainForm>()),
      DSMobilTel(&DBMobilTel),
      DSProtocol(&DBProtocol),
      DSVerbWordList(&DBVerbWordList),
      DSVerbTelList(&DBVerbTelList),
      DSWerbung(&DBWerbung) {
  ui->setupUi(this);
  FontDialog1 = new QFontDialog(this);
  FontDialog1->setObjectName("FontDialog1");
  FontDialog1->setOption(QFontDialog::DontUseNativeDialog);
  ui->StatusBar1->showMessage("OK");
  // Key preview: FormKeyDown sees the keys of every control of the window.
  qApp->installEventFilter(this);

  connect(ui->btnConnect, &QPushButton::clicked, this,
          platform::Handler([this] { btnConnectClick(); }));
  connect(ui->BitBtn1, &QPushButton::clicked, this, platform::Handler([this] { BitBtn1Click(); }));
  connect(ui->BitBtn2, &QPushButton::clicked, this, platform::Handler([this] { BitBtn2Click(); }));
  connect(ui->TrackBar1, &QSlider::valueChanged, this,
          platform::Handler([this] { TrackBar1Change(); }));
  connect(ui->TrackBar2, &QSlider::valueChanged, this,
          platform::Handler([this] { TrackBar2Change(); }));
  connect(ui->TrackBar3, &QSlider::valueChanged, this,
          platform::Handler([this] { TrackBar3Change(); }));
  connect(ui->TrackBar4, &QSlider::valueChanged, this,
          platform::Handler([this] { TrackBar4Change(); }));
  connect(ui->TrackBar5, &QSlider::valueChanged, this,
          platform::Handler([this] { TrackBar5Change(); }));
  connect(ui->TrackBar6, &QSlider::valueChanged, this,
          platform::Handler([this] { TrackBar6Change(); }));
  connect(ui->CheckBox1, &QCheckBox::toggled, this,
          platform::Handler([this] { CheckBox1Click(); }));
  // The frame output reads the other check boxes (SMS POLLING is read by the loop itself).
  connect(ui->CheckBox2, &QCheckBox::toggled, this,
          platform::Handler([this](bool on) { Laser.InvertX = on; }));
  connect(ui->CheckBox3, &QCheckBox::toggled, this,
          platform::Handler([this](bool on) { Laser.InvertY = on; }));
  connect(ui->CheckBox5, &QCheckBox::toggled, this,
          platform::Handler([this](bool on) { Laser.Sinus = on; }));
  connect(ui->CheckBox6, &QCheckBox::toggled, this,
          platform::Handler([this](bool on) { Laser.DisableInt = on; }));
  connect(ui->BitBtn6, &QPushButton::clicked, this, platform::Handler([this] { BitBtn6Click(); }));
  connect(ui->BitBtn7, &QPushButton::clicked, this, platform::Handler([this] { BitBtn7Click(); }));
  connect(ui->Button1, &QPushButton::clicked, this, platform::Handler([this] { Button1Click(); }));
  connect(ui->Edit2, &QLineEdit::textChanged, this, platform::Handler([this] { Edit2Change(); }));
  connect(ui->Beenden1, &QAction::triggered, this, platform::Handler([this] { Beenden1Click(); }));
  connect(ui->Protokoll1, &QAction::triggered, this,
          platform::Handler([this] { Protokoll1Click(); }));
  connect(ui->Grundeinstellungen1, &QAction::triggered, this,
          platform::Handler([this] { Grundeinstellungen1Click(); }));
  connect(ui->Werbetexte1, &QAction::triggered, this,
          platform::Handler([this] { Werbetexte1Click(); }));
  connect(ui->Verbotsliste1, &QAction::triggered, this,
          platform::Handler([this] { Verbotsliste1Click(); }));

  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  FormCreate();
}

TMainForm::~TMainForm() {
  qApp->removeEventFilter(this);
  // The tables are closed here, before their members go, so that a close that fails (another
  // program holding a semaphore file) is shown instead of halting the program at its end.
  RaiseErrorsScope raise;
  for (tz::TTzDbf* table :
       {&DBMobilTel, &DBProtocol, &DBVerbWordList, &DBVerbTelList, &DBWerbung, &DBStartPro})
    RunShowingErrors([table] { table->Close(); });
}

void TMainForm::SetStatus(const std::string& text) {
  ui->StatusBar1->showMessage(platform::ToQString(text));
}

void TMainForm::SetPhoneLabel(const std::string& text) {
  ui->lblMobilTel->setText(platform::ToQString(text));
}

void TMainForm::DeclareTables() {
  Declare(DBMobilTel, "DBMobilTel", apps::TelstammFields(), apps::TelstammIndex());
  Declare(DBProtocol, "DBProtocol",
          {"telnr, C, 20, 0", "zeit, C, 22, 0", "text, C, 200, 0", "provider, C, 20, 0"}, {});
  Declare(DBVerbWordList, "DBVerbWordList", {"wort, C, 40, 0"}, {"WORT,F,F,upper(wort)", ""});
  Declare(DBVerbTelList, "DBVerbTelList", {"telnr, C, 20, 0"}, {"TELNR,F,F,telnr", ""});
  Declare(DBWerbung, "DBWerbung", {"werbetext, C, 100, 0", "aktiv, L, 1, 0"}, {});
  Declare(DBStartPro, "DBStartPro", {"datum, D, 10, 0", "uhrzeit, C, 5, 0", "kommentar, C, 10, 0"},
          {});
}

void TMainForm::ReadSettings() {
  try {
    platform::RegIniFile registry(apps::kRegistryKey);
    const char* section = apps::kRegistrySection;
    MobileId = registry.ReadString(section, "ID", "0000000001");
    ComPortNo = registry.ReadInteger(section, "Port", 1);
    MobilePin = registry.ReadString(section, "Pin", "");
    AdInterval = registry.ReadInteger(section, "Werbeinterval", 5);
    CheckNumbers = registry.ReadBool(section, "PruefTel", true);
    CheckWords = registry.ReadBool(section, "PruefWorte", true);
    AdsEnabled = AdInterval != 0;
  } catch (const std::exception&) {
    MobileId = "0000000001";
    ComPortNo = 1;
    AdInterval = 5;
    AdsEnabled = true;
    CheckNumbers = true;
    CheckWords = true;
  }
  platform::IniFile tamsil(apps::WindowsDirectory() + "/tamsil.ini");
  std::string text = tamsil.ReadString("Orvalis", "DefaultText", "");
  if (!text.empty()) DefaultDisplayText = text;
}

void TMainForm::WriteLogRow(const std::string& comment) {
  if (LogDisabled) return;
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::string time = StartStopTime(local.tm_hour, local.tm_min);
  std::string date = tz::TodayStr();
  // The log is a record of starts and stops, never a reason to stop the program: a row that
  // cannot be written is left out without a message, as a refused lock is.
  try {
    WriteUnderLock(DBStartPro, true, [&] {
      DBStartPro.FieldPutShort("datum", date);
      DBStartPro.FieldPutStr("uhrzeit", time);
      DBStartPro.FieldPutStr("kommentar", comment);
      DBStartPro.AppendRec();
    });
  } catch (const std::exception&) {
    tz::DbLastError = 0;
  }
}

// Each table is opened whatever became of the ones before it: a filter table that did not
// open must not leave the advertisements (or the other filter) closed too.
void TMainForm::OpenTables() {
  std::string folder = apps::ProgramFolder();
  ComPortNames = {"Com 1", "Com 2", "Com 3", "Com 4"};
  RunShowingErrors([&] {
    OpenTable(DBMobilTel, folder + apps::kTelstammFile);
    std::string tag = DBMobilTel.CurrentTag();
    DBMobilTel.SetOrderToTag("HERSTELLER");
    for (DBMobilTel.GoTop(); !DBMobilTel.AtEof(); DBMobilTel.Skip(1)) {
      MobileNames.push_back(tz::RTrim(DBMobilTel.FieldGet("HERSTELLER")) + " " +
                            tz::RTrim(DBMobilTel.FieldGet("MODELL")));
      MobileIds.push_back(DBMobilTel.FieldGet("ID"));
    }
    DBMobilTel.SetOrderToTag(tag);
  });
  RunShowingErrors([&] { OpenTable(DBProtocol, folder + "protocol.dbf"); });
  RunShowingErrors([&] { OpenTable(DBVerbWordList, folder + "verbwort.dbf"); });
  RunShowingErrors([&] { OpenTable(DBVerbTelList, folder + "verbtel.dbf"); });
  // Advertisements only from a table whose active row was found.
  if (!RunShowingErrors([&] {
        OpenTable(DBWerbung, folder + "werbung.dbf");
        DBWerbung.GoTop();
        while (!DBWerbung.AtEof() && !DBWerbung.FieldGetBool("AKTIV")) DBWerbung.Skip(1);
        if (DBWerbung.AtEof()) AdsEnabled = false;
      }))
    AdsEnabled = false;
}

void TMainForm::FormCreate() {
  Laser.ScanSpeed = 13000;
  Laser.BlankShift = -1;
  Laser.ScrollSpeed = 12;
  Laser.SmsRepeat = 1;
  Laser.FontScale = 1.0;
  Laser.SinusByPrefix = false;
  NoMaskByPrefix = false;
  PhraseByPrefix = false;
  StackSize = 10;
  FasttrackModem = false;
  Laser.OutputToLaser = ui->CheckBox1->isChecked();
  Laser.InvertX = ui->CheckBox2->isChecked();
  Laser.InvertY = ui->CheckBox3->isChecked();
  Laser.Sinus = ui->CheckBox5->isChecked();
  Laser.DisableInt = ui->CheckBox6->isChecked();
  // The converter as the form loads it: Arial at a character height of 37 pixels, each curve
  // piece one stroke.
  ttf1.Font().SetName("Arial");
  ttf1.Font().SetHeight(-37);
  ttf1.SetPrecision(1);
  // An offline text longer than this would lose its last strokes in the outline list.
  ui->Edit1->setMaxLength(LongestUncutText(ttf1));

  ReadSettings();
  tz::SetCountryDateFormat(5);
  DeclareTables();

  RaiseErrorsScope raise;
  LogDisabled = false;
  try {
    OpenTable(DBStartPro, apps::WindowsDirectory() + "/sysilog.dat");
  } catch (const std::exception&) {
    tz::DbLastError = 0;
    LogDisabled = true;
  }
  WriteLogRow("Start");
  OpenTables();
}

void TMainForm::FormShow() {
  laser::LdStart();
  ui->BitBtn2->setEnabled(false);
  ui->TrackBar1->setValue(Laser.ScanSpeed);
  ui->TrackBar2->setValue(Laser.BlankShift);
  ui->TrackBar3->setValue(Laser.ScrollSpeed);
  Laser.SinusAmplitude = 50;
  Laser.SinusPhase = 50;
  platform::ProcessEvents();
}

void TMainForm::FormClose() {
  laser::LdEnd();
  Laser.StopFlag = true;
  WriteLogRow("Stop");
}

void TMainForm::FormCloseQuery(bool& CanClose) {
  BitBtn2Click();
  if (OperationRunning()) {
    // A connect or a search is waiting further up the stack: tell it to stop and close when
    // it has unwound (TOperationScope), not under it.
    CancelSearch = true;
    close_requested_ = true;
    CanClose = false;
    return;
  }
  CanClose = true;
}

void TMainForm::FormKeyDown(int Key) {
  if (Key == 27 && ui->BitBtn2->isEnabled()) BitBtn2Click();
}

void TMainForm::ShowStillText(const std::string& text) {
  laser::BuildTextPoints(Laser, ttf1, text);
  // The offset at which the text stands centred in the 0..4095 window.
  laser::ClipFrame(Laser, 4096 - (4096 - Laser.TextWidth) / 2);
  laser::InterpolatePoints(Laser);
  ui->PaintBox1->Clear();
  laser::DrawPreview(Laser, *ui->PaintBox1);
  Laser.OutputToLaser = ui->CheckBox1->isChecked();
  laser::OutputFrame(Laser);
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_) return;
  shown_ = true;
  FormShow();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (closed_) {
    event->accept();
    return;
  }
  bool can_close = true;
  FormCloseQuery(can_close);
  if (!can_close) {
    event->ignore();
    return;
  }
  closed_ = true;
  FormClose();
  event->accept();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType() ||
      static_cast<QWidget*>(watched)->window() != this)
    return QMainWindow::eventFilter(watched, event);
  int key = static_cast<QKeyEvent*>(event)->key();
  if (key == Qt::Key_Escape) key = 27;
  if (key == Qt::Key_Return || key == Qt::Key_Enter) key = 13;
  // A key goes to the focused control first and then up its parents; it is previewed once,
  // at the first of them, before the control's own handler sees it.
  if (watched == QApplication::focusWidget() ||
      (QApplication::focusWidget() == nullptr && watched == this))
    FormKeyDown(key);
  if (watched == ui->Edit1) Edit1KeyDown(key);
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace vantorix
