// SPDX-License-Identifier: MIT
// The timer port: a window timer as the program logic sees it. Qt backs it with QTimer,
// the tests and the fuzzers with a virtual clock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace zelto {

class Timer {
 public:
  virtual ~Timer() = default;
  // Changing the interval of an enabled timer starts a new period from now.
  virtual void SetInterval(int ms) = 0;
  virtual int Interval() const = 0;
  // Enabling a disabled timer starts a new period from now; enabling an enabled one changes
  // nothing.
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
  virtual void SetOnTick(std::function<void()> on_tick) = 0;
};

class TimerFactory {
 public:
  virtual ~TimerFactory() = default;
  // A new timer starts disabled with interval 0. Destroying a timer from inside its own
  // tick is allowed.
  virtual std::unique_ptr<Timer> CreateTimer() = 0;
};

// Milliseconds on some monotonic scale; the simulated bench reads time through this.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t NowMs() const = 0;
};

}  // namespace zelto
