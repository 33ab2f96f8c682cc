// Vazor's main window: the phone-model table telstamm.dbf in a grid, the serial settings of
// the selected model (saved into its row), new, renamed and deleted models, the standard phone
// the display program connects to (the registry's "ID"), and the phone driven by hand with the
// settings shown: connect, maker and model, the raw replies of every SMS slot, decoding and
// deleting one, and the SIM PIN.
//
// One GUI thread. The phone's waits pump events (the reply collector's too: the phone object
// is Interruptible), so a button can be clicked while a phone operation waits. Every phone
// operation runs inside TPhoneOperation, which disables the phone buttons until it has
// unwound, so operations never interleave on the port. Only Release stays enabled: pressed
// during an operation it ends that operation's waits (TMobilKomm::Interrupt) and the phone is
// released once the operation has unwound, never under it. Closing the window during an
// operation does the same and closes the window then.
#pragma once

#include <QMainWindow>
#include <QPlainTextEdit>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "phone/HandyKomm.h"
#include "platform/dataset/datasource.h"
#include "tables/components/utzfds.h"

namespace Ui {
class THandyForm;
}

namespace handy {

class TMobileNew;

// The serial settings a model's row holds, or settings.ini's section "COM" gives.
struct TSerialSettings {
  int32_t Port = 1;
  int32_t InputBuffer = 1024;
  int32_t OutputBuffer = 1024;
  std::string Baud = "9600";
  std::string DataBit = "8";
  std::string StopBit = "1";
  std::string Parity = "N";
  std::string FlowContr = "None";
  int32_t WarteOpen = 1000;
  int32_t WarteClose = 1000;
  int32_t WarteSenden = 200;
  int32_t WarteEmpfangen = 200;
};

// The settings.ini of the program folder, section "COM", with the defaults above for what is
// missing. Never writes the file.
TSerialSettings ReadSettingsIni();

// A SIM PIN that may be sent as typed after "AT+CPIN=": anything that cannot end the command
// line or start another one there, so the quoted form ("1234") and the PUK form
// (12345678,1234) go out too. Refused: the control characters (CR ends the line, Ctrl-Z and
// Esc end or cancel a text, LF and the others are no part of a PIN; a backspace would edit
// the line into another command), DEL and the command separator ';'.
bool IsSendablePin(const std::string& pin);

// A line of lstSMS (one slot's reply, CR LF as "---"): the status field after the first
// "+CMGR: " and the PDU, the line that follows the "+CMGR: " line. Both empty without a
// "+CMGR: ".
struct TSmsLine {
  std::string Status;
  std::string Pdu;
  static TSmsLine Parse(const std::string& line);
};

class THandyForm : public QMainWindow {
 public:
  // Builds the window from its form. The table library must be started (tz::StartTarazed) and
  // a Ui installed. FormShow runs when the window is first shown.
  explicit THandyForm(QWidget* parent = nullptr);
  ~THandyForm() override;
  THandyForm(const THandyForm&) = delete;
  THandyForm& operator=(const THandyForm&) = delete;

  std::unique_ptr<Ui::THandyForm> ui;
  tz::TTzDbf DBMobilTel;
  platform::dataset::TDataSource DSMobilTel;
  // telstamm.dbf opened a second time, for its append lock alone: a rename holds it beside the
  // record lock of DBMobilTel's work area, which cannot hold both.
  tz::TTzDbf DBNameLock;
  // The vendor and type dialog; the program block creates it after this window. Not owned.
  TMobileNew* MobileNew = nullptr;

  // "E", "O", "N", "M", "S": item i of cboParity stores letter i.
  std::vector<std::string> ParityLetters;
  // The phone; nullptr while released.
  std::unique_ptr<phone::TMobilKomm> MobilKomm;

