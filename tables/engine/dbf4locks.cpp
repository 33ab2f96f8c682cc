// Record and append locks of the selected work area.
#include <algorithm>

#include "platform/clock.h"
#include "platform/ui.h"
#include "tables/engine/dbf4.h"
#include "tables/engine/tzcommon.h"

namespace tz {

uint16_t DbMaxRecordLocks = 0;
uint8_t DbLockRetries = 0;
uint8_t DbLockRetryWait = 0;
std::function<bool()> DbLockRetryProc;

namespace {

constexpr uint64_t kGuardByte = DbLockBase;
constexpr uint64_t kAppendByte = DbLockBase + 1;

uint64_t RecordRegion(const TDbfTable& t, int32_t n) {
  return DbLockBase + t.HeaderSize + static_cast<uint64_t>(n - 1) * t.RecordSize;
}

bool TouchesRegions(const TWorkArea& wa) {
  return DbNetworkLocking && !wa.Exclusive;
}

// Waits `seconds` pumping events; false when the program is terminating.
bool RetryWait(int seconds) {
  uint64_t deadline = platform::NowMs() + static_cast<uint64_t>(seconds) * 1000;
  do {
    platform::ProcessEvents();
    if (platform::Terminating()) return false;
    platform::SleepMs(1);
  } while (platform::NowMs() < deadline);
  return !platform::Terminating();
}

// Removes the node at `index` of the lock list, releasing its region: the release's code.
uint16_t RemoveLock(TWorkArea& wa, size_t index) {
  int32_t recno = wa.LockList[index];
  uint16_t rc = TouchesRegions(wa) ? LockRegion(true, wa.Table.File, RecordRegion(wa.Table, recno),
                                                wa.Table.RecordSize)
                                   : 0;
  wa.LockList.erase(wa.LockList.begin() + static_cast<std::ptrdiff_t>(index));
  wa.LockCount = static_cast<uint16_t>(wa.LockList.size());
  if (wa.LockCount == 0) wa.LockState = 0;
  return rc;
}

}  // namespace

uint16_t LockRegion(bool unlock, platform::File& file, uint64_t offset, uint64_t length) {
  if (!DbNetworkLocking) return 0;
  return static_cast<uint16_t>(unlock ? file.UnlockRange(offset, length)
                                      : file.LockRange(offset, length));
}

bool LockWithRetry(platform::File& file, uint64_t offset, uint64_t length) {
  int attempt = 0;
  while (true) {
    if (LockRegion(false, file, offset, length) == 0) return true;
    if (attempt < DbLockRetries && !RetryWait(DbLockRetryWait)) return false;
    ++attempt;
    if (attempt > DbLockRetries && DbLockRetryProc && DbLockRetryProc()) attempt = 0;
    if (attempt > DbLockRetries) return false;
  }
}

bool LockFileByte() {
  if (CheckDbInUse("LockFileByte")) return false;
  if (!DbNetworkLocking) return true;
  return LockRegion(false, SelectedArea()->Table.File, kGuardByte, 1) == 0;
}

void UnlockFileByte() {
  if (CheckDbInUse("UnlockFileByte")) return;
  TWorkArea& wa = *SelectedArea();
  if (uint16_t rc = LockRegion(true, wa.Table.File, kGuardByte, 1); rc != 0)
    SetDbError(rc, "Error attempting to UNLOCK file " + wa.Table.FileName + " in Workarea " +
                       std::to_string(CurrentWorkArea));
}

bool ALock() {
  if (CheckDbInUse("ALock")) return false;
  TWorkArea& wa = *SelectedArea();
  if (wa.LockState == 2) return true;
  if (wa.LockState == 3) return false;
  if (TouchesRegions(wa) && !LockWithRetry(wa.Table.File, kAppendByte, 1)) return false;
  wa.LockState = 2;
  return true;
}

bool RLock() {
  if (CheckDbInUse("RLock")) return false;
  TWorkArea& wa = *SelectedArea();
  TDbfTable& t = wa.Table;
  // The blank record has no region of its own: a region at record 0 would cover the guard and
  // append bytes and block every other program's appends.
  if (t.OnBlankRecord || t.CurrentRecord < 1) return false;
  if (wa.LockState == 3 && std::count(wa.LockList.begin(), wa.LockList.end(), t.CurrentRecord))
    return true;
  if (DbMaxRecordLocks != 0 && wa.LockCount >= DbMaxRecordLocks) {
    SetDbError(212, "Tarazed record lock limit exceeded [RLock]");
    return false;
  }
  if (wa.LockState == 2) return false;
  if (TouchesRegions(wa) && !LockWithRetry(t.File, RecordRegion(t, t.CurrentRecord), t.RecordSize))
    return false;
  wa.LockList.push_back(t.CurrentRecord);
  wa.LockCount = static_cast<uint16_t>(wa.LockList.size());
  wa.LockState = 3;
  return true;
}

bool IsLocked(int32_t recno) {
  if (CheckDbInUse("IsLocked")) return false;
  const auto& list = SelectedArea()->LockList;
  return std::find(list.begin(), list.end(), recno) != list.end();
}

bool UnlockRec(int32_t which) {
  DbLastError = 0;
  if (CheckDbInUse("UnlockRec")) return false;
  TWorkArea& wa = *SelectedArea();
  if (which >= 1) {
    auto it = std::find(wa.LockList.begin(), wa.LockList.end(), which);
    if (it == wa.LockList.end()) {
      DbLastError = 220;
      DbErrorContext = "Record not locked. [UnlockRec(" + std::to_string(which) + ")]";
      return false;
    }
    uint16_t rc = RemoveLock(wa, static_cast<size_t>(it - wa.LockList.begin()));
    DbLastError = rc;
    return rc == 0;
  }
  if (which == -1 || which == -2) {
    if (wa.LockList.empty()) return true;
    uint16_t rc = RemoveLock(wa, which == -1 ? 0 : wa.LockList.size() - 1);
    DbLastError = rc;
    return rc == 0;
  }
  if (which == -3) {
    bool ok = true;
    while (!wa.LockList.empty()) {
      if (uint16_t rc = RemoveLock(wa, wa.LockList.size() - 1); rc != 0) {
        DbLastError = rc;
        ok = false;
      }
    }
    return ok;
  }
  DbLastError = 220;
  DbErrorContext = "[UnlockRec(" + std::to_string(which) + ")]";
  return false;
}

void Unlock() {
  DbLastError = 0;
  if (CheckDbInUse("Unlock")) return;
  TWorkArea& wa = *SelectedArea();
  if (wa.LockState == 3) {
    UnlockRec(-3);
  } else if (wa.LockState == 2 && TouchesRegions(wa)) {
    DbLastError = LockRegion(true, wa.Table.File, kAppendByte, 1);
  }
  wa.LockState = 0;
}

}  // namespace tz
