// The main window's phone connection: connect, disconnect and the cancel of a network search
// on the one button, the standard phone's row of telstamm.dbf, and the SIM PIN and network
// search of the modem model "Wavecom Fasttrack".
#include <QTimer>
#include <charconv>
#include <exception>

#include "apps/vantorix/Unit1.h"
#include "platform/qt/qt_text.h"
#include "platform/ui.h"
#include "tables/engine/tzutils.h"
#include "ui_Unit1.h"

namespace vantorix {

namespace {

constexpr const char* kInvalidPinText =
    "Invalid PIN. Goto general settings, enter mobile PIN, and try again.";
constexpr const char* kInvalidPinCaption = "Invalid mobile PIN";

// A decimal number and nothing else.
bool ReadNumber(const std::string& text, int32_t& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool IsValidPin(const std::string& pin) {
  if (pin.size() < 4 || pin.size() > 8) return false;
  for (char c : pin)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string TPhoneSerialSettings::Parse(const std::string& baudrate, const std::string& databits,
                                        const std::string& stopbits, const std::string& parity,
                                        TPhoneSerialSettings& out) {
  if (!ReadNumber(tz::RTrim(baudrate), out.BaudRate) || out.BaudRate <= 0) return "baudrate";
  if (!ReadNumber(tz::RTrim(databits), out.DataBits) || out.DataBits < 5 || out.DataBits > 8)
    return "databits";
  std::string stop = tz::RTrim(stopbits);
  if (stop == "1,5")
    out.StopBits = 15;
  else if (!ReadNumber(stop, out.StopBits) || (out.StopBits != 1 && out.StopBits != 2))
    return "stopbits";
  std::string letter = tz::RTrim(parity);
  if (letter.empty() || std::string("NEOMS").find(letter[0]) == std::string::npos) return "parity";
  out.Parity = letter[0];
  return "";
}

TMainForm::TOperationScope::TOperationScope(TMainForm& form) : form_(form) {
  if (form_.operation_depth_++ == 0) form_.ui->BitBtn1->setEnabled(false);
}

TMainForm::TOperationScope::~TOperationScope() {
  if (--form_.operation_depth_ > 0) return;
  // Start is enabled whenever the receive loop is not running (Stop disabled).
  form_.ui->BitBtn1->setEnabled(!form_.ui->BitBtn2->isEnabled());
  if (form_.close_requested_) QTimer::singleShot(0, &form_, [form = &form_] { form->close(); });
}

TMainForm::TReaderBusyScope::TReaderBusyScope(TMainForm& form)
    : form_(form), was_enabled_(form.ui->btnConnect->isEnabled()) {
  form_.ReaderBusy = true;
  form_.ui->btnConnect->setEnabled(false);
}

TMainForm::TReaderBusyScope::~TReaderBusyScope() {
  form_.ReaderBusy = false;
  form_.ui->btnConnect->setEnabled(was_enabled_);
}

void TMainForm::btnConnectClick() {
  ui->btnConnect->setEnabled(false);
  if (SearchRunning) {
    // The search loop ends at its next answer and clears SearchRunning itself; until then
    // every click lands here, never on the disconnect below.
    CancelSearch = true;
    ui->btnConnect->setEnabled(true);
    return;
  }
  TOperationScope operation(*this);
  if (MobilKomm) {
    // A SIM scan holds the phone; its scope re-enables the button when it ends.
    if (ReaderBusy) return;
    ui->btnConnect->setText("Connect mobile");
    SetPhoneLabel("          ");
    ui->CheckBox4->setChecked(false);
    ui->CheckBox4->setEnabled(false);
    MobilKomm->ClosePort();
    MobilKomm.reset();
  } else {
    SetStatus("Searching for mobile");
    SetPhoneLabel("Searching for mobile");
    if (ConnectMobile()) {
      ui->btnConnect->setText("Disconnect mobile");
      ui->CheckBox4->setChecked(true);
      ui->CheckBox4->setEnabled(true);
    } else {
      ui->btnConnect->setText("Connect mobile");
      SetStatus("No mobile found");
      SetPhoneLabel("No mobile found");
      ui->CheckBox4->setChecked(false);
      ui->CheckBox4->setEnabled(false);
    }
  }
  ui->btnConnect->setEnabled(true);
}

void TMainForm::DropPhone() {
  MobilKomm->ClosePort();
  MobilKomm.reset();
  SetStatus("OK");
}

bool TMainForm::CommunicationFailure() {
  platform::MessageBox("Error while communicating with mobile", "Communication error",
                       platform::kMbOk | platform::kMbIconExclamation);
  DropPhone();
  return false;
}

bool TMainForm::InvalidPin(const std::string& text) {
  platform::MessageBox(text, kInvalidPinCaption, platform::kMbOk | platform::kMbIconExclamation);
  DropPhone();
  return false;
}

bool TMainForm::ConnectMobile() {
  TOperationScope operation(*this);
  // The phone's row. A phone table that did not open at start-up has no row either.
  bool found = false;
  std::string maker, model, baudrate, databits, stopbits, parity, flow;
  int32_t comport = 0, smsstack = 0, inputbuf = 0, outputbuf = 0;
  int32_t waitopen = 0, waitclose = 0, waitsend = 0, waitrec = 0;
  if (DBMobilTel.Active()) {
    std::string tag = DBMobilTel.CurrentTag();
    DBMobilTel.SetOrderToTag("ID");
    found = DBMobilTel.FindExact(MobileId);
    if (found) {
      maker = tz::RTrim(DBMobilTel.FieldGet("HERSTELLER"));
      model = tz::RTrim(DBMobilTel.FieldGet("MODELL"));
      comport = DBMobilTel.FieldGetInt("COMPORT");
      baudrate = DBMobilTel.FieldGet("BAUDRATE");
      databits = DBMobilTel.FieldGet("DATABITS");
      stopbits = DBMobilTel.FieldGet("STOPBITS");
      parity = DBMobilTel.FieldGet("PARITY");
      flow = tz::RTrim(DBMobilTel.FieldGet("FLOWCONTR"));
      inputbuf = DBMobilTel.FieldGetInt("INPUTBUF");
      outputbuf = DBMobilTel.FieldGetInt("OUTPUTBUF");
      waitopen = DBMobilTel.FieldGetInt("WAITOPEN");
      waitclose = DBMobilTel.FieldGetInt("WAITCLOSE");
      waitsend = DBMobilTel.FieldGetInt("WAITSEND");
      waitrec = DBMobilTel.FieldGetInt("WAITREC");
      smsstack = DBMobilTel.FieldGetInt("SMSSTACK");
    }
    DBMobilTel.SetOrderToTag(tag);
  }
  if (!found) {
    platform::ShowMessage("Mobile not found in database.");
    SetStatus("OK");
    return false;
  }
  // A row whose line settings do not read is refused before a port is opened with them.
  TPhoneSerialSettings serial;
  std::string bad_field = TPhoneSerialSettings::Parse(baudrate, databits, stopbits, parity, serial);
  if (!bad_field.empty()) {
    platform::ShowMessage("The mobile's " + bad_field + " in the database cannot be used.");
    SetStatus("OK");
    return false;
  }

  MobilKomm = std::make_unique<phone::TMobilKomm>();
  MobilKomm->SetDefaults();
  MobilKomm->ComPort = comport;
  MobilKomm->BaudRate = serial.BaudRate;
  MobilKomm->DataBits = serial.DataBits;
  MobilKomm->StopBits = serial.StopBits;
  MobilKomm->Parity = serial.Parity;
  MobilKomm->FlowContr = flow;
  MobilKomm->InputBuf = inputbuf;
  MobilKomm->OutputBuf = outputbuf;
  MobilKomm->WaitOpen = waitopen;
  MobilKomm->WaitClose = waitclose;
  MobilKomm->WaitSend = waitsend;
  MobilKomm->WaitRec = waitrec;
  ui->Edit2->setText(QString::number(smsstack));

  if (!MobilKomm->OpenPort()) {
    platform::ShowMessage("Could not open COM-port");
    DropPhone();
    return false;
  }
  if (!MobilKomm->InitPhone() || close_requested_) {
    // A close asked for while the phone was being opened ends the connect here.
    DropPhone();
    return false;
  }
  std::string phone_label = maker + " " + model + " Com" + std::to_string(comport);
  SetPhoneLabel(phone_label);
  FasttrackModem = maker + " " + model == "Wavecom Fasttrack";
  if (!FasttrackModem) {
    SetStatus("OK");
    return true;
  }
  return PinAndNetwork(phone_label);
}

bool TMainForm::PinAndNetwork(const std::string& phone_label) {
  std::string reply;
  if (MobilKomm->Command("AT+COPS?", reply) != phone::kReplyComplete) return CommunicationFailure();
  if (reply.find("ERROR") == std::string::npos) {
    SetStatus("OK");
    return true;
  }
  // Only a PIN of digits goes out (nothing else can ride on the command line), and never one
  // the SIM refused before: each refusal costs one of the SIM's tries.
  if (!IsValidPin(MobilePin))
    return InvalidPin(
        "The mobile PIN must be 4 to 8 digits. Goto general settings, enter mobile "
        "PIN, and try again.");
  if (refused_pin_ && *refused_pin_ == MobilePin) return InvalidPin(kInvalidPinText);

  if (MobilKomm->Command("AT+CPIN=" + MobilePin, reply) != phone::kReplyComplete)
    return CommunicationFailure();
  if (reply.find("ERROR") != std::string::npos) {
    if (MobilKomm->Command("AT+CPINC", reply) != phone::kReplyComplete ||
        reply.find("ERROR") != std::string::npos)
      return CommunicationFailure();
    size_t at = reply.find("+CPINC:");
    if (at == std::string::npos) return CommunicationFailure();
    std::string rest = reply.substr(at + 7, 999);
    size_t comma = rest.find(',');
    if (comma == std::string::npos) return CommunicationFailure();
    std::string count = rest.substr(0, comma);
    count.erase(0, count.find_first_not_of(' '));
    int32_t tries = 0;
    std::from_chars(count.data(), count.data() + count.size(), tries);
    if (tries < 3) {
      refused_pin_ = MobilePin;
      return InvalidPin(kInvalidPinText);
    }
  }

  CancelSearch = false;
  SearchRunning = true;
  SetPhoneLabel("Searching network");
  SetStatus("Searching network");
  QString caption = ui->btnConnect->text();
  bool enabled = ui->btnConnect->isEnabled();
  ui->btnConnect->setText("Cancel");
  ui->btnConnect->setEnabled(true);
  bool failed = false, network = false;
  do {
    if (MobilKomm->Command("AT+COPS?", reply) != phone::kReplyComplete) {
      failed = true;
      break;
    }
    network = reply.find("ERROR") == std::string::npos;
  } while (!network && !CancelSearch && !close_requested_);
  SearchRunning = false;
  ui->btnConnect->setText(caption);
  ui->btnConnect->setEnabled(enabled);

  if (failed) return CommunicationFailure();
  if (network) {
    SetPhoneLabel(phone_label);
    SetStatus("OK");
    return true;
  }
  SetPhoneLabel("No network found");
  SetStatus("No network found");
  DropPhone();
  return false;
}

}  // namespace vantorix
