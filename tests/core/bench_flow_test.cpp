// SPDX-License-Identifier: MIT
// The whole program logic on the virtual clock against the simulated bench: supervision of
// the programmer, identification, the radar window's life and the shutdown paths.
#include <gtest/gtest.h>

#include "core/protocol/programmer_messages.h"
#include "core/radar/radar_logic.h"
#include "core/program/program.h"
#include "sim/duroz740.h"
#include "sim/other_device.h"
#include "sim/usb_bus.h"
#include "sim/virtual_clock.h"
#include "tests/support/fakes.h"
#include "tests/support/test_support.h"

namespace zelto {
namespace {

using namespace zelto::testing;

class BenchFlow : public ::testing::Test {
 protected:
  BenchFlow() { WriteFile(folder_.path() / "StringTable.txt", NamedStringTable()); }

  void Start(ProgramVersion version = {1, 0, 0}) {
    program_ = std::make_unique<Program>(bus_, clock_, ui_,
                                         ProgramConfig{folder_.path(), version});
    program_->Load();
  }

  sim::Duroz740& PlugSensor(std::uint16_t fw = 0x0200) {
    adapter_ = &bus_.Plug();
    return adapter_->Attach<sim::Duroz740>("0000000001", 0x0102, fw);
  }

  // Host messages the adapter received, from index `from` on.
  std::vector<Msg> HostMessages(std::size_t from = 0) const {
    std::vector<Msg> out;
    const auto& frames = adapter_->HostFrames();
    for (std::size_t i = from; i < frames.size(); ++i) {
      const auto& f = frames[i].frame;
      out.push_back({f.code, Bytes(f.payload.begin(), f.payload.begin() + f.count)});
    }
    return out;
  }
  int CountHost(std::uint8_t code, std::size_t from = 0) const {
    int n = 0;
    for (const Msg& m : HostMessages(from)) n += m.code == code;
    return n;
  }

  void AdvanceTo(std::int64_t t) { clock_.AdvanceTo(t); }

