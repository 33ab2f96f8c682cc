// A GSM phone on a pseudo-terminal, for tests and for running the programs without a phone.
// The simulator owns the master side of a pty and answers on its own thread what a phone
// in PDU mode answers to the AT commands the programs send: it echoes each command line,
// answers "\r\n<info>\r\n\r\nOK\r\n", "\r\nOK\r\n", "\r\nERROR\r\n" or
// "\r\n+CMS ERROR: <n>\r\n", and answers ERROR to anything it does not know. It keeps SIM
// slots (status and PDU), maker and model texts, a SIM PIN and a network, and logs every
// line it receives with the time it came.
//
// Commands: AT, ATE0 / ATE1 (echo), AT+CGMI, AT+CGMM, AT+CMGF=0, AT+CPMS="SM","SM","SM",
// AT+CMGR=<slot> (reading a status-0 message makes it 1), AT+CMGD=<slot>, AT+CNMI=...,
// AT+CPIN? / AT+CPIN=<pin>, AT+CPINC ("+CPINC: <pin tries>,<puk tries>"), AT+COPS? (ERROR
// while the SIM is locked or there is no network). An empty or out-of-range slot answers
// +CMS ERROR: 321. Commands are matched without regard to case; a line ends at CR and line
// feeds are dropped.
//
// Tests steer it: answer late, go silent, trickle bytes that never make a final line,
// answer ERROR or +CMS ERROR to a given command, drop the echo, stop reading, send raw
// bytes, and go away (unplugged) at once or when a given command comes. Every member is safe
// to call from any thread.
//
// A phone works on one command at a time. While an answer is delayed the phone is busy:
// it has echoed that command at once, and lines that come in the meantime wait, unechoed
// and without effect on the SIM, until the delayed answer has gone out; then each is echoed
// and answered in turn. (A phone's command interpreter takes the next line from its input
// buffer only when it has finished the one before, and echoes what it takes.) Every line
// is logged when it arrives.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace phone::sim {

struct SimSlot {
  int status = 0;   // 0 received unread, 1 received read, 2 stored unsent, 3 stored sent
  std::string pdu;  // hexadecimal text, service-centre address first
};

// One command line as the simulator received it (without its CR), and when: milliseconds
// of the system's real monotonic clock (platform::SystemClock), whatever clock a test
// installs for the code under test.
struct ReceivedLine {
  uint64_t ms;
  std::string text;
};

// How the simulator answers the commands a rule matches.
struct Behaviour {
  enum Kind {
    kAnswer,    // as a phone does
    kSilent,    // no echo, no answer
    kError,     // echo, then "\r\nERROR\r\n"
    kCmsError,  // echo, then "\r\n+CMS ERROR: <cms_error>\r\n"
    kTrickle,   // echo, then the bytes of "busy\r\n" over and over, one every
                // trickle_interval_ms, until the next line comes or the rule is removed
    kUnplug,    // no echo, no answer: the phone goes away (see Unplug)
  };
  Kind kind = kAnswer;
  int delay_ms = 0;  // the answer (not the echo) comes this much later
  int cms_error = 0;
  int trickle_interval_ms = 100;
};

// One command answered late, once: the first line received that is `command` (compared
// whole, without regard to case), or, with no command, the `nth` command line received from
// now on (1 = the next one; empty lines do not count). Its echo comes at once, its answer
// `delay_ms` later, the phone busy until then.
struct LateAnswer {
  std::string command;
  int nth = 0;
  int delay_ms = 0;
};

class PhoneSimulator {
 public:
  // Opens a pseudo-terminal and starts answering on it. Throws std::system_error when no
  // pseudo-terminal can be had.
  PhoneSimulator();
  // Stops the thread and closes the pseudo-terminal; the device disappears.
  ~PhoneSimulator();
  PhoneSimulator(const PhoneSimulator&) = delete;
  PhoneSimulator& operator=(const PhoneSimulator&) = delete;

  // The device to open, e.g. /dev/pts/7. It stays usable across any number of opens and
  // closes by clients for the life of the simulator, or until it is unplugged.
  const std::string& DevicePath() const { return device_; }

