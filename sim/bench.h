// SPDX-License-Identifier: MIT
// The bench the demo program runs on: one ZeltoProg adapter with a Duroz740 plugged in.
#pragma once

#include "sim/usb_bus.h"

namespace zelto::sim {

// Plugs into `bus` one "ZeltoProg" adapter carrying a Duroz740 on firmware 0x0200, hardware
// 0x0102, serial "ZS74000001".
void SetUpDemoBench(UsbBus& bus);

}  // namespace zelto::sim
