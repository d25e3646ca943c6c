// SPDX-License-Identifier: MIT
// The doctor's environment on the real system: the driver libraries, this user's access to
// the device nodes, and what the chosen driver lists. Kept apart from doctor.cpp so that the
// command-line library and its tests link no driver library; zeltoctl links this file
// (zelto_cli_system) with the driver backends.
#include <unistd.h>

#include <sstream>

#include "cli/commands.h"
#include "cli/doctor.h"
#include "cli/event_loop.h"
#include "cli/system_listing.h"
#include "core/link/adapter_list.h"
#include "drivers/d2xx_dynamic.h"
#include "drivers/driver_select.h"
#include "drivers/libftdi_driver.h"

namespace zelto::cli {

DoctorEnvironment DoctorEnvironment::System() {
  namespace fs = std::filesystem;
  DoctorEnvironment env;
  env.load_vendor = [] {
    D2xxDynamic vendor;
    return vendor.Loaded() ? std::string() : vendor.LoadError();
  };
  env.start_libftdi = [] {
    const auto open = DefaultDriverSources().open_libftdi;
    return open && open() != nullptr;
  };
  env.can_open = [](const fs::path& node) { return ::access(node.c_str(), R_OK | W_OK) == 0; };
  env.list_bus = &ListSystemBus;
  return env;
}

}  // namespace zelto::cli
