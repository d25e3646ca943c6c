#include "usb/driver_select.h"

#include "usb/d2xx_dynamic.h"
#include "usb/libftdi_driver.h"
#include "usb/null_driver.h"

namespace zelto {

DriverSources DefaultDriverSources() {
  return DriverSources{DefaultD2xxLibraryName(), &CreateLibftdiBus};
}

std::unique_ptr<D2xxPort> CreateDriver(const DriverSources& sources, std::string* chosen_name) {
  auto report = [chosen_name](const char* name) {
    if (chosen_name != nullptr) *chosen_name = name;
  };
  if (!sources.vendor_library.empty()) {
    auto vendor = std::make_unique<D2xxDynamic>(sources.vendor_library);
    if (vendor->Loaded()) {
      report(kDriverNameVendor);
      return vendor;
    }
  }
  if (sources.open_libftdi) {
    if (std::unique_ptr<FtdiBus> bus = sources.open_libftdi()) {
      report(kDriverNameLibftdi);
      return std::make_unique<LibftdiDriver>(std::move(bus));
    }
  }
  report(kDriverNameNone);
  return std::make_unique<NullDriver>();
}

std::unique_ptr<D2xxPort> CreateSystemDriver(std::string* chosen_name) {
  return CreateDriver(DefaultDriverSources(), chosen_name);
}

}  // namespace zelto
