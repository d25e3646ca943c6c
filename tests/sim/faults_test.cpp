// SPDX-License-Identifier: MIT
// Every fault the bench can inject: what the host sees, and that each one is counted.
#include "sim/other_device.h"
#include "tests/sim/sim_fixture.h"

namespace zelto::sim::testing {
namespace {

using FaultTest = BenchTest;

// One call of the given kind that succeeds on a working bench; keeps `c` open.
AdapterStatus MakeCall(UsbBus& bus, Call call, std::unique_ptr<AdapterConnection>& c) {
  std::uint8_t buf[16] = {0x01, 0x02, 0x00, 0x00, 0x00, 0x01, 0x03};
  std::uint32_t n = 0;
  std::vector<AdapterInfo> listed;
  AdapterStatus st = adapter_status::kOther;
  switch (call) {
    case Call::kList: return bus.List(listed);
    case Call::kOpen:
      c->Close();
      return bus.Open(AdapterKey::kDescription, "ZeltoProg", 0, c);
    case Call::kReset: return c->Reset();
    case Call::kPurge: return c->Purge();
    case Call::kWrite: return c->Write(buf, 7, n);
    case Call::kQueue: return c->Queue(n);
    case Call::kSetTimeouts: return c->SetTimeouts(5000, 0);
    case Call::kRead: return c->Read(buf, sizeof buf, n);
    case Call::kClose:
      if ((st = c->Close()).Ok()) bus.Open(AdapterKey::kDescription, "ZeltoProg", 0, c);
      return st;
  }
  return st;
}

TEST_F(FaultTest, EachCallFailsOnceNTimesOrUntilCleared) {
  SensorBench();
  for (int i = 0; i < kCallKinds; ++i) {
    const Call call = static_cast<Call>(i);
    SCOPED_TRACE(CallName(call));
    const std::uint64_t before = bus.FaultCount(Fault::kCallFailure);
    bus.FailCall(call);
    EXPECT_EQ(MakeCall(bus, call, link), adapter_status::kIoError);
    EXPECT_TRUE(MakeCall(bus, call, link).Ok());
    bus.FailCall(call, 3, adapter_status::kNotFound);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(MakeCall(bus, call, link), adapter_status::kNotFound);
    EXPECT_TRUE(MakeCall(bus, call, link).Ok());
    bus.FailCall(call, kUntilCleared, adapter_status::kOther);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(MakeCall(bus, call, link), adapter_status::kOther);
    bus.ClearCallFailure(call);
    EXPECT_TRUE(MakeCall(bus, call, link).Ok());
    EXPECT_EQ(bus.FaultCount(Fault::kCallFailure) - before, 14u);
    EXPECT_EQ(bus.FailedCallCount(call), 14u);
  }
}

TEST_F(FaultTest, FailedCallsHaveNoEffect) {
  SensorBench();
  bus.FailCall(Call::kWrite);
  ASSERT_FALSE(Send(kIdentificationRequest).Ok());
  EXPECT_TRUE(bus.adapter(0).HostFrames().empty());
  ASSERT_TRUE(Send(kIdentificationRequest).Ok());
  clock.AdvanceBy(20);
  bus.FailCall(Call::kRead);
  std::uint8_t buf[64];
  std::uint32_t n = 77;
  EXPECT_EQ(link->Read(buf, sizeof buf, n), adapter_status::kIoError);
  EXPECT_EQ(n, 77u);
  EXPECT_EQ(bus.adapter(0).QueuedBytes(), 27u);
  bus.FailCall(Call::kClose);
  EXPECT_EQ(link->Close(), adapter_status::kIoError);
  EXPECT_TRUE(bus.adapter(0).IsOpen());
}

TEST_F(FaultTest, ShortWriteLosesTheTailOfTheFrame) {
  SensorBench();
  bus.ShortWrite(2);
  const Bytes wire{0x01, 0x02, 0x02, 0x00, 0x02, 0x01, 0x03};
  std::uint32_t written = 0;
  ASSERT_TRUE(SendRaw(wire, &written).Ok());
  EXPECT_EQ(written, 5u);
  EXPECT_TRUE(PollFor(100).empty());
  ASSERT_TRUE(SendRaw(wire, &written).Ok());
  EXPECT_EQ(written, 7u);
  const std::vector<Received> got = PollFor(100);
  ASSERT_EQ(got.size(), 1u) << "the programmer starts over at the next frame";
  EXPECT_EQ(got[0].frame.code, kParamsReply);
  EXPECT_EQ(bus.FaultCount(Fault::kShortWrite), 1u);
}

TEST_F(FaultTest, DescriptionFailsForOneOfTwoAdapters) {
  bus.Plug();
  Adapter& bad = bus.Plug();
  EXPECT_EQ(bus.FaultCount(Fault::kSecondAdapter), 1u);
  bad.FailDescription(true);
  std::vector<AdapterInfo> listed;
  ASSERT_TRUE(bus.List(listed).Ok());
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_TRUE(listed[0].has_description && !listed[1].has_description);
  EXPECT_EQ(bus.FaultCount(Fault::kDescriptionFailure), 1u);
  bad.FailDescription(false);
  ASSERT_TRUE(bus.List(listed).Ok());
  EXPECT_TRUE(listed[1].has_description);
}

TEST_F(FaultTest, UnplugKillsTheHandleAndReplugNeedsANewOpen) {
  Duroz740& s = SensorBench();
  ASSERT_TRUE(Send(kReportModeRequest, {2}).Ok());
  clock.AdvanceBy(5);
  bus.Unplug(bus.adapter(0));
  std::uint32_t n = 0;
  EXPECT_EQ(link->Queue(n), adapter_status::kIoError);
  EXPECT_EQ(Send(kReadParamsRequest), adapter_status::kIoError);
  std::unique_ptr<AdapterConnection> other;
  EXPECT_EQ(bus.Open(AdapterKey::kDescription, "ZeltoProg", 0, other), adapter_status::kNotFound);

  clock.AdvanceBy(500);
  bus.Replug(bus.adapter(0));
  std::unique_ptr<AdapterConnection> old = std::move(link);
  EXPECT_EQ(old->Queue(n), adapter_status::kIoError) << "a connection from before stays dead";
  Open();
  EXPECT_EQ(old->Close(), AdapterStatus{});
  EXPECT_EQ(old->Close(), adapter_status::kClosed);
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
  ASSERT_TRUE(Send(kIdentificationRequest).Ok());
  clock.AdvanceBy(20);
  const Bytes noise{0x01, 0x02, 0x17, 0x55, 0x01};
  a.InsertNoise(noise.data(), noise.size());
  a.InsertRandomNoise(100);
  ASSERT_TRUE(Send(kReadParamsRequest).Ok());
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
  ASSERT_TRUE(Send(kIdentificationRequest).Ok());  // due at 30
  clock.AdvanceBy(50);
  ASSERT_TRUE(Send(kReadParamsRequest).Ok());  // due at 70
  const std::vector<Received> got = PollFor(300);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].at_ms, 200);
  EXPECT_EQ(got[1].at_ms, 200);
  EXPECT_EQ(bus.FaultCount(Fault::kMergedReply), 2u);
}

TEST_F(FaultTest, SilentSensorAnswersNothingUntilItComesBack) {
  Duroz740& s = SensorBench();
  ASSERT_TRUE(Send(kReportModeRequest, {2}).Ok());
  clock.AdvanceBy(500);
  ReadQueued();
  s.SetSilent(true);
  ASSERT_TRUE(Send(kIdentificationRequest).Ok());
  ASSERT_TRUE(Send(kReadParamsRequest).Ok());
  EXPECT_TRUE(PollFor(1000).empty());
  EXPECT_EQ(bus.FaultCount(Fault::kSilence), 2u);

  s.SetSilent(false);
  ASSERT_TRUE(Send(kIdentificationRequest).Ok());
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
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Send(kIdentificationRequest).Ok());
  const std::vector<Received> got = PollFor(50);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].frame.payload[0] * 256 + got[0].frame.payload[1], 0x0202);
  a.Attach(std::move(sensor));
  ASSERT_TRUE(Send(kIdentificationRequest).Ok());
  const std::vector<Received> back = PollFor(50);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].frame.payload[1], 0x01);
  EXPECT_EQ(bus.FaultCount(Fault::kOtherDevice), 3u);
}

}  // namespace
}  // namespace zelto::sim::testing
