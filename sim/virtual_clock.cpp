// SPDX-License-Identifier: MIT
#include "sim/virtual_clock.h"

#include <algorithm>

namespace zelto::sim {

class VirtualClock::VTimer : public Timer {
 public:
  explicit VTimer(VirtualClock& clock) : clock_(&clock) {}
  ~VTimer() override {
    if (clock_ == nullptr) return;
    auto& v = clock_->timers_;
    std::replace(v.begin(), v.end(), static_cast<VTimer*>(this), static_cast<VTimer*>(nullptr));
  }

  void SetInterval(int ms) override {
    interval_ = ms;
    if (enabled_) Restart();
  }
  int Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override {
    if (enabled && !enabled_) {
      enabled_ = true;
      Restart();
    } else if (!enabled) {
      enabled_ = false;
    }
  }
  bool Enabled() const override { return enabled_; }
  void SetOnTick(std::function<void()> on_tick) override { on_tick_ = std::move(on_tick); }

  // A timer with interval 0 never ticks, as a window timer does not.
  bool Armed() const { return enabled_ && interval_ > 0 && clock_ != nullptr; }
  std::int64_t due() const { return due_; }
  std::uint64_t seq() const { return seq_; }

  void Fire() {
    // The next period starts now; the handler may change that.
    due_ = clock_->now_ + interval_;
    seq_ = clock_->next_seq_++;
    if (on_tick_) {
      auto keep = on_tick_;  // the handler may replace or destroy its own callback
      keep();
    }
  }
  void Detach() { clock_ = nullptr; }

 private:
  void Restart() {
    due_ = clock_->now_ + interval_;
    seq_ = clock_->next_seq_++;
  }

  VirtualClock* clock_;
  int interval_ = 0;
  bool enabled_ = false;
  std::int64_t due_ = 0;
  std::uint64_t seq_ = 0;
  std::function<void()> on_tick_;
};

VirtualClock::VirtualClock() = default;

VirtualClock::~VirtualClock() {
  for (VTimer* t : timers_)
    if (t != nullptr) t->Detach();
}

std::unique_ptr<Timer> VirtualClock::CreateTimer() {
  auto t = std::make_unique<VTimer>(*this);
  timers_.erase(std::remove(timers_.begin(), timers_.end(), nullptr), timers_.end());
  timers_.push_back(t.get());
  return t;
}

VirtualClock::VTimer* VirtualClock::NextDue(std::int64_t limit, std::int64_t& due) const {
  VTimer* best = nullptr;
  for (VTimer* t : timers_) {
    if (t == nullptr || !t->Armed() || t->due() > limit) continue;
    if (best == nullptr || t->due() < best->due() ||
        (t->due() == best->due() && t->seq() < best->seq()))
      best = t;
  }
  if (best != nullptr) due = best->due();
  return best;
}

void VirtualClock::AdvanceTo(std::int64_t t) {
  std::int64_t due = 0;
  while (VTimer* timer = NextDue(t, due)) {
    now_ = std::max(now_, due);
    timer->Fire();
  }
  now_ = std::max(now_, t);
}

void VirtualClock::AdvanceBy(std::int64_t ms) { AdvanceTo(now_ + ms); }

bool VirtualClock::AdvanceUntil(const std::function<bool()>& pred, std::int64_t limit_ms) {
  const std::int64_t limit = now_ + limit_ms;
  if (pred()) return true;
  std::int64_t due = 0;
  while (VTimer* timer = NextDue(limit, due)) {
    now_ = std::max(now_, due);
    timer->Fire();
    if (pred()) return true;
  }
  now_ = limit;
  return pred();
}

}  // namespace zelto::sim
