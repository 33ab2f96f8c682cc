#include "tables/engine/tzcommon.h"

#include <cstdlib>
#include <new>

#include "platform/ui.h"
#include "tables/engine/timedate.h"

namespace tz {

uint16_t DbLastError = 0;
uint16_t DbPendingError = 0;
std::string DbErrorContext;
bool DbReportErrors = true;
bool DbRaiseErrors = false;
std::function<void()> DbErrorProc;
bool DbHalting = false;

bool DbNetworkLocking = true;
bool DbCentury = false;
uint8_t DbCountry = 0;
uint8_t DbDateFormat = 0;
std::string DbDatePicture = "MM/dd/yy";
char DbDateSeparator = '/';
char DbDecimalSeparator = '.';
char DbThousandsSeparator = ',';
int16_t DbCenturyBase = 1956;
uint8_t DbDefaultTableVersion = 0x8B;
uint16_t DbDefaultMemoBlockSize = 512;
uint8_t CurrentWorkArea = 1;
uint16_t FileMode = 18;

namespace {

HaltCloseHook g_halt_close_hook = nullptr;

struct CodeText {
  uint16_t code;
  const char* text;
};

// Texts exactly as the library has always shown them, trailing blanks included.
constexpr CodeText kErrorTable[] = {
    {1, "Invalid DOS function code"},
    {2, "File not found"},
    {3, "Path not found"},
    {4, "Too many open files"},
    {5, "File access denied"},
    {6, "Invalid file handle"},
    {8, "Not enough memory"},
    {9, "Memory block address invalid"},
    {10, "Environment invalid"},
    {11, "Format invalid"},
    {12, "Invalid file access code"},
    {13, "Data invalid"},
    {14, "Unknown unit"},
    {15, "Invalid drive number"},
    {16, "Cannot remove current directory"},
    {17, "Cannot rename across drives"},
    {18, "Too many open files"},
    {19, "Disk write-protected"},
    {20, "Unknown unit"},
    {21, "Drive not ready"},
    {22, "Unknown command"},
    {23, "CRC error in data"},
    {24, "Bad drive request structure length"},
    {25, "Disk seek error"},
    {26, "Unknown media type"},
    {27, "Disk sector not found"},
    {28, "Printer out of paper"},
    {29, "Device write fault"},
    {30, "Device read fault"},
    {31, "General failure"},
    {32, "File sharing violation"},
    {33, "File lock violation"},
    {34, "Disk change invalid"},
    {35, "File Control Block unavailable"},
    {36, "File sharing buffer overflow"},
    {50, "Unsupported network request"},
    {51, "Remote machine not listening"},
    {52, "Duplicate name on network"},
    {53, "Network name not found"},
    {54, "Network busy"},
    {55, "Device no longer exists on network"},
    {56, "Net-Bios command limit exceeded"},
    {57, "Error in network adapter hardware"},
    {58, "Incorrect response from network"},
    {59, "Unexpected network error"},
    {60, "Remote adapter incompatible"},
    {100, "Disk read error"},
    {101, "Disk write error (probable cause: Disk Full)."},
    {102, "File not assigned"},
    {103, "File not open"},
    {104, "File not open for input"},
    {105, "File not open for output"},
    {106, "Invalid numeric format"},
    {150, "Disk write-protected"},
    {151, "Unknown unit"},
    {152, "Drive not ready"},
    {153, "Unknown command"},
    {154, "CRC error in data"},
    {155, "Bad drive request structure length"},
    {156, "Disk seek error"},
    {157, "Unknown media type"},
    {158, "Disk sector not found"},
    {159, "Printer out of paper"},
    {160, "Device write fault"},
    {161, "Device read fault"},
    {162, "File sharing violation"},
    {200, "Division by zero error"},
    {201, "Range check error"},
    {202, "Stack overflow error"},
    {203, "Heap overflow error"},
    {204, "Invalid pointer operation"},
    {205, "Floating point overflow"},
    {206, "Floating point underflow"},
    {207, "Invalid floating point operation"},
    {208, "Overlay-manager not installed"},
    {209, "Overlay file read error"},
    {210, "Not a dBASE data file"},
    {211, "Invalid database field type encountered"},
    {212, "Request beyond range"},
    {213, "End of file found unexpectedly"},
    {214, "File already in use"},
    {215, "No database in use"},
    {216, "GP Fault"},
    {217, "Insufficient memory"},
    {218, "Invalid pointer specified"},
    {219, "Cannot duplicate file handle"},
    {220, "Invalid parameter"},
    {221, "Index file not open"},
    {222, "Corrupted index file"},
    {223, "Index version mismatch"},
    {224, "Cyclical relationship detected"},
    {225, "Exclusive Use() required"},
    {226, "BROWSE not active"},
    {227, "Insufficient disk space "},
    {228, "Unbalanced Push/Pop operation "},
    {229, "dBASE IV memo files not supported"},
    {230, "No dBASE memory variables loaded"},
    {231, "Screen library not open"},
    {239, "Missing colon in time"},
    {240, "Non-numeric character in time"},
    {241, "Invalid time specified"},
    {242, "Negative time specified"},
    {243, "TimeDiff result negative"},
    {254, "Tarazed internal error"},
    {266, "Invalid size"},
    {1003, "Invalid memo address"},
    {1004, "Disk full"},
    {1005, "Memo file write error"},
    {1007, "Memo file is already open"},
    {1012, "Insufficient disk space to pack memo file"},
    {1017, "Cannot lock memo file"},
    {1018, "Cannot unlock memo file"},
    {1019, "Invalid memo operation: database not open or no memo field in database"},
    {1100, "Not a valid operation on Linked List"},
    {1101, "Virtual File Manager Unit not Linked in"},
    {1102, "Virtual File Memory Management Error"},
    {1103, "Invalid Operation "},
    {1200, "Record not locked"},
    {1201, "File not locked"},
    {1202,
     "Semaphore file error. Possible solutions: log into network or load SHARE.EXE before "
     "running Windows"},
    {1300, "File format not supported"},
};

const char* TableText(uint16_t code) {
  if (code >= 1203 && code <= 1299) return "Network Error";
  for (const CodeText& entry : kErrorTable)
    if (entry.code == code) return entry.text;
  return "Undefined error";
}

}  // namespace

void SetDbError(uint16_t code, const std::string& context) {
  DbLastError = code;
  DbPendingError = code;
  DbErrorContext = context;
  if (DbReportErrors) ReportError();
}

void ReportError() {
  if (DbHalting) return;
  DbPendingError = DbLastError;
  if (DbErrorProc) {
    DbErrorProc();
    return;
  }
  if (DbLastError == 0) return;
  std::string message = DbErrorText(DbLastError) + "\r\n" + TakeErrorContext();
  if (DbRaiseErrors) throw ETarazedError(message);
  if (message.size() > 255) message.resize(255);
  // Set before the box: showing it runs a nested event loop in which handlers may call the
  // library again, and their errors must neither start a second halt nor change the code the
  // program ends with.
  DbHalting = true;
  uint16_t code = DbLastError;
  DbMessageBox(message, "Program halted.", platform::kMbIconStop | platform::kMbOk);
  if (g_halt_close_hook) g_halt_close_hook();
  platform::Halt(code);
}

std::string DbErrorText(uint16_t code) {
  if (code == 0) return "";
  return "Error # " + std::to_string(code) + " (" + TableText(code) + ")";
}

std::string TakeErrorContext() {
  std::string context = std::move(DbErrorContext);
  DbErrorContext.clear();
  DbPendingError = 0;
  return context;
}

std::string GetErrorMessage() {
  if (DbPendingError == 0) return "";
  std::string text = DbErrorText(DbPendingError);
  return text + "\r\n" + TakeErrorContext();
}

bool SetErrorReporting(bool on) {
  bool previous = DbReportErrors;
  DbReportErrors = on;
  return previous;
}

bool SetRaiseErrors(bool on) {
  bool previous = DbRaiseErrors;
  DbRaiseErrors = on;
  return previous;
}

void RaiseTarazedError(const std::string& message) {
  throw ETarazedError(message);
}

int DbMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  return platform::MessageBox(text, caption, flags);
}

