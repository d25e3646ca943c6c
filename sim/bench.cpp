// SPDX-License-Identifier: MIT
#include "sim/bench.h"

#include "sim/duroz740.h"

namespace zelto::sim {

void SetUpDemoBench(UsbBus& bus) {
  Adapter& adapter = bus.Plug("ZeltoProg");
  adapter.Attach<Duroz740>("ZS74000001", 0x0102, 0x0200);
}

}  // namespace zelto::sim
