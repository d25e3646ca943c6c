// SPDX-License-Identifier: MIT
// A whole program run on the simulated bench, scripted on the virtual clock: start,
// identification, the radar window, picks, a sensor pulled and lost, put back, the
// programmer unplugged and replugged, a pick over the reopened link, the window closed.
// Every frame the programmer received from the host, and what the windows showed at each
// mark, must equal the checked-in log byte for byte: a change in what goes on the wire or on
// the screen, or when, shows here as a diff.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/program/program.h"
#include "sim/duroz740.h"
#include "sim/usb_bus.h"
#include "sim/virtual_clock.h"
#include "tests/support/fakes.h"
#include "tests/support/test_support.h"

namespace zelto {
namespace {

using testing::FakeUi;
using testing::RadarRecord;

std::string Format(const char* format, auto... values) {
  char text[160];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

TEST(ProgramFrameLog, ScriptedRunSendsAndShowsWhatTheCheckedInLogHolds) {
  testing::TempFolder folder;
  testing::WriteFile(folder.path() / "StringTable.txt", testing::NamedStringTable());
  sim::VirtualClock clock;
  sim::UsbBus bus{clock};
  sim::Adapter& adapter = bus.Plug();
  adapter.Attach<sim::Duroz740>("0000000001", 0x0102, 0x0200);
  FakeUi ui;
  auto program = std::make_unique<Program>(bus, clock, ui, ProgramConfig{folder.path(), {1, 0, 0}});
  program->Load();
  RadarEvents& radar = program->RadarWindowEvents();

  std::string log;
  const auto mark = [&](std::int64_t at_ms, const char* what) {
    clock.AdvanceTo(at_ms);
    log += Format("@%lld %s | prog=%s dev=%s radars=%zu", static_cast<long long>(clock.NowMs()),
                  what, ui.main.rec.status_prog.c_str(), ui.main.rec.status_device.c_str(),
                  ui.radars.size());
    if (ui.RadarOpen()) {
      const RadarRecord& radar_view = *ui.LastRadar();
      if (!radar_view.identification.empty())
        log += " [panel=" + radar_view.identification + "]";
      for (const auto& [list, index] : radar_view.index)
        log += Format(" L%d=%d", static_cast<int>(list), index);
      // The labels in the window's order, the level and the held peak (blank: none shown)
      // between the signal's caption and the height.
      const auto number = [](std::optional<int> n) { return n ? std::to_string(*n) : ""; };
      std::map<int, std::string> shown;
      for (const auto& [label, text] : radar_view.labels)
        shown[label < RadarLabel::kHeightValue ? static_cast<int>(label)
                                               : static_cast<int>(label) + 2] = text;
      shown[static_cast<int>(RadarLabel::kHeightValue)] = number(radar_view.level);
      shown[static_cast<int>(RadarLabel::kHeightValue) + 1] = number(radar_view.held_peak);
      for (const auto& [label, text] : shown) log += Format(" T%d=", label) + text;
    }
    log += "\n";
  };
  const auto pick = [&](ParamList list, int index) {
    radar.OnListDropDown(list);
    radar.OnListClick(list, index);
  };

  mark(1600, "identifying");
  mark(3100, "radar open");
  pick(kSensitivity, 3);
  mark(4500, "picked sensitivity");
  pick(kHeight, 2);
  pick(kHighTrafficMode, 1);
  mark(6000, "picked height and traffic");
  std::unique_ptr<sim::Device> pulled = adapter.Detach();
  mark(7000, "pulled");
  mark(11000, "lost");
  adapter.Attach(std::move(pulled));
  mark(16000, "back");
  bus.Unplug(adapter);
  mark(17000, "unplugged");
  bus.Replug(adapter);
  mark(19000, "replugged");
  pick(kRelayTime, 5);
  mark(30000, "reopened and picked relay");
  if (ui.RadarOpen()) radar.OnRadarCloseRequested();
  mark(32000, "closed");
  for (const sim::HostFrame& f : adapter.HostFrames()) {
    log += Format("%lld %02x", static_cast<long long>(f.at_ms), f.frame.code);
    for (std::size_t i = 0; i < f.frame.count; ++i) log += Format(" %02x", f.frame.payload[i]);
    log += "\n";
  }

  const std::string expected =
      testing::ReadFile(std::string(ZELTO_SOURCE_DIR) + "/tests/core/data/program_frame_log.txt");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(log, expected);
}

}  // namespace
}  // namespace zelto
