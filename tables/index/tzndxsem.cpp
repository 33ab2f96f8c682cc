// Semaphore files: programs that share a table's index register in a 4-byte record beside the
// table (logins, readers inside a read bracket or 1 while a writer holds it, a change counter),
// guarded by a byte-range lock on its bytes 1 to 4 and, for logins, by the table's guard byte.
//
// A station that dies keeps its counts in the record. So that it never blocks the others, every
// station also holds a lock that the system drops when the process dies (OFD locks,
// platform/files.h): one byte of the login range for as long as it is logged in, the same byte
// of the reader range while it counts as a reader; a writer is the holder of the region lock
// for its whole bracket. Both bytes change only under the region lock, so whoever holds that
// lock reads the live logins and readers off the bytes locked (the audit). Activity nobody
// holds is a dead reader's or a dead writer's: the two cannot be told apart, and a dead writer
// may have left a record without its keys or a node split half done, so the index is then
// rebuilt before this station trusts it (in place, under the write semaphore: other stations
// keep the file they have open).
//
// The dead activity stays in the record until the index is rebuilt: it is the one mark of the
// suspect index that outlives the station that found it, which may die, or leave, before it
// rebuilds. It goes only when a station takes the write semaphore over it, and that station's
// own activity, which nobody holds once it dies, stands in for it until the rebuild is done.
#include "platform/clock.h"
#include "tables/engine/timedate.h"
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzutils.h"
#include "tables/index/tzndxint.h"

