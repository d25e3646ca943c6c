// SPDX-License-Identifier: MIT
// The soak's checks must catch what they are there to catch: each test below makes the
// program or the sensor misbehave in one way and expects the soak to report it, and a clean
// run to report nothing while injecting every kind of fault.
#include "tests/soak/soak_world.h"

#include <gtest/gtest.h>

#include <string>

#include "core/radar/radar_logic.h"

namespace zelto::soak {
namespace {

bool Mentions(const SoakFigures& f, const std::string& text) {
  for (const std::string& v : f.first_violations)
    if (v.find(text) != std::string::npos) return true;
  return false;
}

SoakOptions Options(std::uint32_t seed = 11) {
  SoakOptions o;
  o.seed = seed;
  return o;
}

TEST(SoakRun, HourOfFaultsInjectsEveryKindAndFindsNothing) {
  SoakOptions o = Options(5);
  o.hours = 1.0;
  SoakWorld world(o);
  world.Run();
  const SoakFigures f = world.Figures();
  EXPECT_EQ(f.violations, 0u) << (f.first_violations.empty() ? "" : f.first_violations[0]);
  EXPECT_GE(f.simulated_ms, 3600000);
  for (int k = 0; k < sim::kFaultKinds; ++k)
    EXPECT_GT(f.faults[k], 0u) << sim::FaultName(static_cast<sim::Fault>(k));
  for (int k = 0; k < kSoakFaultKinds; ++k) EXPECT_GT(f.episodes[k], 0u) << kFaultKindNames[k];
  EXPECT_GT(f.refinds_watched, 0u);
  EXPECT_GT(f.user_choices, 0u);
  EXPECT_GT(f.writes_taken, 0u);
  EXPECT_GT(f.radar_closings, 0u);
  EXPECT_EQ(f.radar_openings, f.radar_closings + 1) << "the run ends with the window open";
}

// A value appearing in the sensor that no user chose: what a freshly opened window selects,
// or a height reset to its first entry.
struct MadeUp {
  ParamList list;
  std::uint8_t value;
};

// Named by its fields: printed as raw bytes, the padding would make the test's name differ
// from build to build.
void PrintTo(const MadeUp& m, std::ostream* os) {
  *os << "list " << static_cast<int>(m.list) << " value " << static_cast<int>(m.value);
}

class SoakMadeUpValue : public ::testing::TestWithParam<MadeUp> {};

TEST_P(SoakMadeUpValue, IsReportedAtTheNextTick) {
  SoakWorld world(Options());
  world.Start();
  world.Advance(1000);
  ASSERT_EQ(world.Figures().violations, 0u);
  world.Sensor().SetParam(GetParam().list, GetParam().value);
  world.Advance(50);
  const SoakFigures f = world.Figures();
  EXPECT_EQ(f.violations, 1u);
  EXPECT_TRUE(Mentions(f, "a value the user never chose"));
}

INSTANTIATE_TEST_SUITE_P(Values, SoakMadeUpValue,
                         ::testing::Values(MadeUp{kSensitivity, 5}, MadeUp{kRelayTime, 1},
                                           MadeUp{kReactionSpeed, 1},
                                           MadeUp{kMainsFilter, 0},
                                           MadeUp{kHeight, 0}));

TEST(SoakChecks, WriteOfAValueTheUserDidNotChooseIsReported) {
  SoakWorld world(Options());
  world.Start();
  world.Advance(1000);
  // The window's list changes without the soak's user knowing: the write that follows
  // carries a made-up value, and the sensor takes it.
  world.program().RadarWindowEvents().OnListClick(kSensitivity, 4);
  world.Advance(1000);
  const SoakFigures f = world.Figures();
  EXPECT_TRUE(Mentions(f, "a parameter write carried sensitivity = 5"));
  EXPECT_TRUE(Mentions(f, "sensitivity became 5"));
}

TEST(SoakChecks, ChoicesAreAllowedAndReachTheSensor) {
  SoakWorld world(Options());
  world.Start();
  world.Advance(1000);
  world.Choose(kSensitivity, 0, true);
  world.Choose(kHighTrafficMode, 0, true);
  world.Advance(1500);
  EXPECT_EQ(world.Sensor().ParamValue(kSensitivity), 1);
  EXPECT_EQ(world.Sensor().ParamValue(kHighTrafficMode), 0);
  EXPECT_EQ(world.Figures().violations, 0u);
}

TEST(SoakChecks, WindowKeptOpenPastTheSixthMissIsReported) {
  SoakWorld world(Options());
  world.Start();
  world.Advance(1000);
  world.Sensor().SetSilent(true);
  // A program that never counts a miss keeps its window.
  world.AdvanceUntil(
      [&] {
        world.program().Connection().id_miss_count = 0;
        return false;
      },
      6000);
  const SoakFigures f = world.Figures();
  EXPECT_EQ(f.violations, 1u);
  EXPECT_TRUE(Mentions(f, "still open"));
}

TEST(SoakChecks, ReopeningInsideTheHoldOffIsReported) {
  // A program that forgets its hold-off opens at the first supervision tick that finds the
  // sensor.
  SoakOptions options = Options();
  options.radar_open_delay_ms = 0;
  SoakWorld world(options);
  world.Start();
  world.Advance(1000);
  world.Sensor().SetSilent(true);
  ASSERT_TRUE(world.AdvanceUntil([&] { return !world.Watch().open; }, 6000));
  world.Sensor().SetSilent(false);
  world.AdvanceUntil([&] { return world.Watch().open; }, 3000);
  EXPECT_TRUE(world.Watch().open);
  EXPECT_TRUE(Mentions(world.Figures(), "inside the hold-off"));
}

TEST(SoakChecks, QuietSilenceClosesAtTheSixthMissAndReopensAfterTheHoldOff) {
  SoakWorld world(Options());
  world.Start();
  world.Advance(1000);
  const std::uint64_t openings = world.Watch().openings;
  // Long enough to lose the window, short enough that only the hold-off delays its return.
  world.QuietSilence(4300);
  EXPECT_EQ(world.Watch().closed_at - world.Watch().last_good_check, 3600);
  EXPECT_TRUE(world.Watch().open);
  EXPECT_EQ(world.Watch().openings, openings + 1);
  EXPECT_GE(world.Watch().last_reopen_gap, 2500);
  EXPECT_LE(world.Watch().last_reopen_gap, 3000);
  EXPECT_EQ(world.Figures().violations, 0u);
}

TEST(SoakChecks, ChoiceTheSensorNeverStoresFailsTheSettle) {
  SoakWorld world(Options());
  world.Start();
  for (int p = 0; p < kParamCount; ++p) world.Sensor().RefuseAllValues(p);
  EXPECT_TRUE(world.Settle());
  const SoakFigures f = world.Figures();
  EXPECT_GE(f.violations, 1u);
  EXPECT_TRUE(Mentions(f, "with no faults, the choice"));
}

TEST(SoakChecks, WindowOutOfStepWithTheSensorFailsTheSettle) {
  SoakWorld world(Options());
  world.Start();
  world.Advance(1000);
  // The sensor changes behind the program's back (say, set on the device itself): the window
  // still shows the old value, which the settle must notice.
  world.Sensor().SetParam(kReactionSpeed, 0);
  world.Settle();
  EXPECT_TRUE(
      Mentions(world.Figures(), "reaction speed shows entry 2 but the sensor holds entry 0"));
}

// A sensor swapped, then pulled and put back restarted: the window follows without a
// complaint, and shows the second sensor's values at the settle.
TEST(SoakChecks, SwappedAndRestartedSensorsPass) {
  SoakWorld world(Options());
  world.Start();
  world.Advance(1000);
  world.PullSensor(1500, true);
  EXPECT_TRUE(world.Settle());
  EXPECT_EQ(world.program().Identity().last_duroz740_serial, "0000000002");
  world.PullSensor(900, false);
  EXPECT_TRUE(world.Settle());
  const SoakFigures f = world.Figures();
  EXPECT_EQ(f.violations, 0u) << (f.first_violations.empty() ? "" : f.first_violations[0]);
  EXPECT_GE(f.refinds_watched, 2u);
  EXPECT_EQ(world.Watch().closings, 0u);
}

// A sensor restarted by a pull, with a program that never asks it for its signal again, or
// in its socket, with a program that never notices the signal stop.
struct Stall {
  const char* name;
  bool in_place;
  const char* reported;
};

class SoakSignalStall : public ::testing::TestWithParam<Stall> {};

TEST_P(SoakSignalStall, IsReported) {
  SoakWorld world(Options());
  world.Start();
  world.Advance(1000);
  if (GetParam().in_place)
    world.Sensor().Restart();
  else
    world.PullSensor(1500, false);
  world.AdvanceUntil(
      [&] {
        world.program().Connection().report_mode_pending = false;
        world.program().Connection().signal_quiet_runs = 0;
        return false;
      },
      GetParam().in_place ? 4500 : 3000);
  EXPECT_TRUE(Mentions(world.Figures(), GetParam().reported));
}

INSTANTIATE_TEST_SUITE_P(Restarts, SoakSignalStall,
                         ::testing::Values(Stall{"Pulled", false, "no signal report 1200 ms after"},
                                           Stall{"InPlace", true, "no signal report for 4050 ms"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A program that forgets a pick before writing it.
TEST(SoakChecks, PickThatNeverReachesTheSensorIsReported) {
  SoakWorld world(Options());
  world.Start();
  world.Advance(1000);
  world.Choose(kMainsFilter, 1, true);
  world.program().Connection().picked.fill(false);
  world.Settle();
  EXPECT_TRUE(Mentions(world.Figures(), "the pick of mains filter = 1 never reached"));
}

TEST(SoakChecks, WriteToASwappedSensorBeforeItWasReadIsReported) {
  SoakWorld world(Options());
  world.Start();
  world.Advance(1000);
  world.PullSensor(1500, true);
  // A program that takes the new sensor for the old one: no read, and a pick goes out.
  const auto unread = [&] {
    world.program().Connection().read_params_pending = false;
    return world.program().Identity().serial == "0000000002";
  };
  ASSERT_TRUE(world.AdvanceUntil(unread, 2000));
  world.Choose(kSensitivity, 0, true);
  world.AdvanceUntil([&] { return !unread(); }, 500);
  EXPECT_TRUE(Mentions(world.Figures(), "had not been read since it was put in"));
}

}  // namespace
}  // namespace zelto::soak
