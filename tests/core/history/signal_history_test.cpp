// SPDX-License-Identifier: MIT
// The signal history on the virtual clock, fed by the radar window's logic from the
// simulated bench: gaps where reports stop, markers where the sensor acknowledged a write,
// one history per sensor, and a day of reports in the same memory as a minute.
#include <gtest/gtest.h>

#include "core/history/signal_history.h"
#include "core/program/program.h"
#include "sim/duroz740.h"
#include "sim/usb_bus.h"
#include "sim/virtual_clock.h"
#include "tests/support/fakes.h"
#include "tests/support/test_support.h"

namespace zelto {
namespace {

using namespace zelto::testing;

class HistoryOnTheBench : public ::testing::Test {
 protected:
  HistoryOnTheBench() {
    WriteFile(folder_.path() / "StringTable.txt", NamedStringTable());
    adapter_ = &bus_.Plug();
    sensor_ = &adapter_->Attach<sim::Duroz740>("0000000001", 0x0102, 0x0200);
    program_ = std::make_unique<Program>(bus_, clock_, ui_,
                                         ProgramConfig{folder_.path(), {1, 0, 0}});
    program_->SetHistoryClock(&clock_);
    program_->Load();
    clock_.AdvanceTo(6000);  // the radar window opens at 3 s and streams
  }

  const SignalHistory& History() { return program_->History(); }

  // Covered columns of one-second width over [from, to).
  std::string Coverage(std::int64_t from, std::int64_t to) {
    std::vector<HistorySpan> columns(static_cast<std::size_t>((to - from) / 1000));
    History().Columns(from, to, columns);
    std::string out;
    for (const HistorySpan& c : columns) out += c.covered ? '#' : '.';
    return out;
  }

  // Pulls the sensor for `ms` and puts `serial` (another sensor or the same) back.
  void PullFor(std::int64_t ms, const std::string& serial) {
    std::unique_ptr<sim::Device> pulled = adapter_->Detach();
    clock_.AdvanceBy(ms);
    if (serial == "0000000001")
      adapter_->Attach(std::move(pulled));
    else
      adapter_->Attach<sim::Duroz740>(serial, 0x0102, 0x0200);
    clock_.AdvanceBy(10000);
  }

