// SPDX-License-Identifier: MIT
// The radar window's logic against a scripted driver: what it sends on each connection run,
// how it decodes the sensor's frames and what it shows.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/protocol/programmer_messages.h"
#include "core/radar/radar_logic.h"
#include "core/program/program.h"
#include "sim/virtual_clock.h"
#include "tests/support/fakes.h"
#include "tests/support/test_support.h"

namespace zelto {
namespace {

using namespace zelto::testing;

class RadarLogicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(folder_.path() / "StringTable.txt", NamedStringTable());
    driver_.devices = {"ZeltoProg"};
    // No hold-off: Open() stands in for the main window once it has run down.
    ProgramConfig config{folder_.path(), {1, 0, 0}};
    config.radar_open_delay_ms = 0;
    program_ = std::make_unique<Program>(driver_, clock_, ui_, config);
    program_->Load();
  }

  // What the main window does once a Duroz740 has identified itself and the delay is over.
  void Open(std::int32_t fw = 0x0200) {
    program_->Identity().id = kDuroz740Id;
    program_->Identity().serial = "0000000001";
    program_->Identity().hw_version = 0x0102;
    program_->Identity().fw_version = fw;
    program_->Identity().last_duroz740_fw = fw;
    program_->ShowDeviceStatus();
    radar_ = program_->Radar();
    ASSERT_NE(radar_, nullptr);
    view_ = ui_.LastRadar();
  }

  void Identify(std::int32_t fw = 0x0200) {
    program_->Identity().id = kDuroz740Id;
    program_->Identity().fw_version = fw;
    program_->Identity().last_duroz740_fw = fw;
  }

  // One connection run outside the pacing: never an identification check.
  void Run() {
    program_->Connection().id_check_ticks = 0;
    radar_->RadarConnTick();
  }

  // Lets time pass while the sensor keeps answering its identification requests.
  void AdvanceIdentified(std::int64_t ms) {
    for (std::int64_t t = 0; t < ms; t += 10) {
      Identify(program_->Identity().last_duroz740_fw);
      clock_.AdvanceBy(std::min<std::int64_t>(10, ms - t));
    }
  }

  void Receive(std::uint8_t code, const Bytes& payload) {
    driver_.Feed(Wire(code, payload));
    program_->PollTick();
  }

  // Messages written since the last call.
  std::vector<Msg> Sent() {
    std::vector<Msg> out;
    for (; seen_ < driver_.writes.size(); ++seen_) out.push_back(DecodeWire(driver_.writes[seen_]));
    return out;
  }

  std::array<int, 6> Indices() const {
    std::array<int, 6> a{};
    for (int i = 0; i < 6; ++i) a[i] = radar_->ListIndex(static_cast<ParamList>(i));
    return a;
  }

  TempFolder folder_;
  ScriptedDriver driver_;
  sim::VirtualClock clock_;
  FakeUi ui_;
  std::unique_ptr<Program> program_;
  RadarWindowLogic* radar_ = nullptr;
  RadarRecord* view_ = nullptr;
  std::size_t seen_ = 0;
};

TEST_F(RadarLogicTest, LoadRunAsksForParamsAndReportsButChecksNothing) {
  Open();
  EXPECT_EQ(Sent(), (std::vector<Msg>{{ReadParamsRequest, {}}, {ReportModeRequest, {2}}}));
  EXPECT_TRUE(program_->RadarMode());
  EXPECT_TRUE(program_->ExitsOnRadarClose());
  EXPECT_EQ(program_->Connection().id_check_ticks, 1);
  EXPECT_EQ(radar_->ConnectionTimer().Interval(), 100);
  EXPECT_TRUE(radar_->ConnectionTimer().Enabled());
  EXPECT_FALSE(ui_.main.rec.shown) << "the main window hides behind the radar window";
  EXPECT_TRUE(view_->shown);
}

