// The sensor model behind the programmer: parameters, writes it takes or refuses, and the
// signal report stream.
#include <algorithm>

#include "tests/sim/sim_fixture.h"

namespace zelto::sim::testing {
namespace {

using SensorTest = BenchTest;

Bytes ReadParams(BenchTest& t) {
  EXPECT_EQ(t.Send(kReadParamsRequest), FT_OK);
  for (const Received& r : t.PollFor(50))
    if (r.frame.code == kParamsReply) return PayloadOf(r.frame);
  ADD_FAILURE() << "no parameter reply";
  return {};
}

Bytes WriteParams(BenchTest& t, const Bytes& values) {
  EXPECT_EQ(t.Send(kWriteParamsRequest, values), FT_OK);
  for (const Received& r : t.PollFor(50))
    if (r.frame.code == kWriteParamsAck) return PayloadOf(r.frame);
  ADD_FAILURE() << "no write acknowledgement";
  return {};
}

TEST_F(SensorTest, ParameterCountFollowsTheFirmware) {
  struct Row {
    std::uint16_t fw;
    std::size_t count;
  };
  for (const Row& r : {Row{0x0100, 5}, Row{0x01FF, 5}, Row{0x0200, 6}, Row{0x0310, 6}}) {
    SCOPED_TRACE(r.fw);
    VirtualClock c;
    UsbBus b(c);
    Adapter& a = b.Plug();
    Duroz740& s = a.Attach<Duroz740>("ZS74000001", 0x0102, r.fw);
    EXPECT_EQ(s.ParamCount(), static_cast<int>(r.count));
  }
  Duroz740& s = SensorBench(0x01FF);
  const Bytes got = ReadParams(*this);
  EXPECT_EQ(got, Bytes(s.Params().begin(), s.Params().begin() + 5));
  // The height byte of a six-byte write is ignored by an old sensor.
  s.SetParam(Duroz740::kHeight, 0);
  EXPECT_EQ(WriteParams(*this, {9, 9, 2, 2, 1, 2}), Bytes{0x00});
  EXPECT_EQ(ReadParams(*this), (Bytes{9, 9, 2, 2, 1}));
  EXPECT_EQ(s.ParamValue(Duroz740::kHeight), 0);
}

TEST_F(SensorTest, WriteStoresEachValueInRangeAndRefusesTheRest) {
  struct Row {
    const char* name;
    Bytes write;
    Bytes stored;  // from starting values 5 2 1 0 0 1
    std::uint8_t refused_mask;
  };
  const Row rows[] = {
      {"all lowest", {1, 1, 0, 0, 0, 0}, {1, 1, 0, 0, 0, 0}, 0x00},
      {"all highest", {9, 9, 2, 2, 1, 2}, {9, 9, 2, 2, 1, 2}, 0x00},
      {"sensitivity 0", {0, 3, 1, 0, 0, 1}, {5, 3, 1, 0, 0, 1}, 0x01},
      {"relay 10", {5, 10, 1, 0, 0, 1}, {5, 2, 1, 0, 0, 1}, 0x02},
      {"each one past its top", {10, 10, 3, 3, 2, 3}, {5, 2, 1, 0, 0, 1}, 0x3F},
      {"short write changes the first ones only", {7, 4}, {7, 4, 1, 0, 0, 1}, 0x00},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    VirtualClock c;
    UsbBus b(c);
    Duroz740& s = b.Plug().Attach<Duroz740>();
    char name[] = "ZeltoProg";
    FT_HANDLE h = nullptr;
    ASSERT_EQ(b.OpenEx(name, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    WireFrame f;
    ASSERT_TRUE(EncodeFrame(kWriteParamsRequest, r.write.data(), r.write.size(), f));
    std::uint32_t n = 0;
    ASSERT_EQ(b.Write(h, f.bytes.data(), static_cast<std::uint32_t>(f.size), &n), FT_OK);
    EXPECT_EQ(Bytes(s.Params().begin(), s.Params().end()), r.stored);
    c.AdvanceBy(10);
    std::uint8_t buf[64];
    ASSERT_EQ(b.Read(h, buf, sizeof buf, &n), FT_OK);
    FrameDecoder d;
    bool acked = false;
    for (std::uint32_t i = 0; i < n; ++i)
      if (d.Feed(buf[i]) == FrameDecoder::Result::kFrame) {
        acked = d.frame().code == kWriteParamsAck;
        EXPECT_EQ(d.frame().payload[0], r.refused_mask);
      }
    EXPECT_TRUE(acked);
  }
}

TEST_F(SensorTest, RefusedValuesAndOtherRepliedValues) {
  Duroz740& s = SensorBench();
  s.RefuseValue(Duroz740::kSensitivity, 7);
  s.RefuseAllValues(Duroz740::kFilter);
  EXPECT_EQ(WriteParams(*this, {7, 3, 2, 2, 1, 2}), Bytes{0x09});
  EXPECT_EQ(ReadParams(*this), (Bytes{5, 3, 2, 0, 1, 2}));
  EXPECT_EQ(WriteParams(*this, {8, 3, 2, 0, 1, 2}), Bytes{0x00});
  EXPECT_EQ(s.counters().refused_values, 2u);

  // Replies may carry values the sensor does not hold, out of range too.
  s.ReplyOtherValue(Duroz740::kRelayTime, 10);
  s.ReplyOtherValue(Duroz740::kHeight, 7);
  EXPECT_EQ(ReadParams(*this), (Bytes{8, 10, 2, 0, 1, 7}));
  EXPECT_EQ(s.ParamValue(Duroz740::kRelayTime), 3);
  s.ClearOtherValues();
  s.ClearRefusals();
  EXPECT_EQ(ReadParams(*this), (Bytes{8, 3, 2, 0, 1, 2}));
  EXPECT_EQ(WriteParams(*this, {7, 3, 2, 1, 1, 2}), Bytes{0x00});
}

TEST_F(SensorTest, ReportModeTwoStreamsReportsEvery100MsUntilModeZero) {
  Duroz740& s = SensorBench();
  ASSERT_EQ(Send(kReportModeRequest, {2}), FT_OK);
  std::vector<Received> got = PollFor(1000, 5);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got[0].frame.code, kReportModeAck);
  EXPECT_EQ(PayloadOf(got[0].frame), Bytes{2});
  EXPECT_EQ(got[0].at_ms, 10);
  ASSERT_EQ(got.size(), 11u);
  for (std::size_t i = 1; i < got.size(); ++i) {
    const DecodedFrame& f = got[i].frame;
    ASSERT_EQ(f.code, kSignalReport);
    ASSERT_EQ(f.count, 4u);
    EXPECT_EQ(f.payload[0], 2);
    EXPECT_EQ(got[i].at_ms, static_cast<std::int64_t>(i) * 100);
  }
  EXPECT_EQ(s.ReportMode(), 2);

  // Asking again does not restart the beat.
  ASSERT_EQ(Send(kReportModeRequest, {2}), FT_OK);
  got = PollFor(100, 5);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].at_ms, 1100);

