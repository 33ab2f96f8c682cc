// The phone link object: the serial settings and wait times of one phone, its COM port,
// and the AT command dialogue with it (PDU mode, SIM storage, reading and deleting SMS
// slots, maker and model). Both programs use it on their one GUI thread.
//
// Failures are shown to the user at once with platform::ShowMessage and the operation
// carries on; results are a Boolean or a reply code. Waits (Delay) keep pumping
// platform::ProcessEvents, so the owner's handlers can run inside them and call this same
// object; the owner must not destroy it while one of its operations waits. Reading a reply
// does not pump, but a failure shown after a wait that did not pump (a reading that gave up,
// a line that could not be written) lets the pending events run first: a button pressed
// during the wait would otherwise reach the window while the modal box holds it, and be
// dropped. Nothing here throws.
//
// A port that fails (the device has gone: unplugged, switched off) costs one message per
// exchange: the write or read error. The exchange then ends at once with kReplyPortFailed,
// without the wait for an answer and without a message of its own (PortFailed).
//
// An owner whose user may end a phone operation that waits (a Release button, a window that
// closes) sets Interruptible: the reply collector and the wait for a late answer then let
// pending events run as Delay does, so that a handler can call Interrupt meanwhile. Without
// it nothing changes: those two waits do not pump and nothing can end them early.
#pragma once

#include <cstdint>
#include <string>

#include "phone/serial.h"

namespace phone {

// Reply codes of ReadReply and Command.
enum TReplyCode : int {
  kReplyComplete = 0,  // the reply ended with a final result line
  kReplySilence = 1,   // 2000 ms passed without a byte
  kReplyTimeout = 2,   // the whole reading passed 4000 ms
  kReplyPortFailed = 3,  // the line could not be written, or the device went away meanwhile
  kReplyInterrupted = 4,  // the owner ended the exchange (Interrupt)
};

class TMobilKomm {
 public:
  // Every field zero or empty; call SetDefaults before anything else.
  TMobilKomm() = default;
  // Closes and frees a port still held, without messages or waits.
  ~TMobilKomm();
  TMobilKomm(const TMobilKomm&) = delete;
  TMobilKomm& operator=(const TMobilKomm&) = delete;

  TSerialPort* SerialPort = nullptr;  // owned; nullptr while none has been made
  int32_t LastResult = 0;             // result of the last serial call
  int32_t ComPort = 0;                // COM port number 1..9
  int32_t InputBuf = 0;               // input queue size asked of the driver
  int32_t OutputBuf = 0;              // output queue size asked of the driver
  int32_t BaudRate = 0;
  int32_t DataBits = 0;
  int32_t StopBits = 0;   // stop-bit code of the serial layer
  char Parity = 0;        // parity letter of the serial layer
  std::string FlowContr;  // "XOn / XOff", "Hardware", "None": kept only
  int32_t WaitOpen = 0;   // ms after opening the port
  int32_t WaitClose = 0;  // ms after closing the port
  int32_t WaitSend = 0;   // ms before a delete or a maker or model query
  int32_t WaitRec = 0;    // ms between sending a command and reading its reply
  // The GSM 7-bit default alphabet and its extension table (after the escape 27) as
  // Windows-1252 codes, filled by FillGsmTables; 0 in the extension table means none.
  uint32_t GsmDefaultTable[128] = {};
  uint32_t GsmExtensionTable[128] = {};
  // The reply collector and the wait for a late answer (SendLine) let pending events run
  // between their looks at the line, once a millisecond at most, so that a handler can
  // Interrupt them. Off after construction and not touched by SetDefaults.
  bool Interruptible = false;

  // Port 1, queues 1024 / 1024, 115200 baud, 8 data bits, stop-bit code 1, parity 'N',
  // waits 1000 / 800 / 200 / 200 ms, and the GSM tables. FlowContr is left alone.
  void SetDefaults();
  // Writes the two GSM tables: the default alphabet at its Windows-1252 codes, with a blank
  // for the Greek capitals 1252 lacks and for the escape; the extension table's ten
  // characters (form feed, ^ { } backslash [ ~ ] | and the euro sign), every other entry 0.
  void FillGsmTables();

