// SPDX-License-Identifier: MIT
// `zeltoctl doctor` on Windows: there the vendor's D2XX driver is the only way to the
// adapter, so the report is about it: whether ftd2xx.dll loads, which file the system took,
// its version, and what it lists.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace zelto::cli {

struct VendorLibraryReport {
  bool loaded = false;
  std::string file;                      // where the system found it, when it loaded
  std::optional<std::uint32_t> version;  // FT_GetLibraryVersion's word, when offered
  std::string error;                     // why it did not load
};

struct WindowsDoctorEnvironment {
  std::function<VendorLibraryReport()> load_vendor;
  // Lists what the driver sees (as `zeltoctl list` does); returns the ZeltoProg count, or
  // < 0 when the driver fails.
  std::function<int(std::ostream&)> list_bus;

  static WindowsDoctorEnvironment System();
};

// The vendor's version word as its releases are numbered: 0x00030215 -> "3.02.15".
std::string VendorVersionText(std::uint32_t version);

// Prints the findings (as a JSON object with `json`); returns 0 when nothing is in the way,
// 3 when something is.
int RunWindowsDoctor(const WindowsDoctorEnvironment& env, std::ostream& out, bool json = false);

}  // namespace zelto::cli
