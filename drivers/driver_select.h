// SPDX-License-Identifier: MIT
// Which real driver the program talks through: the vendor's D2XX library when it loads,
// else libftdi1, else a driver that fails every call (the main window then shows the driver
// failure, and the program still runs).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/ports/adapter_port.h"

namespace zelto {

class FtdiBus;

// The diagnostics category: which backend was chosen (info), which failed to load (warning).
inline constexpr char kDriverCategory[] = "zelto.driver";

// Names reported through chosen_name.
inline constexpr char kDriverNameVendor[] = "ftd2xx";
inline constexpr char kDriverNameLibftdi[] = "libftdi1";
inline constexpr char kDriverNameNone[] = "none";

// Where each candidate comes from; the defaults are the real ones.
struct DriverSources {
  // A file name (searched by the loader) or a path.
  std::string vendor_library;
  // Starts libftdi1's bus; null when it cannot be used. Called only when the vendor library
  // did not load.
  std::function<std::unique_ptr<FtdiBus>()> open_libftdi;
};
DriverSources DefaultDriverSources();

std::unique_ptr<AdapterPort> CreateDriver(const DriverSources& sources,
                                       std::string* chosen_name = nullptr);

std::unique_ptr<AdapterPort> CreateSystemDriver(std::string* chosen_name = nullptr);

}  // namespace zelto
