// SPDX-License-Identifier: MIT
// The real zeltoctl station, unchanged, on four programmers emulated at the USB level (the
// real libusb and libftdi1 below it): four sensors provisioned at once, one programmer pulled
// in the middle of its unit. What the station did is read from its event stream and its log,
// and from the sensors themselves.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "sim/duroz740.h"
#include "sim/wire_frame.h"
#include "tests/usbemu/ftdi_emulator.h"

extern char** environ;

namespace zelto::usbemu {
namespace {

using nlohmann::json;

// zeltoctl under this process's umockdev preload, told the testbed, its output into a file.
class Zeltoctl {
 public:
  Zeltoctl(const std::string& umockdev_dir, std::vector<std::string> args,
           const std::filesystem::path& out) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
      if (std::string(*e).rfind("UMOCKDEV_DIR=", 0) != 0) env.emplace_back(*e);
    env.push_back("UMOCKDEV_DIR=" + umockdev_dir);
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    args.insert(args.begin(), ZELTOCTL);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, ZELTOCTL, &files, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&files);
  }
  ~Zeltoctl() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Zeltoctl(const Zeltoctl&) = delete;
  Zeltoctl& operator=(const Zeltoctl&) = delete;

  // The exit code once it ended within the limit, else -1.
  int Wait(int limit_ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (pid_ > 0 && std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
};

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
  const auto folder = std::filesystem::temp_directory_path() /
                      ("zelto-station-chips-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
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
  const auto profile = folder / "profile.json";
  std::ofstream(profile) << R"({"zeltoctl_profile": 1, "parameters": {"sensitivity": 7, "speed": 2}})";
  const auto log = folder / "station.jsonl";
  const auto events_file = folder / "events.jsonl";
  Zeltoctl station(emu.RootDir(),
                   {"--log", log.string(), "--log-format", "jsonl", "--timeout-ms", "1000",
                    "--tries", "2", "station", "--station", "emu", "--count", "4",
                    profile.string()},
                   events_file);

  // Pulled as its write reaches the sensor.
  const auto written = [&] {
    bool seen = false;
    emu.WithModel(chips[kPulled], [&](sim::Adapter& a) {
      for (const sim::HostFrame& f : a.HostFrames()) seen |= f.frame.code == sim::kWriteParamsRequest;
    });
    return seen;
  };
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!written() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_TRUE(written()) << "the third slot never wrote";
  emu.Unplug(chips[kPulled]);
  // Three PASS and an ERROR, none failed: exit 3.
  EXPECT_EQ(station.Wait(30000), 3);

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
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

}  // namespace
}  // namespace zelto::usbemu
