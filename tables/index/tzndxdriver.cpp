// The index routine table through which the work-area engine reaches the index engine, the
// key maintenance of appends and replaces behind it, and the unit's start and end.
#include "tables/engine/tzcommon.h"
#include "tables/engine/tzutils.h"
#include "tables/index/tzndxint.h"
#include "tables/index/tzndxlow.h"

namespace tz {
namespace ndx {
namespace {

int g_key_maker_tag = 1;

TOrder* Position1() {
  TIndexArea* ia = FindArea();
  return ia ? ia->At(1) : nullptr;
}

TOrder* ByTag(int tag) {
  TIndexArea* ia = FindArea();
  return ia && tag >= 1 && tag <= kMaxTags ? ia->orders[tag].get() : nullptr;
}

// Runs a positioning routine for the engine: an ETarazedError becomes 0.
template <int32_t (*Routine)()>
int32_t Guarded() {
  try {
    return Routine();
  } catch (const ETarazedError&) {
    return 0;
  }
}

// Switches natural order off for the life of the object.
class IndexOrderOn {
 public:
  explicit IndexOrderOn(TIndexArea& ia) : ia_(ia), saved_(ia.natural) { ia.natural = false; }
  ~IndexOrderOn() { ia_.natural = saved_; }
  IndexOrderOn(const IndexOrderOn&) = delete;
  IndexOrderOn& operator=(const IndexOrderOn&) = delete;

