// The time for waits with a bound and for rates: milliseconds that only
// ever grow, from an arbitrary start.
#pragma once

#include <cstdint>

namespace quib {

class IClock {
 public:
  virtual ~IClock() = default;
  virtual uint64_t NowMs() = 0;
};

// The installed platform's clock (see platform.h).
uint64_t NowMs();

}  // namespace quib