  TempFolder folder_;
  sim::VirtualClock clock_;
  sim::UsbBus bus_{clock_};
  sim::Adapter* adapter_ = nullptr;
  FakeUi ui_;
  std::unique_ptr<Program> program_;
};

TEST_F(BenchFlow, StartUpShowsTheWindowWithEmptyStatusAndArmsTheTimers) {
  Start();
  EXPECT_EQ(ui_.main.rec.label_ver, "Ver 1.00");
  EXPECT_TRUE(ui_.main.rec.shown);
  EXPECT_EQ(ui_.main.rec.status_prog, "");
  EXPECT_EQ(ui_.main.rec.status_device, "");
  EXPECT_EQ(ui_.main.rec.menus[MainMenu::kExit], Italian(Text::kExitMenu));
  EXPECT_EQ(ui_.main.rec.menus[MainMenu::kEnglish], Italian(Text::kEnglishMenu));
  EXPECT_EQ(program_->SupervisionTimer().Interval(), 1500);
  EXPECT_EQ(program_->PollTimer().Interval(), 50);
  EXPECT_EQ(program_->RadarOpenDelay(), 3000);
  EXPECT_FALSE(program_->RadarMode());
}

TEST(VersionLabel, MinorAndRevisionRunTogether) {
  EXPECT_EQ(FormatVersionLabel({1, 0, 0}), "Ver 1.00");
  EXPECT_EQ(FormatVersionLabel({1, 2, 13}), "Ver 1.213");
  EXPECT_EQ(FormatVersionLabel({1, 0, 10}), "Ver 1.010");
}

TEST_F(BenchFlow, NoProgrammerIsShownEveryHalfSecond) {
  Start();
  AdvanceTo(1499);
  EXPECT_EQ(ui_.main.rec.status_prog, "");
  AdvanceTo(1500);
  EXPECT_EQ(ui_.main.rec.status_prog, Italian(Text::kNoProgrammer));
  EXPECT_EQ(ui_.main.rec.prog_colour, kDarkRed);
  for (std::int64_t t = 2000; t <= 4000; t += 500) {
    ui_.main.rec.status_prog = "stale";
    ui_.main.rec.status_device = "stale";
    AdvanceTo(t - 1);
    EXPECT_EQ(ui_.main.rec.status_prog, "stale") << t;
    AdvanceTo(t);
    EXPECT_EQ(ui_.main.rec.status_prog, Italian(Text::kNoProgrammer)) << t;
    EXPECT_EQ(ui_.main.rec.status_device, "") << t;
  }
}

TEST_F(BenchFlow, TwoProgrammersAreShownAndNothingIsSent) {
  adapter_ = &bus_.Plug();
  adapter_->Attach<sim::Duroz740>();
  sim::Adapter& second = bus_.Plug();
  Start();
  AdvanceTo(5000);
  EXPECT_EQ(ui_.main.rec.status_prog, Italian(Text::kManyProgrammers));
  EXPECT_EQ(ui_.main.rec.prog_colour, kDarkRed);
  EXPECT_TRUE(adapter_->HostFrames().empty());
  EXPECT_TRUE(second.HostFrames().empty());
  EXPECT_TRUE(ui_.radars.empty());
}

TEST_F(BenchFlow, DriverFailureIsShown) {
  PlugSensor();
  bus_.FailCall(sim::Call::kList, sim::kUntilCleared);
  Start();
  AdvanceTo(2000);
  EXPECT_EQ(ui_.main.rec.status_prog, Italian(Text::kDriverFailure));
  EXPECT_EQ(ui_.main.rec.prog_colour, kDarkRed);
  EXPECT_EQ(ui_.main.rec.status_device, "");
  bus_.ClearCallFailures();
  AdvanceTo(2500);
  EXPECT_EQ(ui_.main.rec.status_prog, Italian(Text::kProgrammerConnected));
  EXPECT_EQ(ui_.main.rec.prog_colour, kGreen);
}

TEST_F(BenchFlow, Duroz740OpensTheRadarWindowAtThreeSecondsNotEarlier) {
  PlugSensor();
  Start();
  AdvanceTo(1500);
  EXPECT_EQ(ui_.main.rec.status_prog, Italian(Text::kProgrammerConnected));
  EXPECT_EQ(ui_.main.rec.status_device, "") << "the first tick only asks";
  EXPECT_EQ(CountHost(IdentificationRequest), 1);
  AdvanceTo(2000);
  EXPECT_EQ(ui_.main.rec.status_device,
            Italian(Text::kSensorConnected) + "  " + Italian(Text::kDuroz740));
  EXPECT_EQ(ui_.main.rec.device_colour, kGreen);
  AdvanceTo(2999);
  EXPECT_TRUE(ui_.radars.empty());
  EXPECT_EQ(program_->RadarOpenDelay(), 500);
  AdvanceTo(3000);
  ASSERT_EQ(ui_.radars.size(), 1u);
  EXPECT_TRUE(ui_.LastRadar()->shown);
  EXPECT_FALSE(ui_.main.rec.shown);
  EXPECT_TRUE(program_->RadarMode());
}

TEST_F(BenchFlow, SilentDeviceTurnsTheLabelToNoDeviceAnsweringAtTheNextEvaluation) {
  sim::Duroz740& sensor = PlugSensor();
  Start();
  AdvanceTo(1999);
  sensor.SetSilent(true);  // the request sent at 2.0 s goes unanswered
  AdvanceTo(2000);
  EXPECT_EQ(ui_.main.rec.status_device,
            Italian(Text::kSensorConnected) + "  " + Italian(Text::kDuroz740));
  AdvanceTo(2500);
  EXPECT_EQ(ui_.main.rec.status_device, Italian(Text::kNoDeviceAnswering));
  EXPECT_EQ(ui_.main.rec.device_colour, kDarkRed);
  AdvanceTo(6000);
  EXPECT_TRUE(ui_.radars.empty());
}

TEST_F(BenchFlow, OtherDeviceIsShownUnsupportedAndNeverOpens) {
  adapter_ = &bus_.Plug();
  adapter_->Attach<sim::OtherDevice>(0x0202);
  Start();
  AdvanceTo(10000);
  EXPECT_EQ(ui_.main.rec.status_device, Italian(Text::kUnsupportedDevice));
  EXPECT_EQ(ui_.main.rec.device_colour, kDarkRed);
  EXPECT_TRUE(ui_.radars.empty());
}

TEST_F(BenchFlow, AboutBoxHoldsTheRadarWindowBackUntilItCloses) {
  PlugSensor();
  Start();
  AdvanceTo(2900);
  program_->OnAboutChosen();
  EXPECT_TRUE(ui_.main.rec.about_shown);
  AdvanceTo(5200);
  EXPECT_TRUE(ui_.radars.empty());
  ui_.main.rec.about_shown = false;  // the user presses OK
  AdvanceTo(5499);
  EXPECT_TRUE(ui_.radars.empty());
  AdvanceTo(5500);
  EXPECT_EQ(ui_.radars.size(), 1u);
}

TEST_F(BenchFlow, StoredEnglishShowsEnglishMenusFromTheStart) {
  WriteFile(folder_.path() / "ZeltoSoft.prm", "\"File configurazione ZeltoSoft\"\r\n1\r\n");
  Start();
  EXPECT_EQ(program_->Texts().Language(), 1);
  EXPECT_EQ(ui_.main.rec.menus[MainMenu::kExit], English(Text::kExitMenu));
  EXPECT_EQ(ui_.main.rec.menus[MainMenu::kLanguage], English(Text::kLanguageMenu));
  EXPECT_EQ(ui_.main.rec.menus[MainMenu::kItalian], English(Text::kItalianMenu));
  EXPECT_EQ(ui_.main.rec.menus[MainMenu::kEnglish], English(Text::kEnglishMenu));
}

TEST_F(BenchFlow, LanguageSwitchChangesMenusAtOnceAndLabelsAtTheNextTick) {
  Start();
  AdvanceTo(1500);
  program_->OnEnglishChosen();
  EXPECT_EQ(ui_.main.rec.menus[MainMenu::kItalian], English(Text::kItalianMenu));
  EXPECT_EQ(ui_.main.rec.status_prog, Italian(Text::kNoProgrammer));
  AdvanceTo(2000);
  EXPECT_EQ(ui_.main.rec.status_prog, English(Text::kNoProgrammer));
  program_->OnExitChosen();
  EXPECT_EQ(ReadFile(folder_.path() / "ZeltoSoft.prm"),
            "\"File configurazione ZeltoSoft\"\r\n1\r\n");
}

TEST_F(BenchFlow, MissingStringTableEndsTheProgramWithTheMessage) {
  std::filesystem::remove(folder_.path() / "StringTable.txt");
  PlugSensor();
  Start();
  ASSERT_EQ(ui_.main.rec.fatal_messages.size(), 1u);
  EXPECT_EQ(ui_.main.rec.fatal_messages[0],
            "Unable to find file \"StringTable.txt\", the application will be terminated");
  EXPECT_EQ(ui_.main.rec.fatal_title, "ZeltoSoft");
  EXPECT_TRUE(program_->Ended());
  EXPECT_EQ(ui_.quits, 1);
  EXPECT_TRUE(ui_.main.rec.menus.empty()) << "nothing after the failed load runs";
  EXPECT_TRUE(std::filesystem::exists(folder_.path() / "ZeltoSoft.prm"));
  AdvanceTo(10000);
  EXPECT_TRUE(adapter_->HostFrames().empty());
}

TEST_F(BenchFlow, BrokenTableOnALanguageChangeIsFatalToo) {
  Start();
  AdvanceTo(1600);
  WriteFile(folder_.path() / "StringTable.txt", "#STRING eleven\r\nEsci\r\nExit\r\n");
  program_->OnEnglishChosen();
  EXPECT_EQ(ui_.main.rec.fatal_messages.size(), 1u);
  EXPECT_TRUE(program_->Ended());
  EXPECT_EQ(ui_.main.rec.menus[MainMenu::kExit], Italian(Text::kExitMenu))
      << "captions are not touched";
}

TEST_F(BenchFlow, CloseBoxClosesTheLinkAndWritesTheSettings) {
  PlugSensor();
  Start();
  AdvanceTo(2000);
  EXPECT_TRUE(program_->Link().IsOpen());
  program_->OnMainCloseBox();
  EXPECT_TRUE(program_->Ended());
  EXPECT_FALSE(program_->Link().IsOpen());
  EXPECT_FALSE(adapter_->IsOpen());
  EXPECT_EQ(ui_.quits, 1);
  EXPECT_EQ(ReadFile(folder_.path() / "ZeltoSoft.prm"),
            "\"File configurazione ZeltoSoft\"\r\n0\r\n");
  const auto frames = adapter_->HostFrames().size();
  AdvanceTo(8000);
  EXPECT_EQ(adapter_->HostFrames().size(), frames) << "no timer runs after the end";
}

// The identification round trip through link, simulated programmer and receive path.
class IdentificationRoundTrip : public BenchFlow,
                                public ::testing::WithParamInterface<const char*> {};

TEST_P(IdentificationRoundTrip, ReplyIsDispatchedInProgrammerMode) {
  const std::string mode = GetParam();
  PlugSensor();
  if (mode == "split") adapter_->LimitReadSize(14);
  if (mode == "merged") adapter_->MergeReplies(200);
  if (mode == "noise") {
    const std::uint8_t noise[] = {0x00, 0x01, 0x07, 0xFF, 0x03, 0x01};
    adapter_->InsertNoise(noise, sizeof noise);
  }
  if (mode == "corrupt") adapter_->CorruptNextReplies(1);
  program_ = std::make_unique<Program>(bus_, clock_, ui_,
                                       ProgramConfig{folder_.path(), {1, 0, 0}});
  program_->Messages().SendMessage(IdentificationRequest, nullptr, 0);
  int polls = 0;
  for (; polls < 10 && program_->Identity().id == 0; ++polls) {
    clock_.AdvanceBy(50);
    program_->PollTick();
  }
  if (mode == "corrupt") {
    EXPECT_EQ(program_->Identity().id, 0);
    EXPECT_EQ(program_->Identity().serial, "");
    return;
  }
  EXPECT_EQ(program_->Identity().id, 257);
  EXPECT_EQ(program_->Identity().serial, "0000000001");
  EXPECT_EQ(program_->Identity().hw_version, 0x0102);
  EXPECT_EQ(program_->Identity().fw_version, 0x0200);
  if (mode == "split") {
    EXPECT_EQ(polls, 2) << "completed on the second poll";
  }
}

INSTANTIATE_TEST_SUITE_P(Reads, IdentificationRoundTrip,
                         ::testing::Values("whole", "split", "merged", "noise", "corrupt"));

class RadarOnTheBench : public BenchFlow {
 protected:
  // Asserts: callers wrap it in ASSERT_NO_FATAL_FAILURE, so a window that did not open stops
  // the test instead of letting it run on without one.
  void OpenAt3s(std::uint16_t fw = 0x0200) {
    sensor_ = &PlugSensor(fw);
    Start();
    AdvanceTo(3000);
    ASSERT_EQ(ui_.radars.size(), 1u);
    radar_ = program_->Radar();
    view_ = ui_.LastRadar();
  }
  sim::Duroz740* sensor_ = nullptr;
  RadarWindowLogic* radar_ = nullptr;
  RadarRecord* view_ = nullptr;
};

TEST_F(RadarOnTheBench, OpeningReadsParamsStartsReportsAndShowsTheSensor) {
  sensor_ = &PlugSensor();
  sensor_->SetParam(sim::Duroz740::kSensitivity, 7);
  sensor_->SetParam(sim::Duroz740::kHeight, 2);
  Start();
  AdvanceTo(2999);
  const std::size_t mark = adapter_->HostFrames().size();
  AdvanceTo(3000);
  radar_ = program_->Radar();
  view_ = ui_.LastRadar();
  ASSERT_NE(radar_, nullptr);
  EXPECT_EQ(HostMessages(mark),
            (std::vector<Msg>{{ReadParamsRequest, {}}, {ReportModeRequest, {2}}}));
  AdvanceTo(3600);
  EXPECT_EQ(radar_->ListIndex(kSensitivity), 6);
  EXPECT_EQ(radar_->ListIndex(kHeight), 2);
  EXPECT_EQ(program_->Connection().last_params[kSensitivity], 6);
  EXPECT_EQ(sensor_->ReportMode(), 2);
  EXPECT_EQ(view_->identification, "0000000001 - HW: 102 - FW: 200");
  EXPECT_NE(radar_->Level(), std::nullopt) << "signal reports are shown";
  EXPECT_EQ(CountHost(IdentificationRequest, mark), 1) << "one check by 3.5 s";
}

TEST_F(RadarOnTheBench, UserChoiceIsWrittenOnceAndReadBack) {
  ASSERT_NO_FATAL_FAILURE(OpenAt3s());
  AdvanceTo(4000);
  const std::size_t mark = adapter_->HostFrames().size();
  program_->RadarWindowEvents().OnListDropDown(kHighTrafficMode);
  program_->RadarWindowEvents().OnListClick(kHighTrafficMode, 1);
  AdvanceTo(4100);
  ASSERT_GE(CountHost(WriteParamsRequest, mark), 1);
  AdvanceTo(6000);
  EXPECT_EQ(sensor_->ParamValue(sim::Duroz740::kHighTraffic), 1);
  EXPECT_EQ(program_->Connection().last_params[kHighTrafficMode], 1);
  const auto writes = HostMessages(mark);
  int count = 0;
  for (const Msg& m : writes)
    if (m.code == WriteParamsRequest) {
      ++count;
      EXPECT_EQ(m.payload.size(), 6u);
      EXPECT_EQ(m.payload[4], 1);
    }
  EXPECT_LE(count, 2) << "written until acknowledged, not after the read-back";
  const std::size_t mark2 = adapter_->HostFrames().size();
  AdvanceTo(9000);
  EXPECT_EQ(CountHost(WriteParamsRequest, mark2), 0);
}

TEST_F(RadarOnTheBench, OldFirmwareWritesFiveValues) {
  ASSERT_NO_FATAL_FAILURE(OpenAt3s(0x01FF));
  AdvanceTo(4000);
  const std::size_t mark = adapter_->HostFrames().size();
  program_->RadarWindowEvents().OnListClick(kSensitivity, 0);
  AdvanceTo(5000);
  bool seen = false;
  for (const Msg& m : HostMessages(mark))
    if (m.code == WriteParamsRequest) {
      seen = true;
      EXPECT_EQ(m.payload.size(), 5u);
    }
  EXPECT_TRUE(seen);
  EXPECT_EQ(sensor_->ParamValue(sim::Duroz740::kSensitivity), 1);
}

TEST_F(RadarOnTheBench, RefusedValueFlowsBackToTheList) {
  ASSERT_NO_FATAL_FAILURE(OpenAt3s());
  AdvanceTo(4000);
  sensor_->RefuseAllValues(sim::Duroz740::kSensitivity);
  const int own = sensor_->ParamValue(sim::Duroz740::kSensitivity);
  program_->RadarWindowEvents().OnListClick(kSensitivity, 8);
  AdvanceTo(6000);
  EXPECT_EQ(radar_->ListIndex(kSensitivity), own - 1);
  const std::size_t mark = adapter_->HostFrames().size();
  AdvanceTo(8000);
  EXPECT_EQ(CountHost(WriteParamsRequest, mark), 0);
}

TEST_F(RadarOnTheBench, LostSensorHandsBackAndTheWindowReopens) {
  ASSERT_NO_FATAL_FAILURE(OpenAt3s());
  AdvanceTo(3500);  // the first check finds the sensor
  EXPECT_EQ(program_->Connection().id_miss_count, 0);
  AdvanceTo(4050);
  sensor_->SetSilent(true);
  const std::size_t mark = adapter_->HostFrames().size();
  AdvanceTo(4100);  // the second check still has the answer to the request of 3.5 s
  EXPECT_EQ(program_->Connection().id_miss_count, 0);
  // Checks at 4.7, 5.3, 5.9 ... miss; the sixth miss comes 3.6 s after the last good one.
  AdvanceTo(5899);
  EXPECT_NE(view_->identification, Italian(Text::kNoDeviceAnswering));
  AdvanceTo(5900);
  EXPECT_EQ(view_->identification, Italian(Text::kNoDeviceAnswering));
  AdvanceTo(7699);
  EXPECT_FALSE(view_->unloaded);
  AdvanceTo(7700);
  EXPECT_TRUE(view_->unloaded);
  EXPECT_EQ(CountHost(ReportModeRequest, mark), 1) << "the stop request, once";
  EXPECT_EQ(HostMessages(mark).back(), (Msg{IdentificationRequest, {}}));
  EXPECT_TRUE(ui_.main.rec.shown);
  EXPECT_EQ(ui_.main.rec.status_prog, "");
  EXPECT_EQ(ui_.main.rec.status_device, "");
  EXPECT_FALSE(program_->RadarMode());
  EXPECT_FALSE(program_->Ended());

  sensor_->SetSilent(false);
  // The supervision ticks stay on their 500 ms grid (8.0, 8.5, ...); the delay of 3000 ms
  // runs out at the sixth of them.
  AdvanceTo(10000);
  EXPECT_EQ(ui_.radars.size(), 1u);
  AdvanceTo(10500);
  ASSERT_EQ(ui_.radars.size(), 2u);
  EXPECT_TRUE(ui_.LastRadar()->shown);
  EXPECT_EQ(program_->Connection().id_miss_count, 6) << "kept from the lost window";
  AdvanceTo(11100);
  EXPECT_EQ(program_->Connection().id_miss_count, 0);
  EXPECT_FALSE(ui_.LastRadar()->unloaded);
}

TEST_F(RadarOnTheBench, UnpluggedProgrammerLosesTheSensorToo) {
  ASSERT_NO_FATAL_FAILURE(OpenAt3s());
  AdvanceTo(3600);
  bus_.Unplug(*adapter_);
  // The answer to the 3.5 s request came before the unplug, over the link that failed at the
  // next receive poll: it counts for nothing, so the check at 4.1 s is the first of six that
  // miss.
  AdvanceTo(7099);
  EXPECT_FALSE(view_->unloaded);
  AdvanceTo(7100);
  EXPECT_TRUE(view_->unloaded);
  EXPECT_TRUE(ui_.main.rec.shown);
  AdvanceTo(8000);
  EXPECT_EQ(ui_.main.rec.status_prog, Italian(Text::kNoProgrammer));
  bus_.Replug(*adapter_);
  AdvanceTo(14000);
  EXPECT_EQ(ui_.radars.size(), 2u);
}

// The programmer unplugged for a moment, the sensor pulled and put back within the loss
// window or between two identification requests, or a sensor restarting in its socket: it
// comes back without its report mode. The window reads it again and the signal comes back,
// the sensor's parameters untouched; once it streams, nothing is asked again.
struct RestartRow {
  const char* name;
  std::int64_t out_at;   // unplugged or pulled at, ms
  std::int64_t back_at;  // plugged or put back at; equal to out_at: restarted in place
  bool unplug;
};
void PrintTo(const RestartRow& c, std::ostream* os) {
  *os << c.name;
}

class SensorBackAfterARestart : public RadarOnTheBench,
                                public ::testing::WithParamInterface<RestartRow> {};

TEST_P(SensorBackAfterARestart, SignalComesBackWithoutAWrite) {
  const RestartRow& row = GetParam();
  ASSERT_NO_FATAL_FAILURE(OpenAt3s());
  AdvanceTo(row.out_at);
  ASSERT_EQ(sensor_->ReportMode(), 2);
  std::unique_ptr<sim::Device> pulled;
  if (row.back_at > row.out_at) {
    if (row.unplug)
      bus_.Unplug(*adapter_);
    else
      pulled = adapter_->Detach();
  }
  sensor_->Restart();
  AdvanceTo(row.back_at);
  if (row.back_at > row.out_at) {
    if (row.unplug)
      bus_.Replug(*adapter_);
    else
      adapter_->Attach(std::move(pulled));
  }
  // Noticed at the latest 3 s after the last report, then read and asked again.
  AdvanceTo(std::max<std::int64_t>(row.back_at, row.out_at + 3000) + 500);
  ASSERT_EQ(ui_.radars.size(), 1u) << "the window stayed open";
  EXPECT_FALSE(view_->unloaded);
  EXPECT_EQ(sensor_->ReportMode(), 2);
  const std::uint64_t reports = sensor_->counters().reports;
  const std::size_t mark = adapter_->HostFrames().size();
  view_->bar = -1;
  AdvanceTo(clock_.NowMs() + 500);
  EXPECT_GE(sensor_->counters().reports, reports + 4);
  EXPECT_NE(view_->bar, -1) << "the bar moves again";
  EXPECT_EQ(sensor_->counters().writes, 0u);
  AdvanceTo(clock_.NowMs() + 20000);
  EXPECT_EQ(CountHost(ReportModeRequest, mark), 0) << "a streaming sensor is not asked again";
  EXPECT_EQ(CountHost(ReadParamsRequest, mark), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, SensorBackAfterARestart,
    ::testing::Values(RestartRow{"Unplug", 4000, 5500, true}, RestartRow{"Pull", 4000, 5500, false},
                      // Between the requests of 4.1 s and 4.7 s: no check misses.
                      RestartRow{"ShortPull", 4200, 4400, false},
                      RestartRow{"InPlace", 4000, 4000, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A bench operator swaps one Duroz740 for another within the loss window: the window shows
// the new sensor's values, starts its signal, and a later pick changes only what was picked.
TEST_F(RadarOnTheBench, SwappedSensorIsReadAndKeepsItsOwnValues) {
  ASSERT_NO_FATAL_FAILURE(OpenAt3s());
  AdvanceTo(4050);
  adapter_->Detach();
  AdvanceTo(5000);
  auto& second = adapter_->Attach<sim::Duroz740>("0000000002", 0x0102, 0x0201);
  const std::array<std::uint8_t, 6> own = {8, 6, 0, 0, 1, 2};
  for (int p = 0; p < 6; ++p) second.SetParam(p, own[p]);
  AdvanceTo(6500);
  ASSERT_FALSE(view_->unloaded);
  EXPECT_EQ(view_->identification, "0000000002 - HW: 102 - FW: 201");
  EXPECT_EQ(radar_->ListIndex(kSensitivity), 7);
  EXPECT_EQ(radar_->ListIndex(kRelayTime), 5);
  EXPECT_EQ(second.ReportMode(), 2);
  EXPECT_EQ(second.counters().writes, 0u);
  program_->RadarWindowEvents().OnListClick(kMainsFilter, 2);
  AdvanceTo(7500);
  EXPECT_EQ(second.Params(), (std::array<std::uint8_t, 6>{8, 6, 0, 2, 1, 2}));
}

TEST_F(RadarOnTheBench, UserCloseStopsReportsAndEndsTheProgram) {
  ASSERT_NO_FATAL_FAILURE(OpenAt3s());
  AdvanceTo(4000);
  EXPECT_EQ(sensor_->ReportMode(), 2);
  const std::size_t mark = adapter_->HostFrames().size();
  program_->RadarWindowEvents().OnRadarCloseRequested();
  EXPECT_EQ(HostMessages(mark), (std::vector<Msg>{{ReportModeRequest, {0}}}));
  EXPECT_TRUE(program_->Ended());
  EXPECT_FALSE(ui_.main.rec.shown);
  EXPECT_TRUE(ui_.main.rec.unloaded);
  EXPECT_TRUE(std::filesystem::exists(folder_.path() / "ZeltoSoft.prm"));
  AdvanceTo(6000);
  EXPECT_EQ(sensor_->ReportMode(), 0);
  EXPECT_EQ(adapter_->HostFrames().size(), mark + 1);
}

}  // namespace
}  // namespace zelto