  void SetManufacturer(std::string text);  // default "KESTROVA"
  void SetModel(std::string text);         // default "PS-1"
  // The SIM's size (default 10 slots); slots beyond it are dropped.
  void SetSlotCount(int count);
  int SlotCount() const;
  // Stores a message in slot `index` (1-based, within the SIM's size).
  void SetSlot(int index, int status, std::string pdu);
  void ClearSlot(int index);
  std::optional<SimSlot> Slot(int index) const;
  // The SIM asks for `pin` (AT+CPIN? says "SIM PIN") until it is entered; an empty pin
  // makes the SIM ready. `tries` wrong entries are allowed before the SIM locks for good.
  void SetPin(std::string pin, int tries = 3);
  // Whether the phone finds a network once the SIM is ready (default true).
  void SetNetwork(bool available);
  void SetEcho(bool on);  // default on; ATE0 / ATE1 switch it too

  // The rule for commands whose upper-cased text begins with `command_prefix` ("" for
  // every command); the longest matching prefix wins. Setting a prefix again replaces it.
  void SetBehaviour(std::string command_prefix, Behaviour behaviour);
  // Drops every rule and a late answer not given yet.
  void ClearBehaviours();
  // Answers one command late (see LateAnswer); replaces a late answer not given yet. The
  // late answer's delay counts instead of a rule's delay; the rule's kind still applies.
  void AnswerLate(LateAnswer late);
  // While off the simulator takes nothing from the line, so what the client writes piles
  // up until the line is full.
  void SetReading(bool on);
  // Sends bytes to the client as they are, at once.
  void SendRaw(std::string bytes);
  // The phone goes away as an unplugged one does: the simulator closes its side of the
  // pseudo-terminal, the device disappears, and a client's open descriptor is hung up (its
  // writes fail with EIO, its reads find nothing and poll reports the hang-up). Nothing is
  // received or sent any more; what was waiting to go out is dropped. Returns when it is done.
  void Unplug();
  bool Unplugged() const;

  // The lines received so far, in order, and every byte received (lines and the rest).
  std::vector<ReceivedLine> Log() const;
  std::vector<std::string> LogTexts() const;
  std::string RawReceived() const;
  void ClearLog();
  // Blocks until `count` lines have been received or `timeout_ms` passed; true when they
  // have.
  bool WaitForLines(size_t count, int timeout_ms) const;
  // Blocks until nothing is left to send (late answers and the lines waiting for them
  // included, trickles excepted) or `timeout_ms` passed; true when all went out.
  bool WaitUntilSent(int timeout_ms) const;
  // Called on the simulator's thread for every received line (set before use).
  void OnLine(std::function<void(const ReceivedLine&)> callback);

 private:
  struct Output {
    uint64_t due_ms;
    std::string bytes;
  };
  void Run();
  void HandleBytes(const char* data, size_t n, uint64_t now);
  void HandleLine(const std::string& line, uint64_t now);
  // Echoes and answers one command line (the phone not busy).
  void Process(const std::string& line, uint64_t now);
  std::string Answer(const std::string& line);  // "" when the command gets no answer
  const Behaviour* RuleFor(const std::string& upper) const;
  void Queue(uint64_t due_ms, std::string bytes);
  void Flush(uint64_t now);
  // Closes the pseudo-terminal when unplugging was asked for (mu_ held).
  void CloseIfUnplugged();
  void Wake();

  int master_ = -1;
  int slave_ = -1;  // held open so the device outlives each client's close
  int wake_[2] = {-1, -1};
  std::string device_;

  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  bool stop_ = false;
  bool reading_ = true;
  bool echo_ = true;
  std::string maker_ = "KESTROVA";
  std::string model_ = "PS-1";
  int slot_count_ = 10;
  std::map<int, SimSlot> slots_;
  std::string pin_;
  int pin_tries_ = 3;
  bool sim_ready_ = true;
  bool network_ = true;
  std::map<std::string, Behaviour> rules_;
  std::optional<LateAnswer> late_;
  int commands_since_late_ = 0;
  uint64_t busy_until_ = 0;        // a delayed answer is due then
  std::vector<std::string> held_;  // lines that came while the phone was busy, in order

  std::vector<Output> outbox_;  // in due order
  std::string partial_;         // the line being received
  std::vector<ReceivedLine> log_;
  std::string raw_;
  bool trickling_ = false;
  bool unplug_ = false;  // asked for; the thread closes the pseudo-terminal
  bool unplugged_ = false;
  uint64_t trickle_due_ = 0;
  int trickle_interval_ = 0;
  size_t trickle_pos_ = 0;
  std::function<void(const ReceivedLine&)> on_line_;
  std::thread thread_;
};

}  // namespace phone::sim
