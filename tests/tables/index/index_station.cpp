// The second station of the shared-index tests: a program of its own that uses a table and
// its production index shared and runs one command per input line, answering each with a line
// "ok [result]" or "error <code> <context>". It ends at "quit" or at the end of its input.
//   open <table>        Use the table shared and open its production index
//   login <table>       Use the table shared and log in to its index's semaphore file only:
//                       where an opener stands that is killed before it opens the index
//   close               close the table (its indexes and the semaphore login)
//   read 1|0, lock 1|0  begin or end a read or write bracket
//   readfor <ms>        a read bracket held for that long (answered when it began, and again
//                       "ok done" when it ended)
//   order <tag>         make that tag the current order (empty: natural order)
//   walk                the record numbers in the current order
//   append <text>       append a record whose first field holds the text (under the append
//                       lock); answers its record number
//   replace <n> <text>  write the text into the first field of record n (under its lock)
//   bare <command>      run a write command with the index unit unlinked: the table changes,
//                       no tag does (after "lock 1", what a writer leaves that dies between
//                       writing a record and its keys; after "read 1", the same left by a
//                       station that counts as a reader)
//   appendnext          append the crash tests' next record (kill_records.h); answers its
//                       record number
//   appendloop          answer "ok", then append the crash tests' records one after the other
//                       until the program is killed
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iostream>
#include <string>

#include "platform/clock.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"
#include "tables/index/tzndx.h"
#include "tests/tables/index/kill_records.h"

namespace {

void Answer(const std::string& result = "") {
  std::string line;
  if (tz::DbLastError != 0) {
    line = "error " + std::to_string(tz::DbLastError) + " " + tz::DbErrorContext;
  } else {
    line = result.empty() ? "ok" : "ok " + result;
  }
  std::cout << line << std::endl;
}

int Number(const std::string& text) {
  int value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// Puts `text` into character field n of the field value record, blank-padded.
void PutField(int n, const std::string& text) {
  char* slot = tz::FieldAddress(static_cast<uint8_t>(n));
  size_t length = tz::FieldLen(static_cast<uint8_t>(n));
  std::memset(slot + 1, ' ', length);
  std::memcpy(slot + 1, text.data(), std::min(text.size(), length));
}

// Appends the crash tests' next record (under the append lock); false when it is held.
bool AppendCrashRecord() {
  if (!tz::ALock()) return false;
  int32_t n = tz::RecCount() + 1;
  tz::ClearRecord();
  PutField(1, tz::CrashRecordId(n));
  PutField(2, tz::CrashRecordMaker(n));
  PutField(3, tz::CrashRecordModel(n));
  tz::Append();
  tz::Unlock();
  return true;
}

void Run(const std::string& command, const std::string& argument) {
  if (command == "open") {
    tz::Use(argument);
    if (tz::DbLastError == 0) tz::SetIndexTo("");
    Answer();
  } else if (command == "login") {
    tz::Use(argument);
    if (tz::DbLastError == 0) tz::HandleSemafore(tz::kSemLogin);
    Answer();
  } else if (command == "close") {
    tz::CloseDatabase();
    Answer();
  } else if (command == "read") {
    tz::SetReadSemaphoreProc(Number(argument));
    Answer();
  } else if (command == "lock") {
    tz::SetLockSemaphoreProc(Number(argument));
    Answer();
  } else if (command == "readfor") {
    tz::SetReadSemaphoreProc(1);
    Answer();
    platform::SleepMs(static_cast<uint64_t>(Number(argument)));
    tz::SetReadSemaphoreProc(0);
    Answer("done");
  } else if (command == "order") {
    tz::SetOrderToTag(argument);
    Answer();
  } else if (command == "walk") {
    std::string records;
    tz::GoTop();
    while (!tz::dEOF() && tz::DbLastError == 0) {
      records += (records.empty() ? "" : " ") + std::to_string(tz::RecNo());
      tz::Skip(1);
    }
    Answer(records);
  } else if (command == "append") {
    if (tz::ALock()) {
      tz::ClearRecord();
      PutField(1, argument);
      tz::Append();
      tz::Unlock();
    }
    Answer(std::to_string(tz::RecNo()));
  } else if (command == "replace") {
    size_t gap = argument.find(' ');
    tz::GO(Number(argument.substr(0, gap)));
    if (tz::DbLastError == 0 && tz::RLock()) {
      PutField(1, gap == std::string::npos ? "" : argument.substr(gap + 1));
      tz::Replace();
      tz::Unlock();
    }
    Answer();
  } else if (command == "bare") {
    size_t blank = argument.find(' ');
    tz::IndexDriverLinked = false;
    Run(argument.substr(0, blank), blank == std::string::npos ? "" : argument.substr(blank + 1));
    tz::IndexDriverLinked = true;
  } else if (command == "appendnext") {
    AppendCrashRecord();
    Answer(std::to_string(tz::RecNo()));
  } else if (command == "appendloop") {
    Answer();
    while (true) AppendCrashRecord();
  } else {
    std::cout << "error 0 unknown command" << std::endl;
  }
}

}  // namespace

int main() {
  tz::StartTarazed();
  tz::DbReportErrors = false;
  std::string line;
  while (std::getline(std::cin, line)) {
    size_t blank = line.find(' ');
    std::string command = line.substr(0, blank);
    std::string argument = blank == std::string::npos ? "" : line.substr(blank + 1);
    if (command == "quit") break;
    tz::DbLastError = 0;
    Run(command, argument);
  }
  tz::EndTarazed();
  return 0;
}
