// SPDX-License-Identifier: MIT
// The bus as an adapter port: listing, opening, connections, queues, and the programmer's
// identification and relaying on the virtual clock.
#include <set>
#include <string>

#include "sim/other_device.h"
#include "tests/sim/sim_fixture.h"

namespace zelto::sim::testing {
namespace {

using UsbBusTest = BenchTest;

TEST_F(UsbBusTest, ListsPluggedAdaptersInOrderWithTheirStrings) {
  bus.Plug("ZeltoProg", "A1");
  bus.Unplug(bus.Plug("Gone"));
  bus.Plug(std::string(70, 'x'), "B2");
  bus.Plug("Locked", "C3").FailDescription(true);
  std::vector<AdapterInfo> listed(5);
  ASSERT_TRUE(bus.List(listed).Ok());
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0].description, "ZeltoProg");
  EXPECT_EQ(listed[0].serial, "A1");
  EXPECT_EQ(listed[0].location, 0x0111u);
  EXPECT_EQ(listed[1].description, std::string(64, 'x')) << "cut at 64 characters";
  EXPECT_FALSE(listed[2].has_description || listed[2].has_serial || listed[2].has_location);
  EXPECT_TRUE(listed[2].description.empty() && listed[2].serial.empty());

  const AdapterFilter only{"ZeltoProg", "", std::nullopt};
  ASSERT_TRUE(bus.List(listed, &only).Ok());
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].serial, "A1");
  bus.FailCall(Call::kList);
  EXPECT_EQ(bus.List(listed), adapter_status::kIoError);
  EXPECT_TRUE(listed.empty());
}

TEST_F(UsbBusTest, OpenTakesTheFirstFreeAdapterByAnyKey) {
  Adapter& other = bus.Plug("Other", "S0");
  Adapter& first = bus.Plug();
  Adapter& second = bus.Plug();
  std::unique_ptr<AdapterConnection> c1, c2, c3;
  ASSERT_TRUE(bus.Open(AdapterKey::kDescription, "ZeltoProg", 0, c1).Ok());
  EXPECT_TRUE(first.IsOpen() && !second.IsOpen() && !other.IsOpen());
  ASSERT_TRUE(bus.Open(AdapterKey::kDescription, "ZeltoProg", 0, c2).Ok());
  EXPECT_TRUE(second.IsOpen());
  EXPECT_EQ(bus.Open(AdapterKey::kDescription, "ZeltoProg", 0, c3), adapter_status::kNotFound);
  EXPECT_EQ(bus.Open(AdapterKey::kDescription, "Zelto", 0, c3), adapter_status::kNotFound);
  EXPECT_EQ(c3, nullptr);
  ASSERT_TRUE(bus.Open(AdapterKey::kSerial, "S0", 0, c3).Ok());
  EXPECT_TRUE(other.IsOpen());
  ASSERT_TRUE(c2->Close().Ok());
  ASSERT_TRUE(bus.Open(AdapterKey::kLocation, "", second.Location(), c2).Ok());
  EXPECT_TRUE(second.IsOpen());
  c1.reset();
  EXPECT_FALSE(first.IsOpen()) << "a connection let go unclosed closes";
  second.SetHeldElsewhere(true);
  c2.reset();
  EXPECT_EQ(bus.Open(AdapterKey::kSerial, second.Serial(), 0, c2), adapter_status::kInUse);
}

TEST_F(UsbBusTest, AClosedOrUnpluggedConnectionFailsWithoutHarm) {
  Adapter& a = bus.Plug();
  Open();
  std::unique_ptr<AdapterConnection> closed = std::move(link);
  ASSERT_TRUE(closed->Close().Ok());
  Open();
  std::uint8_t buf[8] = {};
  std::uint32_t n = 0;
  EXPECT_EQ(closed->Reset(), adapter_status::kClosed);
  EXPECT_EQ(closed->Purge(), adapter_status::kClosed);
  EXPECT_EQ(closed->Write(buf, sizeof buf, n), adapter_status::kClosed);
  EXPECT_EQ(closed->Queue(n), adapter_status::kClosed);
  EXPECT_EQ(closed->SetTimeouts(5000, 0), adapter_status::kClosed);
  EXPECT_EQ(closed->Read(buf, sizeof buf, n), adapter_status::kClosed);
  EXPECT_EQ(closed->Close(), adapter_status::kClosed);
  EXPECT_TRUE(a.IsOpen()) << "a stale connection must not touch the open one";
  EXPECT_TRUE(a.HostFrames().empty() && a.RawWritten().empty());
  EXPECT_EQ(link->Read(nullptr, 4, n), adapter_status::kBadArgument);

  bus.Unplug(a);
  EXPECT_EQ(link->Write(buf, sizeof buf, n), adapter_status::kIoError);
  EXPECT_TRUE(link->Close().Ok()) << "closing what was pulled still frees it";
}

