// The rows of a table as the independent reader python3-dbfread sees them, for the programs'
// tests: one line per record (deleted records left out), values joined by "|".
#ifndef KESTROVA_TESTS_APPS_DBFREAD_ROWS_H
#define KESTROVA_TESTS_APPS_DBFREAD_ROWS_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/testing/child_process.h"
#include "platform/testing/temp_dir.h"

namespace apps_testing {

// `fields` empty: every field, as dbfread gives it. Else the named fields (blank-separated),
// with their blanks cut at the right. `out` is a scratch file for the reader's output. With
// `deleted` the deleted records instead, and only those.
inline std::vector<std::string> DbfreadRows(const std::filesystem::path& table,
                                            const std::string& fields,
                                            const std::filesystem::path& out,
                                            bool deleted = false) {
  std::string script =
      "import sys, dbfread\n"
      "names = sys.argv[2].split()\n"
      "table = dbfread.DBF(sys.argv[1], encoding='cp850', char_decode_errors='replace')\n"
      "for r in (table.deleted if sys.argv[3] == 'deleted' else table):\n"
      "    values = [r[n] for n in names] if names else list(r.values())\n"
      "    print('|'.join('' if v is None else (str(v).rstrip() if names else str(v))"
      " for v in values))\n";
  platform::ChildProcess child(
      "/bin/sh", {"-c", "/usr/bin/python3 -c \"$0\" \"$1\" \"$2\" \"$4\" > \"$3\"", script,
                  table.string(), fields, out.string(), deleted ? "deleted" : "live"});
  child.CloseInput();
  EXPECT_EQ(child.Wait(), 0) << "python3-dbfread could not read " << table;
  std::vector<std::string> rows;
  std::string text = platform::TempDir::Read(out), line;
  for (char c : text) {
    if (c == '\n') {
      rows.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  return rows;
}

}  // namespace apps_testing

#endif
