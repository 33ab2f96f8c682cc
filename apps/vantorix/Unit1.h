// Vantorix's main window: its settings (registry and tamsil.ini), its six tables, the start/stop
// log, the laser session it opens when shown and ends when closed, the phone connection with
// the SIM PIN and the network search of the one modem model, and the laser preview.
//
// One GUI thread. The phone waits pump events, so handlers run nested inside a connect or a
// network search. What the nesting allows is guarded here: the connect button is disabled while
// a connect runs or a SIM scan holds the phone (ReaderBusy), Start is disabled while a connect
// runs, a click during the network search only cancels it, and a close asked for while an
// operation runs is deferred until it has unwound (the operation is told to stop first), so
// nothing is freed under a running operation and no frame goes out after the session ended.
#pragma once

#include <QMainWindow>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "laser/UTTF2Vct.h"
#include "laser/pic_ausgabe.h"
#include "phone/HandyKomm.h"
#include "platform/dataset/datasource.h"
#include "tables/components/utzfds.h"

class QFont;
class QFontDialog;

namespace Ui {
class TMainForm;
}

namespace vantorix {

class TWerbetexte;
class TSMSProtocol;
class TfrmVerbote;
class TfrmEinstell;

// The default display text: built in as below, replaced at start by tamsil.ini's DefaultText
// when that is not empty.
inline constexpr const char* kBuiltInDisplayText = "   Kestrova Vantorix";
extern std::string DefaultDisplayText;

// The product phrase the loop shows when there is nothing else, or when an SMS asks for it.
inline constexpr const char* kProductPhrase = "Kestrova Vantorix";

// The start/stop log's time of day: "HH:MM", both with leading zeros.
std::string StartStopTime(int hour, int minute);

// A SIM PIN the program sends: 4 to 8 decimal digits and nothing else.
bool IsValidPin(const std::string& pin);

// The serial settings of one phone-table row as the port takes them; Parse fails naming the
// first field that does not read (baudrate, databits, stopbits, parity).
struct TPhoneSerialSettings {
  int32_t BaudRate = 0;
  int32_t DataBits = 0;
  int32_t StopBits = 0;  // stop-bit code: 1, 2, or 15 for "1,5"
  char Parity = 0;
  // Empty when every field reads; otherwise the name of the first one that does not.
  static std::string Parse(const std::string& baudrate, const std::string& databits,
                           const std::string& stopbits, const std::string& parity,
                           TPhoneSerialSettings& out);
};

// The slots a SIM scan reads for the Stacksize edit's text: the decimal number it holds, 10
// when it holds none (0 or a negative number scan nothing).
int32_t StackSizeOf(const std::string& text);

// The effects a control prefix ("!%" and a character at the start of an SMS text) asks for.
struct TPrefixFlags {
  bool Sinus = false;   // '2': the sine effect
  bool NoMask = false;  // '1': forbidden words are not masked
  bool Phrase = false;  // '3': the product phrase is shown in place of the text
};
// The text of an SMS after its control prefix: for '1', '2' and '3' the flag set and the first
// three characters blanked, then trimmed at both ends; any other character (or none) gives
// `default_text` with its outer blanks cut and no flag. A text without the prefix is returned
// as it is.
std::string ApplyControlPrefix(const std::string& text, const std::string& default_text,
                               TPrefixFlags& flags);

// The key a sender number is looked up by in verbtel.dbf: blanks cut at the right; "+" and a
// two-digit country code become the national "0"; a number without "+" stays as it is. Empty
// for a blank number.
std::string ForbiddenNumberKey(const std::string& number);

// The longest text of any characters that `ttf1` turns into outline points without the point
// list cutting a stroke: the list's room divided by the points of the font's most complex
// 8-bit character (every character a typed text can hold). At least 1. Converts each of the
// 223 non-blank characters once; never pumps.
int32_t LongestUncutText(laser::TStrokeSource& ttf1);

// Shows an error that ended a step of the program in a plain box (stop icon); the program
// goes on.
void ShowError(const std::exception& error);
// Runs one step; an error (a table error or any other) ending it is shown with ShowError, the
// library's last error is cleared, and the program goes on. False when the step failed.
bool RunShowingErrors(const std::function<void()>& step);

// While it lives the table library raises its errors as exceptions instead of halting.
class RaiseErrorsScope {
 public:
  RaiseErrorsScope();
  ~RaiseErrorsScope();
  RaiseErrorsScope(const RaiseErrorsScope&) = delete;
  RaiseErrorsScope& operator=(const RaiseErrorsScope&) = delete;

