// SPDX-License-Identifier: MIT
// `zeltoctl doctor`: what stands between this machine and a working adapter, in plain words.
// It reads what the system shows (driver libraries, udev rules, the USB devices in sysfs and
// their device nodes) through an environment that the tests replace with a made-up tree.
#pragma once

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace zelto::cli {

// The rule the package installs, and every folder udev reads rules from.
inline constexpr char kUdevRuleName[] = "60-zeltoprog.rules";
std::vector<std::filesystem::path> UdevRuleLocations();

struct DoctorEnvironment {
  std::filesystem::path sysfs_usb = "/sys/bus/usb/devices";
  std::filesystem::path dev_usb = "/dev/bus/usb";
  std::vector<std::filesystem::path> udev_rules = UdevRuleLocations();
  // Empty when the vendor library loads, else why not.
  std::function<std::string()> load_vendor;
  // Whether libftdi1 (and libusb under it) starts.
  std::function<bool()> start_libftdi;
  // Whether this user may read and write the node.
  std::function<bool(const std::filesystem::path&)> can_open;
  // Lists what the chosen driver sees (as `zeltoctl list` does); returns the ZeltoProg count,
  // or < 0 when the driver fails.
  std::function<int(std::ostream&)> list_bus;

  static DoctorEnvironment System();
};

// Prints the findings (as a JSON object with `json`); returns 0 when nothing is in the way,
// 3 when something is.
int RunDoctor(const DoctorEnvironment& env, std::ostream& out, bool json = false);

}  // namespace zelto::cli
