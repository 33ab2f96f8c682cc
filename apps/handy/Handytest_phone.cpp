// The main window's phone buttons: connect and release with the settings the controls show,
// maker and model, the raw replies of every SMS slot, decoding and deleting one, the SIM PIN.
#include <QCloseEvent>
#include <charconv>

#include "apps/handy/Handytest.h"
#include "phone/Tokens.h"
#include "platform/qt/qt_text.h"
#include "platform/ui.h"
#include "ui_Handytest.h"

namespace handy {

namespace {

// A decimal number and nothing else.
bool ReadNumber(const std::string& text, int32_t& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// A slot's reply as its line of lstSMS: every CR LF as "---", every other CR dropped.
std::string ListLine(const std::string& reply) {
  return phone::ReplaceAll(phone::ReplaceAll(reply, "\r\n", "---"), "\r", "");
}

}  // namespace

bool IsSendablePin(const std::string& pin) {
  for (char c : pin) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == ';') return false;
  }
  return true;
}

TSmsLine TSmsLine::Parse(const std::string& line) {
  TSmsLine sms;
  sms.Status = phone::GetToken(line, "+CMGR: ", 2);
  // The PDU is the line after the "+CMGR: " line wherever that stands, so a phone that does
  // not echo the command (and so has one line less in front) is read alike.
  sms.Pdu = phone::GetToken(sms.Status, "---", 2);
  return sms;
}

// While it lives a phone operation runs: every phone button is disabled, so no second
// operation starts on the port, except Release when the operation may be ended: Release then
// only asks for the end (btnKommCloseClick). The buttons come back as the phone's state now
// says.
class THandyForm::TPhoneOperation {
 public:
  TPhoneOperation(THandyForm& form, bool releasable) : form_(form) {
    if (form_.phone_busy_++ > 0) return;
    form_.releasable_ = releasable;
    Ui::THandyForm& ui = *form_.ui;
    for (QPushButton* button : {ui.btnKommOpen, ui.btnKommClose, ui.btnHersteller, ui.btnModell,
                                ui.btnSmsHolen, ui.btnSMSDecode, ui.btnDelSMS, ui.Button1})
      button->setEnabled(false);
    ui.btnKommClose->setEnabled(releasable);
  }
  ~TPhoneOperation() {
    if (--form_.phone_busy_ > 0) return;
    form_.releasable_ = false;
    form_.SetConnected(form_.MobilKomm != nullptr);
  }
  TPhoneOperation(const TPhoneOperation&) = delete;
  TPhoneOperation& operator=(const TPhoneOperation&) = delete;

 private:
  THandyForm& form_;
};

void THandyForm::RunPhoneOperation(const std::function<void()>& operation, bool releasable) {
  try {
    TPhoneOperation guard(*this, releasable);
    operation();
  } catch (...) {
    // What was asked for dies with the operation; the window and the phone stay usable.
    close_requested_ = release_requested_ = false;
    if (MobilKomm) MobilKomm->Resume();
    throw;
  }
  // The operation has unwound: nothing waits on the phone object any more.
  if (close_requested_) {
    close_requested_ = false;
    close();
  } else if (release_requested_ && MobilKomm) {
    RunPhoneOperation([this] { ReleasePhone(); }, false);
  }
  release_requested_ = false;
}

bool THandyForm::PhoneReady() const {
  return !PhoneBusy() && MobilKomm && !release_requested_ && !close_requested_;
}

