// The bus as a driver: the D2XX argument shapes, handles, queues, and the programmer's
// identification and relaying on the virtual clock.
#include <set>
#include <string>

#include "sim/other_device.h"
#include "tests/sim/sim_fixture.h"

namespace zelto::sim::testing {
namespace {

void* IndexArg(std::uint32_t index) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(index)); }

using UsbBusTest = BenchTest;

TEST_F(UsbBusTest, DeviceCountFollowsPlugAndUnplug) {
  std::uint32_t count = 99;
  ASSERT_EQ(bus.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 0u);
  Adapter& a = bus.Plug();
  bus.Plug("Other");
  ASSERT_EQ(bus.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 2u);
  bus.Unplug(a);
  ASSERT_EQ(bus.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(bus.ListDevices(nullptr, nullptr, FT_LIST_NUMBER_ONLY), FT_INVALID_PARAMETER);
}

TEST_F(UsbBusTest, DescriptionByIndexTakesTheIndexByValue) {
  bus.Plug("ZeltoProg");
  bus.Plug(std::string(70, 'x'));
  Adapter& gone = bus.Plug("Gone");
  bus.Unplug(gone);
  constexpr std::uint32_t kFlags = FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION;
  ASSERT_EQ(kFlags, 0x40000002u);

  char buf[100];
  std::fill(std::begin(buf), std::end(buf), ' ');
  ASSERT_EQ(bus.ListDevices(IndexArg(0), buf, kFlags), FT_OK);
  EXPECT_STREQ(buf, "ZeltoProg");
  EXPECT_EQ(buf[10], ' ');  // nothing written past the NUL

  // A long description is cut at 64 characters.
  ASSERT_EQ(bus.ListDevices(IndexArg(1), buf, kFlags), FT_OK);
  EXPECT_EQ(std::string(buf), std::string(64, 'x'));

  // Unplugged adapters are not listed, so index 2 is past the end.
  std::fill(std::begin(buf), std::end(buf), ' ');
  EXPECT_EQ(bus.ListDevices(IndexArg(2), buf, kFlags), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(bus.ListDevices(IndexArg(0xFFFFFFFFu), buf, kFlags), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(buf[0], ' ');
  EXPECT_EQ(bus.ListDevices(IndexArg(0), nullptr, kFlags), FT_INVALID_PARAMETER);
  EXPECT_EQ(bus.ListDevices(IndexArg(0), buf, FT_LIST_BY_INDEX), FT_INVALID_PARAMETER);
}

TEST_F(UsbBusTest, OpenTakesTheFirstFreeAdapterWithThatDescription) {
  Adapter& other = bus.Plug("Other");
  Adapter& first = bus.Plug();
  Adapter& second = bus.Plug();
  FT_HANDLE h1 = nullptr, h2 = nullptr, h3 = nullptr;
  char name[] = "ZeltoProg";
  ASSERT_EQ(bus.OpenEx(name, FT_OPEN_BY_DESCRIPTION, &h1), FT_OK);
  EXPECT_TRUE(first.IsOpen());
  EXPECT_FALSE(second.IsOpen());
  ASSERT_EQ(bus.OpenEx(name, FT_OPEN_BY_DESCRIPTION, &h2), FT_OK);
  EXPECT_TRUE(second.IsOpen());
  EXPECT_NE(h1, h2);
  EXPECT_EQ(bus.OpenEx(name, FT_OPEN_BY_DESCRIPTION, &h3), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(h3, nullptr);
  EXPECT_FALSE(other.IsOpen());

  char prefix[] = "Zelto";
  EXPECT_EQ(bus.OpenEx(prefix, FT_OPEN_BY_DESCRIPTION, &h3), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(bus.OpenEx(nullptr, FT_OPEN_BY_DESCRIPTION, &h3), FT_INVALID_PARAMETER);
  EXPECT_EQ(bus.OpenEx(name, FT_OPEN_BY_DESCRIPTION, nullptr), FT_INVALID_PARAMETER);

  ASSERT_EQ(bus.Close(h1), FT_OK);
  EXPECT_FALSE(first.IsOpen());
}

TEST_F(UsbBusTest, HandlesAreNeverReused) {
  bus.Plug();
  std::set<FT_HANDLE> seen;
  for (int i = 0; i < 50; ++i) {
    Open();
    EXPECT_TRUE(seen.insert(handle).second) << "handle reused at open " << i;
    ASSERT_EQ(bus.Close(handle), FT_OK);
  }
}

TEST_F(UsbBusTest, CallsOnHandlesThatAreNotOpenFailWithoutHarm) {
  Adapter& a = bus.Plug();
  Open();
  const FT_HANDLE closed = handle;
  ASSERT_EQ(bus.Close(closed), FT_OK);
  Open();
  const FT_HANDLE live = handle;
  const FT_HANDLE never = reinterpret_cast<FT_HANDLE>(static_cast<std::uintptr_t>(0xDEAD));

  std::uint8_t buf[8] = {};
  std::uint32_t n = 0;
  struct Row {
    const char* name;
    FT_HANDLE h;
    FT_STATUS want;
  };
  const Row rows[] = {{"null", nullptr, FT_INVALID_HANDLE},
                      {"closed", closed, FT_INVALID_HANDLE},
                      {"never issued", never, FT_INVALID_HANDLE}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(bus.ResetDevice(r.h), r.want);
    EXPECT_EQ(bus.Purge(r.h, 3), r.want);
    EXPECT_EQ(bus.Write(r.h, buf, sizeof buf, &n), r.want);
    EXPECT_EQ(bus.GetQueueStatus(r.h, &n), r.want);
    EXPECT_EQ(bus.SetTimeouts(r.h, 5000, 0), r.want);
    EXPECT_EQ(bus.Read(r.h, buf, sizeof buf, &n), r.want);
    EXPECT_EQ(bus.Close(r.h), r.want);
  }
  EXPECT_TRUE(a.IsOpen()) << "a bad handle must not touch the open one";
  EXPECT_EQ(bus.Write(live, buf, sizeof buf, nullptr), FT_INVALID_PARAMETER);
  EXPECT_EQ(bus.Write(live, nullptr, 4, &n), FT_INVALID_PARAMETER);
  EXPECT_EQ(bus.GetQueueStatus(live, nullptr), FT_INVALID_PARAMETER);
  EXPECT_EQ(bus.Read(live, nullptr, 4, &n), FT_INVALID_PARAMETER);
  EXPECT_EQ(bus.Read(live, buf, sizeof buf, nullptr), FT_INVALID_PARAMETER);
  EXPECT_EQ(bus.Write(live, buf, 0, &n), FT_OK);
  EXPECT_EQ(n, 0u);
}

TEST_F(UsbBusTest, IdentificationIsAnsweredAfterTheProgrammersDelay) {
  SensorBench();
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  clock.AdvanceBy(19);
  EXPECT_TRUE(Poll().empty());
  clock.AdvanceBy(1);
  const std::vector<Received> got = Poll();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].frame.code, kIdentificationReply);
  const Bytes want{0x01, 0x01, 'Z', 'S', '7', '4', '0', '0', '0', '0', '0', '1',
                   0x01, 0x02, 0x02, 0x00};
  EXPECT_EQ(PayloadOf(got[0].frame), want);

  bus.adapter(0).SetIdentifyDelayMs(45);
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  clock.AdvanceBy(44);
  EXPECT_TRUE(Poll().empty());
  clock.AdvanceBy(1);
  EXPECT_EQ(Poll().size(), 1u);
}

TEST_F(UsbBusTest, IdentificationNamesWhateverIsPluggedIn) {
  Adapter& a = bus.Plug();
  Open();
  // Nothing in the socket: no answer at all.
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  EXPECT_TRUE(PollFor(200).empty());

  a.Attach<OtherDevice>(0x0305, "OTHER12345", 0x0001, 0x0002);
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  const std::vector<Received> got = PollFor(50);
  ASSERT_EQ(got.size(), 1u);
  const Bytes want{0x03, 0x05, 'O', 'T', 'H', 'E', 'R', '1', '2', '3', '4', '5',
                   0x00, 0x01, 0x00, 0x02};
  EXPECT_EQ(PayloadOf(got[0].frame), want);
  // It answers nothing else.
  ASSERT_EQ(Send(kReadParamsRequest), FT_OK);
  EXPECT_TRUE(PollFor(200).empty());
}

TEST_F(UsbBusTest, ProgrammerLogsHostFramesAndIgnoresBrokenOnes) {
  Duroz740& s = SensorBench();
  clock.AdvanceBy(123);
  ASSERT_EQ(Send(kReportModeRequest, {0x02}), FT_OK);
  // A frame with a wrong checksum is dropped before the sensor sees it.
  ASSERT_EQ(SendRaw({0x01, 0x02, 0x02, 0x00, 0x03, 0x01, 0x03}), FT_OK);
  // A frame may come in pieces across writes.
  ASSERT_EQ(SendRaw({0x01, 0x02, 0x02}), FT_OK);
  ASSERT_EQ(SendRaw({0x00, 0x02, 0x01, 0x03}), FT_OK);

  const Adapter& a = bus.adapter(0);
  ASSERT_EQ(a.HostFrames().size(), 2u);
  EXPECT_EQ(a.HostFrames()[0].at_ms, 123);
  EXPECT_EQ(a.HostFrames()[0].frame.code, kReportModeRequest);
  EXPECT_EQ(PayloadOf(a.HostFrames()[0].frame), Bytes{0x02});
  EXPECT_EQ(a.HostFrames()[1].frame.code, kReadParamsRequest);
  EXPECT_EQ(a.RejectedHostFrames(), 1u);
  EXPECT_EQ(a.RawWritten().size(), 8u + 7u + 3u + 4u);
  EXPECT_EQ(s.counters().reads, 1u);
  EXPECT_EQ(s.counters().mode_requests, 1u);
}

TEST_F(UsbBusTest, ReadHandsOutOnlyWhatIsQueuedAndRecordsTimeouts) {
  SensorBench();
  ASSERT_EQ(bus.SetTimeouts(handle, 5000, 0), FT_OK);
  EXPECT_TRUE(bus.adapter(0).TimeoutsSet());
  EXPECT_EQ(bus.adapter(0).ReadTimeoutMs(), 5000u);
  EXPECT_EQ(bus.adapter(0).WriteTimeoutMs(), 0u);

  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  clock.AdvanceBy(20);
  std::uint32_t queued = 0;
  ASSERT_EQ(bus.GetQueueStatus(handle, &queued), FT_OK);
  EXPECT_EQ(queued, 27u);  // id 0x0101, hw 0x0102 and the code are stuffed
  std::uint8_t buf[5000];
  std::uint32_t got = 0;
  ASSERT_EQ(bus.Read(handle, buf, 10, &got), FT_OK);
  EXPECT_EQ(got, 10u);
  ASSERT_EQ(bus.Read(handle, buf, sizeof buf, &got), FT_OK);
  EXPECT_EQ(got, 17u);
  ASSERT_EQ(bus.Read(handle, buf, sizeof buf, &got), FT_OK);
  EXPECT_EQ(got, 0u);
}

TEST_F(UsbBusTest, PurgeAndResetDropOnlyWhatHasArrived) {
  SensorBench();
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  clock.AdvanceBy(20);
  ASSERT_EQ(Send(kReadParamsRequest), FT_OK);
  EXPECT_EQ(bus.adapter(0).QueuedBytes(), 27u);
  ASSERT_EQ(bus.Purge(handle, FT_PURGE_TX), FT_OK);
  EXPECT_EQ(bus.adapter(0).QueuedBytes(), 27u);
  ASSERT_EQ(bus.Purge(handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
  EXPECT_EQ(bus.adapter(0).QueuedBytes(), 0u);
  // The parameter reply was still on its way and arrives after the purge.
  const std::vector<Received> got = PollFor(20);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].frame.code, kParamsReply);

  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  clock.AdvanceBy(30);
  ASSERT_EQ(bus.ResetDevice(handle), FT_OK);
  EXPECT_EQ(bus.adapter(0).QueuedBytes(), 0u);
  EXPECT_EQ(bus.adapter(0).Resets(), 1u);
}

TEST_F(UsbBusTest, NothingIsReceivedWhileTheAdapterIsClosed) {
  SensorBench();
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  ASSERT_EQ(bus.Close(handle), FT_OK);
  clock.AdvanceBy(50);
  Open();
  EXPECT_TRUE(PollFor(50).empty());
  // Closing also discards what had arrived.
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  clock.AdvanceBy(30);
  ASSERT_EQ(bus.Close(handle), FT_OK);
  Open();
  EXPECT_EQ(bus.adapter(0).QueuedBytes(), 0u);
}

}  // namespace
}  // namespace zelto::sim::testing
