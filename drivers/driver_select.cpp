// SPDX-License-Identifier: MIT
#include "drivers/driver_select.h"

#include <cerrno>
#include <cstring>

#include "core/ports/diagnostics.h"
#include "drivers/d2xx_dynamic.h"
#include "drivers/libftdi_driver.h"
#include "drivers/null_driver.h"

namespace zelto {
namespace {

// The loader says "No such file or directory" (in the user's language, as strerror does) when
// the library is simply not installed: the usual case with libftdi1 at hand, not a fault.
bool NotInstalled(const std::string& load_error) {
  return load_error.find(std::strerror(ENOENT)) != std::string::npos;
}

}  // namespace

DriverSources DefaultDriverSources() {
#ifdef ZELTO_HAVE_LIBFTDI_BUS
  return DriverSources{DefaultD2xxLibraryName(), &CreateLibftdiBus};
#else
  // Built without libftdi1: the vendor library or nothing.
  return DriverSources{DefaultD2xxLibraryName(), nullptr};
#endif
}

std::unique_ptr<AdapterPort> CreateDriver(const DriverSources& sources, std::string* chosen_name) {
  auto report = [chosen_name](const char* name) {
    if (chosen_name != nullptr) *chosen_name = name;
  };
  if (!sources.vendor_library.empty()) {
    auto vendor = std::make_unique<D2xxDynamic>(sources.vendor_library);
    if (vendor->Loaded()) {
      DiagInfo(kDriverCategory, "using the vendor's D2XX library " + sources.vendor_library);
      report(kDriverNameVendor);
      return vendor;
    }
    if (NotInstalled(vendor->LoadError())) {
      DiagInfo(kDriverCategory,
               "the vendor's D2XX library is not installed: " + vendor->LoadError());
    } else {
      DiagWarning(kDriverCategory,
                  "the vendor's D2XX library cannot be used: " + vendor->LoadError());
    }
  }
  if (sources.open_libftdi) {
    if (std::unique_ptr<FtdiBus> bus = sources.open_libftdi()) {
      DiagInfo(kDriverCategory, "using libftdi1");
      report(kDriverNameLibftdi);
      return std::make_unique<LibftdiDriver>(std::move(bus));
    }
    DiagWarning(kDriverCategory, "libftdi1 cannot be used: libusb did not start");
  }
  DiagWarning(kDriverCategory, "no USB driver could be loaded: the adapter cannot be reached");
  report(kDriverNameNone);
  return std::make_unique<NullDriver>();
}

std::unique_ptr<AdapterPort> CreateSystemDriver(std::string* chosen_name) {
  return CreateDriver(DefaultDriverSources(), chosen_name);
}

}  // namespace zelto
