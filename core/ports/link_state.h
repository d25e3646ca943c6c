// SPDX-License-Identifier: MIT
// The USB link's open state. The link reads and writes it; the radar logic reads
// whether the link is open and whether it was reopened since the sensor was last read.
#pragma once

namespace zelto {

struct LinkState {
  bool LinkOpen = false;
  // Set by every successful open. In radar mode the link is reopened only after it failed,
  // perhaps because the programmer was unplugged and the sensor lost its power.
  bool LinkReopened = false;
};

}  // namespace zelto
