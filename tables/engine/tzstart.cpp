#include "tables/engine/tzstart.h"

#include "tables/engine/dbf4.h"
#include "tables/engine/tzcommon.h"

namespace tz {

void StartTarazed() {
  ResetCommonState();
  StartEngine();
}

void EndTarazed() {
  EndEngine();
  EndCommon();
}

}  // namespace tz
