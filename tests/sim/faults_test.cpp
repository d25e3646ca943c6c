// SPDX-License-Identifier: MIT
// Every fault the bench can inject: what the host sees, and that each one is counted.
#include "sim/other_device.h"
#include "tests/sim/sim_fixture.h"

namespace zelto::sim::testing {
namespace {

using FaultTest = BenchTest;

// One call of the given kind that succeeds on a working bench; keeps `h` open.
FT_STATUS MakeCall(UsbBus& bus, Call call, FT_HANDLE& h) {
  std::uint8_t buf[16] = {0x01, 0x02, 0x00, 0x00, 0x00, 0x01, 0x03};
  std::uint32_t n = 0;
  char name[] = "ZeltoProg";
  FT_STATUS st = FT_OTHER_ERROR;
  switch (call) {
    case Call::kListDevices: return bus.ListDevices(&n, nullptr, FT_LIST_NUMBER_ONLY);
    case Call::kOpenEx:
      bus.Close(h);
      h = nullptr;
      return bus.OpenEx(name, FT_OPEN_BY_DESCRIPTION, &h);
    case Call::kResetDevice: return bus.ResetDevice(h);
    case Call::kPurge: return bus.Purge(h, 3);
    case Call::kWrite: return bus.Write(h, buf, 7, &n);
    case Call::kGetQueueStatus: return bus.GetQueueStatus(h, &n);
    case Call::kSetTimeouts: return bus.SetTimeouts(h, 5000, 0);
    case Call::kRead: return bus.Read(h, buf, sizeof buf, &n);
    case Call::kClose:
      if ((st = bus.Close(h)) == FT_OK) bus.OpenEx(name, FT_OPEN_BY_DESCRIPTION, &h);
      return st;
  }
  return st;
}

TEST_F(FaultTest, EachDriverCallFailsOnceNTimesOrUntilCleared) {
  SensorBench();
  for (int i = 0; i < kCallKinds; ++i) {
    const Call call = static_cast<Call>(i);
    SCOPED_TRACE(CallName(call));
    const std::uint64_t before = bus.FaultCount(Fault::kCallFailure);
    bus.FailCall(call);
    EXPECT_EQ(MakeCall(bus, call, handle), FT_IO_ERROR);
    EXPECT_EQ(MakeCall(bus, call, handle), FT_OK);
    bus.FailCall(call, 3, FT_DEVICE_NOT_FOUND);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(MakeCall(bus, call, handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(MakeCall(bus, call, handle), FT_OK);
    bus.FailCall(call, kUntilCleared, FT_OTHER_ERROR);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(MakeCall(bus, call, handle), FT_OTHER_ERROR);
    bus.ClearCallFailure(call);
    EXPECT_EQ(MakeCall(bus, call, handle), FT_OK);
    EXPECT_EQ(bus.FaultCount(Fault::kCallFailure) - before, 14u);
    EXPECT_EQ(bus.FailedCallCount(call), 14u);
  }
}

TEST_F(FaultTest, FailedCallsHaveNoEffect) {
  SensorBench();
  bus.FailCall(Call::kWrite);
  ASSERT_NE(Send(kIdentificationRequest), FT_OK);
  EXPECT_TRUE(bus.adapter(0).HostFrames().empty());
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  clock.AdvanceBy(20);
  bus.FailCall(Call::kRead);
  std::uint8_t buf[64];
  std::uint32_t n = 77;
  EXPECT_EQ(bus.Read(handle, buf, sizeof buf, &n), FT_IO_ERROR);
  EXPECT_EQ(n, 77u);
  EXPECT_EQ(bus.adapter(0).QueuedBytes(), 27u);
  bus.FailCall(Call::kClose);
  EXPECT_EQ(bus.Close(handle), FT_IO_ERROR);
  EXPECT_TRUE(bus.adapter(0).IsOpen());
}

TEST_F(FaultTest, ShortWriteLosesTheTailOfTheFrame) {
  SensorBench();
  bus.ShortWrite(2);
  const Bytes wire{0x01, 0x02, 0x02, 0x00, 0x02, 0x01, 0x03};
  std::uint32_t written = 0;
  ASSERT_EQ(SendRaw(wire, &written), FT_OK);
  EXPECT_EQ(written, 5u);
  EXPECT_TRUE(PollFor(100).empty());
  ASSERT_EQ(SendRaw(wire, &written), FT_OK);
  EXPECT_EQ(written, 7u);
  const std::vector<Received> got = PollFor(100);
  ASSERT_EQ(got.size(), 1u) << "the programmer starts over at the next frame";
  EXPECT_EQ(got[0].frame.code, kParamsReply);
  EXPECT_EQ(bus.FaultCount(Fault::kShortWrite), 1u);
}

TEST_F(FaultTest, DescriptionQueryFailsForOneOfTwoAdapters) {
  bus.Plug();
  Adapter& bad = bus.Plug();
  EXPECT_EQ(bus.FaultCount(Fault::kSecondAdapter), 1u);
  bad.FailDescriptionQuery(true, FT_IO_ERROR);
  char buf[100];
  const std::uint32_t flags = FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION;
  EXPECT_EQ(bus.ListDevices(reinterpret_cast<void*>(std::uintptr_t{0}), buf, flags), FT_OK);
  EXPECT_EQ(bus.ListDevices(reinterpret_cast<void*>(std::uintptr_t{1}), buf, flags), FT_IO_ERROR);
  EXPECT_EQ(bus.FaultCount(Fault::kDescriptionFailure), 1u);
  bad.FailDescriptionQuery(false);
  EXPECT_EQ(bus.ListDevices(reinterpret_cast<void*>(std::uintptr_t{1}), buf, flags), FT_OK);
}

TEST_F(FaultTest, UnplugKillsTheHandleAndReplugNeedsANewOpen) {
  Duroz740& s = SensorBench();
  ASSERT_EQ(Send(kReportModeRequest, {2}), FT_OK);
  clock.AdvanceBy(5);
  const FT_HANDLE old = handle;
  bus.Unplug(bus.adapter(0));
  std::uint32_t n = 0;
  EXPECT_EQ(bus.GetQueueStatus(old, &n), FT_IO_ERROR);
  EXPECT_EQ(Send(kReadParamsRequest), FT_IO_ERROR);
  char name[] = "ZeltoProg";
  FT_HANDLE h = nullptr;
  EXPECT_EQ(bus.OpenEx(name, FT_OPEN_BY_DESCRIPTION, &h), FT_DEVICE_NOT_FOUND);

  clock.AdvanceBy(500);
  bus.Replug(bus.adapter(0));
  EXPECT_EQ(bus.GetQueueStatus(old, &n), FT_IO_ERROR) << "a handle from before stays dead";
  Open();
  EXPECT_NE(handle, old);
  EXPECT_EQ(bus.Close(old), FT_OK);
  EXPECT_EQ(bus.Close(old), FT_INVALID_HANDLE);
  // The ack that was on its way is lost; the sensor kept its state and streams on.
  const std::vector<Received> got = PollFor(300);
  ASSERT_EQ(got.size(), 3u);
  for (const Received& r : got) EXPECT_EQ(r.frame.code, kSignalReport);
  EXPECT_EQ(s.ReportMode(), 2);
  EXPECT_EQ(bus.FaultCount(Fault::kUnplug), 1u);
  EXPECT_EQ(bus.FaultCount(Fault::kReplug), 1u);
}

TEST_F(FaultTest, NoiseBadChecksumsAndSplitReads) {
  SensorBench();
  Adapter& a = bus.adapter(0);
  a.CorruptNextReplies(1);
  a.LimitReadSize(4);
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  clock.AdvanceBy(20);
  const Bytes noise{0x01, 0x02, 0x17, 0x55, 0x01};
  a.InsertNoise(noise.data(), noise.size());
  a.InsertRandomNoise(100);
  ASSERT_EQ(Send(kReadParamsRequest), FT_OK);
  clock.AdvanceBy(10);
  bus.Update();
  EXPECT_EQ(a.QueuedBytes(), 27u + 5u + 100u + 15u);

  Bytes stream;
  while (a.QueuedBytes() > 0) {
    const Bytes piece = ReadQueued();
    ASSERT_LE(piece.size(), 4u);
    stream.insert(stream.end(), piece.begin(), piece.end());
  }
  EXPECT_TRUE(std::equal(noise.begin(), noise.end(), stream.begin() + 27));
  FrameDecoder d;
  int bad = 0;
  for (std::size_t i = 0; i < 27; ++i) bad += d.Feed(stream[i]) == FrameDecoder::Result::kBadChecksum;
  EXPECT_EQ(bad, 1) << "the identification reply is spoilt";
  d.Reset();
  int good = 0;
  for (std::size_t i = 27 + 5 + 100; i < stream.size(); ++i) good += d.Feed(stream[i]) == FrameDecoder::Result::kFrame;
  EXPECT_EQ(good, 1) << "the parameter reply behind the noise is sound";
  EXPECT_EQ(bus.FaultCount(Fault::kNoise), 2u);
  EXPECT_EQ(bus.FaultCount(Fault::kBadChecksum), 1u);
  EXPECT_EQ(bus.FaultCount(Fault::kSplitRead), 36u);  // 147 bytes, 4 at a time
}

TEST_F(FaultTest, MergedRepliesArriveTogether) {
  SensorBench();
  bus.adapter(0).MergeReplies(200);
  clock.AdvanceBy(10);
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);  // due at 30
  clock.AdvanceBy(50);
  ASSERT_EQ(Send(kReadParamsRequest), FT_OK);  // due at 70
  const std::vector<Received> got = PollFor(300);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].at_ms, 200);
  EXPECT_EQ(got[1].at_ms, 200);
  EXPECT_EQ(bus.FaultCount(Fault::kMergedReply), 2u);
}

TEST_F(FaultTest, SilentSensorAnswersNothingUntilItComesBack) {
  Duroz740& s = SensorBench();
  ASSERT_EQ(Send(kReportModeRequest, {2}), FT_OK);
  clock.AdvanceBy(500);
  ReadQueued();
  s.SetSilent(true);
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  ASSERT_EQ(Send(kReadParamsRequest), FT_OK);
  EXPECT_TRUE(PollFor(1000).empty());
  EXPECT_EQ(bus.FaultCount(Fault::kSilence), 2u);

  s.SetSilent(false);
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  const std::vector<Received> got = PollFor(250);
  ASSERT_EQ(got.size(), 3u) << "reports resume on their beat, without a backlog";
  EXPECT_EQ(got[0].frame.code, kIdentificationReply);
}

TEST_F(FaultTest, AnotherDeviceTypeIsCountedAtEachIdentification) {
  SensorBench();
  Adapter& a = bus.adapter(0);
  std::unique_ptr<Device> sensor = a.Detach();
  a.Attach<OtherDevice>();
  EXPECT_EQ(a.Sensor(), nullptr);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  const std::vector<Received> got = PollFor(50);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].frame.payload[0] * 256 + got[0].frame.payload[1], 0x0202);
  a.Attach(std::move(sensor));
  ASSERT_EQ(Send(kIdentificationRequest), FT_OK);
  const std::vector<Received> back = PollFor(50);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].frame.payload[1], 0x01);
  EXPECT_EQ(bus.FaultCount(Fault::kOtherDevice), 3u);
}

}  // namespace
}  // namespace zelto::sim::testing
