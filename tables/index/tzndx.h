// The index engine: multi-tag production index files (.MDX) beside the tables, their build,
// the index orders of a work area (positioning, seek, key maintenance) and the semaphore files
// through which several programs share one index.
//
// File layout (all integers little-endian; a block is 512 bytes, a node 1024):
//   header, 2048 bytes at 0: 0 version 2; 1-3 creation date (year - 1900, month, day); 4-19
//     the table's name without folder and extension, zero-terminated; 20 block size in blocks
//     (2); 22 block size in bytes (1024); 24 production flag 1; 25 tag table entries (48); 26
//     entry length (32); 28 tags in use; 32 page count (the file size / 512); 44-46 date of
//     last update; 512 + 32 k tag table entry k (entry 0 holds only threads).
//   tag table entry, 32 bytes: 0 block of the tag header; 4-14 name in upper case,
//     zero-terminated; 16 lower, 17 upper, 18 parent thread of the name tree; 19 always 2;
//     20 key type letter.
//   tag header, 1024 bytes (983 used): 0 root block; 8 flags (10h, 08h descending, 40h
//     unique); 9 key type ('C', 'D', 'F', 'N'); 12 key length (1..100); 14 keys per node
//     (1012 div entry length); 16 secondary type (1 for D); 18 entry length (key length
//     rounded up to 4, plus 4); 23 unique 1; 24-244 key expression; 245 has FOR; 246 a record
//     has passed the FOR condition; 762-982 FOR expression.
//   node, 1024 bytes: 0 key count; 8 entries (4-byte pointer, key, zeros to the entry
//     length) in key order; then the trailing pointer: 0 in a leaf, in an inner node the
//     child for keys above every key of the node. A leaf's pointer is a record number, an
//     inner node's the child's block; an inner entry's key is the largest key below it.
//   Keys: C the text in the table's character set, blank-padded or cut to the key length;
//   N and F the 12-byte packed decimal of tzndxlow.h; D the Julian day as an 8-byte double. A
//   descending tag stores its keys as an ascending one and compares with operands exchanged.
//
// Every work area holds at most one open index file with up to 47 tags (orders). Position 1 is
// the current order; tag numbers are the tag table's entry numbers. Everything read from a
// file is checked before it is used: a bad count, length or node number is error 222.
//
// Errors go through SetDbError (tzcommon.h) with the codes and texts each routine names; the
// routines answer false, 0 or empty afterwards, and in raise mode SetDbError throws
// ETarazedError (every order, file and bracket is owned by the work area's index state, so
// nothing stays half open). The engine reaches this unit only through IndexDriver, which
// IndexInit fills. All of it runs on one thread; the semaphore waits block for at most their
// time-out in sleeps of a millisecond and never pump events.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tz {

// One tag definition for MakeIndex: the first T/F flag of an index definition line is
// Descending, the second Unique. A list ends at its end or at an entry with an empty name.
struct TIndexListEntry {
  std::string TagName;  // at most 10 characters
  std::string KeyExpr;  // at most 220 characters
  std::string ForExpr;  // may be empty
  bool Descending = false;
  bool Unique = false;
};

// --- Settings of the unit (start values in brackets; IndexInit sets them) -----------------

// The DOS file mode index files are opened with; -1 chooses 2, or 66 for a shared table with
// network locking on [-1]. A mode with bit 40h (sharing) also logs in to the semaphore file.
extern int IndexFileMode;
// The folder of the semaphore files; empty puts them beside the table [""].
extern std::string SemaphoreDirectory;
// Seconds a writer waits for readers to leave; 0 waits for ever [100].
extern uint32_t SemaphoreTimeout;
// Milliseconds a station tries the semaphore file's region lock (and, to log in or out, the
// table's semaphore guard byte) before it gives up with error 1202, whose text speaks of the
// ten seconds of the start value [10000].
extern uint32_t SemaphoreLockWaitMs;
// Milliseconds an open of a shared table waits while another program builds or opens the
// same production index (IndexBuildLock) [100000].
extern uint32_t IndexBuildWaitMs;
// Items the build keeps in memory before it spills a sorted run to a temporary file [8189];
// kept at 2 at least.
extern uint32_t IndexBuildRunItems;
// Gives the date of new index headers (year, month, day); nullptr takes today's date.
extern void (*IndexDateProc)(int& year, int& month, int& day);

// --- Files, tags and opening -----------------------------------------------------------

