// SPDX-License-Identifier: MIT
#include "core/ports/steady_clock.h"

#include <chrono>

namespace zelto {

std::int64_t SteadyClock::NowMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace zelto
