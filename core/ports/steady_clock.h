// SPDX-License-Identifier: MIT
// The one real clock behind the Clock port: the milliseconds of std::chrono::steady_clock.
// The front ends and the real drivers use it; the tests and the soak give a virtual clock.
#pragma once

#include <cstdint>

#include "core/ports/timer_port.h"

namespace zelto {

class SteadyClock : public Clock {
 public:
  std::int64_t NowMs() const override;
};

}  // namespace zelto
