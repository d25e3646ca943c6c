// SPDX-License-Identifier: MIT
// The bus as a driver: the D2XX argument shapes, handles, queues, and the programmer's
// identification and relaying on the virtual clock.
#include <set>
#include <string>

#include "sim/other_device.h"
#include "tests/sim/sim_fixture.h"

namespace zelto::sim::testing {
namespace {

void* IndexArg(std::uint32_t index) { return reinterpret_cast<void*>(std::uintptr_t{index}); }
constexpr std::uint32_t kByIndex = FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION;

using UsbBusTest = BenchTest;

TEST_F(UsbBusTest, ListsPluggedAdaptersCountAndDescriptionByIndex) {
  bus.Plug("ZeltoProg");
  bus.Unplug(bus.Plug("Gone"));
  bus.Plug(std::string(70, 'x'));
  std::uint32_t count = 99;
  ASSERT_EQ(bus.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 2u);

  char buf[100];
  std::fill(std::begin(buf), std::end(buf), ' ');
  ASSERT_EQ(bus.ListDevices(IndexArg(0), buf, kByIndex), FT_OK);
  EXPECT_STREQ(buf, "ZeltoProg");
  EXPECT_EQ(buf[10], ' ') << "nothing written past the NUL";
  ASSERT_EQ(bus.ListDevices(IndexArg(1), buf, kByIndex), FT_OK);
  EXPECT_EQ(std::string(buf), std::string(64, 'x')) << "cut at 64 characters";

  std::fill(std::begin(buf), std::end(buf), ' ');
  EXPECT_EQ(bus.ListDevices(IndexArg(2), buf, kByIndex), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(bus.ListDevices(IndexArg(0xFFFFFFFFu), buf, kByIndex), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(buf[0], ' ');
  EXPECT_EQ(bus.ListDevices(nullptr, nullptr, FT_LIST_NUMBER_ONLY), FT_INVALID_PARAMETER);
  EXPECT_EQ(bus.ListDevices(IndexArg(0), nullptr, kByIndex), FT_INVALID_PARAMETER);
}

TEST_F(UsbBusTest, OpenTakesTheFirstFreeAdapterAndNeverReusesAHandle) {
  Adapter& other = bus.Plug("Other");
  Adapter& first = bus.Plug();
  Adapter& second = bus.Plug();
  char name[] = "ZeltoProg";
  FT_HANDLE h1 = nullptr, h2 = nullptr, h3 = nullptr;
  ASSERT_EQ(bus.OpenEx(name, FT_OPEN_BY_DESCRIPTION, &h1), FT_OK);
  EXPECT_TRUE(first.IsOpen() && !second.IsOpen() && !other.IsOpen());
  ASSERT_EQ(bus.OpenEx(name, FT_OPEN_BY_DESCRIPTION, &h2), FT_OK);
  EXPECT_TRUE(second.IsOpen());
  EXPECT_EQ(bus.OpenEx(name, FT_OPEN_BY_DESCRIPTION, &h3), FT_DEVICE_NOT_FOUND);
  char prefix[] = "Zelto";
  EXPECT_EQ(bus.OpenEx(prefix, FT_OPEN_BY_DESCRIPTION, &h3), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(bus.OpenEx(name, FT_OPEN_BY_DESCRIPTION, nullptr), FT_INVALID_PARAMETER);
  EXPECT_EQ(h3, nullptr);

  std::set<FT_HANDLE> seen{h1, h2};
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(bus.Close(h1), FT_OK);
    ASSERT_EQ(bus.OpenEx(name, FT_OPEN_BY_DESCRIPTION, &h1), FT_OK);
    EXPECT_TRUE(seen.insert(h1).second) << "handle reused at open " << i;
  }
}

TEST_F(UsbBusTest, CallsOnHandlesThatAreNotOpenFailWithoutHarm) {
  Adapter& a = bus.Plug();
  Open();
  const FT_HANDLE closed = handle;
  ASSERT_EQ(bus.Close(closed), FT_OK);
  Open();
  std::uint8_t buf[8] = {};
  std::uint32_t n = 0;
  for (FT_HANDLE h : {FT_HANDLE{nullptr}, closed, reinterpret_cast<FT_HANDLE>(std::uintptr_t{0xDEAD})}) {
    SCOPED_TRACE(h);
    EXPECT_EQ(bus.ResetDevice(h), FT_INVALID_HANDLE);
    EXPECT_EQ(bus.Purge(h, 3), FT_INVALID_HANDLE);
    EXPECT_EQ(bus.Write(h, buf, sizeof buf, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(bus.GetQueueStatus(h, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(bus.SetTimeouts(h, 5000, 0), FT_INVALID_HANDLE);
    EXPECT_EQ(bus.Read(h, buf, sizeof buf, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(bus.Close(h), FT_INVALID_HANDLE);
  }
  EXPECT_TRUE(a.IsOpen()) << "a bad handle must not touch the open one";
  EXPECT_TRUE(a.HostFrames().empty() && a.RawWritten().empty());
  EXPECT_EQ(bus.Write(handle, buf, sizeof buf, nullptr), FT_INVALID_PARAMETER);
  EXPECT_EQ(bus.Read(handle, nullptr, 4, &n), FT_INVALID_PARAMETER);
  EXPECT_EQ(bus.GetQueueStatus(handle, nullptr), FT_INVALID_PARAMETER);
}

TEST_F(UsbBusTest, IdentificationIsAnsweredAfterTheProgrammersDelay) {
  SensorBench();
  for (int delay : {20, 45}) {
    SCOPED_TRACE(delay);
    bus.adapter(0).SetIdentifyDelayMs(delay);
    ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
    clock.AdvanceBy(delay - 1);
    EXPECT_TRUE(Poll().empty());
    clock.AdvanceBy(1);
    const std::vector<Received> got = Poll();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].frame.code, kIdentificationReply);
    EXPECT_EQ(PayloadOf(got[0].frame), (Bytes{0x01, 0x01, 'Z', 'S', '7', '4', '0', '0', '0', '0',
                                              '0', '1', 0x01, 0x02, 0x02, 0x00}));
  }
}

TEST_F(UsbBusTest, IdentificationNamesWhateverIsPluggedIn) {
  Adapter& a = bus.Plug();
  Open();
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  EXPECT_TRUE(PollFor(200).empty()) << "an empty socket answers nothing";

  a.Attach<OtherDevice>(0x0305, "OTHER12345", 0x0001, 0x0002);
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  const std::vector<Received> got = PollFor(50);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(PayloadOf(got[0].frame), (Bytes{0x03, 0x05, 'O', 'T', 'H', 'E', 'R', '1', '2', '3',
                                            '4', '5', 0x00, 0x01, 0x00, 0x02}));
  ASSERT_EQ(Send(kReadParamsRequest), FT_OK);
  EXPECT_TRUE(PollFor(200).empty()) << "another device answers only identification";
}

TEST_F(UsbBusTest, ProgrammerLogsHostFramesAndIgnoresBrokenOnes) {
  Duroz740& s = SensorBench();
  clock.AdvanceBy(123);
  ASSERT_EQ(Send(kReportModeRequest, {0x02}), FT_OK);
  ASSERT_EQ(SendRaw({0x01, 0x02, 0x02, 0x00, 0x03, 0x01, 0x03}), FT_OK);  // wrong checksum
  ASSERT_EQ(SendRaw({0x01, 0x02, 0x02}), FT_OK);  // one frame in two writes
  ASSERT_EQ(SendRaw({0x00, 0x02, 0x01, 0x03}), FT_OK);

  const Adapter& a = bus.adapter(0);
  ASSERT_EQ(a.HostFrames().size(), 2u);
  EXPECT_EQ(a.HostFrames()[0].at_ms, 123);
  EXPECT_EQ(a.HostFrames()[0].frame.code, kReportModeRequest);
  EXPECT_EQ(PayloadOf(a.HostFrames()[0].frame), Bytes{0x02});
  EXPECT_EQ(a.HostFrames()[1].frame.code, kReadParamsRequest);
  EXPECT_EQ(a.RejectedHostFrames(), 1u);
  EXPECT_EQ(a.RawWritten().size(), 22u);
  EXPECT_EQ(s.counters().reads, 1u);
  EXPECT_EQ(s.counters().mode_requests, 1u);
}

// A bench left running (the demo on a showroom screen) keeps a bounded log: the frames of
// twelve hours take no more memory than a few thousand, and the latest ones are still there.
TEST_F(UsbBusTest, FrameLogStaysBoundedAndKeepsTheLatestFrames) {
  SensorBench();
  const Adapter& a = bus.adapter(0);
  for (int i = 0; i < 30000; ++i) {
    clock.AdvanceBy(1);
    ASSERT_EQ(Send(kReportModeRequest, {static_cast<std::uint8_t>(i % 3)}), FT_OK);
  }
  ASSERT_EQ(Send(kReadParamsRequest), FT_OK);
  EXPECT_LE(a.HostFrames().capacity() * sizeof(HostFrame), std::size_t{1} << 20);
  EXPECT_LE(a.RawWritten().capacity(), std::size_t{1} << 20);
  ASSERT_GE(a.HostFrames().size(), 1000u);
  EXPECT_EQ(a.HostFrames().back().frame.code, kReadParamsRequest);
  const HostFrame& before = a.HostFrames()[a.HostFrames().size() - 2];
  EXPECT_EQ(before.frame.code, kReportModeRequest);
  EXPECT_EQ(PayloadOf(before.frame), Bytes{29999 % 3});
}

TEST_F(UsbBusTest, QueuesHandOutWhatArrivedAndPurgeDropsOnlyThat) {
  SensorBench();
  ASSERT_EQ(bus.SetTimeouts(handle, 5000, 0), FT_OK);
  EXPECT_TRUE(bus.adapter(0).ReadTimeoutMs() == 5000 && bus.adapter(0).WriteTimeoutMs() == 0);

  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  clock.AdvanceBy(20);
  std::uint8_t buf[5000];
  std::uint32_t got = 0;
  ASSERT_EQ(bus.Read(handle, buf, 10, &got), FT_OK);
  EXPECT_EQ(got, 10u);
  ASSERT_EQ(bus.Read(handle, buf, sizeof buf, &got), FT_OK);
  EXPECT_EQ(got, 17u) << "27 bytes with the code, id and hw byte stuffed; a read never waits";

  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  clock.AdvanceBy(20);
  ASSERT_EQ(Send(kReadParamsRequest), FT_OK);
  ASSERT_EQ(bus.Purge(handle, FT_PURGE_TX), FT_OK);
  EXPECT_EQ(bus.adapter(0).QueuedBytes(), 27u);
  ASSERT_EQ(bus.Purge(handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
  EXPECT_EQ(bus.adapter(0).QueuedBytes(), 0u);
  const std::vector<Received> replies = PollFor(20);
  ASSERT_EQ(replies.size(), 1u) << "a reply still on its way survives the purge";
  EXPECT_EQ(replies[0].frame.code, kParamsReply);

  // Reset and close drop what arrived; nothing arrives while closed.
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  clock.AdvanceBy(30);
  ASSERT_EQ(bus.ResetDevice(handle), FT_OK);
  EXPECT_EQ(bus.adapter(0).QueuedBytes(), 0u);
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  ASSERT_EQ(bus.Close(handle), FT_OK);
  clock.AdvanceBy(50);
  Open();
  EXPECT_TRUE(PollFor(50).empty());
}

}  // namespace
}  // namespace zelto::sim::testing
