// SPDX-License-Identifier: MIT
// `zeltoctl doctor` on Windows, over made-up findings: a vendor library that loads (with or
// without a version call) or not, and a driver listing with none, one or two programmers.
#include "cli/doctor_windows.h"

#include <gtest/gtest.h>

#include <sstream>

namespace zelto::cli {
namespace {

struct DoctorCase {
  const char* name;
  VendorLibraryReport vendor;
  int programmers;  // what the listing returns; < 0: the driver failed
  int exit_code;
  std::vector<const char*> lines;  // each must appear in the report
};

// Named in test listings by its name, not by its bytes (which hold addresses).
void PrintTo(const DoctorCase& c, std::ostream* os) {
  *os << c.name;
}

class WindowsDoctor : public ::testing::TestWithParam<DoctorCase> {};

TEST_P(WindowsDoctor, ReportsTheLibraryItsVersionAndTheListing) {
  const DoctorCase& c = GetParam();
  WindowsDoctorEnvironment env;
  env.load_vendor = [&] { return c.vendor; };
  env.list_bus = [&](std::ostream& out) {
    out << "  (listing)\n";
    return c.programmers;
  };
  std::ostringstream out;
  EXPECT_EQ(RunWindowsDoctor(env, out), c.exit_code);
  for (const char* line : c.lines) EXPECT_NE(out.str().find(line), std::string::npos) << line;
  EXPECT_NE(out.str().find("(listing)"), std::string::npos);
}

const VendorLibraryReport kInstalled{true, "C:\\Windows\\System32\\ftd2xx.dll", 0x00030215u, ""};

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowsDoctor,
    ::testing::Values(
        DoctorCase{"all_well",
                   kInstalled,
                   1,
                   0,
                   {"loads from C:\\Windows\\System32\\ftd2xx.dll", "version: 3.02.15",
                    "No problem found."}},
        DoctorCase{"no_version_call",
                   {true, "D:\\Zelto\\ftd2xx.dll", std::nullopt, ""},
                   1,
                   0,
                   {"loads from D:\\Zelto\\ftd2xx.dll", "version: not reported"}},
        DoctorCase{"not_installed",
                   {false, "", std::nullopt, "ftd2xx.dll: No such file or directory"},
                   -1,
                   3,
                   {"does not load (ftd2xx.dll: No such file or directory)",
                    "install the adapter maker's D2XX driver",
                    "the driver cannot list the USB devices", "2 problem(s) found."}},
        DoctorCase{"nothing_plugged", kInstalled, 0, 3, {"no \"ZeltoProg\"", "1 problem(s)"}},
        DoctorCase{"two_programmers", kInstalled, 2, 0, {"choose one with --adapter SERIAL"}}),
    [](const ::testing::TestParamInfo<DoctorCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zelto::cli
