// SPDX-License-Identifier: MIT
#include "cli/doctor_windows.h"

#include <cstdio>

#include "cli/commands.h"
#include "usb/d2xx_dynamic.h"
#include "usb/driver_select.h"

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
  env.list_bus = [](std::ostream& out) {
    std::string name;
    auto driver = CreateSystemDriver(&name);
    return ListIndented(*driver, name, out);
  };
  return env;
}

std::string VendorVersionText(std::uint32_t version) {
  char text[16];
  std::snprintf(text, sizeof(text), "%X.%02X.%02X", (version >> 16) & 0xFFu,
                (version >> 8) & 0xFFu, version & 0xFFu);
  return text;
}

int RunWindowsDoctor(const WindowsDoctorEnvironment& env, std::ostream& out) {
  int problems = 0;
  auto problem = [&](const std::string& text) {
    ++problems;
    out << "  PROBLEM: " << text << "\n";
  };

  out << "Driver library:\n";
  const VendorLibraryReport vendor = env.load_vendor ? env.load_vendor() : VendorLibraryReport{};
  out << "  vendor D2XX library (" << DefaultD2xxLibraryName() << "): ";
  if (vendor.loaded) {
    out << "loads from " << (vendor.file.empty() ? "an unknown file" : vendor.file) << "\n";
    out << "  version: "
        << (vendor.version ? VendorVersionText(*vendor.version) : "not reported by the library")
        << "\n";
  } else {
    out << "does not load ("
        << (vendor.error.empty() ? std::string("not checked") : vendor.error) << ")\n";
    problem(
        "install the adapter maker's D2XX driver (its setup program puts ftd2xx.dll in the "
        "Windows system folder), or put ftd2xx.dll beside zeltoctl.exe");
  }

  return FinishDoctorReport(
      env.list_bus,
      "no \"ZeltoProg\": is the programmer plugged in? In Device Manager it must show under "
      "\"Universal Serial Bus controllers\" with the D2XX driver; try another cable or port",
      problems, out);
}

}  // namespace zelto::cli