namespace tz {
namespace ndx {

struct TSemaphore {
  platform::File file;
  std::string name;
  std::array<uint8_t, 4> record{};  // logins, activity, change counter (16 bits)
  uint8_t logins = 0;
  uint16_t last_counter = 0;  // the change counter this station last acted upon
  bool reader = false;        // counted in the activity as a reader
  bool region_locked = false;
  int32_t read_nesting = 0;
  int32_t write_nesting = 0;
  int slot = -1;         // the byte of the login and reader ranges this station holds
  uint8_t dead = 0;      // activity counted in the record that no live station holds
  bool suspect = false;  // a dead station's activity was found: the index needs its rebuild
  bool repairing = false;
};

void TSemaphoreFree::operator()(TSemaphore* s) const {
  delete s;
}

namespace {

constexpr uint64_t kRegionOffset = 1;
constexpr uint64_t kRegionLength = 4;
// The liveness bytes, beyond the record (locks need no data under them); one slot per
// station, as many as the login count can count.
constexpr uint64_t kLoginLocks = 0x100;
constexpr uint64_t kReaderLocks = 0x200;
constexpr int kSlots = 255;

const char* const kActionNames[] = {"LOGIN",   "LOGOUT",        "INCREAD",
                                    "DECREAD", "LOCKSEMAPHORE", "UNLOCKSEMAPHORE"};

uint16_t Counter(const TSemaphore& s) {
  return Get16(&s.record[2]);
}

// Tries `attempt` until it answers 0 or the wait is over; the last answer.
template <typename Attempt>
int Retry(Attempt attempt) {
  uint64_t start = platform::NowMs();
  while (true) {
    int rc = attempt();
    if (rc == 0 || platform::NowMs() - start > SemaphoreLockWaitMs) return rc;
    platform::SleepMs(1);
  }
}

std::string FileErrorText(const std::string& prefix, const TSemaphore& s, int action) {
  return prefix + s.name + " Action=" + kActionNames[action] + " [Database Semaphore]";
}

bool RegionLock(TSemaphore& s, int action) {
  int rc = Retry([&s] { return LockRegion(false, s.file, kRegionOffset, kRegionLength); });
  if (rc != 0)
    return Fail(1202, "10 second timeout: Cannot lock index semaphore file: " + s.name + " " +
                          kActionNames[action] + "\r\n" +
                          "Possible cause: Network lock limit exceeded" + "\r\n" +
                          " Lock result code: " + std::to_string(rc));
  s.region_locked = true;
  return true;
}

bool RegionUnlock(TSemaphore& s, int action) {
  if (!s.region_locked) return true;
  s.region_locked = false;
  if (uint16_t rc = LockRegion(true, s.file, kRegionOffset, kRegionLength); rc != 0)
    return Fail(static_cast<uint16_t>(rc),
                "Cannot unlock index semaphore file: " + s.name + " " + kActionNames[action]);
  return true;
}

bool ReadRecord(TSemaphore& s, int action) {
  size_t done = 0;
  int rc = s.file.ReadAt(0, s.record.data(), s.record.size(), &done);
  if (rc == 0 && done != s.record.size()) rc = 100;
  if (rc != 0) return Fail(static_cast<uint16_t>(rc), FileErrorText("Cannot read: ", s, action));
  return true;
}

bool WriteRecord(TSemaphore& s, int action) {
  if (int rc = s.file.WriteAt(0, s.record.data(), s.record.size()); rc != 0)
    return Fail(static_cast<uint16_t>(rc), FileErrorText("Cannot write to: ", s, action));
  return true;
}

// The bytes of [offset, offset + length) that other stations lock (each locks one at most).
int ForeignLocks(const platform::File& file, uint64_t offset, uint64_t length) {
  uint64_t at = 0, found = 0;
  if (length == 0 || file.FindForeignLock(offset, length, &at, &found) != 0 || found == 0)
    return 0;
  uint64_t low = std::max(at, offset);
  uint64_t high = std::min(at + found, offset + length);  // at + found never wraps
  return static_cast<int>(high - low) + ForeignLocks(file, offset, low - offset) +
         ForeignLocks(file, high, offset + length - high);
}

// Under the region lock, with the record just read, at a login or logout: logins that no live
// station holds are taken out and the record written again at once (they count only for the
// file's removal).
void AuditLogins(TSemaphore& s, int action) {
  int logins = ForeignLocks(s.file, kLoginLocks, kSlots) + (s.slot >= 0 ? 1 : 0);
  if (s.record[0] == logins) return;
  s.record[0] = static_cast<uint8_t>(logins);
  WriteRecord(s, action);
}

// Under the region lock, with the record just read: the activity in it that no live station
// holds (looked for only when it counts more than this station's own, so that shared reads
// cost what they did). Dead activity marks the index as suspect; the record keeps it.
void AuditActivity(TSemaphore& s) {
  const int own = s.reader ? 1 : 0;
  s.dead = 0;
  if (s.record[1] <= own) return;
  int live = ForeignLocks(s.file, kReaderLocks, kSlots) + own;
  if (s.record[1] <= live) return;
  s.dead = static_cast<uint8_t>(s.record[1] - live);
  s.suspect = true;
}

// The activity of live stations in the record just audited.
int LiveActivity(const TSemaphore& s) {
  return s.record[1] - s.dead;
}

// A station may rebuild its index once it has every tag open.
bool Ready(const TIndexArea& ia) {
  return ia.current != 0 && ia.file.IsOpen();
}

// The table's semaphore guard byte for LOGIN and LOGOUT, held for the life of the object.
class TableGuard {
 public:
  TableGuard(const TSemaphore& s, int action) {
    if (Retry([] { return LockFileByte() ? 0 : 1; }) == 0) {
      held_ = true;
    } else {
      Fail(1202, "Cannot lock database for: " + s.name + " Action=" + kActionNames[action] +
                     " [Database Semaphore]");
    }
  }
  ~TableGuard() {
    if (held_) UnlockFileByte();
  }
  TableGuard(const TableGuard&) = delete;
  TableGuard& operator=(const TableGuard&) = delete;
  bool Held() const { return held_; }

