// SPDX-License-Identifier: MIT
#include "gui/qt_timer.h"

#include <QPointer>
#include <QTimer>
#include <functional>
#include <utility>

namespace zelto::qt {

namespace {

// A window timer: it ticks only while enabled with an interval above zero (a zero interval
// means "never", not "as fast as possible" as it would for a bare QTimer).
class QtTimer : public Timer {
 public:
  explicit QtTimer(QObject* owner) : timer_(new QTimer(owner)) {
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_, &QTimer::timeout, [this] { Tick(); });
  }

  ~QtTimer() override {
    // We may be inside our own tick: the QTimer is still delivering its timeout, so it is
    // only stopped and cut loose here and deleted by the event loop. (It is gone already
    // when the factory went first.)
    if (timer_.isNull()) return;
    timer_->stop();
    QObject::disconnect(timer_, nullptr, nullptr, nullptr);
    timer_->deleteLater();
  }

  void SetInterval(int ms) override {
    interval_ = ms < 0 ? 0 : ms;
    Apply(true);
  }
  int Interval() const override { return interval_; }

  void SetEnabled(bool enabled) override {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Apply(true);
  }
  bool Enabled() const override { return enabled_; }

  void SetOnTick(std::function<void()> on_tick) override { on_tick_ = std::move(on_tick); }

 private:
  // restart: begin a new period from now, as a changed interval or a fresh enable does.
  void Apply(bool restart) {
    if (timer_.isNull()) return;
    if (enabled_ && interval_ > 0) {
      if (restart || !timer_->isActive()) timer_->start(interval_);
    } else {
      timer_->stop();
      timer_->setInterval(interval_);
    }
  }

  void Tick() {
    if (!enabled_ || !on_tick_) return;
    // The handler may destroy this timer; keep the callable alive on the stack and touch
    // nothing of this object afterwards.
    std::function<void()> handler = on_tick_;
    handler();
  }

  QPointer<QTimer> timer_;
  int interval_ = 0;
  bool enabled_ = false;
  std::function<void()> on_tick_;
};

}  // namespace

QtTimerFactory::QtTimerFactory() = default;
QtTimerFactory::~QtTimerFactory() = default;

std::unique_ptr<Timer> QtTimerFactory::CreateTimer() {
  return std::make_unique<QtTimer>(&owner_);
}

}  // namespace zelto::qt
