// The run the table, memo and index targets share: the input's files are written into the
// process's folder as t.dbf (with t.dbt and t.fpt holding the memo file, t.mdx the production
// index), the table is opened through the engine's USE and its index through SET INDEX, and
// the engine is driven over them the way the programs drive it: a fixed walk that reads every
// record's fields and memo values in natural order and in every index order (GO, SKIP, Find),
// then the input's own commands, among them writes that read first (REPLACE, APPEND, DELETE,
// memo edits, BLOB writes, PACK of the memo file, REINDEX).
//
// The first command byte chooses how the table is opened (exclusive or shared) and the
// library's error mode. Walks are bounded, so a header that claims two thousand million
// records costs no more than one with ten.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kfuzz {

struct TableFiles {
  std::string_view dbf;
  std::string_view memo;  // written only when `has_memo`
  std::string_view mdx;   // written only when `has_index`
  bool has_memo = false;
  bool has_index = false;
};

void RunTableSession(const TableFiles& files, std::string_view commands);

// Cuts one input into its files and commands and runs the session: the table, then the memo
// file and the index when the target has them, each after a separator, then the commands
// after one more (optional).
enum FileKinds : int { kTableOnly = 0, kWithMemo = 1, kWithIndex = 2 };
void RunFilesInput(const uint8_t* data, size_t size, int kinds);

}  // namespace kfuzz
