// A second program on a shared table, driven over its standard input one command a line; it
// answers each with one line:
//   use <use text>        ok | error <code>
//   go <n>                ok | error <code>
//   rlock | alock         true | false
//   unlock | close        ok
//   replace <text>        the current record's first field := text, written under the record
//                         lock the caller took: ok | error <code>
//   delete                the current record marked deleted, the same way: ok | error <code>
//   soak <count> <tag>    appends <count> records "<tag><i>" under the append lock, each lock
//                         taken as soon as it is free; "ok" when the count never went down,
//                         else "down"
//   appends <count> <tag> the same, answering after each record with the number of records it
//                         appended so far (an acknowledgement for a test that kills it), then
//                         "ok"; an error ends it with "error <code>"
//   count                 the record count
// It ends when its input ends.
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <iostream>
#include <string>

#include "tables/engine/dbf4.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzstart.h"

namespace {

std::string Result() {
  return tz::DbLastError == 0 ? "ok" : "error " + std::to_string(tz::DbLastError);
}

void SetFirstField(const std::string& text) {
  char* slot = tz::FieldAddress(1);
  size_t length = static_cast<uint8_t>(slot[0]);
  std::memset(slot + 1, ' ', length);
  std::memcpy(slot + 1, text.data(), std::min(length, text.size()));
}

// Appends a record of that name as soon as the append lock is free: the append's error code.
uint16_t AppendNamed(const std::string& name) {
  while (!tz::ALock()) usleep(100);
  tz::ClearRecord();
  SetFirstField(name);
  tz::Append();
  uint16_t code = tz::DbLastError;
  tz::Unlock();
  return code;
}

}  // namespace

int main() {
  tz::StartTarazed();
  tz::DbReportErrors = false;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::string command = line.substr(0, line.find(' '));
    std::string rest = line.size() > command.size() ? line.substr(command.size() + 1) : "";
    std::string answer;
    if (command == "use") {
      tz::Use(rest);
      answer = Result();
    } else if (command == "go") {
      tz::GO(std::stoi(rest));
      answer = Result();
    } else if (command == "rlock") {
      answer = tz::RLock() ? "true" : "false";
    } else if (command == "alock") {
      answer = tz::ALock() ? "true" : "false";
    } else if (command == "unlock") {
      tz::Unlock();
      answer = "ok";
    } else if (command == "replace") {
      SetFirstField(rest);
      tz::Replace();
      answer = Result();
    } else if (command == "delete") {
      tz::DeleteRec();
      answer = Result();
    } else if (command == "close") {
      tz::CloseDatabase();
      answer = "ok";
    } else if (command == "count") {
      answer = std::to_string(tz::RecCount());
    } else if (command == "appends") {
      int count = std::stoi(rest.substr(0, rest.find(' ')));
      std::string tag = rest.substr(rest.find(' ') + 1);
      answer = "ok";
      for (int i = 0; i < count && answer == "ok"; ++i) {
        if (uint16_t code = AppendNamed(tag + std::to_string(i)); code != 0)
          answer = "error " + std::to_string(code);
        else
          std::cout << i + 1 << std::endl;
      }
    } else if (command == "soak") {
      int count = std::stoi(rest.substr(0, rest.find(' ')));
      std::string tag = rest.substr(rest.find(' ') + 1);
      bool down = false;
      int32_t last = 0;
      for (int i = 0; i < count; ++i) {
        if (AppendNamed(tag + std::to_string(i)) != 0) down = true;
        int32_t now = tz::RecCount();
        if (now < last) down = true;
        last = now;
      }
      answer = down ? "down" : "ok";
    } else {
      answer = "unknown";
    }
    std::cout << answer << std::endl;
  }
  tz::EndTarazed();
  return 0;
}