// Loads the header of an existing file into the selected work area's index state, or creates
// the file with a fresh header (today's date, the table's name). False on an I/O failure
// (the I/O code, "Unable to open index: " + name).
bool CreateMdxHeader(const std::string& file_name);
// Tags in use in the loaded header; 0 when none is loaded.
uint8_t MdxTagCount();
// Writes tag `tag`'s header (when the file is flushed, also fsync); false on an I/O failure.
bool WriteAnchor(int tag);
// Reads the tag header of every open order again from the file (after another program
// changed the index).
bool ReadAnchorNodes();
// Opens an index file for the selected work area and reads every tag; tag 1 becomes the
// current order and the table goes to its first record in that order, counting the records the
// file holds (another program may be appending). An index that a station which died inside a
// bracket may have left without a record's keys (the semaphore file counts activity nobody
// holds) is first rebuilt in place, without a report. False on failure (the file is closed
// again): the I/O code or 222 "Unable to open index: " + name, 222 "Invalid dBASE key
// expression or corrupted index file " + name, 266 "Incorrect key length: Must be 1 to 100. " +
// name, or the error of a failed rebuild.
bool OpenIndex(const std::string& file_name);
// The full name SetIndexTo and MakeIndex use for `name`: trimmed; empty gives the table's name
// with the extension "MDX"; without an extension "MDX" is added; without a folder the table's
// folder is put in front.
std::string IndexFileNameFor(const std::string& name);
// Closes the work area's indexes, logs in to the semaphore file (shared use) and opens the
// index file: error 2 "SetIndexTo(" + name + ")" when it is missing.
bool SetIndexTo(const std::string& name);
bool OpenProductionIndex();
// Closes every order and the index file of the selected work area (errors are not reported)
// and logs out of the semaphore file.
void CloseIndexes();
// The build lock of the selected table's production index, held for the life of the object
// (or until Release): a program holds it from its first look at the index file until the index
// is open, or built and open, so that of two programs that open a shared table at one moment
// one builds the index and the other waits for that and then opens what it made. It is the
// table's DbIndexBuildByte (dbf4.h), an OFD lock through the work area's table file, which the
// system drops with a program that dies. An exclusive table needs none, and without network
// locking none is taken.
class IndexBuildLock {
 public:
  IndexBuildLock() = default;
  ~IndexBuildLock() { Release(); }
  IndexBuildLock(const IndexBuildLock&) = delete;
  IndexBuildLock& operator=(const IndexBuildLock&) = delete;
  // Takes the lock, trying again for IndexBuildWaitMs in sleeps of a millisecond (events are
  // not pumped). True once it is held, or when none is needed or the table file cannot hold one
  // (a file the user may only read). False when the wait ran out, with error 33 "<n> ms
  // timeout: another program is building or opening the index " + `index_file` + "
  // [IndexBuildLock]" reported.
  bool Take(const std::string& index_file);
  // Releases the lock when it is held and its table still open.
  void Release();

 private:
  uint8_t area_ = 0;  // the work area whose table file holds the lock; 0 none
  const void* table_ = nullptr;
};
// Replaces `list` by two lines per tag of the file: "NAME,T,F,KEY EXPR" (descending, unique)
// and the FOR expression or an empty line. A missing or unreadable file leaves it empty.
void GetMdxTagList(std::vector<std::string>& list, const std::string& file_name);
// Index file name + " [tag: " + tag name + "]"; empty when the order is not open.
std::string OrderDescription(int tag);
// The tag name of the current order; empty in natural order or without an order.
std::string CurrentTagName();
// The name in tag table entry n; empty for 0 or above the tag count.
std::string MdxTagName(int n);
// Letters upper-cased outside quotes; blanks, quotes and quoted text kept as they are.
std::string NormalizeExpression(const std::string& text);

// --- Building ----------------------------------------------------------------------------

// Builds a new index file for the selected work area from the list (the exclusive reopen of a
// shared table included) and leaves it closed. True when every tag was built; a tag that
// fails does not stop the tags after it.
bool MakeIndex(const std::vector<TIndexListEntry>& list, const std::string& file_name);
// Builds one tag into the open index file of MakeIndex.
bool AddIndexTag(const TIndexListEntry& entry, bool reopen);
// Rebuilds every tag of the open index and opens it again; the current tag stays current.
bool Reindex();
// The build calls `routine` `count` times per tag, spread over the records; a count of 0
// removes it.
void SetIndexProgressHook(std::function<void()> routine, int count);

// --- Orders and positioning ------------------------------------------------------------

// Set by the last positioning: it found what it looked for.
extern uint8_t IndexFound;
// Makes tag n the current order; 0 natural order. 220 past the tag count.
void Set_Order_To(int n);
// The tag of that name (whole names, any case); empty: natural order. False and 220 for none.
bool SetOrderToTag(const std::string& name);
// Tag number of the current order; 0 in natural order or without an order.
uint8_t CurrentOrder();
int32_t FindFirstRec();
int32_t FindLastRec();
int32_t _FindNextRec();
int32_t _FindPriorRec();
// Seeks a key text in the current order and goes to its record (EOF and IndexFound 0 when
// not found). A C key matches by prefix unless exact matching is on.
void Find(const std::string& key);
// Switch exact matching of Find; return the previous setting.
bool SetExactOn();
bool SetExactOff();
// Finds the current record in the current order (all: in every order).
void SyncIndex(bool all);
void SoftSyncIndex();
// The current record's key into the current order's key buffer (all: every order's).
void MakeCurrentKeys(bool all);
void MakeCurrentKey();

// --- Semaphore files ---------------------------------------------------------------------

enum SemaphoreAction : int {
  kSemLogin = 0,
  kSemLogout = 1,
  kSemIncRead = 2,
  kSemDecRead = 3,
  kSemLock = 4,
  kSemUnlock = 5,
};
std::string SemaphoreActionName(int action);
// The selected table's semaphore file: its name with the extension ".@S@", in
// SemaphoreDirectory when that is set.
std::string SemaphoreFileName();
// One action for the selected work area; nothing for an exclusive table. Logins and activity
// of stations that died are taken out of the record by the next station that holds its lock;
// dead activity has that station rebuild the index in place before it reads or writes it.
void HandleSemafore(int action);
// The read and write brackets (1 begin, 0 end); nested brackets act once.
void SetReadSemaphoreProc(int begin);
void SetLockSemaphoreProc(int begin);

// --- Unit start ----------------------------------------------------------------------------

// Sets the unit's start values and fills IndexDriver (run by StartTarazed).
void IndexInit();
// Closes the indexes of every work area (run by EndTarazed).
void IndexDone();

}  // namespace tz