 private:
  bool report_, raise_;
};

// Writes one row of `table` under its lock: the append lock (`append`) or the lock of the
// current record. Not granted: false, nothing written. Granted: `write` (the puts and the
// AppendRec or ReplaceRec) runs with the library's errors raised, and the table's locks are
// released afterwards, also when it throws; what it throws goes on to the caller, with the
// dataset back in browse state on the stored rows (TTzCDataSet). True when `write` returned.
bool WriteUnderLock(tz::TTzDbf& table, bool append, const std::function<void()>& write);

// What the operator is told when a filter that is switched on cannot be made (its table did
// not open, or a lookup in it failed): no SMS is shown while it lasts.
inline constexpr const char* kNumbersUncheckable =
    "Forbidden telephone numbers cannot be checked: no SMS is shown.";
inline constexpr const char* kWordsUncheckable =
    "Forbidden words cannot be checked: no SMS is shown.";

class TMainForm : public QMainWindow {
 public:
  // Builds the window from its form and runs FormCreate. The table library must be started
  // (tz::StartTarazed) and a Ui installed.
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // The form's widgets, named as designed.
  std::unique_ptr<Ui::TMainForm> ui;
  QFontDialog* FontDialog1 = nullptr;
  laser::TTTFToVectorConverter ttf1;

  // The six tables and the data sources of the dialogs' grids.
  tz::TTzDbf DBMobilTel, DBProtocol, DBVerbWordList, DBVerbTelList, DBWerbung, DBStartPro;
  platform::dataset::TDataSource DSMobilTel, DSProtocol, DSVerbWordList, DSVerbTelList, DSWerbung;

  bool ReaderBusy = false;
  std::vector<std::string> MobileIds;
  std::vector<std::string> MobileNames;
  std::vector<std::string> ComPortNames;
  std::string MobileId;
  std::string MobilePin;
  int32_t ComPortNo = 1;
  int32_t AdInterval = 5;
  bool AdsEnabled = true;
  bool CheckNumbers = true;
  bool CheckWords = true;
  bool LogDisabled = false;
  int32_t AdCounter = 0;
  // DisplayText, StopFlag, SinusByPrefix, ScanSpeed, BlankShift, ScrollSpeed, SmsRepeat,
  // FontScale, SinusAmplitude, SinusPhase, the three point lists and the drawing state.
  laser::TLaserState Laser;
  std::unique_ptr<phone::TMobilKomm> MobilKomm;
  bool NoMaskByPrefix = false;
  bool PhraseByPrefix = false;
  int32_t StackSize = 10;
  bool SearchRunning = false;
  bool CancelSearch = false;
  bool FasttrackModem = false;

  // The dialogs of the menus: each registers itself here when it is created with this window
  // as its parent (which owns it); nullptr until then.
  TWerbetexte* Werbetexte = nullptr;
  TSMSProtocol* SMSProtocol = nullptr;
  TfrmVerbote* frmVerbote = nullptr;
  TfrmEinstell* frmEinstell = nullptr;

  // The handlers, as the design names them.
  void FormCreate();
  void FormShow();
  void FormClose();
  void FormCloseQuery(bool& CanClose);
  void FormKeyDown(int Key);
  void btnConnectClick();
  bool ConnectMobile();
  void BitBtn1Click();
  void BitBtn2Click();
  void TrackBar1Change();
  void TrackBar2Change();
  void TrackBar3Change();
  void TrackBar4Change();
  void TrackBar5Change();
  void TrackBar6Change();
  // OUTPUT TO LASER: unchecking blanks the laser at once.
  void CheckBox1Click();
  // Font: runs FontDialog1 on the converter's font; a confirmed choice is used from the next
  // text built on.
  void BitBtn6Click();
  // EXIT and the menu's Exit: stop the loop and close the window.
  void BitBtn7Click();
  void Beenden1Click();
  // SEND and Enter in the offline text edit: the text, blanks cut at the right, is shown next.
  void Button1Click();
  void Edit1KeyDown(int Key);
  void Edit2Change();
  // The menus: each shows its dialog modally (nothing when it was not created).
  void Protokoll1Click();
  void Grundeinstellungen1Click();
  void Werbetexte1Click();
  void Verbotsliste1Click();

