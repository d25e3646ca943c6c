// SPDX-License-Identifier: MIT
// Choosing one programmer among several by serial number, in the link and in the libftdi1
// backend, and telling a busy adapter from a broken driver.
#include <gtest/gtest.h>

#include "sim/usb_bus.h"
#include "sim/virtual_clock.h"
#include "tests/drivers/fake_ftdi.h"
#include "core/link/usb_link.h"

namespace zelto {
namespace {

TEST(LinkBySerial, OpensTheChosenOfTwoProgrammers) {
  sim::VirtualClock clock;
  sim::UsbBus bus(clock);
  sim::Adapter& first = bus.Plug("ZeltoProg", "A1");
  sim::Adapter& second = bus.Plug("ZeltoProg", "B2");
  bus.Plug("Other", "B3");
  UsbLink link(bus);
  EXPECT_EQ(link.Open(), kLinkManyProgrammers);

  link.SelectSerial("B2");
  EXPECT_EQ(link.Open(), kLinkOk);
  EXPECT_TRUE(second.IsOpen());
  EXPECT_FALSE(first.IsOpen());
  link.Close();

  link.SelectSerial("B3");  // a serial of a device that is no programmer
  EXPECT_EQ(link.Open(), kLinkNoProgrammer);

  link.SelectSerial("A1");
  first.SetHeldElsewhere(true);
  EXPECT_EQ(link.Open(), kLinkDriverFailure);
  EXPECT_EQ(link.LastOpenStatus(), adapter_status::kInUse);
  bus.FailCall(sim::Call::kList);
  EXPECT_EQ(link.Open(), kLinkDriverFailure);
  EXPECT_EQ(link.LastOpenStatus(), adapter_status::kIoError);
}

// The fake bus with serial numbers and locations.
class SerialFakeBus : public testing::FakeBus {
 public:
  using FakeBus::FakeBus;
  std::vector<std::string> serials;
  int ReadSerial(int index, std::string& serial) override {
    if (static_cast<std::size_t>(index) >= serials.size() || serials[index].empty()) return -1;
    serial = serials[static_cast<std::size_t>(index)];
    return 0;
  }
  int ReadLocation(int index, std::uint32_t& location) override {
    location = 0x0120u + static_cast<std::uint32_t>(index);
    return 0;
  }
};

TEST(LibftdiBySerial, ListsAndOpensBySerialNumber) {
  sim::VirtualClock clock;
  auto owned = std::make_unique<SerialFakeBus>(clock);
  SerialFakeBus& bus = *owned;
  bus.Attach("ZeltoProg");
  bus.Attach("ZeltoProg");
  bus.Attach("ZeltoProg");
  bus.serials = {"S-ONE", "", "S-THREE"};
  LibftdiDriver driver(std::move(owned), &clock);

  std::vector<AdapterInfo> listed;
  ASSERT_EQ(driver.List(listed), AdapterStatus{});
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_TRUE(listed[2].has_serial);
  EXPECT_EQ(listed[2].serial, "S-THREE");
  EXPECT_FALSE(listed[1].has_serial);
  EXPECT_TRUE(listed[1].has_location);
  EXPECT_EQ(listed[1].location, 0x0121u);
  // A filter on the serial number passes over the others.
  AdapterFilter filter;
  filter.serial = "S-THREE";
  ASSERT_EQ(driver.List(listed, &filter), AdapterStatus{});
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].location, 0u) << "not asked for, not read";

  std::unique_ptr<AdapterConnection> connection;
  ASSERT_EQ(driver.Open(AdapterKey::kSerial, "S-THREE", 0, connection), AdapterStatus{});
  EXPECT_EQ(bus.opened, std::vector<int>({2}));
  EXPECT_EQ(driver.Open(AdapterKey::kSerial, "S-TWO", 0, connection), adapter_status::kNotFound);
  ASSERT_EQ(driver.Open(AdapterKey::kLocation, {}, 0x0120u, connection), AdapterStatus{});
  EXPECT_EQ(bus.opened, std::vector<int>({2, 0}));

  // The adapter with that serial is held by another program.
  bus.adapters[0].open_error = -3;
  EXPECT_EQ(driver.Open(AdapterKey::kSerial, "S-ONE", 0, connection), adapter_status::kInUse);
}

}  // namespace
}  // namespace zelto
