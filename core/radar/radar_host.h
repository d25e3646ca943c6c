// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

#include "core/history/signal_history.h"

namespace zelto {

// What the radar window's logic asks of the program that opened it, so that the logic needs
// nothing of Program (core/program, a floor above this one).
class RadarHost {
 public:
  virtual ~RadarHost() = default;
  // The sensor's identity is no longer known: the next supervision asks for it again.
  virtual void ResetDeviceIdentity() = 0;
  // The window is loading: received frames go to the radar logic from now on.
  virtual void RadarWindowLoading() = 0;
  // The window has loaded with its sensor: closing it from now on ends the program.
  virtual void RadarWindowLoaded() = 0;
  // Called by the radar logic when it unloads its window (user close, or the sensor lost:
  // then the main window comes back instead of the end); the host may end the program, and
  // retires the logic (kept alive until its handler returns).
  virtual void RadarWindowUnloaded(bool sensor_lost) = 0;
  // The signal history to record into, with the time now on its clock; null while nothing
  // records (no clock given). It outlives the window.
  virtual SignalHistory* RecordingHistory(std::int64_t& now_ms) = 0;
};

}  // namespace zelto
