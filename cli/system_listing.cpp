// SPDX-License-Identifier: MIT
#include "cli/system_listing.h"

#include <string>

#include "cli/doctor_report.h"
#include "drivers/driver_select.h"

namespace zelto::cli {

int ListSystemBus(std::ostream& out) {
  std::string name;
  auto driver = CreateSystemDriver(&name);
  return ListIndented(*driver, name, out);
}

}  // namespace zelto::cli
