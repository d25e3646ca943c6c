// SPDX-License-Identifier: MIT
// The timer port over QTimer, and a wall clock for the simulated bench of the demo.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <memory>

#include "core/ports/timer_port.h"

namespace zelto::qt {

// Window timers on the Qt event loop. Every QTimer is a child of the factory, so timers still
// alive (or waiting for deleteLater) go away with it.
class QtTimerFactory : public TimerFactory {
 public:
  QtTimerFactory();
  ~QtTimerFactory() override;
  std::unique_ptr<Timer> CreateTimer() override;

 private:
  QObject owner_;
};

class QtClock : public Clock {
 public:
  QtClock() { elapsed_.start(); }
  std::int64_t NowMs() const override { return elapsed_.elapsed(); }

 private:
  QElapsedTimer elapsed_;
};

}  // namespace zelto::qt
