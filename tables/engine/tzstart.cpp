#include "tables/engine/tzstart.h"

#include "tables/engine/tzcommon.h"

namespace tz {

void StartTarazed() {
  ResetCommonState();
}

void EndTarazed() {
  EndCommon();
}

}  // namespace tz
