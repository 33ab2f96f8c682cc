// The table library's text and file helpers. Texts are Windows-1252 byte strings; positions
// are 1-based, 0 meaning "none". Case and letters come from platform/text.h, numbers go
// through std::to_chars / std::from_chars, never the C locale.
//
// Paths accept "\" and "/" as folder separators and are never cut: a path too long for the
// system fails when it is opened, it does not turn into another file. Only EraseFiles and
// UniqueFilename report errors (through SetDbError, which may throw or halt as tzcommon.h
// says); every other routine returns a neutral value. Nothing here blocks or pumps.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace tz {

// --- Text ---------------------------------------------------------------------------------

// Upper case by the Windows-1252 table.
std::string Upper(std::string_view text);
char CharUpperChar(char c);
char CharLowerChar(char c);
// The text is not empty and starts with a letter.
bool IsAlphaStart(std::string_view text);
// Remove trailing / leading / both characters with codes 0 to 32.
std::string RTrim(std::string_view text);
std::string TrimRightStr(std::string_view text);
std::string LTrim(std::string_view text);
std::string TrimLeftStr(std::string_view text);
// AllTrim without a copy: the part of `text` between its leading and trailing blanks.
std::string_view AllTrimView(std::string_view text);
std::string AllTrim(std::string_view text);
// `count` copies of `c`; empty for count <= 0.
std::string Replicate(char c, int count);
// Left-justified and padded with blanks to `width`; never cut.
std::string PadRightTo(std::string_view text, int width);
std::string IIfStr(bool condition, const std::string& if_true, const std::string& if_false);
// Decimal, right-aligned in `width`; a wider number keeps all its digits.
std::string IntToStrW(int32_t value, int width);
// Fixed-point with `decimals` decimals, rounded half away from zero, "." as the point, no
// padding ("-0.3" for -0.25 with one decimal).
std::string FormatFixed(double value, int decimals);
// FormatFixed right-aligned in `width`, never cut; when decimals > 0 the point becomes
// DbDecimalSeparator.
std::string FloatToStrDec(int width, int decimals, double value);

// Occurrences of `sub` in `text`, not overlapping; 0 when either is empty.
int32_t OccursCount(std::string_view sub, std::string_view text);
// Position of the n-th occurrence of `sub` in `text`, occurrences allowed to overlap ("aa" in
// "aaaa": 1, 2, 3); counted from the end when n is negative (n = -1 is the last one). 0 when
// there is no such occurrence, either text is empty or n is 0.
int32_t NthOccurrence(int32_t n, std::string_view sub, std::string_view text);
// Lenient integer parse: blanks and one "+" in front, thousands separators and the first "$"
// removed, cut at the first blank, the leading run of digits and "-"; limited to
// -32768..32767; 0 when nothing is left.
int16_t StrToIntSigned(std::string_view text);
// Reduces a number typed in the country's style ("$ 1.234,50") to a plain number text with
// "." as the decimal point ("1234.50").
void NormalizeNumberText(std::string& text);
// NormalizeNumberText, then the value of the leading digits (with a leading "-"); 0 for an
// empty text. Limited to the 32-bit range.
int32_t NumberTextToInt(std::string_view text);
// Removes every occurrence of `word` that stands alone (at the start of the text or after a
// blank, and at its end or before a blank) from `text`, compared in upper case; the text comes
// back in upper case and trimmed. True when something was removed. An empty word only trims.
// "TEST.DBF EXCLUSIVE" loses the option; "NONEXCLUSIVE.DBF" and "DATA/EXCLUSIVE_LOG" do not.
bool RemoveWord(std::string_view word, std::string& text);
std::string AnsiToOemStr(std::string_view text);
std::string OemToAnsiStr(std::string_view text);

// --- Paths --------------------------------------------------------------------------------

// The folder with its trailing separator (empty when the path has none), the name without the
// extension, and the extension with its point (from the last point of the name).
void FSplit(std::string_view path, std::string& dir, std::string& name, std::string& ext);
// When the path has no extension: folder + name (trailing blanks removed) + "." + ext;
// otherwise the path unchanged.
std::string DefaultExtension(std::string_view path, std::string_view ext);
// The path with its extension replaced by "." + ext.
std::string ForceExtension(std::string_view path, std::string_view ext);
std::string RemoveExtension(std::string_view path);
// The full path (platform::FullPath): absolute, "/" separators, "." and ".." resolved.
std::string ExpandPath(std::string_view path);
// Each component of the path (trimmed on the right) as it is spelled on the disk (this
// system has no separate short names); empty when any component does not exist.
std::string ShortPath(std::string_view path);

// --- Files --------------------------------------------------------------------------------

// Result of the last directory search or file-date query: 0, or the DOS-style code.
extern uint16_t DosError;
// The entries the last EraseFiles failed to erase (until the next call).
extern std::vector<std::string> FilesNotErased;

// A regular file of that name exists (found without regard to case).
bool FileExistsS(std::string_view path);
// The date stamp of an open file (File::DateStamp); 0 on failure. Sets DosError.
uint32_t FileDateOf(const platform::File& file);
// The file exists, opens for reading while others may read and write (mode 64), and its date
// stamp carries today's date.
bool FileDatedToday(std::string_view path);
// Opens the file exclusively (mode 16) to make sure nobody has it open, then erases it: 0, or
// the code of the failing open or erase (32 when someone holds it open).
uint16_t EraseFile(std::string_view path);
// Erases one file, or every ordinary file matching a mask with "*" or "?". Clears DbLastError
// and FilesNotErased first. One file: a failure is error <code> "Error erasing " + mask. A
// mask: failures are counted and kept in FilesNotErased, then reported as error 5 "Could not
// erase " + count + " files like " + mask.
void EraseFiles(std::string_view mask);
// Free space in KB available to the caller on the file system of the path (the current folder
// for an empty one); 7FFFFFFFh when the query fails or the space is larger.
uint32_t DiskFreeKB(std::string_view path);
// DiskFreeKB of a drive: 0 the current folder; this system has no drive letters, so every
// other drive number is the root "/".
uint32_t DiskFreeOfDrive(int drive);
// A new empty file with a unique name starting "TZP" in $TMPDIR (else /tmp); its full path.
// Failure: error <code> "Error requesting unique file name [UniqueFilename]" and an empty
// result.
std::string UniqueFilename();

// A directory search (platform::DirSearch) whose results land in DosError.
struct TSearchRec {
  platform::DirEntry entry;  // the current match
  platform::DirSearch search;
};
// Starts a search with a mask ("data/*.dbf") and attributes (platform::FileAttribute); 0 or
// the code, also in DosError.
uint16_t DbFindFirst(std::string_view mask, unsigned attributes, TSearchRec& rec);
uint16_t DbFindNext(TSearchRec& rec);
void DbFindClose(TSearchRec& rec);

}  // namespace tz
