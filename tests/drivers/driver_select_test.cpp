// SPDX-License-Identifier: MIT
// Which driver the program ends up with when the vendor library or libftdi1 is missing.
#include "drivers/driver_select.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "sim/virtual_clock.h"
#include "tests/support/diag_capture.h"
#include "tests/drivers/fake_ftdi.h"
#include "tests/drivers/link_expectations.h"
#include "core/link/usb_link.h"

namespace zelto {
namespace {

TEST(DriverSelection, FallsBackFromVendorLibraryToLibftdiToFailingDriver) {
  struct Row {
    const char* vendor_library;
    bool libftdi_starts;
    const char* chosen;
    // What standard error shows by default: a missing vendor library is the usual case on
    // Linux, not a fault; one that is there but unusable, or no driver at all, is.
    std::vector<std::string> warnings;
    const char* info;  // the last informational line
  };
  const Row rows[] = {
      {ZELTO_STANDIN_PATH, true, kDriverNameVendor, {}, "using the vendor's D2XX library"},
      {"/nonexistent/libftd2xx.so", true, kDriverNameLibftdi, {}, "using libftdi1"},
      {"libc.so.6",
       true,
       kDriverNameLibftdi,  // loads, but is no D2XX library
       {"zelto.driver: the vendor's D2XX library cannot be used: libc.so.6 lacks D2XX entry "
        "points"},
       "using libftdi1"},
      {"/nonexistent/libftd2xx.so",
       false,
       kDriverNameNone,
       {"zelto.driver: libftdi1 cannot be used: libusb did not start",
        "zelto.driver: no USB driver could be loaded: the adapter cannot be reached"},
       "not installed"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.vendor_library + std::string(row.libftdi_starts ? " + libftdi" : ""));
    test::DiagCapture diag;
    sim::VirtualClock clock;
    bool bus_started = false;
    DriverSources sources;
    sources.vendor_library = row.vendor_library;
    sources.open_libftdi = [&]() -> std::unique_ptr<FtdiBus> {
      bus_started = true;
      if (!row.libftdi_starts) return nullptr;
      auto bus = std::make_unique<testing::FakeBus>(clock);
      bus->Attach("ZeltoProg");
      return bus;
    };
    std::string chosen;
    std::unique_ptr<AdapterPort> driver = CreateDriver(sources, &chosen);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(chosen, row.chosen);
    EXPECT_EQ(diag.Warnings(), row.warnings);
    ASSERT_FALSE(diag.Infos().empty());
    EXPECT_NE(diag.Infos().back().find(row.info), std::string::npos) << diag.Infos().back();
    // libusb is not even started when the vendor library is there.
    EXPECT_EQ(bus_started, chosen != kDriverNameVendor);

    if (chosen == kDriverNameLibftdi) {
      UsbLink link(*driver);
      EXPECT_EQ(link.Open(), kLinkOk);
    }
    if (chosen == kDriverNameNone) {
      // Nothing to talk through: every operation is a driver failure, none crashes.
      testing::ExpectEveryLinkOperationFails(*driver);
    }
  }
}

}  // namespace
}  // namespace zelto
