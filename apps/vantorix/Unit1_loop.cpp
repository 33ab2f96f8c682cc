// The main window's receive and display loop: the Start and Stop buttons, the SIM scan with
// its filters (forbidden senders, forbidden words, control prefixes), the protocol rows, and
// the advertisements interleaved between the passes.
//
// No SMS is lost: its protocol row is written first and the SMS is deleted from the SIM only
// when the row is stored, flushed to the disk so that a power cut cannot take it while the SMS
// is gone from the SIM already; a row that cannot be stored (or flushed) leaves the SMS on the
// SIM for the next scan. An SMS whose delete failed after its row was stored is remembered by slot and PDU, so
// that the next scans delete it again without logging it twice.
#include <exception>

#include "apps/vantorix/Unit1.h"
#include "laser/LD_FUNCT.h"
#include "phone/Tokens.h"
#include "platform/qt/qt_text.h"
#include "platform/ui.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzutils.h"
#include "ui_Unit1.h"

namespace vantorix {

namespace {

// The phone's answer to AT+CMGD: a complete reply that is not an error.
bool DeleteSucceeded(const std::string& reply) {
  return !reply.empty() && reply.find("ERROR") == std::string::npos;
}

}  // namespace

std::string ApplyControlPrefix(const std::string& text, const std::string& default_text,
                               TPrefixFlags& flags) {
  if (text.size() < 2 || text[0] != '!' || text[1] != '%') return text;
  char effect = text.size() > 2 ? text[2] : '\0';
  if (effect == '1')
    flags.NoMask = true;
  else if (effect == '2')
    flags.Sinus = true;
  else if (effect == '3')
    flags.Phrase = true;
  else
    return tz::AllTrim(default_text);
  return tz::AllTrim("   " + text.substr(3));
}

std::string ForbiddenNumberKey(const std::string& number) {
  std::string trimmed = tz::RTrim(number);
  if (trimmed.empty() || trimmed[0] != '+') return trimmed;
  return "0" + (trimmed.size() > 3 ? trimmed.substr(3) : std::string());
}

// A filter that cannot be made fails closed: the SMS it could not check is not shown. A
// lookup the library cannot make is shown as its error (once while the filter keeps failing)
// instead of halting the program, and the other lookups of that filter wait for the next
// scan, so that a table another program holds costs at most one lock wait per scan.
bool TMainForm::LookUpForbidden(tz::TTzDbf& table, const std::string& key, TFilterCheck& check) {
  if (check.failed_in_scan || !table.Active()) {
    check.failed = check.failed_in_scan = true;
    return false;
  }
  RaiseErrorsScope raise;
  try {
    bool found = table.FindExact(key);
    check.told = false;
    return found;
  } catch (const std::exception& error) {
    tz::DbLastError = 0;
    check.failed = check.failed_in_scan = true;
    if (!check.told) ShowError(error);
    return false;
  }
}

void TMainForm::BeginCheck(const tz::TTzDbf& table, TFilterCheck& check) {
  check.failed = !table.Active();
  if (check.failed) check.failed_in_scan = true;
}

void TMainForm::TellUncheckable(TFilterCheck& check, const char* text) {
  if (check.failed_in_scan && !check.told) {
    SetStatus(text);
    ui->Memo1->appendPlainText(text);
    check.told = true;
  }
  check.failed_in_scan = false;
}

bool TMainForm::IsForbiddenNumber(const std::string& number) {
  std::string key = ForbiddenNumberKey(number);
  return !key.empty() && LookUpForbidden(DBVerbTelList, key, number_check_);
}

bool TMainForm::IsForbiddenWord(const std::string& word) {
  std::string key = tz::Upper(tz::RTrim(word));
  return !key.empty() && LookUpForbidden(DBVerbWordList, key, word_check_);
}

std::string TMainForm::MaskForbiddenWords(const std::string& text) {
  // Words are what lies between blanks of " " + text + " "; a word starting at position p of
  // that text starts at p - 1 of the input.
  std::string padded = " " + tz::Upper(text) + " ";
  std::string result = text;
  size_t blank = 0;
  for (;;) {
    size_t next = padded.find(' ', blank + 1);
    if (next == std::string::npos) break;
    size_t length = next - blank - 1;
    if (length > 0 && IsForbiddenWord(padded.substr(blank + 1, length)))
      result.replace(blank, length, length, '.');
    blank = next;
  }
  return result;
}

bool TMainForm::LogSms(const std::string& smsc, const std::string& sender,
                       const std::string& time_stamp, const std::string& text) {
  bool stored = false;
  if (DBProtocol.Active()) {
    // A row that cannot be written (a full disk, a broken file) is reported like a refused
    // lock and leaves the SMS on the SIM, instead of halting the program; the stored rows stay
    // as they were.
    try {
      stored = WriteUnderLock(DBProtocol, true, [&] {
        DBProtocol.FieldPutStr("telnr", sender);
        DBProtocol.FieldPutStr("zeit", time_stamp);
        DBProtocol.FieldPutStr("text", text);
        DBProtocol.FieldPutStr("provider", smsc);
        DBProtocol.AppendRec();
        DBProtocol.Commit();
      });
    } catch (const std::exception&) {
      tz::DbLastError = 0;
    }
  }
  if (!stored && !store_failure_shown_) {
    platform::ShowMessage("Dataset could not be stored in database.");
    store_failure_shown_ = true;
  }
  return stored;
}

void TMainForm::ReadSmsStack() {
  ui->Memo1->clear();
  TReaderBusyScope busy(*this);
  store_failure_shown_ = false;
  number_check_.failed_in_scan = word_check_.failed_in_scan = false;
  // The Stacksize edit can change while the scan waits for the phone.
  const int32_t slot_count = StackSize;
  std::string text;
  bool shown = false;
  for (int32_t slot = 1; slot <= slot_count && !Laser.StopFlag; ++slot) {
    Laser.SinusByPrefix = NoMaskByPrefix = PhraseByPrefix = false;
    text.clear();
    if (!MobilKomm) continue;
    SetStatus("Processing SMS slot " + std::to_string(slot) + "...");
    std::string reply;
    MobilKomm->ReadSms(slot, reply);
    if (reply.empty()) {
      ui->Memo1->appendPlainText("Read request abnormally terminated.");
      // A port that failed (the phone gone) fails every slot after this one too, each with
      // its message: the next scan tries again.
      if (MobilKomm->PortFailed()) break;
      continue;
    }
    reply = phone::ReplaceAll(reply, "\r\n", "---");
    std::erase(reply, '\r');
    std::string header = phone::GetToken(reply, "+CMGR: ", 2);
    if (header.empty()) continue;
    const char status = header[0];
    std::string pdu = phone::GetToken(header, "---", 2);
    if ((status != '0' && status != '1') || pdu.empty()) continue;

    std::string smsc, sender, time_stamp;
    MobilKomm->DecodePdu(pdu, smsc, sender, time_stamp, text);
    for (char& c : text)
      if (c == '\r' || c == '\n') c = ' ';
    bool displayable = true;
    TPrefixFlags flags;
    text = ApplyControlPrefix(text, DefaultDisplayText, flags);
    Laser.SinusByPrefix = flags.Sinus;
    NoMaskByPrefix = flags.NoMask;
    PhraseByPrefix = flags.Phrase;
    if (CheckNumbers) {
      BeginCheck(DBVerbTelList, number_check_);
      if (IsForbiddenNumber(sender)) {
        displayable = false;
        sender = "FB " + sender;
      }
      if (number_check_.failed) displayable = false;
    }
    if (CheckWords && !NoMaskByPrefix) {
      BeginCheck(DBVerbWordList, word_check_);
      text = MaskForbiddenWords(text);
      if (word_check_.failed) displayable = false;
    }

    const std::pair<int32_t, std::string> key(slot, pdu);
    const bool logged_before = logged_not_deleted_.contains(key);
    if (!logged_before) {
      if (!LogSms(smsc, sender, time_stamp, text)) continue;
      logged_not_deleted_.insert(key);
    }
    std::string deleted;
    MobilKomm->DeleteSms(slot, deleted);
    if (DeleteSucceeded(deleted)) logged_not_deleted_.erase(key);
    // An SMS logged in an earlier scan was shown then (or was not to be shown).
    if (!logged_before && displayable) {
      SetStatus("Displaying SMS slot " + std::to_string(slot) + "...");
      Laser.DisplayText = text;
      shown = true;
      break;
    }
    if (MobilKomm->PortFailed()) break;
  }
  store_failure_shown_ = false;
  // The product phrase belongs to the SMS that asked for it, and only when that one is shown.
  if (!shown) PhraseByPrefix = false;
  if (text.empty()) SetStatus("No SMS found...");
  TellUncheckable(number_check_, kNumbersUncheckable);
  TellUncheckable(word_check_, kWordsUncheckable);
}

bool TMainForm::SeekActiveAdvertisement(bool skip_first) {
  if (!DBWerbung.Active()) return false;
  int wraps = 0;
  auto step = [&] {
    DBWerbung.Skip(1);
    if (DBWerbung.AtEof()) {
      DBWerbung.GoTop();
      ++wraps;
    }
  };
  if (skip_first) step();
  // The row may have been edited or deleted since the last step: it is read again first.
  if (!DBWerbung.AtEof()) DBWerbung.Skip(0);
  while (DBWerbung.AtEof() || !DBWerbung.FieldGetBool("AKTIV")) {
    if (wraps >= 2) return false;
    step();
  }
  return true;
}

void TMainForm::AdvertisementStep() {
  AdCounter = 1;
  // The list may have been edited since the last step: only an active row is shown.
  if (!SeekActiveAdvertisement(false)) return;
  // The field is padded to its length; the blanks would scroll as dark laser.
  Laser.DisplayText = tz::RTrim(DBWerbung.FieldGet("werbetext"));
  SetStatus("Displaying advertisement...");
  SeekActiveAdvertisement(true);
}

void TMainForm::RunPass() {
  ui->Edit2->setText(QString::number(StackSize));
  if (AdsEnabled && AdCounter > AdInterval) {
    // A table error of the step is shown (once until a step works again) and the loop goes on
    // with the text on show.
    RaiseErrorsScope raise;
    try {
      AdvertisementStep();
      ad_error_shown_ = false;
    } catch (const std::exception& error) {
      tz::DbLastError = 0;
      if (!ad_error_shown_) ShowError(error);
      ad_error_shown_ = true;
    }
  } else {
    if (ui->CheckBox4->isChecked()) ReadSmsStack();
    ++AdCounter;
  }
  // Stopped while the scan waited for the phone: the empty frame of Stop stays the last one.
  if (Laser.StopFlag) return;
  if (Laser.DisplayText.empty() || PhraseByPrefix) {
    Laser.DisplayText = kProductPhrase;
    SetStatus("No SMS found.");
    PhraseByPrefix = false;
  }
  Laser.OutputToLaser = ui->CheckBox1->isChecked();
  laser::BuildTextPoints(Laser, ttf1, Laser.DisplayText);
  for (int32_t i = 0; i < Laser.SmsRepeat && !Laser.StopFlag; ++i)
    laser::ScrollText(Laser, *ui->PaintBox1);
  platform::ProcessEvents();
}

void TMainForm::BitBtn1Click() {
  // A second click while the loop or a connect runs (the pumps let it through) starts nothing.
  if (loop_running_ || OperationRunning()) return;
  TOperationScope operation(*this);
  loop_running_ = true;
  struct TLoopEnd {
    bool& running;
    ~TLoopEnd() { running = false; }
  } loop_end{loop_running_};

  if (!MobilKomm) btnConnectClick();
  if (close_requested_) return;
  if (MobilKomm) {
    std::string reply;
    if (MobilKomm->Command("AT+CNMI=1,0,0,0,1", reply) != phone::kReplyComplete ||
        MobilKomm->Command("AT+CNMI=0,0,0,0,1", reply) != phone::kReplyComplete) {
      platform::MessageBox("Error while communicating with mobile", "Communication error",
                           platform::kMbOk | platform::kMbIconExclamation);
      return;
    }
  }
  if (close_requested_) return;
  AdCounter = 1;
  StackSize = StackSizeOf(platform::FromQString(ui->Edit2->text()));
  ui->Edit2->setText(QString::number(StackSize));
  SetStatus("Please Press Stop SMS Recive");
  if (ui->CheckBox4->isChecked()) SetStatus("Waiting for SMS");
  ui->BitBtn1->setEnabled(false);
  ui->BitBtn2->setEnabled(true);
  Laser.StopFlag = false;
  Laser.DisplayText = DefaultDisplayText;
  while (!Laser.StopFlag) RunPass();
}

void TMainForm::BitBtn2Click() {
  laser::LdBlank();
  ui->BitBtn1->setEnabled(!OperationRunning());
  SetStatus("Please Press Start SMS Recive");
  ui->BitBtn2->setEnabled(false);
  Laser.StopFlag = true;
}

}  // namespace vantorix
