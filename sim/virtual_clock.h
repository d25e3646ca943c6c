// SPDX-License-Identifier: MIT
// A virtual clock with window timers on it: time moves only when a test or the bench says
// so, and every timer due on the way ticks at its exact due time, in order.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/ports/timer_port.h"

namespace zelto::sim {

class VirtualClock : public Clock, public TimerFactory {
 public:
  VirtualClock();
  ~VirtualClock() override;

  std::int64_t NowMs() const override { return now_; }
  std::unique_ptr<Timer> CreateTimer() override;

  // Runs every tick due up to and including now + ms, then leaves the clock at now + ms.
  void AdvanceBy(std::int64_t ms);
  void AdvanceTo(std::int64_t t);
  // Runs ticks until pred() holds (checked after each tick) or limit_ms have passed;
  // returns whether pred() held.
  bool AdvanceUntil(const std::function<bool()>& pred, std::int64_t limit_ms);

 private:
  class VTimer;
  friend class VTimer;
  struct Entry;
  // Registered timers; a destroyed timer leaves a null slot that is swept later, so
  // timers may be created and destroyed from inside ticks.
  std::vector<VTimer*> timers_;
  std::int64_t now_ = 0;
  std::uint64_t next_seq_ = 0;
  // The earliest due timer and its due time, or nullptr.
  VTimer* NextDue(std::int64_t limit, std::int64_t& due) const;
};

}  // namespace zelto::sim