TEST_F(UsbBusTest, IdentificationIsAnsweredAfterTheProgrammersDelay) {
  SensorBench();
  for (int delay : {20, 45}) {
    SCOPED_TRACE(delay);
    bus.adapter(0).SetIdentifyDelayMs(delay);
    ASSERT_TRUE(Send(kIdentificationRequest).Ok());
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
  ASSERT_TRUE(Send(kIdentificationRequest).Ok());
  EXPECT_TRUE(PollFor(200).empty()) << "an empty socket answers nothing";

  a.Attach<OtherDevice>(0x0305, "OTHER12345", 0x0001, 0x0002);
  ASSERT_TRUE(Send(kIdentificationRequest).Ok());
  const std::vector<Received> got = PollFor(50);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(PayloadOf(got[0].frame), (Bytes{0x03, 0x05, 'O', 'T', 'H', 'E', 'R', '1', '2', '3',
                                            '4', '5', 0x00, 0x01, 0x00, 0x02}));
  ASSERT_TRUE(Send(kReadParamsRequest).Ok());
  EXPECT_TRUE(PollFor(200).empty()) << "another device answers only identification";
}

TEST_F(UsbBusTest, ProgrammerLogsHostFramesAndIgnoresBrokenOnes) {
  Duroz740& s = SensorBench();
  clock.AdvanceBy(123);
  ASSERT_TRUE(Send(kReportModeRequest, {0x02}).Ok());
  ASSERT_TRUE(SendRaw({0x01, 0x02, 0x02, 0x00, 0x03, 0x01, 0x03}).Ok());  // wrong checksum
  ASSERT_TRUE(SendRaw({0x01, 0x02, 0x02}).Ok());  // one frame in two writes
  ASSERT_TRUE(SendRaw({0x00, 0x02, 0x01, 0x03}).Ok());

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
    ASSERT_TRUE(Send(kReportModeRequest, {static_cast<std::uint8_t>(i % 3)}).Ok());
  }
  ASSERT_TRUE(Send(kReadParamsRequest).Ok());
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
  ASSERT_TRUE(link->SetTimeouts(5000, 0).Ok());
  EXPECT_TRUE(bus.adapter(0).ReadTimeoutMs() == 5000 && bus.adapter(0).WriteTimeoutMs() == 0);

  ASSERT_TRUE(Send(kIdentificationRequest).Ok());
  clock.AdvanceBy(20);
  std::uint8_t buf[5000];
  std::uint32_t got = 0;
  ASSERT_TRUE(link->Read(buf, 10, got).Ok());
  EXPECT_EQ(got, 10u);
  ASSERT_TRUE(link->Read(buf, sizeof buf, got).Ok());
  EXPECT_EQ(got, 17u) << "27 bytes with the code, id and hw byte stuffed; a read never waits";

  ASSERT_TRUE(Send(kIdentificationRequest).Ok());
  clock.AdvanceBy(20);
  ASSERT_TRUE(Send(kReadParamsRequest).Ok());
  EXPECT_EQ(bus.adapter(0).QueuedBytes(), 27u);
  ASSERT_TRUE(link->Purge().Ok());
  EXPECT_EQ(bus.adapter(0).QueuedBytes(), 0u);
  const std::vector<Received> replies = PollFor(20);
  ASSERT_EQ(replies.size(), 1u) << "a reply still on its way survives the purge";
  EXPECT_EQ(replies[0].frame.code, kParamsReply);

  // Reset and close drop what arrived; nothing arrives while closed.
  ASSERT_TRUE(Send(kIdentificationRequest).Ok());
  clock.AdvanceBy(30);
  ASSERT_TRUE(link->Reset().Ok());
  EXPECT_EQ(bus.adapter(0).QueuedBytes(), 0u);
  ASSERT_TRUE(Send(kIdentificationRequest).Ok());
  ASSERT_TRUE(link->Close().Ok());
  clock.AdvanceBy(50);
  Open();
  EXPECT_TRUE(PollFor(50).empty());
}

}  // namespace
}  // namespace zelto::sim::testing