  // Decodes one received SMS in PDU mode (an SMS-DELIVER with the service-centre address in
  // front, as hexadecimal text, either case) into the service-centre number and the sender
  // ("+" in front when the type of address is 91), the service centre's time stamp
  // "DD.MM.YY hh:mm,ss ZZzz" (the zone as it stands) and the text in Windows-1252, which
  // stays empty unless the data coding scheme, read by its coding groups (3GPP TS 23.038),
  // says uncompressed text in the 7-bit default alphabet: so the message waiting groups
  // C0h-DFh give text, E0h-EFh (UCS2), 8-bit data, UCS2 and compressed text do not, and
  // reserved codings count as the default alphabet. A sender of the alphanumeric type is
  // unpacked as text. A user data header is skipped, not shown. Only an SMS-DELIVER (message
  // type 0, or the reserved 3) is decoded: an SMS-SUBMIT or a status report gives four
  // empty texts. All four are cleared first; a PDU cut short gives what was decoded up to
  // there and reads nothing past its end; a field that is not hexadecimal (a length, the
  // first octet, the coding, the user data length or a data octet) ends the decoding with
  // an empty text. Never throws and shows nothing.
  void DecodePdu(const std::string& pdu, std::string& Smsc, std::string& Sender,
                 std::string& TimeStamp, std::string& Text) const;
  // One group of up to 7 octets (up to 14 hexadecimal characters, an odd last one ignored)
  // as septets, one character per septet with the septet value as its code: a octets give
  // a + 1 septets, the last incomplete. Characters that are not hexadecimal read as 0.
  static std::string Unpack7bit(const std::string& group);

  // Makes a port record for the settings (closing and freeing one still held first), sets
  // its line settings, opens it and waits WaitOpen. Every step runs; each failure shows its
  // message ("Com Port not initialized", "Com Port Parameter error: <code>", "Com Port open
  // error: <code>") and makes the result false. After a false result SerialPort may still
  // hold the record: ClosePort releases it.
  bool OpenPort();
  // Closes and frees the port record, then waits WaitClose. Each failing step shows "Com
  // Port close error: <code>" or "Com Port Exit error: <code>" and makes the result false
  // (both do, with -1, when there is no record).
  bool ClosePort();
  // Prepares the phone after OpenPort: asks for the maker as a probe; with no answer the
  // result is false and nothing more is sent. Otherwise true, and PDU mode (AT+CMGF=0) and
  // SIM storage for reading, writing and receiving are set; a failure of either shows
  // "Mobile could not be set to PDU Mode" or "Mobile could not set Preferred Message
  // Storrage to SIM Card" and leaves the result true.
  bool InitPhone();

  // Sends `text`, waits WaitRec and reads the reply. Code 0: `reply` is the whole reply.
  // Otherwise `reply` is empty and "An error occured during comunication to handy" is shown
  // (the pending events run first; nothing more for a failed port, whose own message was
  // shown). Returns the code.
  int Command(const std::string& text, std::string& reply);
  // Sends `text` and a CR. A byte the port does not take at once is tried again for about
  // a second; if it still cannot go out the rest of the line is dropped, "Com Port write
  // error: <code>" is shown (the pending events run first) and PortFailed is set. Without a
  // port record "Communication Port not opened " is shown and nothing is sent. Does not pump
  // otherwise.
  //
  // A command goes out only onto a quiet line, so that a late answer is not taken for its
  // reply. Input still waiting from an earlier reply is discarded first. After a reading
  // that ended by silence or time-out (code 1 or 2) the phone may still be answering that
  // command: until that answer's final line has come, or until no byte has come for
  // 3000 ms since the reading gave up or since the last byte, but for no more than 4000 ms,
  // what arrives is read and dropped before the line goes out. So an answer that comes up
  // to about 5 s after its command (2000 ms of silence and 3000 ms more) never reaches the
  // next one. This wait blocks (sleeping up to 1 ms at a time) and does not pump, unless
  // Interruptible. A later answer can be told apart only by the echo (ReadReply): a +CMGR
  // answer carries no slot. Once interrupted, nothing is sent and nothing is shown.
  void SendLine(const std::string& text);
  // Collects the phone's answer up to a line that begins with "OK", "ERROR" or "+CMS ERROR"
  // and ends in CR LF: code 0 with everything read (echo and intermediate lines included).
  // 2000 ms without a byte give code 1, 4000 ms in all code 2, each with an empty reply.
  // Without a port record "Communication Port not opened " is shown: code 0, empty reply.
  // A read that fails (the device has gone) ends the reading at once: "Com Port read error:
  // -3" is shown (the pending events run first), PortFailed is set, code 3 with an empty
  // reply. Does not pump otherwise (unless Interruptible); sleeps up to 1 ms at a time while
  // nothing comes. Interrupted: code kReplyInterrupted, empty reply, nothing shown.
  //
  // Once the phone has echoed a command on this port, the reply to the command just sent
  // begins at its echo (the command and a CR): what comes before belongs to an earlier
  // command and is dropped, a final line included. The reply to "ATE0" or "ATE" (echo off)
  // ends this until the phone echoes a command again. A phone that stops echoing without
  // being told so here gets its replies taken again only on a port opened anew (until
  // then its readings end by silence): a reply is never taken on a guess.
  int ReadReply(std::string& reply);
  // AT+CMGR=<slot>: `reply` is the whole reply, empty after a failure, which shows "An Error
  // occured on AT+CMGR=<slot>. Error No: <code>" (the pending events run first), except for a
  // failed port, whose own message was shown.
  void ReadSms(int slot, std::string& reply);
  // Waits WaitSend, then AT+CMGD=<slot>; `reply` is the whole reply (empty after a
  // failure). Shows nothing.
  void DeleteSms(int slot, std::string& reply);
  // Waits WaitSend, then AT+CGMI (AT+CGMM); `reply` is the whole answer, echo and final OK
  // line included, empty after a failure. Shows nothing.
  void GetManufacturer(std::string& reply);
  void GetModel(std::string& reply);