  ASSERT_EQ(Send(kReportModeRequest, {0}), FT_OK);
  got = PollFor(1000);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].frame.code, kReportModeAck);
  EXPECT_EQ(s.ReportMode(), 0);
}

TEST(SensorThreshold, FallsAsSensitivityRises) {
  for (int s = 1; s < 9; ++s) EXPECT_GT(Duroz740::ThresholdFor(s), Duroz740::ThresholdFor(s + 1));
}

TEST_F(SensorTest, StatusFlagIsSetExactlyWhileTheLevelIsOverThreshold) {
  Duroz740& s = SensorBench();
  ASSERT_EQ(WriteParams(*this, {9, 2, 1, 0, 0, 1}), Bytes{0x00});
  ASSERT_EQ(Send(kReportModeRequest, {2}), FT_OK);
  int quiet = 0, alarms = 0, reports = 0;
  std::uint16_t highest = 0;
  // Three minutes of a room with people passing now and then.
  for (const Received& r : PollFor(180000, 50)) {
    if (r.frame.code != kSignalReport) continue;
    ++reports;
    const std::uint16_t level = static_cast<std::uint16_t>(r.frame.payload[1] << 8 | r.frame.payload[2]);
    const bool on = r.frame.payload[3] != 0;
    EXPECT_EQ(on, level > s.Threshold()) << "level " << level;
    alarms += on;
    quiet += level < 600;
    highest = std::max(highest, level);
  }
  EXPECT_EQ(reports, 1800);
  EXPECT_GT(alarms, 0) << "nobody walked past in three minutes";
  EXPECT_GT(quiet, reports * 3 / 4) << "the room is mostly quiet";
  EXPECT_LE(highest, 20000);
}

TEST_F(SensorTest, APersonWalkingPastRaisesTheLevelAndTheFlag) {
  Duroz740& s = SensorBench();
  ASSERT_EQ(Send(kReportModeRequest, {2}), FT_OK);
  PollFor(50);
  s.WalkPast(12000, 2000);
  std::uint16_t peak = 0;
  bool flagged = false;
  for (const Received& r : PollFor(2000, 100)) {
    if (r.frame.code != kSignalReport) continue;
    peak = std::max<std::uint16_t>(peak, static_cast<std::uint16_t>(r.frame.payload[1] << 8 | r.frame.payload[2]));
    flagged = flagged || r.frame.payload[3] != 0;
  }
  EXPECT_GT(peak, 11000);
  EXPECT_TRUE(flagged);
  // Lower sensitivity: the same walk can stay below the threshold.
  s.SetParam(Duroz740::kSensitivity, 1);
  s.WalkPast(3000, 2000);
  for (const Received& r : PollFor(2000, 100)) {
    if (r.frame.code == kSignalReport) {
      EXPECT_EQ(r.frame.payload[3], 0);
    }
  }
}

TEST_F(SensorTest, TheSameSeedGivesTheSameRoom) {
  auto levels = [](std::uint32_t seed) {
    VirtualClock c;
    UsbBus b(c);
    Duroz740& s = b.Plug().Attach<Duroz740>("ZS74000001", 0x0102, 0x0200, seed);
    char name[] = "ZeltoProg";
    FT_HANDLE h = nullptr;
    EXPECT_EQ(b.OpenEx(name, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    const std::uint8_t mode2[] = {0x01, 0x02, 0x14, 0x02, 0x00, 0x16, 0x01, 0x03};
    std::uint32_t n = 0;
    EXPECT_EQ(b.Write(h, const_cast<std::uint8_t*>(mode2), sizeof mode2, &n), FT_OK);
    std::vector<std::uint16_t> out;
    for (int i = 0; i < 300; ++i) {
      c.AdvanceBy(100);
      b.Update();
      out.push_back(s.LastLevel());
    }
    return out;
  };
  EXPECT_EQ(levels(7), levels(7));
  EXPECT_NE(levels(7), levels(8));
}

}  // namespace
}  // namespace zelto::sim::testing
