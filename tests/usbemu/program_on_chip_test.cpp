// SPDX-License-Identifier: MIT
// The program's logic (no windows) in real time on the libftdi backend and an emulated
// adapter: a user's parameter choice travels through libftdi and libusb to the chip, on to
// the sensor, and comes back in the next read.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "core/program/program.h"
#include "sim/duroz740.h"
#include "sim/virtual_clock.h"
#include "tests/support/fakes.h"
#include "tests/support/test_support.h"
#include "tests/usbemu/ftdi_emulator.h"
#include "drivers/libftdi_driver.h"

namespace zelto {
namespace {

using namespace zelto::testing;

class ProgramOnChip : public ::testing::Test {
 protected:
  ProgramOnChip() { WriteFile(folder_.path() / "StringTable.txt", NamedStringTable()); }

  void Start() {
    std::unique_ptr<FtdiBus> bus = CreateLibftdiBus();
    ASSERT_NE(bus, nullptr);
    driver_ = std::make_unique<LibftdiDriver>(std::move(bus));
    program_ = std::make_unique<Program>(*driver_, clock_, ui_,
                                         ProgramConfig{folder_.path(), {1, 0, 0}});
    program_->Load();
    start_ = std::chrono::steady_clock::now();
  }
  // The program's timers tick at their times on the wall clock, as Qt's would.
  bool RunUntil(const std::function<bool()>& done, int limit_ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (std::chrono::steady_clock::now() < end) {
      clock_.AdvanceTo(std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start_)
                           .count());
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
  }
  std::uint8_t SensorValue(int chip, int param) {
    std::uint8_t value = 0;
    emu_.WithModel(chip, [&](sim::Adapter& a) { value = a.Sensor()->ParamValue(param); });
    return value;
  }

  usbemu::EmulatedBus emu_;
  TempFolder folder_;
  sim::VirtualClock clock_;
  FakeUi ui_;
  std::unique_ptr<LibftdiDriver> driver_;
  std::unique_ptr<Program> program_;
  std::chrono::steady_clock::time_point start_;
};

TEST_F(ProgramOnChip, ParameterChoiceReachesTheSensorAndIsReadBack) {
  const int chip = emu_.Plug(usbemu::ChipSpec{}, [](sim::Adapter& a) {
    a.Attach<sim::Duroz740>().SetParam(sim::Duroz740::kSensitivity, 7);
  });
  Start();
  ASSERT_TRUE(RunUntil([&] { return ui_.RadarOpen(); }, 5000));
  ASSERT_TRUE(RunUntil([&] { return program_->Connection().last_params[kSensitivity] == 6; }, 2000))
      << "the sensor's sensitivity 7 is read into the list (position 6)";
  EXPECT_EQ(SensorValue(chip, sim::Duroz740::kHighTraffic), 0);
  program_->RadarWindowEvents().OnListDropDown(kHighTrafficMode);
  program_->RadarWindowEvents().OnListClick(kHighTrafficMode, 1);
  ASSERT_TRUE(RunUntil([&] { return SensorValue(chip, sim::Duroz740::kHighTraffic) == 1; }, 1500));
  EXPECT_TRUE(RunUntil([&] { return program_->Connection().last_params[kHighTrafficMode] == 1; }, 1500))
      << "the sensor's answer comes back as the last value read";
  EXPECT_EQ(SensorValue(chip, sim::Duroz740::kSensitivity), 7) << "the other values unchanged";
  EXPECT_TRUE(ui_.RadarOpen());
}

// The adapter pulled just after an identification check and back before the next one: the
// sensor restarted, no check missed, and a pick made meanwhile waits. Over the reopened link
// the window asks who is there and reads the sensor before the pick is written.
TEST_F(ProgramOnChip, ShortUnplugWithAPickPendingReadsBeforeWriting) {
  const int chip =
      emu_.Plug(usbemu::ChipSpec{}, [](sim::Adapter& a) { a.Attach<sim::Duroz740>(); });
  Start();
  ASSERT_TRUE(RunUntil([&] { return ui_.RadarOpen() && !program_->Connection().read_params_pending; }, 6000));
  std::size_t checks = 0;
  const auto count_checks = [&] {
    std::size_t n = 0;
    emu_.WithModel(chip, [&](sim::Adapter& a) {
      for (const sim::HostFrame& f : a.HostFrames())
        n += f.frame.code == sim::kIdentificationRequest;
    });
    return n;
  };
  checks = count_checks();
  ASSERT_TRUE(
      RunUntil([&] { return count_checks() > checks && program_->Identity().id == kDuroz740Id; }, 1500));
  emu_.Unplug(chip);
  program_->RadarWindowEvents().OnListDropDown(kHighTrafficMode);
  program_->RadarWindowEvents().OnListClick(kHighTrafficMode, 1);
  RunUntil([] { return false; }, 300);
  const std::int64_t replugged = emu_.NowMs();
  emu_.Replug(chip);
  ASSERT_TRUE(RunUntil([&] { return SensorValue(chip, sim::Duroz740::kHighTraffic) == 1; }, 3000))
      << "the pick reaches the sensor it was made for";
  std::vector<std::uint8_t> codes;
  emu_.WithModel(chip, [&](sim::Adapter& a) {
    EXPECT_EQ(a.Sensor()->Restarts(), 1u);
    for (const sim::HostFrame& f : a.HostFrames())
      if (f.at_ms >= replugged) codes.push_back(f.frame.code);
  });
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.front(), sim::kIdentificationRequest) << "nothing else before the sensor answers";
  const auto read = std::find(codes.begin(), codes.end(), sim::kReadParamsRequest);
  const auto write = std::find(codes.begin(), codes.end(), sim::kWriteParamsRequest);
  EXPECT_LT(read - codes.begin(), write - codes.begin()) << "the read comes before any write";
  EXPECT_TRUE(ui_.RadarOpen());
}

}  // namespace
}  // namespace zelto
