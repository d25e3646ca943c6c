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

  std::uint32_t count = 0;
  ASSERT_EQ(driver.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
  ASSERT_EQ(count, 3u);
  char text[101] = {};
  EXPECT_EQ(driver.ListDevices(reinterpret_cast<void*>(2), text,
                               FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
            FT_OK);
  EXPECT_STREQ(text, "S-THREE");
  EXPECT_NE(driver.ListDevices(reinterpret_cast<void*>(1), text,
                               FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
            FT_OK);
  std::uint32_t location = 0;
  EXPECT_EQ(driver.ListDevices(reinterpret_cast<void*>(1), &location,
                               FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION),
            FT_OK);
  EXPECT_EQ(location, 0x0121u);

  FT_HANDLE handle = nullptr;
  char wanted[] = "S-THREE";
  ASSERT_EQ(driver.OpenEx(wanted, FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
  EXPECT_EQ(bus.opened, std::vector<int>({2}));
  char missing[] = "S-TWO";
  EXPECT_EQ(driver.OpenEx(missing, FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);

  // The adapter with that serial is held by another program.
  bus.adapters[0].open_error = -3;
  char first[] = "S-ONE";
  EXPECT_EQ(driver.OpenEx(first, FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_OPENED);
}

}  // namespace
}  // namespace zelto
