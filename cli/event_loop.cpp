// SPDX-License-Identifier: MIT
#include "cli/event_loop.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/ports/steady_clock.h"
#include "sim/virtual_clock.h"

namespace zelto::cli {

namespace {

std::int64_t SteadyMs() {
  static const SteadyClock clock;
  return clock.NowMs();
}

// Longest sleep between looks at the interrupt flag.
constexpr std::int64_t kSliceMs = 20;

}  // namespace

class RealTimeLoop::RTimer final : public Timer {
 public:
  explicit RTimer(RealTimeLoop& loop) : loop_(&loop) { loop.timers_.push_back(this); }
  ~RTimer() override {
    if (loop_ == nullptr) return;
    // Leaves a hole, swept by the loop, so a timer may die inside its own tick.
    for (RTimer*& t : loop_->timers_)
      if (t == this) t = nullptr;
  }
  void SetInterval(int ms) override {
    interval_ = ms;
    if (enabled_) due_ = loop_->NowMs() + interval_;
  }
  int Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override {
    if (enabled && !enabled_) due_ = loop_->NowMs() + interval_;
    enabled_ = enabled;
  }
  bool Enabled() const override { return enabled_; }
  void SetOnTick(std::function<void()> on_tick) override { on_tick_ = std::move(on_tick); }

  std::int64_t Due() const { return due_; }
  void Fire() {
    // The next period starts from the due time, so a slow tick does not drift the timer.
    due_ = std::max(due_ + std::max(interval_, 1), loop_->NowMs());
    if (on_tick_) on_tick_();
  }
  void Detach() { loop_ = nullptr; }

 private:
  RealTimeLoop* loop_;
  int interval_ = 0;
  bool enabled_ = false;
  std::int64_t due_ = 0;
  std::function<void()> on_tick_;
};

RealTimeLoop::RealTimeLoop() : start_ms_(SteadyMs()) {}

RealTimeLoop::~RealTimeLoop() {
  for (RTimer* t : timers_)
    if (t != nullptr) t->Detach();
}

std::int64_t RealTimeLoop::NowMs() const {
  return SteadyMs() - start_ms_;
}

std::unique_ptr<Timer> RealTimeLoop::CreateTimer() {
  return std::make_unique<RTimer>(*this);
}

Wait RealTimeLoop::RunUntil(const std::function<bool()>& done, std::int64_t limit_ms,
                            bool interruptible) {
  const std::int64_t deadline = NowMs() + limit_ms;
  for (;;) {
    if (done()) return Wait::kDone;
    if (interruptible && Interrupted()) return Wait::kInterrupted;
    const std::int64_t now = NowMs();
    if (now >= deadline) return Wait::kTimeout;
    // The earliest enabled timer; ties keep creation order.
    RTimer* next = nullptr;
    for (RTimer* t : timers_)
      if (t != nullptr && t->Enabled() && (next == nullptr || t->Due() < next->Due())) next = t;
    if (next != nullptr && next->Due() <= now) {
      next->Fire();
      std::erase(timers_, nullptr);
      continue;
    }
    std::int64_t wake = std::min(deadline, now + kSliceMs);
    if (next != nullptr) wake = std::min(wake, next->Due());
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max<std::int64_t>(wake - now, 1)));
  }
}

std::int64_t VirtualLoop::NowMs() const {
  return clock_.NowMs();
}

std::unique_ptr<Timer> VirtualLoop::CreateTimer() {
  return clock_.CreateTimer();
}

Wait VirtualLoop::RunUntil(const std::function<bool()>& done, std::int64_t limit_ms,
                           bool interruptible) {
  bool interrupted = false;
  const bool held = clock_.AdvanceUntil(
      [&] {
        if (done()) return true;
        interrupted = interruptible && Interrupted();
        return interrupted;
      },
      limit_ms);
  if (!held) return Wait::kTimeout;
  return interrupted ? Wait::kInterrupted : Wait::kDone;
}

}  // namespace zelto::cli