 private:
  bool held_ = false;
};

bool Login(TIndexArea& ia) {
  if (ia.semaphore) return true;
  ia.semaphore.reset(new TSemaphore);
  TSemaphore& s = *ia.semaphore;
  s.name = SemaphoreFileName();
  TableGuard guard(s, kSemLogin);
  if (!guard.Held()) {
    ia.semaphore.reset();
    return false;
  }
  auto fail = [&ia](const std::string& text, int rc) {
    ia.semaphore->file.Close();
    ia.semaphore.reset();
    return Fail(static_cast<uint16_t>(rc), text);
  };
  bool in_use = FileDatedToday(s.name);
  std::array<uint8_t, 4> left{};
  if (!in_use) {
    // Nobody may have it open for a reset: the share emulation tells live users apart.
    platform::File probe;
    int rc = probe.Open(s.name, platform::kModeReadExclusive);
    if (rc == 0) {
      // Everyone counted in it is gone: activity left in it was a dead station's.
      size_t done = 0;
      s.suspect = probe.ReadAt(0, left.data(), left.size(), &done) == 0 && done == left.size() &&
                  left[1] != 0;
    }
    probe.Close();
    if (rc == 0 || rc == platform::kErrFileNotFound) {
      rc = s.file.Create(s.name, platform::kModeReadWriteExclusive);
      if (rc != 0) return fail(FileErrorText("Cannot open/create: ", s, kSemLogin), rc);
      s.record = {};
      // The new record keeps the dead activity until the index is rebuilt.
      if (s.suspect) s.record[1] = left[1];
      if (!WriteRecord(s, kSemLogin)) return fail(DbErrorContext, DbLastError);
      s.file.Close();
      rc = s.file.Open(s.name, platform::kModeReadWriteShared);
      if (rc != 0) return fail(FileErrorText("Cannot open: ", s, kSemLogin), rc);
      if (!RegionLock(s, kSemLogin)) return fail(DbErrorContext, DbLastError);
      s.last_counter = 0;
    } else if (rc == 3 || rc == 5 || rc == 32 || rc == 150 || rc == 162 || rc == 163) {
      in_use = true;
    } else {
      return fail(FileErrorText("Cannot open/create: ", s, kSemLogin), rc);
    }
  }
  if (in_use) {
    int rc = s.file.Open(s.name, platform::kModeReadWriteShared);
    if (rc != 0) return fail(FileErrorText("Cannot open: ", s, kSemLogin), rc);
    if (!RegionLock(s, kSemLogin)) return fail(DbErrorContext, DbLastError);
    if (!ReadRecord(s, kSemLogin)) {
      RegionUnlock(s, kSemLogin);
      return fail(DbErrorContext, DbLastError);
    }
    AuditLogins(s, kSemLogin);
    AuditActivity(s);
  }
  for (int k = 0; k < kSlots && s.slot < 0; ++k)
    if (s.file.LockRange(kLoginLocks + k, 1) == 0) s.slot = k;
  if (s.slot < 0)
    return fail(FileErrorText("Cannot lock: ", s, kSemLogin), platform::kErrLockViolation);
  s.record[0] = static_cast<uint8_t>(s.record[0] + 1);
  s.logins = s.record[0];
  bool ok = WriteRecord(s, kSemLogin);
  RegionUnlock(s, kSemLogin);
  s.last_counter = Counter(s);
  return ok;
}

void Logout(TIndexArea& ia) {
  TSemaphore& s = *ia.semaphore;
  TableGuard guard(s, kSemLogout);
  bool idle = false;
  if (guard.Held() && RegionLock(s, kSemLogout)) {
    if (ReadRecord(s, kSemLogout)) {
      AuditLogins(s, kSemLogout);
      if (s.reader && s.record[1] > 0) --s.record[1];
      if (s.record[0] > 0) --s.record[0];
      s.logins = s.record[0];
      idle = s.record[1] == 0;
      WriteRecord(s, kSemLogout);
    }
    // Under the region lock, like the counts they stand for.
    s.file.UnlockRange(kReaderLocks, kSlots);
    s.file.UnlockRange(kLoginLocks, kSlots);
    RegionUnlock(s, kSemLogout);
  }
  s.file.Close();
  // Activity a dead station left stays for the next station to find.
  if (s.logins == 0 && idle && guard.Held()) platform::RemoveFile(s.name);
  ia.semaphore.reset();
}

void LockSemaphore(TIndexArea& ia, TSemaphore& s) {
  if (++s.write_nesting > 1 || s.region_locked) return;
  const uint32_t first_attempt = SecondsSinceStart();
  auto timed_out = [](uint32_t since) {
    return SemaphoreTimeout != 0 && SecondsSinceStart() - since > SemaphoreTimeout;
  };
  bool reporting = DbReportErrors;
  while (true) {
    const uint32_t attempt = SecondsSinceStart();
    bool read = false;
    {
      ScopedReporting quiet(false);
      while (!(read = ReadRecord(s, kSemLock)) && !timed_out(attempt)) platform::SleepMs(1);
      DbLastError = 0;
    }
    if (read) {
      if (!RegionLock(s, kSemLock)) return;
      if (!ReadRecord(s, kSemLock)) {
        RegionUnlock(s, kSemLock);
        return;
      }
      AuditActivity(s);
      if (LiveActivity(s) == 0) break;
      RegionUnlock(s, kSemLock);
    }
    if (!read || timed_out(first_attempt)) {
      (void)reporting;
      Fail(1202, std::to_string(SemaphoreTimeout) + " second timeout, cannot read: " + s.name +
                     "\r\n" + "Possible cause: Other user's program has terminated abnormally." +
                     "\r\n" + "Cure: Log all users of this application off the network," + "\r\n" +
                     "then delete " + s.name);
      return;
    }
    platform::SleepMs(1);
  }
  // Over dead activity too: this station's own stands in for it until the index is rebuilt.
  s.record[1] = 1;
  WriteRecord(s, kSemLock);
  if (s.suspect && Ready(ia) && !s.repairing) {
    s.repairing = true;
    bool rebuilt;
    {
      // A failure stays in DbLastError for the command (and the open reports it); the index
      // stays suspect, and the next write or read tries again.
      ScopedReporting quiet(false);
      rebuilt = RebuildTagsInPlace(ia);
    }
    s.repairing = false;
    s.suspect = !rebuilt;
  }
}

void UnlockSemaphore(TIndexArea& ia, TSemaphore& s) {
  if (--s.write_nesting < 0) {
    s.write_nesting = 0;
    Fail(254,
         "Unbalanced Lock/Unlock for semaphore file: " + s.name + " " + kActionNames[kSemUnlock]);
    return;
  }
  if (s.write_nesting != 0 || !s.region_locked) return;
  if (ReadRecord(s, kSemUnlock)) {
    // Nobody else wrote while this station held the lock, and its own writes went through
    // the node cache: what it keeps is still the file's after this change.
    const bool cache_current = ia.nodes.counter == Counter(s);
    Put16(&s.record[2], static_cast<uint16_t>(Counter(s) + 1));
    if (cache_current) ia.nodes.counter = Counter(s);
    // An index this station could not rebuild stays marked for the others to rebuild.
    s.record[1] = s.suspect ? 1 : 0;
    WriteRecord(s, kSemUnlock);
  }
  RegionUnlock(s, kSemUnlock);
  s.last_counter = Counter(s);
}

// This station's byte of the reader range follows its registration as a reader.
void HoldReaderByte(TSemaphore& s, bool hold) {
  if (s.slot < 0) return;
  if (hold)
    s.file.LockRange(kReaderLocks + static_cast<uint64_t>(s.slot), 1);
  else
    s.file.UnlockRange(kReaderLocks + static_cast<uint64_t>(s.slot), 1);
}

void ReadCount(TIndexArea& ia, TSemaphore& s, int action) {
  bool increment = action == kSemIncRead;
  if (increment) {
    ++s.read_nesting;
  } else if (--s.read_nesting < 0) {
    s.read_nesting = 0;
    Fail(254,
         "Unbalanced IncRead/DecRead for semaphore file: " + s.name + " " + kActionNames[action]);
    return;
  }
  if (increment ? s.read_nesting >= 2 : s.read_nesting >= 1) return;
  if (s.region_locked || s.reader == increment) return;
  if (!RegionLock(s, action)) return;
  bool read = ReadRecord(s, action);
  if (read) AuditActivity(s);
  if (read && increment && s.suspect && Ready(ia) && !s.repairing && LiveActivity(s) == 0) {
    // Rebuilt before this station reads it, as a writer. A reader never waits for readers:
    // while others read, the next read or write that finds nobody reading rebuilds it.
    RegionUnlock(s, action);
    LockSemaphore(ia, s);
    UnlockSemaphore(ia, s);
    if (!RegionLock(s, action)) return;
    read = ReadRecord(s, action);
  }
  s.reader = increment;
  HoldReaderByte(s, increment);
  if (read) {
    if (increment && s.record[1] != 127) ++s.record[1];
    if (!increment && s.record[1] != 0) --s.record[1];
    WriteRecord(s, action);
  }
  RegionUnlock(s, action);
}

}  // namespace

bool NodeCacheUsable(TIndexArea& ia) {
  if (!ia.semaphore) {
    if (Wa().Exclusive) return true;
    ia.nodes.Clear();  // shared without the semaphore protocol: nothing is kept
    return false;
  }
  const TSemaphore& s = *ia.semaphore;
  // A dead station may have written nodes without moving the counter.
  if (s.suspect) {
    ia.nodes.Clear();
    return false;
  }
  // Inside a bracket no other program writes: a reader is counted, a writer holds the lock.
  if (!(s.reader && s.read_nesting > 0) && !(s.region_locked && s.write_nesting > 0)) return false;
  if (ia.nodes.counter != Counter(s)) {
    ia.nodes.Clear();
    ia.nodes.counter = Counter(s);
  }
  return true;
}

bool IndexChanged() {
  TIndexArea* ia = FindArea();
  if (!ia || !ia->semaphore || Counter(*ia->semaphore) == ia->semaphore->last_counter) return false;
  ReadAnchorNodes();
  // The keys just read may belong to records the other program appended: whatever noticed
  // the change, the table must know them before it is positioned on one.
  RefreshRecCount(Wa());
  ia->semaphore->last_counter = Counter(*ia->semaphore);
  return true;
}

namespace {

// A table in exclusive use logs in nowhere, and nobody else has it open: a semaphore file left
// from its shared use counts only dead stations. Activity in it has the index rebuilt, and the
// file goes as with the last logout.
bool RepairAfterSharedUse(TIndexArea& ia) {
  const std::string name = SemaphoreFileName();
  std::array<uint8_t, 4> left{};
  {
    platform::File file;
    size_t done = 0;
    if (file.Open(name, platform::kModeReadShared) != 0 ||
        file.ReadAt(0, left.data(), left.size(), &done) != 0 || done != left.size() ||
        left[1] == 0)
      return true;
  }
  if (!RebuildTagsInPlace(ia)) return false;
  platform::RemoveFile(name);
  return true;
}

}  // namespace

bool RepairIfSuspect() {
  TIndexArea* ia = FindArea();
  if (!ia) return true;
  if (Wa().Exclusive) return RepairAfterSharedUse(*ia);
  if (!ia->semaphore || !ia->semaphore->suspect) return true;
  SetLockSemaphoreProc(1);  // the rebuild runs as the write semaphore is taken
  uint16_t code = DbLastError;
  std::string context = DbErrorContext;
  SetLockSemaphoreProc(0);
  if (code != 0) DbLastError = code, DbErrorContext = context;
  return !ia->semaphore->suspect;
}

ReadBracket::~ReadBracket() {
  try {
    SetReadSemaphoreProc(0);
  } catch (const ETarazedError&) {
    // Already unwinding from the error that matters.
  }
}

WriteBracket::~WriteBracket() {
  try {
    SetLockSemaphoreProc(0);
  } catch (const ETarazedError&) {
    // Already unwinding from the error that matters.
  }
}

}  // namespace ndx

using namespace ndx;

std::string SemaphoreActionName(int action) {
  return action >= 0 && action <= 5 ? kActionNames[action] : "";
}

std::string SemaphoreFileName() {
  TWorkArea* wa = SelectedArea();
  if (!wa) return "";
  std::string name = ForceExtension(wa->Table.FileName, "@S@");
  if (SemaphoreDirectory.empty()) return name;
  std::string dir = SemaphoreDirectory;
  if (dir.back() != '/' && dir.back() != '\\') dir += '/';
  return dir + TableFileName(name);
}

void HandleSemafore(int action) {
  if (CurrentWorkArea > 34) {
    SetDbError(
        254, "Work area [" + std::to_string(CurrentWorkArea) + " ] out of range. [HandleSemafore]");
    return;
  }
  TWorkArea* wa = SelectedArea();
  if (!wa || wa->Exclusive || action < 0 || action > 5) return;
  TIndexArea& ia = *Area();
  if (action == kSemLogin) {
    Login(ia);
    return;
  }
  if (!ia.semaphore) return;
  switch (action) {
    case kSemLogout:
      Logout(ia);
      break;
    case kSemIncRead:
    case kSemDecRead:
      ReadCount(ia, *ia.semaphore, action);
      break;
    case kSemLock:
      LockSemaphore(ia, *ia.semaphore);
      break;
    default:
      UnlockSemaphore(ia, *ia.semaphore);
      break;
  }
}

namespace {

void Bracket(int begin, int TIndexArea::*depth, int start, int end, const char* routine) {
  TIndexArea* ia = FindArea();
  if (!ia) return;
  if (begin) {
    if (ia->*depth == 0) {
      try {
        HandleSemafore(start);
      } catch (const ETarazedError&) {
        // The bracket does not begin, and so its end never comes: what the start counted goes
        // back as that end would take it back (with reporting off the end does come).
        {
          TQuietCleanup quiet;
          HandleSemafore(end);
        }
        throw;
      }
    }
    ++(ia->*depth);
    return;
  }
  if (--(ia->*depth) < 0) {
    ia->*depth = 0;
    SetDbError(254, std::string("Non-symmetrical Lock-Unlock [") + routine + "]");
    return;
  }
  if (ia->*depth == 0) HandleSemafore(end);
}

}  // namespace

void SetReadSemaphoreProc(int begin) {
  Bracket(begin, &TIndexArea::read_depth, kSemIncRead, kSemDecRead, "SetReadSemaphoreProc");
}

void SetLockSemaphoreProc(int begin) {
  Bracket(begin, &TIndexArea::write_depth, kSemLock, kSemUnlock, "SetLockSemaphoreProc");
}

}  // namespace tz
