// SPDX-License-Identifier: MIT
// The real zeltoctl station, unchanged, on four programmers emulated at the USB level (the
// real libusb and libftdi1 below it): four sensors provisioned at once, one programmer pulled
// in the middle of its unit. What the station did is read from its event stream and its log,
// and from the sensors themselves.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "sim/duroz740.h"
#include "sim/wire_frame.h"
#include "tests/usbemu/ftdi_emulator.h"
#include "tests/usbemu/running_program.h"

namespace zelto::usbemu {
namespace {

using nlohmann::json;

bool WaitFor(const std::function<bool()>& done, int limit_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (!done() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return done();
}

std::vector<json> ReadLines(const std::filesystem::path& path) {
  std::vector<json> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line.front() == '{') out.push_back(json::parse(line));
  return out;
}

// Four programmers (ZP000001-4), each with a sensor whose sensitivity (5) differs from the
// profile's (7), so every unit writes. The third programmer's sensor takes the write but
// keeps the acknowledgement, and the test pulls that programmer as the write is seen: the
// unit is then in the middle, between its write and its read-back.
TEST(StationOnChips, FourSlotsAtOnceAndAPulledProgrammerIsAnErrorOnItsSlotOnly) {
  EmulatedBus emu;
  constexpr int kPulled = 2;
  std::vector<int> chips;
  for (int i = 0; i < 4; ++i) {
    ChipSpec spec;
    spec.serial = "ZP00000" + std::to_string(i + 1);
    chips.push_back(emu.Plug(spec, [i](sim::Adapter& a) {
      auto& sensor = a.Attach<sim::Duroz740>("ZS7400000" + std::to_string(i + 1));
      sensor.SetParam(sim::Duroz740::kSensitivity, 5);
      if (i != kPulled) return;
      a.SetOnHostFrame([&a](std::uint8_t code) {
        if (code == sim::kWriteParamsRequest && a.AttachedDevice() != nullptr)
          a.AttachedDevice()->SetSilent(true);
      });
    }));
  }
  const auto files = std::filesystem::temp_directory_path() /
                     ("zelto-station-" + std::to_string(::getpid()));
  const auto profile = files.string() + ".json", log = files.string() + ".jsonl";
  std::ofstream(profile) << R"({"zeltoctl_profile": 1, "parameters": {"sensitivity": 7, "speed": 2}})";
  // Under this process's umockdev preload; its events into a file in its folder.
  RunningProgram station(ZELTOCTL, emu.RootDir(),
                         {"--log", log, "--log-format", "jsonl", "--timeout-ms", "1000", "--tries",
                          "2", "station", "--station", "emu", "--count", "4", profile},
                         "events.jsonl");
  const auto events_file = station.Folder() / "events.jsonl";

  // Pulled as its write reaches the sensor.
  const auto written = [&] {
    bool seen = false;
    emu.WithModel(chips[kPulled], [&](sim::Adapter& a) {
      for (const sim::HostFrame& f : a.HostFrames()) seen |= f.frame.code == sim::kWriteParamsRequest;
    });
    return seen;
  };
  ASSERT_TRUE(WaitFor(written, 20000)) << "the third slot never wrote";
  emu.Unplug(chips[kPulled]);
  // Three PASS and an ERROR, none failed: exit 3.
  ASSERT_TRUE(WaitFor([&] { return !station.Running(); }, 30000));
  ASSERT_TRUE(WIFEXITED(station.ExitStatus()));
  EXPECT_EQ(WEXITSTATUS(station.ExitStatus()), 3);

  const std::vector<json> events = ReadLines(events_file);
  std::string shown;
  std::map<std::string, std::vector<std::string>> outcomes;
  std::map<std::string, std::pair<std::int64_t, std::int64_t>> units;  // slot: taken, outcome
  for (const json& e : events) {
    shown += e.dump() + "\n";
    if (e["event"] == "sensor") units[e["slot"]].first = e["t_ms"];
    if (e["event"] != "outcome") continue;
    outcomes[e["slot"]].push_back(e["outcome"]);
    units[e["slot"]].second = e["t_ms"];
  }
  const std::map<std::string, std::vector<std::string>> expected = {
      {"ZP000001", {"PASS"}}, {"ZP000002", {"PASS"}}, {"ZP000003", {"ERROR"}}, {"ZP000004", {"PASS"}}};
  EXPECT_EQ(outcomes, expected) << shown;
  // In parallel: every unit was under way while another one was.
  for (const auto& [slot, unit] : units) {
    bool overlapped = false;
    for (const auto& [other, o] : units)
      overlapped |= other != slot && o.first < unit.second && unit.first < o.second;
    EXPECT_TRUE(overlapped) << slot << "\n" << shown;
  }

  const std::vector<json> records = ReadLines(log);
  ASSERT_EQ(records.size(), 4u);
  for (const json& r : records) {
    SCOPED_TRACE(r.dump());
    EXPECT_EQ(r["station"], "emu");
    if (r["slot"] == "ZP000003") {
      EXPECT_EQ(r["outcome"], "ERROR");
      EXPECT_EQ(r["serial"], "ZS74000003");
    } else {
      EXPECT_EQ(r["outcome"], "PASS");
      EXPECT_EQ(r["checks"]["sensitivity"]["found"], 5);
      EXPECT_EQ(r["checks"]["sensitivity"]["read_back"], 7);
    }
  }
  for (int i = 0; i < 4; ++i) {
    if (i == kPulled) continue;
    emu.WithModel(chips[static_cast<std::size_t>(i)], [&](sim::Adapter& a) {
      EXPECT_EQ(a.Sensor()->ParamValue(sim::Duroz740::kSensitivity), 7) << i;
    });
  }
  std::filesystem::remove(profile);
  std::filesystem::remove(log);
}

}  // namespace
}  // namespace zelto::usbemu
