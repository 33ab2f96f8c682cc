#include "tables/engine/tzstart.h"

#include "tables/engine/dbf4.h"
#include "tables/engine/memo.h"
#include "tables/engine/tzcommon.h"
#include "tables/index/tzndx.h"
#include "tables/index/tzparser.h"

namespace tz {

void StartTarazed() {
  ResetCommonState();
  StartEngine();
  StartParser();
  MemoInit();
  IndexInit();
}

void EndTarazed() {
  IndexDone();
  EndEngine();
  EndCommon();
}

}  // namespace tz
