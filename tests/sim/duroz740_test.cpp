// SPDX-License-Identifier: MIT
// The sensor model behind the programmer: parameters, writes it takes or refuses, and the
// signal report stream.
#include <algorithm>

#include "tests/sim/sim_fixture.h"

namespace zelto::sim::testing {
namespace {

class SensorTest : public BenchTest {
 public:
  Bytes Ask(std::uint8_t code, std::uint8_t reply, const Bytes& payload = {}) {
    EXPECT_TRUE(Send(code, payload).Ok());
    for (const Received& r : PollFor(50))
      if (r.frame.code == reply) return PayloadOf(r.frame);
    ADD_FAILURE() << "no reply " << int(reply);
    return {};
  }
  Bytes ReadParams() { return Ask(kReadParamsRequest, kParamsReply); }
  Bytes WriteParams(const Bytes& values) { return Ask(kWriteParamsRequest, kWriteParamsAck, values); }
  static std::uint16_t Level(const DecodedFrame& f) { return static_cast<std::uint16_t>(f.payload[1] << 8 | f.payload[2]); }
};

TEST_F(SensorTest, OldFirmwareKeepsFiveParametersAndIgnoresTheHeight) {
  Duroz740& s = SensorBench(0x01FF);
  EXPECT_EQ(ReadParams(), (Bytes{5, 2, 1, 0, 0}));
  s.SetParam(Duroz740::kHeight, 0);
  EXPECT_EQ(WriteParams({9, 9, 2, 2, 1, 2}), Bytes{0x00});
  EXPECT_EQ(ReadParams(), (Bytes{9, 9, 2, 2, 1}));
  EXPECT_EQ(s.ParamValue(Duroz740::kHeight), 0);
}

TEST_F(SensorTest, WriteStoresEachValueInRangeAndRefusesTheRest) {
  struct Row {
    const char* name;
    Bytes write;
    Bytes stored;  // from 5 2 1 0 0 1
    std::uint8_t refused_mask;
  };
  const Row rows[] = {
      {"all lowest", {1, 1, 0, 0, 0, 0}, {1, 1, 0, 0, 0, 0}, 0x00},
      {"all highest", {9, 9, 2, 2, 1, 2}, {9, 9, 2, 2, 1, 2}, 0x00},
      {"sensitivity 0", {0, 3, 1, 0, 0, 1}, {5, 3, 1, 0, 0, 1}, 0x01},
      {"each one past its top", {10, 10, 3, 3, 2, 3}, {5, 2, 1, 0, 0, 1}, 0x3F},
      {"a short write changes the first ones only", {7, 4}, {7, 4, 1, 0, 0, 1}, 0x00},
  };
  SensorBench();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Duroz740& s = bus.adapter(0).Attach<Duroz740>();  // a fresh sensor in the socket
    EXPECT_EQ(WriteParams(r.write), Bytes{r.refused_mask});
    EXPECT_EQ(Bytes(s.Params().begin(), s.Params().end()), r.stored);
    EXPECT_EQ(ReadParams(), r.stored);
  }
}

TEST_F(SensorTest, RefusedValuesAndOtherRepliedValues) {
  Duroz740& s = SensorBench();
  s.RefuseValue(Duroz740::kSensitivity, 7);
  s.RefuseAllValues(Duroz740::kFilter);
  EXPECT_EQ(WriteParams({7, 3, 2, 2, 1, 2}), Bytes{0x09});
  EXPECT_EQ(ReadParams(), (Bytes{5, 3, 2, 0, 1, 2}));
  EXPECT_EQ(WriteParams({8, 3, 2, 0, 1, 2}), Bytes{0x00}) << "its own value is never refused";
  EXPECT_EQ(s.counters().refused_values, 2u);

  s.ReplyOtherValue(Duroz740::kRelayTime, 10);
  s.ReplyOtherValue(Duroz740::kHeight, 7);
  EXPECT_EQ(ReadParams(), (Bytes{8, 10, 2, 0, 1, 7}));
  EXPECT_EQ(s.ParamValue(Duroz740::kRelayTime), 3);
  s.ClearOtherValues();
  s.ClearRefusals();
  EXPECT_EQ(WriteParams({7, 3, 2, 1, 1, 2}), Bytes{0x00});
  EXPECT_EQ(ReadParams(), (Bytes{7, 3, 2, 1, 1, 2}));
}

TEST_F(SensorTest, ReportModeTwoStreamsEvery100MsUntilModeZero) {
  Duroz740& s = SensorBench();
  ASSERT_TRUE(Send(kReportModeRequest, {2}).Ok());
  std::vector<Received> got = PollFor(1000, 5);
  ASSERT_EQ(got.size(), 11u);
  EXPECT_EQ(got[0].frame.code, kReportModeAck);
  EXPECT_EQ(got[0].at_ms, 10);
  for (std::size_t i = 1; i < got.size(); ++i) {
    ASSERT_EQ(got[i].frame.code, kSignalReport);
    ASSERT_EQ(got[i].frame.count, 4u);
    EXPECT_EQ(got[i].frame.payload[0], 2);
    EXPECT_EQ(got[i].at_ms, static_cast<std::int64_t>(i) * 100);
  }
  clock.AdvanceBy(50);
  ASSERT_TRUE(Send(kReportModeRequest, {2}).Ok());
  got = PollFor(100, 5);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].at_ms, 1100) << "asking again keeps the beat";

  ASSERT_TRUE(Send(kReportModeRequest, {0}).Ok());
  got = PollFor(1000);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].frame.code, kReportModeAck);
  EXPECT_EQ(s.ReportMode(), 0);
}

