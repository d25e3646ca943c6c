// SPDX-License-Identifier: MIT
// The USB link against a scripted driver: discovery results, the exact driver arguments and
// the ring's free-space rule.
#include <gtest/gtest.h>

#include "tests/support/fakes.h"
#include "core/link/usb_link.h"
#include "core/protocol/message_channel.h"

namespace zelto {
namespace {

using testing::ScriptedDriver;

struct OpenCase {
  const char* name;
  std::vector<std::optional<std::string>> devices;
  AdapterStatus list_status;
  AdapterStatus open_status;
  LinkResult expected;
  bool link_open;
};
void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class LinkOpenTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(LinkOpenTest, ResultAndLinkState) {
  const OpenCase& c = GetParam();
  ScriptedDriver driver;
  driver.devices = c.devices;
  driver.list_status = c.list_status;
  driver.open_status = c.open_status;
  UsbLink link(driver);
  EXPECT_EQ(link.Open(), c.expected);
  EXPECT_EQ(link.IsOpen(), c.link_open);
  if (c.link_open) {
    EXPECT_EQ(driver.opened_with, "ZeltoProg");
    EXPECT_EQ(driver.calls["Reset"], 1);
    // The link holds the connection it was given.
    link.Close();
    EXPECT_EQ(driver.last_closed, driver.opened);
  } else {
    EXPECT_EQ(driver.calls["Reset"], 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Discovery, LinkOpenTest,
    ::testing::Values(
        OpenCase{"OneProgrammer", {"ZeltoProg"}, AdapterStatus{}, AdapterStatus{}, kLinkOk, true},
        OpenCase{
            "AmongOthers", {"FT232R USB UART", "ZeltoProg", "Other"}, AdapterStatus{}, AdapterStatus{}, kLinkOk, true},
        OpenCase{"NoDevices", {}, AdapterStatus{}, AdapterStatus{}, kLinkNoProgrammer, false},
        OpenCase{"OnlyOtherDevices",
                 {"ZeltoProgX", "zeltoprog", "Zelto"},
                 AdapterStatus{},
                 AdapterStatus{},
                 kLinkNoProgrammer,
                 false},
        OpenCase{"TwoProgrammers",
                 {"ZeltoProg", "ZeltoProg"},
                 AdapterStatus{},
                 AdapterStatus{},
                 kLinkManyProgrammers,
                 false},
        OpenCase{
            "UnreadableDeviceSkipped", {std::nullopt, "ZeltoProg"}, AdapterStatus{}, AdapterStatus{}, kLinkOk, true},
        OpenCase{
            "UnreadableSecondNotCounted", {"ZeltoProg", std::nullopt}, AdapterStatus{}, AdapterStatus{}, kLinkOk, true},
        OpenCase{"EmptyDescription", {""}, AdapterStatus{}, AdapterStatus{}, kLinkNoProgrammer, false},
        OpenCase{"CountFails", {"ZeltoProg"}, adapter_status::kIoError, AdapterStatus{}, kLinkDriverFailure, false},
        OpenCase{
            "OpenFails", {"ZeltoProg"}, AdapterStatus{}, adapter_status::kInUse, kLinkDriverFailure, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LinkOpen, ListsOnceThenOpensByDescription) {
  ScriptedDriver driver;
  driver.devices = {"A", "B", "ZeltoProg"};
  UsbLink link(driver);
  ASSERT_EQ(link.Open(), kLinkOk);
  EXPECT_EQ(driver.calls["List"], 1);
  EXPECT_EQ(driver.calls["Open"], 1);
  EXPECT_EQ(driver.opened_with, "ZeltoProg");
}

TEST(LinkOpen, OpenLinkIsNotRediscovered) {
  ScriptedDriver driver;
  driver.devices = {"ZeltoProg"};
  UsbLink link(driver);
  ASSERT_EQ(link.Open(), kLinkOk);
  driver.calls.clear();
  driver.devices.clear();  // even an unplugged programmer is not noticed here
  EXPECT_EQ(link.Open(), kLinkOk);
  EXPECT_TRUE(driver.calls.empty());
}

TEST(LinkOpen, FailedResetStillOpensTheLink) {
  ScriptedDriver driver;
  driver.devices = {"ZeltoProg"};
  driver.reset_status = adapter_status::kIoError;
  UsbLink link(driver);
  EXPECT_EQ(link.Open(), kLinkOk);
  EXPECT_TRUE(link.IsOpen());
}

TEST(LinkClose, ClosesWhateverHandleIsHeldAndReportsTheDriver) {
  ScriptedDriver driver;
  UsbLink link(driver);
  // Never opened: there is nothing to close, and the driver is not asked.
  EXPECT_EQ(link.Close(), kLinkDriverFailure);
  EXPECT_EQ(driver.calls["Close"], 0);
  driver.devices = {"ZeltoProg"};
  ASSERT_EQ(link.Open(), kLinkOk);
  driver.close_status = adapter_status::kClosed;
  EXPECT_EQ(link.Close(), kLinkDriverFailure);
  EXPECT_EQ(driver.last_closed, driver.opened);
  EXPECT_FALSE(link.IsOpen());
}

// Transfers go through the connection an open made.
void OpenOneProgrammer(UsbLink& link, ScriptedDriver& driver) {
  driver.devices = {"ZeltoProg"};
  ASSERT_EQ(link.Open(), kLinkOk);
}

struct WriteCase {
  const char* name;
  AdapterStatus purge, write;
  std::optional<std::uint32_t> short_write;
  LinkResult expected;
  int writes;
};
void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class LinkWriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(LinkWriteTest, PurgesBothQueuesThenWrites) {
  const WriteCase& c = GetParam();
  ScriptedDriver driver;
  driver.purge_status = c.purge;
  driver.write_status = c.write;
  driver.short_write = c.short_write;
  driver.Feed({9, 9, 9});
  UsbLink link(driver);
  OpenOneProgrammer(link, driver);
  const std::uint8_t data[] = {1, 2, 0, 0, 0, 1, 3};
  EXPECT_EQ(link.Write(data, 7), c.expected);
  EXPECT_EQ(driver.calls["Purge"], 1);
  ASSERT_EQ(static_cast<int>(driver.writes.size()), c.writes);
  if (c.writes == 1) {
    EXPECT_EQ(driver.writes[0], std::vector<std::uint8_t>(data, data + 7));
    EXPECT_TRUE(driver.rx.empty()) << "unread received bytes are discarded by the purge";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Results, LinkWriteTest,
    ::testing::Values(
        WriteCase{"Ok", AdapterStatus{}, AdapterStatus{}, std::nullopt, kLinkOk, 1},
        WriteCase{"PurgeFails", adapter_status::kIoError, AdapterStatus{}, std::nullopt, kLinkDriverFailure, 0},
        WriteCase{"WriteFails", AdapterStatus{}, adapter_status::kIoError, std::nullopt, kLinkDriverFailure, 0},
        WriteCase{"ShortWrite", AdapterStatus{}, AdapterStatus{}, 6u, kLinkDriverFailure, 1},
        WriteCase{"OverlongCount", AdapterStatus{}, AdapterStatus{}, 8u, kLinkDriverFailure, 1}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReadCase {
  const char* name;
  int r, w;
  std::size_t queued;
  std::uint32_t expected_request;
  int expected_w;
};
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class LinkReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(LinkReadTest, TakesOnlyTheRingsFreeSpace) {
  const ReadCase& c = GetParam();
  ReceiveRing ring;
  ScriptedDriver driver;
  for (std::size_t i = 0; i < c.queued; ++i) driver.rx.push_back(static_cast<std::uint8_t>(i));
  UsbLink link(driver);
  OpenOneProgrammer(link, driver);
  int w = c.w;
  EXPECT_EQ(link.Read(ring.bytes.data(), c.r, w, 2000), kLinkOk);
  ASSERT_EQ(driver.read_requests.size(), 1u);
  EXPECT_EQ(driver.read_requests[0], c.expected_request);
  EXPECT_EQ(w, c.expected_w);
  EXPECT_EQ(driver.rx.size(), c.queued - c.expected_request) << "the rest waits in the driver";
  EXPECT_EQ(driver.last_read_timeout, 5000u);
  EXPECT_EQ(driver.last_write_timeout, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    FreeSpace, LinkReadTest,
    ::testing::Values(ReadCase{"FullRingReadsZero", 5, 4, 10, 0, 4},
                      ReadCase{"NearEndTakesNine", 0, 1990, 50, 9, 1999},
                      ReadCase{"EmptyRingTakesAllButOne", 0, 0, 2500, 1999, 1999},
                      ReadCase{"WrapsToZero", 100, 1995, 10, 10, 5},
                      ReadCase{"ReadAheadOfWrite", 10, 3, 20, 6, 9}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LinkRead, OneReadTakesAtMostTheStagingBuffer) {
  ScriptedDriver driver;
  for (int i = 0; i < 6000; ++i) driver.rx.push_back(static_cast<std::uint8_t>(i));
  UsbLink link(driver);
  OpenOneProgrammer(link, driver);
  std::vector<std::uint8_t> big_ring(8000);
  int w = 0;
  ASSERT_EQ(link.Read(big_ring.data(), 0, w, 8000), kLinkOk);
  EXPECT_EQ(driver.read_requests[0], 5000u);
  EXPECT_EQ(w, 5000);
  EXPECT_EQ(big_ring[4999], static_cast<std::uint8_t>(4999));
}

TEST(LinkRead, StoresBytesInOrderAcrossTheWrapPoint) {
  ReceiveRing ring;
  ScriptedDriver driver;
  driver.Feed({0xA0, 0xA1, 0xA2, 0xA3});
  UsbLink link(driver);
  OpenOneProgrammer(link, driver);
  int w = 1998;
  ASSERT_EQ(link.Read(ring.bytes.data(), 500, w, 2000), kLinkOk);
  EXPECT_EQ(w, 2);
  EXPECT_EQ(ring.bytes[1998], 0xA0);
  EXPECT_EQ(ring.bytes[1999], 0xA1);
  EXPECT_EQ(ring.bytes[0], 0xA2);
  EXPECT_EQ(ring.bytes[1], 0xA3);
  EXPECT_EQ(ring.bytes[2000], 0) << "the spare element past the ring is never written";
}

TEST(LinkRead, ShortReadStoresOnlyWhatCame) {
  ReceiveRing ring;
  ScriptedDriver driver;
  driver.Feed({1, 2, 3, 4, 5});
  driver.read_limit = 2;
  UsbLink link(driver);
  OpenOneProgrammer(link, driver);
  int w = 1999;
  ASSERT_EQ(link.Read(ring.bytes.data(), 0, w, 2000), kLinkOk);
  EXPECT_EQ(driver.read_requests[0], 0u) << "w=1999, r=0: the ring is full";
  w = 10;
  ASSERT_EQ(link.Read(ring.bytes.data(), 0, w, 2000), kLinkOk);
  EXPECT_EQ(w, 12);
}

TEST(LinkRead, NothingWaitingStillSetsTimeoutsAndDoesNotRead) {
  ReceiveRing ring;
  ScriptedDriver driver;
  UsbLink link(driver);
  OpenOneProgrammer(link, driver);
  int w = 7;
  EXPECT_EQ(link.Read(ring.bytes.data(), 7, w, 2000), kLinkOk);
  EXPECT_EQ(driver.calls["SetTimeouts"], 1);
  EXPECT_EQ(driver.calls["Read"], 0);
  EXPECT_EQ(w, 7);
}

TEST(LinkRead, DriverFailuresStoreNothing) {
  for (int which = 0; which < 3; ++which) {
    ReceiveRing ring;
    ScriptedDriver driver;
    driver.Feed({1, 2, 3});
    (which == 0 ? driver.queue_status : which == 1 ? driver.timeouts_status : driver.read_status) =
        adapter_status::kIoError;
    UsbLink link(driver);
    OpenOneProgrammer(link, driver);
    int w = 0;
    EXPECT_EQ(link.Read(ring.bytes.data(), 0, w, 2000), kLinkDriverFailure) << which;
    EXPECT_EQ(w, 0) << which;
  }
}

}  // namespace
}  // namespace zelto
