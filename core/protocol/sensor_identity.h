// SPDX-License-Identifier: MIT
// Who answered the latest identification request, and the Duroz740 seen last.
#pragma once

#include <string>

#include "core/ports/param_list.h"

namespace zelto {

struct SensorIdentity {
  // The answer to the latest identification request; 0 and empty while none has come.
  int id = 0;
  std::string serial;  // 8-bit characters as received
  int hw_version = 0;
  int fw_version = 0;
  // Firmware of the Duroz740 that identified itself last. Unlike the identity above it is not
  // cleared before each request, so a parameter reply that arrives between a request and
  // its answer is still judged by the right firmware.
  int last_duroz740_fw = 0;
  // Its serial number, kept alike: another serial or firmware in radar mode is another sensor.
  std::string last_duroz740_serial;

  bool IsDuroz740() const { return id == kDuroz740Id; }
  // Before a request: nothing is known of whoever will answer it.
  void Forget() {
    id = 0;
    serial.clear();
    hw_version = 0;
    fw_version = 0;
  }
};

}  // namespace zelto