void THandyForm::closeEvent(QCloseEvent* event) {
  if (PhoneBusy()) {
    close_requested_ = true;
    if (MobilKomm) MobilKomm->Interrupt();
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void THandyForm::SetConnected(bool connected) {
  ui->btnKommOpen->setEnabled(!connected);
  for (QPushButton* button : {ui->btnKommClose, ui->btnHersteller, ui->btnModell, ui->btnSmsHolen,
                              ui->btnSMSDecode, ui->btnDelSMS})
    button->setEnabled(connected);
  ui->Button1->setEnabled(true);
}

std::string THandyForm::MissingSetting() const {
  if (ui->cboComPort->currentIndex() < 0) return "Com Port";
  if (ui->cboBaudRate->currentIndex() < 0) return "Baud Rate";
  if (ui->cboDataBit->currentIndex() < 0) return "Data Bits";
  if (ui->cboStopBit->currentIndex() < 0) return "Stop Bit";
  int parity = ui->cboParity->currentIndex();
  if (parity < 0 || parity >= static_cast<int>(ParityLetters.size())) return "Parity";
  return "";
}

void THandyForm::DropPhone() {
  MobilKomm.reset();
  release_requested_ = false;
}

void THandyForm::btnKommOpenClick() {
  if (PhoneBusy() || MobilKomm) return;
  // A combo without a selection gives no number (or no parity letter) to open the port with.
  std::string missing = MissingSetting();
  if (!missing.empty()) {
    platform::ShowMessage("Please select the " + missing + " setting");
    return;
  }
  RunPhoneOperation([this] {
    MobilKomm = std::make_unique<phone::TMobilKomm>();
    MobilKomm->SetDefaults();
    MobilKomm->Interruptible = true;
    MobilKomm->ComPort = ui->cboComPort->currentIndex() + 1;
    MobilKomm->InputBuf = ui->spnInpBuffer->value();
    MobilKomm->OutputBuf = ui->spnOutBuffer->value();
    std::string baud = platform::FromQString(ui->cboBaudRate->currentText());
    std::string data = platform::FromQString(ui->cboDataBit->currentText());
    std::string stop = platform::FromQString(ui->cboStopBit->currentText());
    ReadNumber(baud, MobilKomm->BaudRate);
    ReadNumber(data, MobilKomm->DataBits);
    if (stop == "1,5")
      MobilKomm->StopBits = 15;
    else
      ReadNumber(stop, MobilKomm->StopBits);
    MobilKomm->Parity = ParityLetters[ui->cboParity->currentIndex()][0];
    MobilKomm->FlowContr = platform::FromQString(ui->cboFlowContr->currentText());
    MobilKomm->WaitOpen = ui->spnWarteOpen->value();
    MobilKomm->WaitClose = ui->spnWarteClose->value();
    MobilKomm->WaitSend = ui->spnWarteSenden->value();
    MobilKomm->WaitRec = ui->spnWarteEmpfangen->value();

    if (!MobilKomm->OpenPort()) {
      // OpenPort has shown why; the object and the port record it may hold go with it.
      DropPhone();
      return;
    }
    if (MobilKomm->Interrupted()) return;  // Release or a close ended it: they follow
    if (!MobilKomm->InitPhone()) {
      if (MobilKomm->Interrupted()) return;
      platform::ShowMessage("Mobile not connected");
      ReleasePhone();
      return;
    }
    ShowReply(&phone::TMobilKomm::GetManufacturer, *ui->MemoHersteller);
    ShowReply(&phone::TMobilKomm::GetModel, *ui->MemoModell);
  });
}

void THandyForm::btnKommCloseClick() {
  if (PhoneBusy()) {
    // Release during an operation ends its waits; the phone goes once it has unwound.
    if (releasable_ && MobilKomm) {
      release_requested_ = true;
      MobilKomm->Interrupt();
    }
    return;
  }
  if (!MobilKomm) return;
  RunPhoneOperation([this] { ReleasePhone(); }, false);
}

void THandyForm::ReleasePhone() {
  // The close takes its wait even after an operation that Release ended (a close of the
  // window ends it again).
  MobilKomm->Resume();
  MobilKomm->ClosePort();
  DropPhone();
  ui->MemoHersteller->clear();
  ui->MemoModell->clear();
}

void THandyForm::ShowReply(void (phone::TMobilKomm::*query)(std::string&), QPlainTextEdit& memo) {
  std::string reply;
  (MobilKomm.get()->*query)(reply);
  memo.setPlainText(platform::ToQString(reply));
}

void THandyForm::btnHerstellerClick() {
  if (!PhoneReady()) return;
  RunPhoneOperation([this] { ShowReply(&phone::TMobilKomm::GetManufacturer, *ui->MemoHersteller); });
}

void THandyForm::btnModellClick() {
  if (!PhoneReady()) return;
  RunPhoneOperation([this] { ShowReply(&phone::TMobilKomm::GetModel, *ui->MemoModell); });
}

void THandyForm::GetAllSms() {
  ui->lstSMS->clear();
  int stack = ui->spnSMSStack->value();
  for (int slot = 1; slot <= stack; ++slot) {
    std::string reply;
    MobilKomm->ReadSms(slot, reply);
    // Ended by Release or a close: that slot was not read.
    if (MobilKomm->Interrupted()) return;
    ui->lstSMS->addItem(platform::ToQString(ListLine(reply)));
    // A phone that has gone answers no slot: its one message has been shown.
    if (MobilKomm->PortFailed()) return;
  }
}

void THandyForm::btnSmsHolenClick() {
  if (!PhoneReady()) return;
  RunPhoneOperation([this] { GetAllSms(); });
}

void THandyForm::btnSMSDecodeClick() {
  if (!PhoneReady()) return;
  QListWidgetItem* item = ui->lstSMS->currentItem();
  if (!item || !item->isSelected()) return;
  TSmsLine sms = TSmsLine::Parse(platform::FromQString(item->text()));
  if (sms.Status.empty()) return;
  if (sms.Status[0] != '0' && sms.Status[0] != '1') {
    platform::ShowMessage("SMS is not an incoming SMS - Could not be decoded");
    return;
  }
  std::string smsc, sender, time_stamp, text;
  MobilKomm->DecodePdu(sms.Pdu, smsc, sender, time_stamp, text);
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  ui->MemoSMS->setPlainText(platform::ToQString("Prov: " + smsc + " Tel: " + sender +
                                                " Zeit: " + time_stamp + " Text: " + text));
}

void THandyForm::btnDelSMSClick() {
  if (!PhoneReady()) return;
  QListWidgetItem* item = ui->lstSMS->currentItem();
  if (!item || !item->isSelected()) return;
  const int slot = ui->lstSMS->row(item) + 1;
  // A line shows what the phone answered while that slot was read; a phone that answers late
  // and without echo puts one slot's message on the next one's line. So the slot is read
  // again, and deleted only while it holds the message the line shows.
  const std::string shown = TSmsLine::Parse(platform::FromQString(item->text())).Pdu;
  if (shown.empty()) return;  // no message on the line: nothing of it to delete
  RunPhoneOperation([this, slot, &shown] {
    std::string reply;
    MobilKomm->ReadSms(slot, reply);
    if (MobilKomm->Interrupted()) return;
    if (TSmsLine::Parse(ListLine(reply)).Pdu != shown) {
      platform::ShowMessage("Slot " + std::to_string(slot) +
                            " does not hold the SMS shown in this line. Nothing was deleted");
      return;
    }
    MobilKomm->DeleteSms(slot, reply);
    if (!MobilKomm->Interrupted()) GetAllSms();
  });
}

void THandyForm::Button1Click() {
  if (!PhoneReady()) return;
  std::string pin = platform::FromQString(ui->Edit1->text());
  if (!IsSendablePin(pin)) {
    platform::ShowMessage("The PIN must not contain control characters or ';'");
    return;
  }
  RunPhoneOperation([this, pin] {
    std::string reply;
    MobilKomm->Command("AT+CPIN=" + pin, reply);
    MobilKomm->Command("AT+CNMI=0,0,0,0,1", reply);
  });
}

}  // namespace handy
