// SPDX-License-Identifier: MIT
// The Windows doctor's environment on the real system: the vendor library as the system's
// loader finds it, and what the chosen driver lists. Apart from doctor_windows.cpp for the
// same reason as doctor_system.cpp: only zeltoctl links the driver backends.
#include "cli/doctor_windows.h"
#include "cli/system_listing.h"
#include "drivers/d2xx_dynamic.h"

namespace zelto::cli {

WindowsDoctorEnvironment WindowsDoctorEnvironment::System() {
  WindowsDoctorEnvironment env;
  env.load_vendor = [] {
    D2xxDynamic vendor;
    VendorLibraryReport r;
    r.loaded = vendor.Loaded();
    r.file = vendor.LibraryFile();
    r.version = vendor.LibraryVersion();
    r.error = vendor.LoadError();
    return r;
  };
  env.list_bus = &ListSystemBus;
  return env;
}

}  // namespace zelto::cli
