// SPDX-License-Identifier: MIT
#pragma once

namespace zelto {

// What the radar window's logic asks of the program that opened it: two calls, so that the
// logic needs nothing of Program (core/program, a floor above this one).
class RadarHost {
 public:
  virtual ~RadarHost() = default;
  // The sensor's identity is no longer known: the next supervision asks for it again.
  virtual void ResetDeviceIdentity() = 0;
  // Called by the radar logic when it unloads its window (user close or lost sensor); the
  // host may end the program, and retires the logic (kept alive until its handler returns).
  virtual void RadarWindowUnloaded() = 0;
};

}  // namespace zelto