  // Ends the exchange that waits now, from a handler that runs inside one of its waits, and
  // every exchange after it until Resume: each wait of this object (Delay's of the
  // operations, the reply collector and the wait for a late answer while Interruptible)
  // returns at once, nothing more is sent, and each exchange ends with kReplyInterrupted and
  // an empty reply, without a message. ReadSms, Command and InitPhone show nothing then. For
  // an owner that is about to release the phone or close its window: it lets the operation
  // unwind and then frees the object. A reading cut short counts as one that gave up, so the
  // next command after Resume waits for the phone to finish its answer first.
  void Interrupt() { interrupted_ = true; }
  // Exchanges go on again as usual.
  void Resume() { interrupted_ = false; }
  bool Interrupted() const { return interrupted_; }

  // The port failed during the last exchange: the line sent last could not be written, or a
  // read after it found the device gone (the reply code was kReplyPortFailed). Cleared by the
  // next SendLine, which tries the port again.
  bool PortFailed() const { return port_failed_; }

  // Waits `ms` milliseconds, letting pending events run (platform::ProcessEvents) and
  // sleeping up to 1 ms between pumps. A wait of 0 or less returns at once without
  // pumping; a program that is terminating ends the wait early.
  static void Delay(int ms);

 private:
  // SendLine, Wait(WaitRec), ReadReply; a line that could not be written is not waited
  // for: kReplyPortFailed at once; an interrupted one gives kReplyInterrupted.
  int Exchange(const std::string& text, std::string& reply);
  // Delay, which ends early once the object is interrupted.
  void Wait(int ms);
  // In the waits of the reply collector and the late answer: lets pending events run when
  // Interruptible; true when the object is interrupted (then the wait ends).
  bool PumpAndLookForInterrupt();
  // Lets the pending events run, then shows `text`: for a failure found in a wait that did
  // not pump.
  static void ShowAfterWait(const std::string& text);
  // The septets as text: the default table, an escape (27) taking the next septet from the
  // extension table (an entry of 0 appends the character 0).
  std::string MapSeptets(const std::string& septets) const;
  void Query(const std::string& text, std::string& reply);
  // Reads and drops what the phone still sends for a command whose reading gave up, until
  // that answer's final line, quiet or the limit (SendLine).
  void DrainLateAnswer();
  // Forgets the command sent last and whether the phone echoes (a new port, or none).
  void ForgetPhone();

  std::string sent_;              // the last command line sent, without its CR
  bool echoes_ = false;           // the phone has echoed a command on this port
  bool unsettled_ = false;        // the last reading ended by silence or time-out
  uint64_t unsettled_since_ = 0;  // when it did
  bool port_failed_ = false;      // PortFailed
  bool interrupted_ = false;      // Interrupt
};

}  // namespace phone