  TempFolder folder_;
  sim::VirtualClock clock_;
  sim::UsbBus bus_{clock_};
  sim::Adapter* adapter_ = nullptr;
  sim::Duroz740* sensor_ = nullptr;
  FakeUi ui_;
  std::unique_ptr<Program> program_;
};

TEST_F(HistoryOnTheBench, SilenceIsAGapAndTheLineResumesAfterIt) {
  ASSERT_NE(program_->Radar(), nullptr);
  sensor_->SetSilent(true);  // the window stays open for the first 3 s of silence
  clock_.AdvanceTo(8500);
  sensor_->SetSilent(false);
  clock_.AdvanceTo(12000);
  // Seconds 4..11: the last report before the silence came at 6.0 s, the first after it
  // within the ninth second.
  EXPECT_EQ(Coverage(4000, 12000), "###.####");
  // Saved rows stop at the gap too: nothing between 6.0 and 8.5 s (times in the file count
  // from the window's opening).
  const std::string csv = History().Csv(0, 12000);
  EXPECT_EQ(csv.rfind("time_s,level,detected\n", 0), 0u);
  int rows = 0;
  for (std::size_t at = csv.find('\n') + 1; at < csv.size(); at = csv.find('\n', at) + 1) {
    const double t = std::stod(csv.substr(at)) + History().SessionStartMs() / 1000.0;
    EXPECT_FALSE(t > 6.05 && t < 8.5) << t;
    ++rows;
  }
  EXPECT_GT(rows, 50);
}

TEST_F(HistoryOnTheBench, AnAcknowledgedWriteLeavesAMarkerNamingTheChange) {
  program_->RadarWindowEvents().OnListClick(kSensitivity, 6);     // 5 -> 7
  program_->RadarWindowEvents().OnListClick(kRelayTime, 2);   // 1 -> 1.5 s
  clock_.AdvanceBy(500);
  ASSERT_EQ(History().MarkerCount(), 1);
  EXPECT_EQ(MarkerText(History().Marker(0), program_->Texts().Entries()),
            Italian(Text::kSensitivityCaption) + " 5->7, " + Italian(Text::kRelayTimeCaption) +
                " 1->1.5");
  EXPECT_GT(History().Marker(0).at_ms, 6000);
  // A refused write is acknowledged as well, but the sensor keeps its value: still a marker
  // of what was asked, and nothing more once the lists agree with the sensor again.
  clock_.AdvanceBy(2000);
  EXPECT_EQ(History().MarkerCount(), 1);
}

struct LossCase {
  const char* name;
  std::int64_t loss_ms;
  const char* serial_back;
  bool kept;
};
// Printed by its name: GoogleTest would otherwise dump the struct's bytes, padding included
// (uninitialised to valgrind, and a test name that changes from run to run).
void PrintTo(const LossCase& c, std::ostream* os) {
  *os << c.name;
}

class HistoryAcrossLoss : public HistoryOnTheBench,
                          public ::testing::WithParamInterface<LossCase> {};

TEST_P(HistoryAcrossLoss, BelongsToTheSensor) {
  const LossCase& c = GetParam();
  const std::int64_t first_report = History().Sample(0).at_ms;
  PullFor(c.loss_ms, c.serial_back);
  ASSERT_NE(program_->Radar(), nullptr) << "the window is open again";
  EXPECT_EQ(History().Serial(), c.serial_back);
  EXPECT_EQ(History().Sample(0).at_ms == first_report, c.kept);
  // The time without reports is a gap, not a line, when the history was kept.
  if (c.kept) {
    EXPECT_NE(Coverage(6000, 6000 + c.loss_ms).find('.'), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sensors, HistoryAcrossLoss,
    ::testing::Values(LossCase{"SameSensorShortLoss", 20'000, "0000000001", true},
                      LossCase{"SameSensorLongLoss", 6 * 60'000, "0000000001", false},
                      LossCase{"AnotherSensor", 20'000, "0000000002", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SignalHistoryBounds, ADayOfReportsKeepsItsCapacityAndItsFirstWalk) {
  SignalHistory history;
  history.BeginSensor("0000000001", 0);
  const std::int64_t day = 24LL * 3600 * 1000;
  for (std::int64_t t = 0; t < day; t += 100) {
    // One walk past the sensor in the first hour, with three minutes without reports after
    // it.
    const bool walk = t >= 600'000 && t < 610'000;
    if (t >= 610'000 && t < 790'000) continue;
    history.AddReport(t, walk ? 15000 : 300, walk ? 15000 : 300, walk);
  }
  EXPECT_EQ(history.SampleCount(), SignalHistory::kSampleCapacity);
  EXPECT_LE(history.BucketCount(), SignalHistory::kBucketCapacity);
  EXPECT_EQ(history.Sample(history.SampleCount() - 1).at_ms, day - 100);

  // The whole session on 1440 columns of a minute: the walk is still there, and a minute
  // without reports is still a gap.
  std::vector<HistorySpan> minutes(1440);
  history.Columns(0, day, minutes);
  EXPECT_TRUE(minutes[10].detected);
  EXPECT_EQ(minutes[10].level_max, 15000);
  EXPECT_FALSE(minutes[8].detected);
  EXPECT_FALSE(minutes[11].covered);
  EXPECT_TRUE(minutes[1439].covered);

  // The last minute at full resolution, from the recent reports.
  std::vector<HistorySpan> seconds(60);
  history.Columns(day - 60'000, day, seconds);
  for (const HistorySpan& s : seconds) EXPECT_EQ(s.reports, 10);
}

}  // namespace
}  // namespace zelto