TEST_F(SensorTest, RestartStopsTheReportsAndKeepsTheParameters) {
  Duroz740& s = SensorBench();
  s.SetParam(Duroz740::kSensitivity, 8);
  ASSERT_TRUE(Send(kReportModeRequest, {2}).Ok());
  ASSERT_EQ(PollFor(300, 5).size(), 4u);  // the acknowledgement and three reports
  s.Restart();
  EXPECT_EQ(s.ReportMode(), 0);
  EXPECT_TRUE(PollFor(1000, 5).empty()) << "no reports until asked again";
  EXPECT_EQ(ReadParams().at(0), 8);
  ASSERT_TRUE(Send(kReportModeRequest, {2}).Ok());
  EXPECT_EQ(PollFor(300, 5).size(), 4u);
  EXPECT_EQ(s.Restarts(), 1u);
}

TEST_F(SensorTest, StatusFlagIsSetExactlyWhileTheLevelIsOverThreshold) {
  for (int s = 1; s < 9; ++s) EXPECT_GT(Duroz740::ThresholdFor(s), Duroz740::ThresholdFor(s + 1));
  Duroz740& s = SensorBench();
  ASSERT_EQ(WriteParams({9, 2, 1, 0, 0, 1}), Bytes{0x00});
  ASSERT_TRUE(Send(kReportModeRequest, {2}).Ok());
  int quiet = 0, alarms = 0, reports = 0;
  // Three minutes of a room with people passing now and then.
  for (const Received& r : PollFor(180000, 50)) {
    if (r.frame.code != kSignalReport) continue;
    ++reports;
    const bool on = r.frame.payload[3] != 0;
    EXPECT_EQ(on, Level(r.frame) > s.Threshold()) << "level " << Level(r.frame);
    alarms += on;
    quiet += Level(r.frame) < 600;
  }
  EXPECT_EQ(reports, 1800);
  EXPECT_GT(alarms, 0) << "nobody walked past in three minutes";
  EXPECT_GT(quiet, reports * 3 / 4) << "the room is mostly quiet";

  // A walk of a given height, seen at the highest and at the lowest sensitivity.
  s.WalkPast(12000, 2000);
  std::uint16_t peak = 0;
  for (const Received& r : PollFor(2000, 100)) peak = std::max(peak, Level(r.frame));
  EXPECT_GT(peak, 11000);
  s.SetParam(Duroz740::kSensitivity, 1);
  s.WalkPast(3000, 2000);
  for (const Received& r : PollFor(2000, 100)) EXPECT_EQ(r.frame.payload[3], 0);
}

struct LevelSink final : ReplySink {
  std::vector<std::uint16_t> levels;
  void Send(std::int64_t, std::uint8_t code, const std::uint8_t* p, std::size_t) override {
    if (code == kSignalReport) levels.push_back(static_cast<std::uint16_t>(p[1] << 8 | p[2]));
  }
};

TEST(Duroz740Room, TheSameSeedGivesTheSameRoom) {
  auto levels = [](std::uint32_t seed) {
    Duroz740 s("ZS74000001", 0x0102, 0x0200, seed);
    LevelSink sink;
    DecodedFrame mode2;
    mode2.code = kReportModeRequest;
    mode2.payload[0] = 2;
    mode2.count = 1;
    s.OnMessage(0, mode2, sink);
    for (std::int64_t t = 1000; t <= 60000; t += 1000) s.Advance(t, sink);
    return sink.levels;
  };
  EXPECT_EQ(levels(7).size(), 600u);
  EXPECT_EQ(levels(7), levels(7));
  EXPECT_NE(levels(7), levels(8));
}

}  // namespace
}  // namespace zelto::sim::testing
