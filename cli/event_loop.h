// SPDX-License-Identifier: MIT
// The command-line tool's timers and waits. Every wait runs the timers (the receive poll
// among them) until a condition holds, a time limit passes or the user interrupts. The real
// loop sleeps between timer ticks; the virtual one moves the simulated bench's clock, so the
// commands run in tests exactly as on a terminal, in milliseconds.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/ports/timer_port.h"

namespace zelto::sim {
class VirtualClock;
}

namespace zelto::cli {

enum class Wait { kDone, kTimeout, kInterrupted };

class EventLoop : public Clock, public TimerFactory {
 public:
  // Runs due timers until done() holds (checked first and after every tick), limit_ms have
  // passed, or, when `interruptible`, the interrupt flag is raised.
  virtual Wait RunUntil(const std::function<bool()>& done, std::int64_t limit_ms,
                        bool interruptible = true) = 0;

  // The flag a signal handler raises (Ctrl-C); null: never interrupted.
  void SetInterruptFlag(const std::atomic<bool>* flag) { interrupt_ = flag; }
  bool Interrupted() const { return interrupt_ != nullptr && interrupt_->load(); }

 private:
  const std::atomic<bool>* interrupt_ = nullptr;
};

// Steady-clock time, sleeping between ticks in slices short enough to notice Ctrl-C.
class RealTimeLoop final : public EventLoop {
 public:
  RealTimeLoop();
  ~RealTimeLoop() override;
  std::int64_t NowMs() const override;
  std::unique_ptr<Timer> CreateTimer() override;
  Wait RunUntil(const std::function<bool()>& done, std::int64_t limit_ms,
                bool interruptible = true) override;

 private:
  class RTimer;
  std::vector<RTimer*> timers_;
  std::int64_t start_ms_ = 0;
};

// Over the simulated bench's virtual clock; the clock is the caller's.
class VirtualLoop final : public EventLoop {
 public:
  explicit VirtualLoop(sim::VirtualClock& clock) : clock_(clock) {}
  std::int64_t NowMs() const override;
  std::unique_ptr<Timer> CreateTimer() override;
  Wait RunUntil(const std::function<bool()>& done, std::int64_t limit_ms,
                bool interruptible = true) override;

 private:
  sim::VirtualClock& clock_;
};

}  // namespace zelto::cli