void SetHaltCloseHook(HaltCloseHook hook) {
  g_halt_close_hook = hook;
}

void DbGetMem(void*& p, size_t size) {
  p = std::malloc(size == 0 ? 1 : size);
  if (!p) SetDbError(8, "Not enough memory [GetMem()]");
}

void DbFreeMem(void*& p) {
  if (!p) {
    SetDbError(9, "Attempt to free NIL pointer [FreeMem()]");
    p = nullptr;
    return;
  }
  std::free(p);
  p = nullptr;
}

int32_t DbMaxAvail() {
  return 0x7FFFFFFF;
}

void ResetCommonState() {
  DbLastError = 0;
  DbPendingError = 0;
  DbErrorContext.clear();
  DbReportErrors = true;
  DbRaiseErrors = false;
  DbErrorProc = nullptr;
  DbHalting = false;
  DbNetworkLocking = true;
  DbCentury = false;
  DbDefaultTableVersion = 0x8B;
  DbDefaultMemoBlockSize = 512;
  CurrentWorkArea = 1;
  FileMode = 18;
  InitCountry();
  uint16_t year, month, day, dow;
  DayOfWeekOf(year, month, day, dow);
  DbCenturyBase = static_cast<int16_t>(year - 70);
}

void EndCommon() {
  DbErrorContext.clear();
}

}  // namespace tz
