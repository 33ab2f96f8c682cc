// A bracket of the index unit around one engine command: slot 23 (reads) or slot 24 (writes)
// is called with 1 at the start and with 0 at the end, on every path, also when an error
// throws. Inactive (no calls) without an index order or without the slot.
#pragma once

#include "tables/engine/tzdrivers.h"

namespace tz {

class IndexBracket {
 public:
  IndexBracket(void (*slot)(int), bool active) : slot_(active ? slot : nullptr) {
    if (slot_) slot_(1);
  }
  ~IndexBracket() {
    try {
      End();
    } catch (...) {
      // Already unwinding from the error that matters.
    }
  }
  IndexBracket(const IndexBracket&) = delete;
  IndexBracket& operator=(const IndexBracket&) = delete;
  // Ends the bracket now (once).
  void End() {
    if (!slot_) return;
    auto slot = slot_;
    slot_ = nullptr;
    slot(0);
  }

 private:
  void (*slot_)(int);
};

}  // namespace tz
