// SPDX-License-Identifier: MIT
// What the system's driver lists, for doctor's report on every system: the driver zeltoctl
// would choose, its listing indented. Part of zelto_cli_system, which links the backends.
#pragma once

#include <ostream>

namespace zelto::cli {

// The number of ZeltoProg adapters, or -1 when the driver fails.
int ListSystemBus(std::ostream& out);

}  // namespace zelto::cli
