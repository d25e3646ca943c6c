// SPDX-License-Identifier: MIT
// `zeltoctl doctor` on a made-up machine: a sysfs tree with FTDI devices, udev rule files
// present or not, a vendor library that loads or not.
#include "cli/doctor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "tests/support/temp_folder.h"

namespace zelto::cli {
namespace {

namespace fs = std::filesystem;

class Doctor : public ::testing::Test {
 protected:
  Doctor() {
    env_.sysfs_usb = folder_.path() / "sys";
    env_.dev_usb = folder_.path() / "dev";
    env_.udev_rules = {folder_.path() / "rules.d" / "60-zeltoprog.rules"};
    fs::create_directories(env_.sysfs_usb);
    env_.load_vendor = [this] { return vendor_error_; };
    env_.start_libftdi = [] { return true; };
    env_.can_open = [this](const fs::path& node) { return openable_.count(node.string()) > 0; };
    env_.list_bus = [this](std::ostream& out) {
      out << "  (listing)\n";
      return programmers_;
    };
  }
  void Device(const std::string& name, const std::string& product, int bus, int address,
              const char* kernel_driver = nullptr) {
    const fs::path dir = env_.sysfs_usb / name;
    fs::create_directories(dir);
    std::ofstream(dir / "idVendor") << "0403\n";
    std::ofstream(dir / "product") << product << "\n";
    std::ofstream(dir / "serial") << "FT" << address << "\n";
    std::ofstream(dir / "busnum") << bus << "\n";
    std::ofstream(dir / "devnum") << address << "\n";
    if (kernel_driver != nullptr) {
      fs::create_directories(dir / (name + ":1.0"));
      fs::create_directories(folder_.path() / "drivers" / kernel_driver);
      fs::create_directory_symlink(folder_.path() / "drivers" / kernel_driver,
                                   dir / (name + ":1.0") / "driver");
    }
  }
  void InstallRule() {
    fs::create_directories(env_.udev_rules[0].parent_path());
    std::ofstream(env_.udev_rules[0]) << "# rule\n";
  }
  int Run() {
    out_.str("");
    return RunDoctor(env_, out_);
  }

  zelto::test::TempFolder folder_;
  DoctorEnvironment env_;
  std::string vendor_error_ = "libftd2xx.so: cannot open shared object file";
  std::set<std::string> openable_;
  int programmers_ = 1;
  std::ostringstream out_;
};

TEST_F(Doctor, AllWellWithLibftdiAndTheRule) {
  InstallRule();
  Device("1-1.2", "ZeltoProg", 1, 7, "ftdi_sio");
  openable_.insert((env_.dev_usb / "001/007").string());
  EXPECT_EQ(Run(), 0) << out_.str();
  EXPECT_NE(out_.str().find("libftdi1: starts; it is the driver in use"), std::string::npos);
  // libftdi1 detaches the kernel's serial driver itself: no problem then.
  EXPECT_NE(out_.str().find("the kernel driver ftdi_sio holds it"), std::string::npos);
  EXPECT_NE(out_.str().find("No problem found."), std::string::npos);
}

TEST_F(Doctor, NamesEachObstacle) {
  vendor_error_.clear();  // the vendor library loads, so ftdi_sio is in its way
  Device("1-1.2", "ZeltoProg", 1, 7, "ftdi_sio");
  Device("2-3", "FT232R USB UART", 2, 4);
  programmers_ = 0;
  EXPECT_EQ(Run(), 3);
  const std::string text = out_.str();
  EXPECT_NE(text.find("vendor D2XX library (libftd2xx.so): loads"), std::string::npos);
  EXPECT_NE(text.find("udev rule 60-zeltoprog.rules is not installed"), std::string::npos);
  EXPECT_NE(text.find("1-1.2: no permission on"), std::string::npos);
  EXPECT_NE(text.find("sudo rmmod ftdi_sio"), std::string::npos);
  EXPECT_NE(text.find("not a ZeltoProg (its description is \"FT232R USB UART\")"),
            std::string::npos);
  EXPECT_NE(text.find("the driver sees no \"ZeltoProg\""), std::string::npos);
  EXPECT_NE(text.find("5 problem(s) found."), std::string::npos) << text;
}

TEST_F(Doctor, NoDriverAtAllAndAnEmptyBus) {
  InstallRule();
  env_.start_libftdi = [] { return false; };
  programmers_ = -1;
  EXPECT_EQ(Run(), 3);
  EXPECT_NE(out_.str().find("no USB driver can be used"), std::string::npos);
  EXPECT_NE(out_.str().find("none: is the programmer plugged in?"), std::string::npos);
  EXPECT_NE(out_.str().find("cannot list"), std::string::npos);
}

TEST_F(Doctor, FindsThePackagedRuleInEveryFolderUdevReads) {
  // The name doctor looks for is the file the package installs.
  EXPECT_TRUE(fs::exists(fs::path(ZELTO_SOURCE_DIR) / "data" / kUdevRuleName));
  std::set<std::string> folders;
  for (const fs::path& file : UdevRuleLocations()) {
    EXPECT_EQ(file.filename(), kUdevRuleName);
    folders.insert(file.parent_path().string());
  }
  EXPECT_EQ(folders, (std::set<std::string>{"/etc/udev/rules.d", "/run/udev/rules.d",
                                            "/usr/lib/udev/rules.d", "/lib/udev/rules.d",
                                            "/usr/local/lib/udev/rules.d"}));
  Device("1-1.2", "ZeltoProg", 1, 7);
  openable_.insert((env_.dev_usb / "001/007").string());
  for (const fs::path& file : UdevRuleLocations()) {
    fs::remove_all(folder_.path() / "root");
    env_.udev_rules.clear();
    for (const fs::path& f : UdevRuleLocations())
      env_.udev_rules.push_back(folder_.path() / "root" / f.relative_path());
    fs::create_directories(folder_.path() / "root" / file.relative_path().parent_path());
    std::ofstream(folder_.path() / "root" / file.relative_path()) << "# rule\n";
    EXPECT_EQ(Run(), 0) << file << out_.str();
  }
  // No adapter plugged in is no obstacle of this machine.
  programmers_ = 0;
  fs::rename(env_.sysfs_usb / "1-1.2", folder_.path() / "unplugged");
  EXPECT_EQ(Run(), 0) << out_.str();
  fs::rename(folder_.path() / "unplugged", env_.sysfs_usb / "1-1.2");
  // The same findings as one JSON object; no programmer while an FTDI device is present is a
  // problem.
  programmers_ = 0;
  std::ostringstream json_out;
  EXPECT_EQ(RunDoctor(env_, json_out, true), 3);
  const auto j = nlohmann::json::parse(json_out.str());
  EXPECT_EQ(j["programmers"], 0);
  EXPECT_EQ(j["devices"][0]["can_open"], true);
  EXPECT_EQ(j["problems"].size(), 1u);
  EXPECT_NE(j["udev_rule"].get<std::string>().find("usr/local/lib/udev"), std::string::npos);
}

}  // namespace
}  // namespace zelto::cli