TEST_F(RadarLogicTest, WindowBeforeAnyReply) {
  ui_.separator = ",";
  Open();
  EXPECT_EQ(view_->caption, Italian(Text::kDuroz740));
  EXPECT_EQ(view_->menu_exit, Italian(Text::kExitMenu));
  EXPECT_EQ(Indices(), (std::array<int, 6>{4, 0, 1, 0, 0, 0}));
  EXPECT_EQ(view_->items[kRelayTime],
            (std::vector<std::string>{"0,5", "1", "1,5", "2", "2,5", "3", "3,5", "4", "4,5"}));
  EXPECT_EQ(view_->items[kReactionSpeed],
            (std::vector<std::string>{Italian(Text::kSpeedSlow), Italian(Text::kSpeedNormal),
                                      Italian(Text::kSpeedFast)}));
  EXPECT_EQ(view_->items[kMainsFilter],
            (std::vector<std::string>{Italian(Text::kFilterOff), "50 Hz", "60 Hz"}));
  EXPECT_EQ(view_->items[kHighTrafficMode],
            (std::vector<std::string>{Italian(Text::kOff), Italian(Text::kOn)}));
  EXPECT_EQ(view_->items[kHeight],
            (std::vector<std::string>{Italian(Text::kHeight230), Italian(Text::kHeight290),
                                      Italian(Text::kHeight350)}));
  EXPECT_EQ(view_->index[kSensitivity], 4);
  const std::pair<RadarLabel, std::string> labels[] = {
      {RadarLabel::kSensitivityCaption, Italian(Text::kSensitivityCaption)},
      {RadarLabel::kRelayTimeCaption, Italian(Text::kRelayTimeCaption)},
      {RadarLabel::kReactionSpeedCaption, Italian(Text::kReactionSpeedCaption)},
      {RadarLabel::kMainsFilterCaption, Italian(Text::kMainsFilterCaption)},
      {RadarLabel::kHighTrafficModeCaption, Italian(Text::kHighTrafficModeCaption)},
      {RadarLabel::kHeightCaption, Italian(Text::kHeightCaption)},
      {RadarLabel::kParametersFrame, Italian(Text::kParametersCaption)},
      {RadarLabel::kSignalCaption, Italian(Text::kSignalCaption)}};
  for (const auto& [label, text] : labels) EXPECT_EQ(view_->labels[label], text);
  EXPECT_EQ(view_->level, std::nullopt);
  EXPECT_EQ(view_->held_peak, 0);
  EXPECT_EQ(radar_->PeakHoldTimer().Interval(), 4980);
  EXPECT_TRUE(radar_->PeakHoldTimer().Enabled());
}

TEST(RelayTimeItems, FollowTheDecimalSeparator) {
  EXPECT_EQ(RelayTimeItems("."),
            (std::vector<std::string>{"0.5", "1", "1.5", "2", "2.5", "3", "3.5", "4", "4.5"}));
}

TEST_F(RadarLogicTest, IdentificationCheckOnEverySixthRun) {
  Open();
  Sent();
  // Runs 2..5 (load run was 1): requests only.
  for (int run = 2; run <= 5; ++run) {
    clock_.AdvanceBy(100);
    for (const Msg& m : Sent()) EXPECT_NE(m.code, IdentificationRequest) << run;
  }
  clock_.AdvanceBy(100);  // run 6: the check
  auto sent = Sent();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), (Msg{IdentificationRequest, {}}));
  EXPECT_EQ(view_->identification, "0000000001 - HW: 102 - FW: 200");
  EXPECT_EQ(program_->Identity().id, 0) << "identity cleared for the new request";
  EXPECT_EQ(program_->Connection().id_check_ticks, 0);
  // Between the request and its answer nothing but the check goes out.
  clock_.AdvanceBy(500);
  EXPECT_TRUE(Sent().empty());
  clock_.AdvanceBy(100);
  EXPECT_EQ(Sent(), (std::vector<Msg>{{IdentificationRequest, {}}}));
  EXPECT_EQ(program_->Connection().id_miss_count, 1);
}

TEST_F(RadarLogicTest, PacingFollowsTheTimerInterval) {
  Open();
  struct Row {
    int interval;
    int runs_per_check;
  };
  for (Row row : {Row{600, 1}, Row{500, 2}, Row{250, 3}, Row{100, 6}}) {
    radar_->ConnectionTimer().SetInterval(row.interval);
    program_->Connection().id_check_ticks = 0;
    Sent();
    int runs = 0;
    do {
      ++runs;
      radar_->RadarConnTick();
    } while (Sent().empty() && runs < 20);
    EXPECT_EQ(runs, row.runs_per_check) << row.interval;
    program_->Connection().id_miss_count = 0;
  }
}