 private:
  TIndexArea& ia_;
  bool saved_;
};

bool HasIndexOrder() {
  return Position1() != nullptr;
}

void SyncIndexPosition() {
  SyncIndex(false);
}

bool IndexEof() {
  TIndexArea* ia = FindArea();
  const TDbfTable& t = Wa().Table;
  if (!ia || ia->natural || !ia->At(1)) return t.AtEnd;
  // The blank record past the end (GO past the table) is the end in every order.
  return ia->At(1)->eof || t.OnBlankRecord || t.CurrentRecord > t.RecordCount;
}

bool IndexBof() {
  TIndexArea* ia = FindArea();
  if (!ia || ia->natural || !ia->At(1)) return Wa().Table.AtBeginning;
  return ia->At(1)->bof;
}

void IndexSetBof() {
  if (TOrder* o = Position1()) o->bof = true;
}

void IndexSetEof() {
  if (TOrder* o = Position1()) o->eof = true;
}

// The new record's key into every open tag; false (error stored) when one failed and the
// keys added to the others were taken back.
bool AddNewKeys(TIndexArea* ia) {
  IndexOrderOn order(*ia);
  IndexChanged();
  TWorkArea& wa = Wa();
  const int32_t record = wa.Table.CurrentRecord;
  struct Added {
    TOrder* order;
    std::vector<uint8_t> key;
  };
  std::vector<Added> added;
  for (int tag = 1; tag <= kMaxTags; ++tag) {
    TOrder* o = ia->orders[tag].get();
    if (!o) continue;
    std::vector<uint8_t> key(static_cast<size_t>(o->KeyLength()));
    int result = MakeKey(wa, *o, key.data()) ? AppendIndex(*ia, *o, key.data(), record) : -1;
    if (result > 0) added.push_back({o, std::move(key)});
    if (result >= 0) continue;
    // Take back what this append added to the other tags.
    uint16_t code = DbLastError;
    std::string context = DbErrorContext;
    for (auto it = added.rbegin(); it != added.rend(); ++it) {
      if (DeleteKey(*ia, *it->order, it->key.data(), record) != 0) {
        SetDbError(254,
                   "Index file corrupted. " + OrderDescription(it->order->tag) + " [AppendNewKey]");
        return false;
      }
    }
    if (code == 0)
      code = 254, context = "Key not added: " + OrderDescription(tag) + " [AppendNewKey]";
    SetDbError(code, context);
    return false;
  }
  return true;
}

void AppendNewKey() {
  TIndexArea* ia = FindArea();
  if (!ia) return;
  uint16_t code = 0;
  std::string context;
  {
    // An error raised in the middle would skip the take-back: it is reported once that is done.
    ScopedReporting quiet(false);
    if (!AddNewKeys(ia)) {
      code = DbLastError;
      context = DbErrorContext;
      // The record stays in the table, in no tag; the current order stands where its key
      // would be, so that a walk from it goes on to its neighbours.
      TOrder* o = ia->At(1);
      if (o && !ia->natural) {
        std::vector<uint8_t> key(static_cast<size_t>(o->KeyLength()));
        bool made = MakeKey(Wa(), *o, key.data()) && DbLastError == code;
        DbLastError = code, DbErrorContext = context;
        StandInGap(*ia, *o, made ? key.data() : nullptr);
      }
    }
  }
  if (code != 0) {
    SetDbError(code, context);
    return;
  }
  FlushHeader(*ia);
  SyncIndex(false);  // after the natural order is back: there the table stays on the new record
  MakeCurrentKey();
}

void SaveKeysBeforeReplace() {
  // Another program may have changed the tree (a new root) since this one last looked; its
  // old tag headers would lead the key changes into a part of the tree and write it back as
  // the whole.
  IndexChanged();
  SyncOrders(false, false);
  MakeCurrentKeys(true);
}

void UpdateKeysAfterReplace() {
  TIndexArea* ia = FindArea();
  if (!ia) return;
  bool moved;
  {
    IndexOrderOn order(*ia);
    moved = CompareKeys(*ia);
  }
  FlushHeader(*ia);
  if (moved) {
    if (DbLastError == 0) SyncIndex(false);
    MakeCurrentKey();
    return;
  }
  // The record and every tag are as before the replace: the current order finds the record
  // again, then the error is reported.
  uint16_t code = DbLastError;
  std::string context = DbErrorContext;
  {
    ScopedReporting quiet(false);
    SyncIndex(false);
    MakeCurrentKey();
  }
  SetDbError(code, context);
}

bool ReindexSlot() {
  return Reindex();
}

void CloseIndexesSlot() {
  CloseIndexes();
}

bool OpenProductionIndexSlot() {
  return OpenProductionIndex();
}

void GetOrderDescription(int tag, std::string& text) {
  text = OrderDescription(tag);
}

// The current record's key of the key-maker order as text.
std::string OrderKeyText() {
  TOrder* o = ByTag(g_key_maker_tag);
  if (!o) return "";
  const void* result = EvaluateExpr(o->key_expr.get());
  if (!result) return "";
  switch (o->KeyType()) {
    case 'C':
      return std::string(static_cast<const char*>(result),
                         std::min<size_t>(o->key_expr->result_length, 100));
    case 'D': {
      double julian;
      std::memcpy(&julian, result, sizeof julian);
      return JulianToDateStr(julian);
    }
    default: {
      double value;
      std::memcpy(&value, result, sizeof value);
      return FloatToStrDec(o->key_expr->result_width, o->key_expr->decimals, value);
    }
  }
}

std::string RecordNumberText() {
  return "Rec:" + IntToStrW(Wa().Table.CurrentRecord, 10);
}

KeyTextProc GetOrderKeyProc(int tag) {
  if (!ByTag(tag)) return nullptr;
  g_key_maker_tag = tag;
  return OrderKeyText;
}

KeyTextProc GetCurrentKeyProc() {
  TIndexArea* ia = FindArea();
  if (!ia || !ia->At(1)) return nullptr;
  if (ia->natural) return RecordNumberText;
  return GetOrderKeyProc(ia->current);
}

int OrderIsAscending(int tag) {
  TOrder* o = ByTag(tag);
  return o && o->complement ? 0 : 1;
}

int OrderKeyFlag(int tag) {
  TOrder* o = ByTag(tag);
  return o ? o->upper_flag : 0;
}

}  // namespace
}  // namespace ndx

using namespace ndx;

void IndexInit() {
  IndexFileMode = -1;
  SemaphoreDirectory.clear();
  SemaphoreTimeout = 100;
  SemaphoreLockWaitMs = 10000;
  IndexBuildWaitMs = 100000;
  IndexBuildRunItems = 8189;
  IndexDateProc = nullptr;
  IndexFound = 0;
  SetExactOff();
  SetIndexProgressHook(nullptr, 0);
  g_key_maker_tag = 1;
  TIndexDriver& d = IndexDriver;
  d.HasIndexOrder = HasIndexOrder;
  d.SyncIndexPosition = SyncIndexPosition;
  d.IndexNextRec = Guarded<_FindNextRec>;
  d.IndexPriorRec = Guarded<_FindPriorRec>;
  d.IndexFirstRec = Guarded<FindFirstRec>;
  d.IndexLastRec = Guarded<FindLastRec>;
  d.IndexEof = IndexEof;
  d.IndexBof = IndexBof;
  d.AppendNewKey = AppendNewKey;
  d.MakeCurrentKey = MakeCurrentKey;
  d.SaveKeysBeforeReplace = SaveKeysBeforeReplace;
  d.UpdateKeysAfterReplace = UpdateKeysAfterReplace;
  d.IndexSetBof = IndexSetBof;
  d.IndexSetEof = IndexSetEof;
  d.IndexFound = &IndexFound;
  d.Reindex = ReindexSlot;
  d.CloseIndexes = CloseIndexesSlot;
  d.OpenProductionIndex = OpenProductionIndexSlot;
  d.GetOrderDescription = GetOrderDescription;
  d.GetOrderKeyProc = GetOrderKeyProc;
  d.GetCurrentKeyProc = GetCurrentKeyProc;
  d.OrderIsAscending = OrderIsAscending;
  d.OrderKeyFlag = OrderKeyFlag;
  d.SetReadSemaphoreProc = SetReadSemaphoreProc;
  d.SetLockSemaphoreProc = SetLockSemaphoreProc;
  IndexDriverLinked = true;
}

void IndexDone() {
  uint8_t saved = CurrentWorkArea;
  for (int n = 1; n <= 34; ++n) {
    CurrentWorkArea = static_cast<uint8_t>(n);
    try {
      CloseIndexes();
    } catch (const ETarazedError&) {
      break;
    }
  }
  CurrentWorkArea = saved;
  IndexDriverLinked = false;
}

}  // namespace tz
