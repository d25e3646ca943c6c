// SPDX-License-Identifier: MIT
#include "cli/doctor.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/commands.h"
#include "cli/doctor_report.h"
#include "drivers/d2xx_dynamic.h"

namespace zelto::cli {

namespace {

namespace fs = std::filesystem;

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
    line.pop_back();
  return line;
}

struct FtdiDevice {
  std::string name;  // sysfs name, e.g. 1-1.2
  std::string product, serial;
  int bus = 0, address = 0;
  std::string kernel_driver;  // of interface 0, e.g. ftdi_sio; empty when none
};

std::vector<FtdiDevice> FindFtdiDevices(const fs::path& sysfs) {
  std::vector<FtdiDevice> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(sysfs, ec)) {
    const fs::path dir = entry.path();
    if (ReadLine(dir / "idVendor") != "0403") continue;
    FtdiDevice d;
    d.name = dir.filename().string();
    d.product = ReadLine(dir / "product");
    d.serial = ReadLine(dir / "serial");
    d.bus = std::atoi(ReadLine(dir / "busnum").c_str());
    d.address = std::atoi(ReadLine(dir / "devnum").c_str());
    std::error_code link_ec;
    const fs::path driver = fs::read_symlink(dir / (d.name + ":1.0") / "driver", link_ec);
    if (!link_ec) d.kernel_driver = driver.filename().string();
    found.push_back(d);
  }
  std::sort(found.begin(), found.end(),
            [](const FtdiDevice& a, const FtdiDevice& b) { return a.name < b.name; });
  return found;
}

}  // namespace

std::vector<fs::path> UdevRuleLocations() {
  std::vector<fs::path> files;
  for (const char* folder : {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d",
                             "/lib/udev/rules.d", "/usr/local/lib/udev/rules.d"})
    files.push_back(fs::path(folder) / kUdevRuleName);
  return files;
}

int RunDoctor(const DoctorEnvironment& env, std::ostream& out_stream, bool json) {
  // The text goes here first; with `json` the same findings go out as one object instead.
  DoctorReport r;
  std::ostream& out = r.Text();
  nlohmann::ordered_json& report = r.Json();
  auto problem = [&](const std::string& text) { r.Problem(text); };

  out << "Driver libraries:\n";
  const std::string vendor_error = env.load_vendor ? env.load_vendor() : "not checked";
  const bool vendor = vendor_error.empty();
  out << "  vendor D2XX library (" << DefaultD2xxLibraryName() << "): "
      << (vendor ? "loads; it is the driver in use" : "does not load (" + vendor_error + ")")
      << "\n";
  const bool libftdi = env.start_libftdi && env.start_libftdi();
  out << "  libftdi1: " << (libftdi ? "starts" : "does not start (libusb unavailable)")
      << (libftdi && !vendor ? "; it is the driver in use" : "") << "\n";
  report["vendor_library_loads"] = vendor;
  if (!vendor) report["vendor_library_error"] = vendor_error;
  report["libftdi_starts"] = libftdi;
  if (!vendor && !libftdi) problem("no USB driver can be used: install libftdi1 (libftdi1-2)");

  out << "udev rule:\n";
  bool rule = false;
  report["udev_rule"] = nullptr;
  for (const fs::path& file : env.udev_rules) {
    std::error_code ec;
    if (fs::exists(file, ec)) {
      out << "  installed: " << file.string() << "\n";
      report["udev_rule"] = file.string();
      rule = true;
      break;
    }
  }
  if (!rule)
    problem(std::string("the udev rule ") + kUdevRuleName +
            " is not installed in any folder udev reads, so only root may open the adapter; "
            "install the package (or `sudo cmake --install` with the prefix /usr/local), "
            "then replug the adapter");

  out << "FTDI devices on the bus (sysfs):\n";
  const auto devices = FindFtdiDevices(env.sysfs_usb);
  report["devices"] = nlohmann::ordered_json::array();
  if (devices.empty()) out << "  none: is the programmer plugged in? try another cable or port\n";
  for (const FtdiDevice& d : devices) {
    char node_name[16];
    std::snprintf(node_name, sizeof(node_name), "%03d/%03d", d.bus, d.address);
    const fs::path node = env.dev_usb / node_name;
    out << "  " << d.name << ": \"" << d.product << "\", serial "
        << (d.serial.empty() ? "?" : d.serial) << ", " << node.string() << "\n";
    if (d.product != "ZeltoProg")
      out << "    not a ZeltoProg (its description is \"" << d.product << "\")\n";
    const bool may_open = env.can_open && env.can_open(node);
    report["devices"].push_back({{"name", d.name},
                                 {"product", d.product},
                                 {"serial", d.serial},
                                 {"node", node.string()},
                                 {"can_open", may_open},
                                 {"kernel_driver", d.kernel_driver}});
    out << "    this user " << (may_open ? "can" : "cannot") << " open it\n";
    if (!may_open)
      problem(d.name + ": no permission on " + node.string() +
              (rule ? " although the rule is installed: replug the adapter, and check that you "
                      "are in the group the rule names"
                    : ": install the udev rule"));
    if (!d.kernel_driver.empty()) {
      out << "    the kernel driver " << d.kernel_driver << " holds it (a serial port)\n";
      if (vendor)
        problem(d.name + ": the vendor library cannot open an adapter the kernel's " +
                d.kernel_driver + " driver holds: `sudo rmmod " + d.kernel_driver +
                "`, or use libftdi1 (remove the vendor library), which detaches it by itself");
    }
  }

  r.Listing(env.list_bus,
            devices.empty() ? std::string()
                            : "FTDI devices are present but the driver sees no \"ZeltoProg\" "
                              "(permissions, or another description)");
  return r.Finish(out_stream, json);
}

}  // namespace zelto::cli
