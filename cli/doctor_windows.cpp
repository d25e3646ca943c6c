// SPDX-License-Identifier: MIT
#include "cli/doctor_windows.h"

#include <cstdio>

#include "cli/doctor_report.h"
#include "drivers/d2xx_dynamic.h"

namespace zelto::cli {

std::string VendorVersionText(std::uint32_t version) {
  char text[16];
  std::snprintf(text, sizeof(text), "%X.%02X.%02X", (version >> 16) & 0xFFu,
                (version >> 8) & 0xFFu, version & 0xFFu);
  return text;
}

int RunWindowsDoctor(const WindowsDoctorEnvironment& env, std::ostream& out_stream, bool json) {
  DoctorReport r;
  std::ostream& out = r.Text();
  out << "Driver library:\n";
  const VendorLibraryReport vendor = env.load_vendor ? env.load_vendor() : VendorLibraryReport{};
  r.Json()["vendor_library_loads"] = vendor.loaded;
  out << "  vendor D2XX library (" << DefaultD2xxLibraryName() << "): ";
  if (vendor.loaded) {
    const std::string version =
        vendor.version ? VendorVersionText(*vendor.version) : "not reported by the library";
    out << "loads from " << (vendor.file.empty() ? "an unknown file" : vendor.file) << "\n";
    out << "  version: " << version << "\n";
    r.Json()["vendor_library_file"] = vendor.file;
    r.Json()["vendor_library_version"] =
        vendor.version ? nlohmann::ordered_json(version) : nlohmann::ordered_json(nullptr);
  } else {
    const std::string why = vendor.error.empty() ? std::string("not checked") : vendor.error;
    out << "does not load (" << why << ")\n";
    r.Json()["vendor_library_error"] = why;
    r.Problem(
        "install the adapter maker's D2XX driver (its setup program puts ftd2xx.dll in the "
        "Windows system folder), or put ftd2xx.dll beside zeltoctl.exe");
  }
  r.Listing(env.list_bus,
            "no \"ZeltoProg\": is the programmer plugged in? In Device Manager it must show "
            "under \"Universal Serial Bus controllers\" with the D2XX driver; try another cable "
            "or port");
  return r.Finish(out_stream, json);
}

}  // namespace zelto::cli