  // The handlers, as the design names them.
  void FormShow();
  void grdMobilTelCellClick();
  void btnSaveSettingsClick();
  void btnHandySetClick();
  void btnNeuHandyClick();
  void BitBtn1Click();
  void btnDelHandyClick();
  void btnEndeClick();
  void btnKommOpenClick();
  void btnKommCloseClick();
  void btnHerstellerClick();
  void btnModellClick();
  void btnSmsHolenClick();
  void btnSMSDecodeClick();
  void btnDelSMSClick();
  void Button1Click();

  // Appends a model with this vendor and type, as New Mobile does after its dialog. Under the
  // append lock: refused as a duplicate, or given the next id (or refused when none is left).
  void AddMobile(const std::string& vendor, const std::string& type);
  // Renames the current row, as Change Mobilename does after its dialog, refused as a
  // duplicate; the look for the names and the write run under the row's lock and the table's
  // append lock (DBNameLock), so no other program names a model so meanwhile.
  void RenameMobile(const std::string& vendor, const std::string& type);
  // Loads the current row of the table into the settings controls; it is the row they show
  // (Save writes into it) and the one the grid highlights.
  void LoadRow();
  // Selects the controls for these settings, as a row or settings.ini gives them.
  void ShowSettings(const TSerialSettings& settings, int32_t sms_stack);

  // A phone operation is running (its waits pump events).
  bool PhoneBusy() const { return phone_busy_ > 0; }

 protected:
  void showEvent(QShowEvent* event) override;
  // During a phone operation the close is refused for now: the operation is ended and the
  // window closes once it has unwound.
  void closeEvent(QCloseEvent* event) override;

 private:
  class TPhoneOperation;
  class TTableOperation;
  // A key (or anything but a handler of this window) moved the grid to another row: it is
  // loaded as a click loads it.
  void GridRowChanged(const QModelIndex& current);
  // The grid highlights the row the controls show, and none when they show none.
  void HighlightShownRow();
  // The controls show no model's row (settings.ini's settings, a model that is gone).
  void ShowNoRow();
  // A model's row is shown, so the table buttons have one to act on; else "No Mobile is
  // selected" and false.
  bool RowShown();
  // Runs `operation` inside a TPhoneOperation (Release enabled when `releasable`), then what
  // was asked for meanwhile: the window's close, else the release of the phone.
  void RunPhoneOperation(const std::function<void()>& operation, bool releasable = true);
  // A phone is connected and free for a new operation: none runs, none is to end.
  bool PhoneReady() const;
  // Closes the port and drops the phone object; empties the maker and model memos.
  void ReleasePhone();
  // The six buttons that need a phone: enabled when `connected`; Start the other way round.
  void SetConnected(bool connected);
  // The duplicate key of vendor and type, sought in the HERSTELLER order.
  bool MobileExists(const std::string& vendor, const std::string& type);
  // The next id, under the append lock: one above the highest id that reads as a number,
  // deleted models' ids included, "0000000001" when none does. The table then stands on the
  // row that lends a new model its settings: the shown model with the highest such id, else
  // the last in the id order (none on an empty table). False when the next id does not fit
  // the ten digits of the field.
  bool NextId(std::string& id);
  // The name of the first phone setting whose combo has no selection; empty when all have one.
  std::string MissingSetting() const;
  // Reads slots 1 to the stack length (taken once) into lstSMS, a line each; ends at an
  // interrupt (that slot gets no line) and after a slot whose port failed.
  void GetAllSms();
  // Runs the maker or model query and shows its whole reply in `memo`.
  void ShowReply(void (phone::TMobilKomm::*query)(std::string&), QPlainTextEdit& memo);
  // Drops the phone object (its port closed without messages or waits).
  void DropPhone();

  bool shown_ = false;
  int32_t shown_record_ = 0;     // the record the settings controls were loaded from; 0: none
  std::string shown_id_;         // its id then
  int32_t followed_record_ = 0;  // the record the table stood on when the grid last followed
  int table_busy_ = 0;           // a handler is moving the table about
  int phone_busy_ = 0;
  bool releasable_ = false;        // the running operation may be ended by Release
  bool release_requested_ = false;  // Release was pressed during it
  bool close_requested_ = false;    // the window was closed during it
};

}  // namespace handy
