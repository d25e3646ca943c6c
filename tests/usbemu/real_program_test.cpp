// The real zeltosoft, unchanged, on adapters emulated at the USB level: what the program
// does is read from the device side (the frames the programmer received and when, the
// chip's counters), with tolerances of about 300 ms on the order of events.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sim/duroz740.h"
#include "sim/wire_frame.h"
#include "tests/usbemu/ftdi_emulator.h"
#include "tests/usbemu/running_program.h"

namespace zelto::usbemu {
namespace {

constexpr int kToleranceMs = 300;

std::vector<sim::HostFrame> Frames(EmulatedBus& emu, int chip) {
  std::vector<sim::HostFrame> out;
  emu.WithModel(chip, [&](sim::Adapter& a) { out = a.HostFrames(); });
  return out;
}

// Times of the frames of one code, in order.
std::vector<std::int64_t> Times(const std::vector<sim::HostFrame>& frames, std::uint8_t code) {
  std::vector<std::int64_t> out;
  for (const sim::HostFrame& f : frames)
    if (f.frame.code == code) out.push_back(f.at_ms);
  return out;
}

sim::Duroz740::Counters SensorCounters(EmulatedBus& emu, int chip) {
  sim::Duroz740::Counters c;
  emu.WithModel(chip, [&](sim::Adapter& a) {
    if (a.Sensor() != nullptr) c = a.Sensor()->counters();
  });
  return c;
}

bool WaitFor(const std::function<bool()>& done, int limit_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

void Sleep(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

class RealProgram : public ::testing::Test {
 protected:
  int PlugProgrammerWithSensor(ChipSpec spec = {}) {
    return emu.Plug(spec, [](sim::Adapter& a) { a.Attach<sim::Duroz740>(); });
  }
  void Start() {
    const char* program = std::getenv("ZELTO_PROGRAM");
    ASSERT_NE(program, nullptr) << "ZELTO_PROGRAM names the zeltosoft executable";
    run = std::make_unique<RunningProgram>(program, emu.RootDir());
    ASSERT_TRUE(run->Started());
  }
  bool RadarWindowStarted(int chip, int limit_ms = 8000) {
    return WaitFor([&] { return SensorCounters(emu, chip).mode_requests >= 1; }, limit_ms);
  }

  EmulatedBus emu;
  std::unique_ptr<RunningProgram> run;
};

TEST_F(RealProgram, FindsTheProgrammerIdentifiesTheSensorAndOpensTheRadarAtThreeSeconds) {
  const int chip = PlugProgrammerWithSensor();
  Start();
  ASSERT_TRUE(RadarWindowStarted(chip));
  Sleep(3200);
  const auto frames = Frames(emu, chip);
  const auto ids = Times(frames, sim::kIdentificationRequest);
  const auto reads = Times(frames, sim::kReadParamsRequest);
  const auto modes = Times(frames, sim::kReportModeRequest);
  ASSERT_FALSE(ids.empty());
  ASSERT_EQ(reads.size(), 1u);
  ASSERT_EQ(modes.size(), 1u);
  // Supervision asks at 1.5 s and every 500 ms; the window opens at the tick that ends the
  // 3 s hold-off, 1.5 s after the first request, and asks for parameters and reports.
  EXPECT_NEAR(static_cast<double>(reads[0] - ids[0]), 1500.0, kToleranceMs);
  EXPECT_NEAR(static_cast<double>(modes[0] - reads[0]), 0.0, kToleranceMs);
  // In the window the identification is checked every 600 ms.
  std::vector<std::int64_t> checks;
  for (std::int64_t t : ids)
    if (t > reads[0]) checks.push_back(t);
  ASSERT_GE(checks.size(), 4u);
  for (std::size_t i = 1; i < checks.size(); ++i)
    EXPECT_NEAR(static_cast<double>(checks[i] - checks[i - 1]), 600.0, kToleranceMs);
  const sim::Duroz740::Counters sensor = SensorCounters(emu, chip);
  EXPECT_GT(sensor.reports, 10u) << "the sensor streams signal reports to the window";
  emu.WithModel(chip, [](sim::Adapter& a) { EXPECT_EQ(a.Sensor()->ReportMode(), 2); });
  EXPECT_TRUE(run->Running());
}

TEST_F(RealProgram, HotUnplugShortAndLongAndReplug) {
  const int chip = PlugProgrammerWithSensor();
  Start();
  ASSERT_TRUE(RadarWindowStarted(chip));
  Sleep(500);
  // Shorter than six missed checks of 600 ms: the radar window rides it out. The sensor
  // lost its power with the adapter, so once the adapter is back the window reads it again
  // and asks for its signal again before anything could be written.
  emu.Unplug(chip);
  Sleep(2000);
  emu.Replug(chip);
  const std::int64_t first_replug = emu.NowMs();
  Sleep(1500);
  auto frames = Frames(emu, chip);
  const auto reads_after_short = Times(frames, sim::kReadParamsRequest);
  const auto modes_after_short = Times(frames, sim::kReportModeRequest);
  ASSERT_EQ(reads_after_short.size(), 2u);
  EXPECT_GT(reads_after_short.back(), first_replug);
  ASSERT_EQ(modes_after_short.size(), 2u);
  EXPECT_NEAR(static_cast<double>(modes_after_short.back() - reads_after_short.back()), 0.0,
              kToleranceMs);
  EXPECT_TRUE(Times(frames, sim::kWriteParamsRequest).empty());
  emu.WithModel(chip, [](sim::Adapter& a) {
    EXPECT_EQ(a.Sensor()->Restarts(), 1u);
    EXPECT_EQ(a.Sensor()->ReportMode(), 2) << "the restarted sensor streams again";
  });
  const auto checks = Times(frames, sim::kIdentificationRequest);
  ASSERT_FALSE(checks.empty());
  EXPECT_GT(checks.back(), first_replug) << "checks reach the replugged adapter";
  EXPECT_GT(emu.Counters(chip).detaches, 1u) << "the new device's serial driver is detached";
  // Long enough for six missed checks: the window is lost, the main window's 3 s hold-off
  // starts at the sixth miss, and the window opens again on the replugged adapter.
  emu.Unplug(chip);
  Sleep(5000);
  const std::int64_t replugged = emu.NowMs();
  emu.Replug(chip);
  ASSERT_TRUE(WaitFor([&] { return SensorCounters(emu, chip).reads >= 3; }, 6000))
      << "the radar window reads the sensor again after the replug";
  const auto reads = Times(Frames(emu, chip), sim::kReadParamsRequest);
  EXPECT_NEAR(static_cast<double>(reads.back() - replugged), 1600.0, 1000.0);
  EXPECT_TRUE(run->Running());
}

TEST_F(RealProgram, TwoProgrammersAreNeitherOpenedNorSpokenTo) {
  const int a = PlugProgrammerWithSensor();
  ChipSpec second;
  second.serial = "ZP000002";
  const int b = PlugProgrammerWithSensor(second);
  Start();
  Sleep(3500);
  EXPECT_TRUE(Frames(emu, a).empty());
  EXPECT_TRUE(Frames(emu, b).empty());
  EXPECT_EQ(emu.Counters(a).bulk_out_bytes, 0u);
  EXPECT_EQ(emu.Counters(b).bulk_out_bytes, 0u);
  EXPECT_TRUE(run->Running());
}

TEST_F(RealProgram, OtherFtdiDevicesAreLeftAloneAndTheirStringsReadOnce) {
  ChipSpec uart;
  uart.description = "FT232R USB UART";
  uart.serial = "A10KZP3C";
  const int other = emu.Plug(uart);
  ChipSpec broken;
  broken.stall_strings = true;
  broken.serial = "B";
  const int mute = emu.Plug(broken);
  const int chip = PlugProgrammerWithSensor();
  Start();
  ASSERT_TRUE(RadarWindowStarted(chip)) << "neither device hides the programmer";
  Sleep(1500);
  for (int device : {other, mute}) {
    const ChipCounters c = emu.Counters(device);
    EXPECT_EQ(c.bulk_out_bytes, 0u);
    EXPECT_EQ(c.detaches, 0u) << "its serial driver is never taken away";
    // Strings are asked for once per device; a request is two descriptors (languages and
    // product). A stalled device is asked again now and then, not on every scan.
    EXPECT_LE(c.string_requests, 6u) << "device " << device;
  }
  EXPECT_TRUE(emu.Counters(other).kernel_driver_bound);
}

TEST_F(RealProgram, ProgrammerWithAProductIdOutsideTheStandardListIsFound) {
  ChipSpec custom;
  custom.product = 0x6F70;
  const int chip = PlugProgrammerWithSensor(custom);
  Start();
  EXPECT_TRUE(RadarWindowStarted(chip));
}

TEST_F(RealProgram, KernelDriverIsDetachedOnceAndGivenBackAtExit) {
  const int chip = emu.Plug(ChipSpec{});  // a programmer with nothing plugged into it
  Start();
  Sleep(4000);
  ChipCounters c = emu.Counters(chip);
  EXPECT_EQ(c.detaches, 1u);
  EXPECT_EQ(c.attaches, 0u) << "the serial driver stays away while the program runs";
  EXPECT_FALSE(c.kernel_driver_bound);
  EXPECT_GE(Times(Frames(emu, chip), sim::kIdentificationRequest).size(), 4u);
  ASSERT_TRUE(run->Stop());
  EXPECT_TRUE(WIFEXITED(run->ExitStatus())) << "SIGTERM ends the program cleanly";
  c = emu.Counters(chip);
  EXPECT_EQ(c.attaches, 1u);
  EXPECT_TRUE(c.kernel_driver_bound);
}

}  // namespace
}  // namespace zelto::usbemu