struct ParamsRow {
  const char* name;
  std::int32_t fw;
  Bytes payload;
  std::array<int, 6> indices;     // expected list positions
  std::array<int, 6> last;        // expected LastParams
  int area_sensitivity;           // -1: the area was not redrawn
  bool height_shown;
};
void PrintTo(const ParamsRow& c, std::ostream* os) { *os << c.name; }

class ApplyParamsTest : public RadarLogicTest, public ::testing::WithParamInterface<ParamsRow> {};

TEST_P(ApplyParamsTest, AcceptsFieldsUpToTheFirstRejectedOne) {
  const ParamsRow& row = GetParam();
  Open(row.fw);
  program_->Connection().last_params = {7, 7, 7, 7, 7, 7};
  Receive(ParamsReply, row.payload);
  EXPECT_EQ(Indices(), row.indices);
  std::array<int, 6> last{};
  for (int i = 0; i < 6; ++i) last[i] = program_->Connection().last_params[i];
  EXPECT_EQ(last, row.last);
  EXPECT_EQ(view_->area_sensitivity, row.area_sensitivity);
  EXPECT_EQ(view_->labels.count(RadarLabel::kHeightValue) == 1, row.height_shown);
  EXPECT_FALSE(program_->Connection().read_params_pending) << "cleared even when a field was rejected";
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ApplyParamsTest,
    ::testing::Values(
        ParamsRow{"AllSix", 0x200, {9, 3, 2, 1, 1, 2}, {8, 2, 2, 1, 1, 2}, {8, 2, 2, 1, 1, 2}, 9, true},
        ParamsRow{"SensitivityZero", 0x200, {0, 3, 2, 1, 1, 2}, {4, 0, 1, 0, 0, 0}, {7, 7, 7, 7, 7, 7}, -1, false},
        ParamsRow{"SensitivityTen", 0x200, {10, 3, 2, 1, 1, 2}, {4, 0, 1, 0, 0, 0}, {7, 7, 7, 7, 7, 7}, -1, false},
        ParamsRow{"RelayTen", 0x200, {5, 10, 2, 1, 1, 2}, {4, 0, 1, 0, 0, 0}, {4, 7, 7, 7, 7, 7}, 5, false},
        ParamsRow{"SpeedThree", 0x200, {1, 9, 3, 1, 1, 2}, {0, 8, 1, 0, 0, 0}, {0, 8, 7, 7, 7, 7}, 1, false},
        ParamsRow{"FilterThree", 0x200, {1, 9, 0, 3, 1, 2}, {0, 8, 0, 0, 0, 0}, {0, 8, 0, 7, 7, 7}, 1, false},
        ParamsRow{"TrafficTwo", 0x200, {1, 9, 0, 2, 2, 2}, {0, 8, 0, 2, 0, 0}, {0, 8, 0, 2, 7, 7}, 1, false},
        ParamsRow{"HeightThreeResetsListOnly", 0x200, {2, 1, 0, 0, 1, 3}, {1, 0, 0, 0, 1, 0}, {1, 0, 0, 0, 1, 7}, 2, false},
        ParamsRow{"OldFirmwareIgnoresHeightByte", 0x1FF, {2, 1, 0, 0, 1, 2}, {1, 0, 0, 0, 1, 0}, {1, 0, 0, 0, 1, 0}, 2, true},
        ParamsRow{"OldFirmwareFiveBytes", 0x1FF, {3, 4, 2, 2, 0}, {2, 3, 2, 2, 0, 0}, {2, 3, 2, 2, 0, 0}, 3, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RadarLogicTest, FramesTooShortOrCorruptChangeNothing) {
  Open(0x0200);
  // Leave a full parameter reply in the frame buffer first, then take the pending read back.
  Receive(ParamsReply, {9, 9, 2, 2, 1, 2});
  program_->Connection().read_params_pending = true;
  const auto before = Indices();
  Receive(ParamsReply, {1, 1, 0, 0, 0});  // five bytes from a sensor that has a height
  Receive(SignalReport, {2, 0x10});       // no level low byte, no status
  Bytes bad = Wire(ParamsReply, {1, 1, 0, 0, 0, 0});
  bad[bad.size() - 3] ^= 0x04;  // checksum low byte
  driver_.Feed(bad);
  program_->PollTick();
  EXPECT_EQ(Indices(), before);
  EXPECT_TRUE(program_->Connection().read_params_pending);
  EXPECT_EQ(radar_->Level(), std::nullopt);
  EXPECT_EQ(view_->bar, -1);
}

TEST_F(RadarLogicTest, AcknowledgementsMoveTheFlags) {
  Open();
  Receive(ReportModeAck, {});
  EXPECT_FALSE(program_->Connection().report_mode_pending);
  Receive(ParamsReply, {5, 1, 1, 0, 0, 0});
  EXPECT_FALSE(program_->Connection().read_params_pending);
  Receive(WriteParamsAck, {0x55});
  EXPECT_TRUE(program_->Connection().read_params_pending);
  Receive(0x06, {1, 2, 3});
  EXPECT_TRUE(program_->Connection().read_params_pending);
  Receive(IdentificationReply, IdPayload(257, "SN00000009", 0x0103, 0x0201));
  EXPECT_EQ(program_->Identity().serial, "SN00000009");
  EXPECT_EQ(program_->Identity().fw_version, 0x0201);
}

TEST_F(RadarLogicTest, WriteBackCycle) {
  Open(0x0200);
  Receive(ParamsReply, {5, 1, 1, 0, 0, 2});
  Receive(ReportModeAck, {});
  Sent();
  Identify();
  Run();
  EXPECT_TRUE(Sent().empty()) << "lists agree with the sensor: nothing to write";

  // The user opens the relay-time list: nothing is written while it is open.
  program_->RadarWindowEvents().OnListDropDown(kRelayTime);
  EXPECT_TRUE(program_->Connection().list_open[kRelayTime]);
  Run();
  EXPECT_TRUE(Sent().empty());
  program_->RadarWindowEvents().OnListClick(kRelayTime, 3);
  EXPECT_FALSE(program_->Connection().list_open[kRelayTime]);
  Run();
  EXPECT_EQ(Sent(), (std::vector<Msg>{{WriteParamsRequest, {5, 4, 1, 0, 0, 2}}}));
  Run();
  EXPECT_EQ(Sent().size(), 1u) << "repeated until the sensor answers";
  // A pick made after that write went out is not settled by its acknowledgement: the list
  // keeps showing it across the read, and it is written next.
  program_->RadarWindowEvents().OnListClick(kMainsFilter, 2);

  Receive(WriteParamsAck, {});
  Run();
  EXPECT_EQ(Sent(), (std::vector<Msg>{{ReadParamsRequest, {}}}));
  Receive(ParamsReply, {5, 4, 1, 0, 0, 2});
  EXPECT_EQ(radar_->ListIndex(kMainsFilter), 2);
  Run();
  EXPECT_EQ(Sent(), (std::vector<Msg>{{WriteParamsRequest, {5, 4, 1, 2, 0, 2}}}));
  Receive(WriteParamsAck, {});
  Receive(ParamsReply, {5, 4, 1, 2, 0, 2});
  Run();
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(program_->Connection().last_params[kRelayTime], 3);
}

TEST_F(RadarLogicTest, RefusedValueComesBackAndWritingStops) {
  Open(0x0200);
  Receive(ParamsReply, {5, 1, 1, 0, 0, 0});
  Receive(ReportModeAck, {});
  Identify();
  program_->RadarWindowEvents().OnListDropDown(kSensitivity);
  program_->RadarWindowEvents().OnListClick(kSensitivity, 8);
  Sent();
  Run();
  EXPECT_EQ(Sent().at(0).payload.at(0), 9);
  Receive(WriteParamsAck, {});
  Receive(ParamsReply, {5, 1, 1, 0, 0, 0});  // the sensor kept its own sensitivity
  EXPECT_EQ(radar_->ListIndex(kSensitivity), 4);
  Run();
  EXPECT_TRUE(Sent().empty());
}

TEST_F(RadarLogicTest, OldFirmwareWritesFiveBytes) {
  Open(0x01FF);
  Receive(ParamsReply, {5, 1, 1, 0, 0});
  Receive(ReportModeAck, {});
  Identify(0x01FF);
  program_->RadarWindowEvents().OnListClick(kHighTrafficMode, 1);
  Sent();
  Run();
  EXPECT_EQ(Sent(), (std::vector<Msg>{{WriteParamsRequest, {5, 1, 1, 0, 1}}}));
}

TEST_F(RadarLogicTest, OpenedListStaysOutUntilItsNextClick) {
  Open();
  Receive(ParamsReply, {5, 1, 1, 0, 0, 0});
  Receive(ReportModeAck, {});
  Identify();
  // A pick, then the list is dropped open again before the write went out: the difference
  // waits for the list's next Click.
  program_->RadarWindowEvents().OnListClick(kMainsFilter, 2);
  program_->RadarWindowEvents().OnListDropDown(kMainsFilter);
  Sent();
  Run();
  EXPECT_TRUE(Sent().empty());
  EXPECT_FALSE(radar_->RadarParamsChanged());
  program_->RadarWindowEvents().OnListClick(kMainsFilter, 2);
  EXPECT_TRUE(radar_->RadarParamsChanged());
}

// The identity is cleared at every check; a parameter reply that lands before the next
// identification reply must not reset the height of a sensor that has one.
TEST_F(RadarLogicTest, HeightSurvivesRepliesInTheIdentificationGap) {
  Open(0x0200);
  Receive(ReportModeAck, {});
  for (int cycle = 0; cycle < 50; ++cycle) {
    program_->ResetDeviceIdentity();  // as the check does
    Receive(ParamsReply, {5, 2, 1, 0, 0, 2});
    EXPECT_EQ(radar_->ListIndex(kHeight), 2) << cycle;
    EXPECT_EQ(program_->Connection().last_params[kHeight], 2) << cycle;
    Receive(IdentificationReply, IdPayload(257, "0000000001", 0x0102, 0x0200));
    if (cycle % 5 == 0) {
      program_->RadarWindowEvents().OnListClick(kSensitivity, cycle % 9);
      Sent();
      radar_->RadarConnTick();
      for (const Msg& m : Sent())
        if (m.code == WriteParamsRequest) {
          EXPECT_EQ(m.payload.at(5), 2) << cycle;
        }
      Receive(WriteParamsAck, {});
    }
  }
}

// A reply the lists could only partly take: nothing is written on its account, and a later
// write carries the sensor's own bytes for every field the user did not pick, whatever the
// lists happen to show. A sensor that keeps its values is not written again.
struct PartialRow {
  const char* name;
  Bytes reply;
  ParamList picked;
  int index;
  Bytes write;
};
void PrintTo(const PartialRow& c, std::ostream* os) {
  *os << c.name;
}

class PartlyRejectedReply : public RadarLogicTest,
                            public ::testing::WithParamInterface<PartialRow> {};

TEST_P(PartlyRejectedReply, WritesOnlyWhatTheUserPicked) {
  const PartialRow& row = GetParam();
  Open(0x0200);
  Receive(ReportModeAck, {});
  Receive(ParamsReply, row.reply);
  Sent();
  for (int run = 0; run < 3; ++run) {
    Identify();
    Run();
  }
  EXPECT_TRUE(Sent().empty()) << "the reply on its own caused a write";

  program_->RadarWindowEvents().OnListDropDown(row.picked);
  program_->RadarWindowEvents().OnListClick(row.picked, row.index);
  Identify();
  Run();
  EXPECT_EQ(Sent(), (std::vector<Msg>{{WriteParamsRequest, row.write}}));

  // The sensor answers and reports what it held before: the pick is answered, and the reply
  // that follows causes nothing either.
  Receive(WriteParamsAck, {});
  Identify();
  Run();
  EXPECT_EQ(Sent(), (std::vector<Msg>{{ReadParamsRequest, {}}}));
  Receive(ParamsReply, row.reply);
  for (int run = 0; run < 3; ++run) {
    Identify();
    Run();
  }
  EXPECT_TRUE(Sent().empty()) << "written again after the acknowledgement";
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PartlyRejectedReply,
    ::testing::Values(
        PartialRow{"RelayOutOfRange", {5, 10, 2, 1, 1, 2}, kSensitivity, 6, {7, 10, 2, 1, 1, 2}},
        PartialRow{"HeightOutOfRange", {5, 1, 1, 0, 0, 3}, kRelayTime, 3, {5, 4, 1, 0, 0, 3}},
        PartialRow{
            "SensitivityZero", {0, 2, 1, 0, 0, 2}, kMainsFilter, 2, {0, 2, 1, 2, 0, 2}},
        // The list still shows the window's first selection; the user picks it on purpose.
        PartialRow{"PickOfTheShownEntryAfterTheRejectedField",
                   {5, 2, 3, 1, 1, 2},
                   kHighTrafficMode,
                   0,
                   {5, 2, 3, 1, 0, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

// The identification of another Duroz740 (a sensor swapped on the bench), of the same one
// with other firmware, or of the same one after missed checks or over a reopened link (it may
// have restarted) makes the window read the parameters and ask for signal reports again
// before anything is written. A pick not yet written belongs to the sensor it was made for:
// it is written to the same sensor after the read, and dropped for another one. Over a
// reopened link nothing but identification goes out until the sensor has answered over it.
// The held peak stays only for the same sensor.
struct RefoundRow {
  const char* name;
  const char* serial;
  int fw;
  int missed_checks;
  bool link_lost;  // the link failed and was opened again, no check missed
  bool reread;
  bool same_sensor;
};
void PrintTo(const RefoundRow& c, std::ostream* os) {
  *os << c.name;
}

class SensorRefound : public RadarLogicTest, public ::testing::WithParamInterface<RefoundRow> {};

TEST_P(SensorRefound, ReadsAgainBeforeAnyWrite) {
  const RefoundRow& row = GetParam();
  Open(0x0200);
  // The opening identity came from the main window's handler.
  Receive(IdentificationReply, IdPayload(257, "0000000001", 0x0102, 0x0200));
  Receive(ParamsReply, {5, 2, 1, 0, 0, 2});
  Receive(ReportModeAck, {});
  Receive(SignalReport, {2, 0x12, 0x34, 1});  // this sensor's peak: 4660
  clock_.AdvanceBy(500);  // the first check finds the sensor
  ASSERT_EQ(program_->Connection().id_miss_count, 0);
  for (int miss = 0; miss < row.missed_checks; ++miss) clock_.AdvanceBy(600);
  ASSERT_EQ(program_->Connection().id_miss_count, row.missed_checks);
  // A pick the old sensor never answered: the write is due at the next run.
  program_->RadarWindowEvents().OnListClick(kReactionSpeed, 2);
  if (row.link_lost) {
    // The answer to the last check came over the link that now fails.
    Receive(IdentificationReply, IdPayload(257, "0000000001", 0x0102, 0x0200));
    driver_.queue_status = adapter_status::kIoError;
    program_->PollTick();
    ASSERT_FALSE(program_->Link().IsOpen());
    driver_.queue_status = AdapterStatus{};
    Sent();
    clock_.AdvanceBy(100);
    for (const Msg& m : Sent()) EXPECT_EQ(m.code, IdentificationRequest) << m;
  }
  Sent();
  Receive(IdentificationReply, IdPayload(257, row.serial, 0x0102, row.fw));
  clock_.AdvanceBy(100);
  const std::vector<Msg> sent = Sent();
  // The held peak is the sensor's own: another one starts afresh.
  Receive(SignalReport, {2, 0x01, 0x00, 0});
  EXPECT_EQ(view_->held_peak, row.same_sensor ? 4660 : 256);
  if (!row.reread) {
    EXPECT_EQ(sent, (std::vector<Msg>{{WriteParamsRequest, {5, 2, 2, 0, 0, 2}}}));
    return;
  }
  EXPECT_EQ(sent, (std::vector<Msg>{{ReadParamsRequest, {}}, {ReportModeRequest, {2}}}));
  if (row.same_sensor) {
    // The read does not take the pick off its list, and the pick is written after it.
    Receive(ParamsReply, {5, 2, 1, 0, 0, 2});
    Receive(ReportModeAck, {});
    EXPECT_EQ(radar_->ListIndex(kReactionSpeed), 2);
    clock_.AdvanceBy(100);
    EXPECT_EQ(Sent(), (std::vector<Msg>{{WriteParamsRequest, {5, 2, 2, 0, 0, 2}}}));
    return;
  }
  // The new sensor's relay time is out of the list's range, so the speed list keeps showing
  // the old pick; neither reaches the new sensor.
  Receive(ParamsReply, {3, 10, 0, 2, 1, 1});
  Receive(ReportModeAck, {});
  EXPECT_EQ(radar_->ListIndex(kSensitivity), 2);
  Receive(IdentificationReply, IdPayload(257, row.serial, 0x0102, row.fw));
  clock_.AdvanceBy(300);
  for (const Msg& m : Sent()) EXPECT_NE(m.code, WriteParamsRequest) << m;
}

INSTANTIATE_TEST_SUITE_P(
    Identifications, SensorRefound,
    ::testing::Values(
        RefoundRow{"SameSensorNoMiss", "0000000001", 0x0200, 0, false, false, true},
        RefoundRow{"OtherSerial", "0000000002", 0x0200, 0, false, true, false},
        RefoundRow{"OtherFirmware", "0000000001", 0x0201, 0, false, true, false},
        RefoundRow{"SameSensorAfterOneMiss", "0000000001", 0x0200, 1, false, true, true},
        RefoundRow{"SameSensorAfterFourMisses", "0000000001", 0x0200, 4, false, true, true},
        RefoundRow{"SameSensorOverAReopenedLink", "0000000001", 0x0200, 0, true, true, true},
        RefoundRow{"OtherSensorOverAReopenedLink", "0000000002", 0x0200, 0, true, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A firmware that appends a byte to its identification is still identified; a reply too short
// to hold the fields is not read.
TEST_F(RadarLogicTest, LongerIdentificationReplyIsRead) {
  Open();
  Bytes longer = IdPayload(257, "SN00000042", 0x0103, 0x0205);
  longer.push_back(0x7F);
  program_->ResetDeviceIdentity();
  Receive(IdentificationReply, longer);
  EXPECT_EQ(program_->Identity().id, 257);
  EXPECT_EQ(program_->Identity().serial, "SN00000042");
  EXPECT_EQ(program_->Identity().fw_version, 0x0205);
  program_->ResetDeviceIdentity();
  Receive(IdentificationReply, Bytes(longer.begin(), longer.end() - 2));
  EXPECT_EQ(program_->Identity().id, 0);
}

TEST_F(RadarLogicTest, SignalReportShowsLevelBarLedAndPeak) {
  Open();
  AdvanceIdentified(1000);
  Receive(SignalReport, {2, 0x12, 0x34, 1});
  EXPECT_EQ(view_->level, 4660);
  EXPECT_EQ(view_->held_peak, 4660);
  EXPECT_EQ(view_->bar, 4660);
  EXPECT_EQ(view_->led, true);
  Timer& peak = radar_->PeakHoldTimer();
  EXPECT_EQ(peak.Interval(), 2000);

  // Equal then lower levels: the peak holds and the hold is not restarted.
  AdvanceIdentified(1500);
  Receive(SignalReport, {2, 0x12, 0x34, 0});
  Receive(SignalReport, {2, 0x01, 0x00, 0});
  EXPECT_EQ(view_->level, 256);
  EXPECT_EQ(view_->held_peak, 4660);
  EXPECT_EQ(view_->led, false);
  AdvanceIdentified(499);
  EXPECT_EQ(view_->held_peak, 4660);
  AdvanceIdentified(1);  // 2000 ms after the new peak
  EXPECT_EQ(view_->held_peak, 256);

  // Reports of another kind change nothing at all.
  Receive(SignalReport, {1, 0xFF, 0xFF, 1});
  Receive(SignalReport, {3, 0xFF, 0xFF, 1});
  EXPECT_EQ(view_->bar, 256);
  Receive(SignalReport, {2, 0xFF, 0xFF, 0});
  EXPECT_EQ(view_->level, 65535);
}

TEST_F(RadarLogicTest, PeakTickBeforeAnyReportLeavesAnEmptyPeakThatCountsAsZero) {
  Open();
  AdvanceIdentified(4980);
  EXPECT_EQ(view_->held_peak, std::nullopt);
  Receive(SignalReport, {2, 0, 0, 0});
  EXPECT_EQ(view_->held_peak, std::nullopt) << "0 is no new peak";
  Receive(SignalReport, {2, 0, 1, 0});
  EXPECT_EQ(view_->held_peak, 1);
}

TEST_F(RadarLogicTest, AreaFollowsEverySensitivity) {
  Open();
  for (int s = 1; s <= 9; ++s) {
    radar_->DisplayArea(s);
    EXPECT_EQ(view_->area_sensitivity, s);
  }
  EXPECT_EQ(view_->area_draws, 9);
}

TEST_F(RadarLogicTest, HeightText) {
  Open();
  const char* heights[] = {":  2.30 m", ":  2.90 m", ":  3.50 m"};
  for (int h = 0; h < 3; ++h) {
    Receive(ParamsReply, {5, 1, 1, 0, 0, static_cast<std::uint8_t>(h)});
    EXPECT_EQ(view_->labels[RadarLabel::kHeightValue], Italian(Text::kHeightCaption) + heights[h]);
  }
}

TEST_F(RadarLogicTest, LostSensorClosesTheWindowAtTheSixthMissedCheck) {
  Open();
  Sent();
  // No reply ever comes: the checks at 0.5 s, 1.1 s, ... miss.
  clock_.AdvanceBy(500);
  EXPECT_EQ(program_->Connection().id_miss_count, 0) << "the first check still sees the opening identity";
  for (int miss = 1; miss <= 5; ++miss) {
    clock_.AdvanceBy(600);
    EXPECT_EQ(program_->Connection().id_miss_count, miss);
    EXPECT_EQ(view_->identification == Italian(Text::kNoDeviceAnswering),
              miss >= 3)
        << miss;
    EXPECT_FALSE(view_->unloaded) << miss;
  }
  Sent();
  clock_.AdvanceBy(600);
  EXPECT_TRUE(view_->unloaded);
  EXPECT_EQ(program_->Radar(), nullptr);
  EXPECT_EQ(Sent(), (std::vector<Msg>{{ReportModeRequest, {0}}, {IdentificationRequest, {}}}));
  EXPECT_FALSE(program_->ExitsOnRadarClose());
  EXPECT_FALSE(program_->RadarMode());
  // The hold-off starts over (none here; the bench flow runs the real one after a loss).
  EXPECT_EQ(program_->RadarOpenDelay(), 0);
  EXPECT_TRUE(ui_.main.rec.shown);
  EXPECT_EQ(ui_.main.rec.status_prog, "");
  EXPECT_EQ(ui_.main.rec.status_device, "");
  EXPECT_FALSE(program_->Ended());
  // The closed window's timers are gone with it.
  clock_.AdvanceBy(5000);
  EXPECT_EQ(ui_.radars.size(), 1u);
}

TEST_F(RadarLogicTest, UserCloseSendsStopWritesSettingsAndEnds) {
  program_->OnEnglishChosen();
  Open();
  Sent();
  program_->RadarWindowEvents().OnRadarCloseRequested();
  EXPECT_EQ(Sent(), (std::vector<Msg>{{ReportModeRequest, {0}}}));
  EXPECT_TRUE(program_->Ended());
  EXPECT_TRUE(ui_.main.rec.unloaded);
  EXPECT_EQ(ui_.quits, 1);
  EXPECT_FALSE(program_->Link().IsOpen());
  EXPECT_EQ(ReadFile(folder_.path() / "ZeltoSoft.prm"),
            "\"File configurazione ZeltoSoft\"\r\n1\r\n");
}

}  // namespace
}  // namespace zelto
