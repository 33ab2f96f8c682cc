// The bottom of the table library: its module-wide settings, the numbered error table, the one
// path every library routine reports a failure through, and the small memory routines.
//
// A routine that fails calls SetDbError(code, context) and returns its own neutral value
// (false, 0, an empty text). What happens then depends on the switches:
//   - reporting off (DbReportErrors false): the error is only stored; the caller tests
//     DbLastError and may show it later with GetErrorMessage or ReportError;
//   - an installed DbErrorProc: it is called instead of the built-in report;
//   - raise mode (DbRaiseErrors true): ETarazedError is thrown with the full message;
//   - otherwise (the default) the halt: a message box captioned "Program halted.", the open
//     tables are closed quietly, and the program ends with the code (platform::Halt).
// The state is module-global for the one GUI thread; nothing here is thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace tz {

// Thrown in raise mode; its what() is the full message, "Error # 9 (Memory block address
// invalid)" CR LF "Attempt to free NIL pointer [FreeMem()]".
class ETarazedError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// --- Error state --------------------------------------------------------------------------

// Code of the last reported error; 0 = none. Callers clear it before an operation whose own
// result they need and test it afterwards.
extern uint16_t DbLastError;
// Code whose text has not been fetched yet; cleared when the context is taken.
extern uint16_t DbPendingError;
// Context of the last error: a sentence ending with the routine's tag in brackets.
extern std::string DbErrorContext;
// Report at once when an error is set (start: true).
extern bool DbReportErrors;
// When reporting: throw ETarazedError (true) or halt (false, the start value).
extern bool DbRaiseErrors;
// When set, replaces the built-in report; it may fetch the text with GetErrorMessage. The
// library never sets it itself.
extern std::function<void()> DbErrorProc;
// Set when the halt begins; while set, reporting does nothing.
extern bool DbHalting;

// --- Library settings (start values in brackets; StartTarazed sets the country ones) ------

// Region locks on table, index and memo files are taken only when true [true].
extern bool DbNetworkLocking;
// Dates carry four-digit years [false].
extern bool DbCentury;
// Country chosen at start from the user's language, 0..8.
extern uint8_t DbCountry;
// Current date format 0..8 [= DbCountry].
extern uint8_t DbDateFormat;
// Picture of the current date format, "MM/dd/yy" ..., and its separator ['/'].
extern std::string DbDatePicture;
extern char DbDateSeparator;
// Decimal and thousands separators of number texts ['.' and ',' until the start sets them].
extern char DbDecimalSeparator;
extern char DbThousandsSeparator;
// First year of the hundred-year window for two-digit years [current year - 70].
extern int16_t DbCenturyBase;
// Version byte of created tables [8Bh]; also chooses the memo file kind.
extern uint8_t DbDefaultTableVersion;
// Block size of new memo files [512].
extern uint16_t DbDefaultMemoBlockSize;
// Selected work area [1].
extern uint8_t CurrentWorkArea;
// The file-open mode (platform/files.h) with which the library's file routines open files
// that a caller does not give a mode for [18: read and write, exclusive].
extern uint16_t FileMode;

// --- Reporting ----------------------------------------------------------------------------

// Stores the error (DbLastError, DbPendingError, DbErrorContext) and reports it at once when
// DbReportErrors is on. The only way library code records an error. In raise mode it throws
// ETarazedError; in halt mode it does not return (platform::Halt, which a test Ui turns into
// an exception).
void SetDbError(uint16_t code, const std::string& context);
// Reports the stored error now: nothing while halting or when DbLastError is 0 (unless a
// DbErrorProc is installed, which is always called); else throws or halts as SetDbError says.
void ReportError();
// "Error # " + code + " (" + the table text + ")" for a code; empty for 0. Codes the table
// lacks read "Undefined error".
std::string DbErrorText(uint16_t code);
// Returns DbErrorContext, then clears it and DbPendingError.
std::string TakeErrorContext();
// Empty when no error is pending; else DbErrorText(DbPendingError) + CR LF + the taken context
// (which clears the pending error).
std::string GetErrorMessage();
// Set DbReportErrors / DbRaiseErrors; return the previous value.
bool SetErrorReporting(bool on);
bool SetRaiseErrors(bool on);
// Throws ETarazedError with `message`.
[[noreturn]] void RaiseTarazedError(const std::string& message);
// The stored error (DbLastError, DbPendingError, DbErrorContext) as it stands when the object
// is made; Restore puts it back. Clean-up after a failure (a select, a quiet close) may clear
// or replace it, and the error the caller learns is the first one.
struct TStoredError {
  uint16_t code = DbLastError;
  uint16_t pending = DbPendingError;
  std::string context = DbErrorContext;
  void Restore() const {
    DbLastError = code;
    DbPendingError = pending;
    DbErrorContext = context;
  }
};
// Switches error reporting for the life of the object.
class ScopedReporting {
 public:
  explicit ScopedReporting(bool on) : saved_(SetErrorReporting(on)) {}
  ~ScopedReporting() { SetErrorReporting(saved_); }
  ScopedReporting(const ScopedReporting&) = delete;
  ScopedReporting& operator=(const ScopedReporting&) = delete;

 private:
  bool saved_;
};
// Clean-up after a failure, for the life of the object: nothing is reported, and when the
// object goes the stored error is the one it found (the failure the caller learns), whatever
// the clean-up left or cleared.
class TQuietCleanup {
 public:
  TQuietCleanup() = default;
  ~TQuietCleanup() { failure_.Restore(); }
  TQuietCleanup(const TQuietCleanup&) = delete;
  TQuietCleanup& operator=(const TQuietCleanup&) = delete;

 private:
  TStoredError failure_;
  ScopedReporting quiet_{false};
};
// A message box through platform::MessageBox (flags and answers of platform/ui.h); returns the
// button pressed. Pumps events while the box is up.
int DbMessageBox(const std::string& text, const std::string& caption, unsigned flags);

// What the halt runs after its message and before the program ends: the work-area engine
// installs its quiet close of every open table here, so that headers of appended records
// reach the disk. Errors while it runs are ignored (DbHalting is set). nullptr: nothing.
using HaltCloseHook = void (*)();
void SetHaltCloseHook(HaltCloseHook hook);

// --- Memory -------------------------------------------------------------------------------

// Allocates `size` bytes into `p` (never nullptr for size 0). When the memory is short, `p`
// becomes nullptr and error 8 is set with "Not enough memory [GetMem()]".
void DbGetMem(void*& p, size_t size);
// Frees a block of DbGetMem and sets `p` to nullptr. A nullptr `p` sets error 9 with "Attempt
// to free NIL pointer [FreeMem()]".
void DbFreeMem(void*& p);
// The largest block that can be allocated: always 7FFFFFFFh.
int32_t DbMaxAvail();

// --- Unit start and end -------------------------------------------------------------------

// Puts every setting of this file back to its start value (the country ones from the user's
// language, the century window from the current year). Run by StartTarazed; tests use it to
// begin from a known state.
void ResetCommonState();
// Unit end: clears DbErrorContext.
void EndCommon();

}  // namespace tz