  // The receive loop's parts (the Start handler runs them).
  // Scans the SIM. A filter that is switched on and cannot be made keeps every SMS of the
  // scan off the laser (each is still logged and deleted); the operator is told once, in the
  // status bar and the memo (kNumbersUncheckable, kWordsUncheckable), and again only after a
  // lookup of that filter has worked once more.
  void ReadSmsStack();
  // The lookups of the filters: true when the table holds the number or word. A lookup that
  // cannot be made (the table is not open, a table error: shown in a box, once while it
  // lasts) answers false and marks the SMS being checked as not checked; after a failed
  // lookup no other of that filter is tried before the next scan.
  bool IsForbiddenNumber(const std::string& number);
  bool IsForbiddenWord(const std::string& word);
  std::string MaskForbiddenWords(const std::string& text);
  // Appends the protocol row under the table's append lock. False, after the message
  // "Dataset could not be stored in database.", when the lock is refused or the row cannot
  // be written; within one SIM scan the message is shown for the first such row only, so a
  // protocol that cannot be written costs the operator one box per scan, not one per SMS.
  bool LogSms(const std::string& smsc, const std::string& sender, const std::string& time_stamp,
              const std::string& text);
  // Takes the current active advertisement into DisplayText and moves werbung.dbf on to the
  // next active row.
  void AdvertisementStep();
  // One pass of the loop: choose the text, scroll it SmsRepeat times, pump once.
  void RunPass();
  // The receive loop runs (Start pressed and not yet unwound).
  bool LoopRunning() const { return loop_running_; }

  // Builds the outline of `text`, cuts the frame that shows it centred, draws it in the
  // preview and sends it to the laser while OUTPUT TO LASER is checked.
  void ShowStillText(const std::string& text);

  // Marks a SIM scan: ReaderBusy is set and the connect button disabled while it lives.
  class TReaderBusyScope {
   public:
    explicit TReaderBusyScope(TMainForm& form);
    ~TReaderBusyScope();
    TReaderBusyScope(const TReaderBusyScope&) = delete;
    TReaderBusyScope& operator=(const TReaderBusyScope&) = delete;

   private:
    TMainForm& form_;
    bool was_enabled_;
  };

  // An operation is running whose waits pump events (a connect, a disconnect, a search).
  bool OperationRunning() const { return operation_depth_ > 0; }
  // A close was asked for while an operation ran; it follows when the operation has unwound.
  bool CloseRequested() const { return close_requested_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // While it lives an operation that pumps events is running: Start stays disabled, and a
  // close asked for meanwhile is carried out once the outermost operation has unwound.
  class TOperationScope {
   public:
    explicit TOperationScope(TMainForm& form);
    ~TOperationScope();
    TOperationScope(const TOperationScope&) = delete;
    TOperationScope& operator=(const TOperationScope&) = delete;

   private:
    TMainForm& form_;
  };
  // Moves werbung.dbf from its current row (or, with `skip_first`, from the row after it) to
  // the first active row, wrapping at the end at most twice; false when it finds none.
  bool SeekActiveAdvertisement(bool skip_first);
  void SetStatus(const std::string& text);
  // Gives `font`'s family, weight (bold or not) and slant to ttf1 and fits the offline text
  // edit's maximum length to it.
  void SetConverterFont(const QFont& font);
  // The offline text of SEND and Enter; `with_status` shows it in the status bar.
  void TakeOfflineText(bool with_status);
  void SetPhoneLabel(const std::string& text);
  void DeclareTables();
  void ReadSettings();
  void OpenTables();
  void WriteLogRow(const std::string& comment);
  // Closes the port and frees the phone; the status bar reads "OK".
  void DropPhone();
  bool CommunicationFailure();
  bool InvalidPin(const std::string& text);
  bool PinAndNetwork(const std::string& phone_label);

  // One filter's state in the SIM scans.
  struct TFilterCheck {
    bool failed = false;          // the SMS being checked could not be checked
    bool failed_in_scan = false;  // a lookup failed (or could not be made) in this scan
    bool told = false;            // the operator has been told that it cannot be made
  };
  bool LookUpForbidden(tz::TTzDbf& table, const std::string& key, TFilterCheck& check);
  // The start of the SMS's check: it cannot be made at all while the table is not open.
  static void BeginCheck(const tz::TTzDbf& table, TFilterCheck& check);
  // At the end of a scan: the operator is told once that the filter cannot be made.
  void TellUncheckable(TFilterCheck& check, const char* text);
  TFilterCheck number_check_, word_check_;
  // An error of the advertisement step has been shown, and none has been shown since a step
  // worked.
  bool ad_error_shown_ = false;

  int operation_depth_ = 0;
  bool close_requested_ = false;
  bool shown_ = false;
  bool closed_ = false;
  bool loop_running_ = false;
  // The SMS logged in this run whose delete from the SIM has not succeeded yet, by slot and
  // PDU: the next scan deletes them again without logging them a second time.
  std::set<std::pair<int32_t, std::string>> logged_not_deleted_;
  // The running SIM scan has shown LogSms's message already.
  bool store_failure_shown_ = false;
  // The PIN the SIM refused last; it is not sent again while MobilePin equals it.
  std::optional<std::string> refused_pin_;
};

}  // namespace vantorix
