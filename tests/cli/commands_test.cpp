// SPDX-License-Identifier: MIT
// The zeltoctl commands in process, on the simulated bench and the virtual clock: the good
// paths, and the faults an installer meets (refused values, silence, unplugging, two
// adapters, old firmware, a row of sensors, Ctrl-C).
#include "cli/commands.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/walk.h"
#include "cli/walk_report.h"
#include "core/protocol/programmer_messages.h"
#include "core/text/text_id.h"
#include "sim/duroz740.h"
#include "sim/other_device.h"
#include "sim/usb_bus.h"
#include "sim/virtual_clock.h"
#include "sim/wire_frame.h"
#include "tests/support/temp_folder.h"

namespace zelto::cli {
namespace {

using nlohmann::json;

class Commands : public ::testing::Test {
 protected:
  Commands() {
    ctx_.now_utc = [] { return std::string("2026-12-09T01:00:00Z"); };
    ctx_.strings[Text::kOn] = "On";
    ctx_.strings[Text::kOff] = "Off";
    ctx_.strings[Text::kFilterOff] = "Off";
    ctx_.strings[Text::kSpeedSlow] = "Slow";
    ctx_.strings[Text::kSpeedNormal] = "Normal";
    ctx_.strings[Text::kSpeedFast] = "Fast";
    ctx_.strings[Text::kHeight290] = "2.90 m";
    loop_.SetInterruptFlag(&interrupt_);
  }

  sim::Duroz740& Sensor(std::uint16_t fw = 0x0200, const char* serial = "ZS74000001") {
    if (adapter_ == nullptr) adapter_ = &bus_.Plug();
    return adapter_->Attach<sim::Duroz740>(serial, 0x0102, fw);
  }
  int Count(std::uint8_t code) const {
    int n = 0;
    for (const auto& f : adapter_->HostFrames()) n += f.frame.code == code;
    return n;
  }
  std::vector<std::uint8_t> LastWrite() const {
    for (auto it = adapter_->HostFrames().rbegin(); it != adapter_->HostFrames().rend(); ++it)
      if (it->frame.code == WriteParamsRequest)
        return {it->frame.payload.begin(), it->frame.payload.begin() + it->frame.count};
    return {};
  }
  // Runs `action` once `condition` holds, checking every millisecond of virtual time.
  void When(std::function<bool()> condition, std::function<void()> action) {
    watch_ = clock_.CreateTimer();
    watch_->SetInterval(1);
    watch_->SetOnTick([this, condition = std::move(condition), action = std::move(action)] {
      if (!condition()) return;
      watch_->SetEnabled(false);
      action();
    });
    watch_->SetEnabled(true);
  }
  std::string WriteProfile(const std::string& text) {
    const auto path = folder_.path() / "profile.json";
    std::ofstream(path) << text;
    return path.string();
  }
  std::vector<std::string> LogLines() const {
    std::ifstream in(folder_.path() / "log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  void LogTo(LogFormat format) {
    ctx_.log_path = (folder_.path() / "log").string();
    ctx_.log_format = format;
  }

  zelto::test::TempFolder folder_;
  sim::VirtualClock clock_;
  sim::UsbBus bus_{clock_};
  sim::Adapter* adapter_ = nullptr;
  VirtualLoop loop_{clock_};
  std::atomic<bool> interrupt_{false};
  std::ostringstream out_, err_;
  Context ctx_{bus_, "simulated bench", loop_, out_, err_};
  std::unique_ptr<Timer> watch_;
  std::unique_ptr<Timer> watch_later_;
};

TEST_F(Commands, GetShowsTheSixValuesWithWordsAndHeight) {
  sim::Duroz740& s = Sensor();
  for (int i = 0; i < 6; ++i) s.SetParam(i, std::array<std::uint8_t, 6>{7, 3, 2, 1, 1, 1}[i]);
  EXPECT_EQ(CmdGet(ctx_, false), kExitOk);
  EXPECT_EQ(out_.str(),
            "sensitivity=7\nrelay=1.5\nspeed=2         Fast\nfilter=50\ntraffic=1       On\n"
            "height=2.9      2.90 m\n");
  EXPECT_EQ(err_.str(), "");
  // No report mode was asked for, so none needs undoing.
  EXPECT_EQ(Count(ReportModeRequest), 0);
  EXPECT_FALSE(adapter_->IsOpen());
}

TEST_F(Commands, GetJsonWithoutHeightOnOldFirmwareAndWithoutStringTable) {
  Sensor(0x01FF);
  ctx_.strings = {};
  EXPECT_EQ(CmdGet(ctx_, true), kExitOk);
  const json j = json::parse(out_.str());
  EXPECT_EQ(j["serial"], "ZS74000001");
  EXPECT_EQ(j["fw"], "1FF");
  EXPECT_EQ(j["parameters"]["relay"], 1.0);
  EXPECT_FALSE(j["parameters"].contains("height"));
  EXPECT_EQ(j["parameters"].size(), 5u);
}

TEST_F(Commands, GetReportsAnOutOfRangeValueAsASensorFault) {
  Sensor().ReplyOtherValue(sim::Duroz740::kSpeed, 7);
  EXPECT_EQ(CmdGet(ctx_, false), kExitSensor);
  EXPECT_NE(out_.str().find("speed=? (the sensor sent 7"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("filter=0"), std::string::npos);
  // As JSON the value is named apart, so that the profile it makes stays one apply takes.
  out_.str("");
  EXPECT_EQ(CmdGet(ctx_, true), kExitSensor);
  const json j = json::parse(out_.str());
  EXPECT_FALSE(j["parameters"].contains("speed"));
  EXPECT_EQ(j["out_of_range"]["speed"], 7);
}

TEST_F(Commands, InfoNamesProgrammerAndDevice) {
  Sensor(0x0200, "0000000001");
  EXPECT_EQ(CmdInfo(ctx_), kExitOk);
  EXPECT_EQ(out_.str(),
            "programmer: \"ZeltoProg\", serial ZP100000, location 0x0111, driver simulated bench\n"
            "device: Duroz740 (id 0x0101), serial 0000000001, HW 102, FW 200\n"
            "installation height: yes\n");
  // Only messages of the catalogue went out.
  for (const auto& f : adapter_->HostFrames()) EXPECT_EQ(f.frame.code, IdentificationRequest);
}

TEST_F(Commands, SetWritesBackUnnamedFieldsAsReadAndVerifies) {
  sim::Duroz740& s = Sensor();
  for (int i = 0; i < 6; ++i) s.SetParam(i, std::array<std::uint8_t, 6>{4, 6, 2, 2, 1, 2}[i]);
  LogTo(LogFormat::kCsv);
  EXPECT_EQ(CmdSet(ctx_, {"sensitivity=8", "relay=0.5"}, true), kExitOk) << err_.str();
  EXPECT_EQ(LastWrite(), (std::vector<std::uint8_t>{8, 1, 2, 2, 1, 2}));
  EXPECT_EQ(s.Params(), (std::array<std::uint8_t, 6>{8, 1, 2, 2, 1, 2}));
  EXPECT_EQ(Count(ReadParamsRequest), 2);  // before and after
  EXPECT_NE(out_.str().find("ZS74000001: verified (sensitivity=8 relay=0.5"), std::string::npos);
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1],
            "2026-12-09T01:00:00Z,set,ZP100000,ZS74000001,102,200,"
            "sensitivity=4 relay=3 speed=2 filter=60 traffic=1 height=3.5,"
            "sensitivity=8 relay=0.5 speed=2 filter=60 traffic=1 height=3.5,yes,verified,,");
}

TEST_F(Commands, RefusedValueIsNotVerifiedAndHasItsOwnExitCode) {
  sim::Duroz740& s = Sensor();
  s.RefuseValue(sim::Duroz740::kSensitivity, 9);
  LogTo(LogFormat::kJsonl);
  EXPECT_EQ(CmdSet(ctx_, {"sensitivity=9", "traffic=1"}, true), kExitNotVerified);
  EXPECT_NE(err_.str().find("sensitivity: wrote 9, sensor has 5"), std::string::npos) << err_.str();
  EXPECT_EQ(err_.str().find("traffic"), std::string::npos);  // that one was taken
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  const json r = json::parse(lines[0]);
  EXPECT_EQ(r["verified"], false);
  EXPECT_EQ(r["after"]["sensitivity"], 5);
  EXPECT_EQ(r["after"]["traffic"], 1);
  EXPECT_EQ(r["before"]["traffic"], 0);
}

TEST_F(Commands, NoVerifyWritesOnceAndSaysItIsUnverified) {
  Sensor();
  LogTo(LogFormat::kJsonl);
  EXPECT_EQ(CmdSet(ctx_, {"speed=0"}, false), kExitOk);
  EXPECT_EQ(Count(ReadParamsRequest), 1);
  EXPECT_EQ(Count(WriteParamsRequest), 1);
  const json r = json::parse(LogLines().at(0));
  EXPECT_EQ(r["verified"], false);
  EXPECT_TRUE(r["after"].is_null());
  EXPECT_EQ(r["result"], "written, not verified (--no-verify)");
}

TEST_F(Commands, HeightOnFirmwareWithoutItIsAnErrorForSetAndSkippedByApply) {
  sim::Duroz740& s = Sensor(0x01FF);
  EXPECT_EQ(CmdSet(ctx_, {"sensitivity=2", "height=2.9"}, true), kExitUnsupported);
  EXPECT_EQ(Count(WriteParamsRequest), 0);
  EXPECT_EQ(s.ParamValue(0), 5);

  err_.str("");
  LogTo(LogFormat::kJsonl);
  const auto profile =
      WriteProfile(R"({"zeltoctl_profile": 1, "parameters": {"sensitivity": 2, "height": 2.9}})");
  EXPECT_EQ(CmdApply(ctx_, profile, false), kExitOk) << err_.str();
  EXPECT_NE(err_.str().find("warning"), std::string::npos);
  EXPECT_EQ(LastWrite().size(), 5u);
  EXPECT_EQ(s.ParamValue(0), 2);
  // The record says the height was left out, not only the terminal.
  EXPECT_EQ(json::parse(LogLines().at(0))["skipped"], "height");
}

TEST_F(Commands, BadArgumentsNeverReachTheBus) {
  Sensor();
  const std::vector<std::vector<std::string>> bad = {
      {"loudness=3"}, {"sensitivity"},        {"sensitivity=10"},
      {"relay=1,5"},  {"speed=1", "speed=2"}, {},
      {"=5"},         {"height=2.30m"},
  };
  for (const auto& args : bad) {
    err_.str("");
    EXPECT_EQ(CmdSet(ctx_, args, true), kExitUsage) << (args.empty() ? "" : args[0]);
    EXPECT_FALSE(err_.str().empty());
  }
  EXPECT_EQ(adapter_->Opens(), 0u);
}

TEST_F(Commands, TwoAdaptersNeedAnAdapterSerial) {
  Sensor();
  sim::Adapter& second = bus_.Plug("ZeltoProg", "FT7XK2B9");
  second.Attach<sim::Duroz740>("ZS74000002", 0x0102, 0x0200).SetParam(0, 9);
  EXPECT_EQ(CmdGet(ctx_, false), kExitAdapter);
  EXPECT_NE(err_.str().find("more than one programmer"), std::string::npos);

  out_.str("");
  ctx_.session.adapter_serial = "FT7XK2B9";
  EXPECT_EQ(CmdGet(ctx_, false), kExitOk) << err_.str();
  EXPECT_EQ(out_.str().substr(0, 14), "sensitivity=9\n");
  EXPECT_EQ(adapter_->Opens(), 0u);

  ctx_.session.adapter_serial = "NOSUCH";
  err_.str("");
  EXPECT_EQ(CmdGet(ctx_, false), kExitAdapter);
  EXPECT_NE(err_.str().find("no programmer found with serial number NOSUCH"), std::string::npos);

  out_.str("");
  EXPECT_EQ(CmdList(ctx_), kExitOk);
  EXPECT_NE(out_.str().find("1: description \"ZeltoProg\", serial FT7XK2B9, location 0x0112"),
            std::string::npos)
      << out_.str();
  EXPECT_NE(out_.str().find("2 adapter(s), 2 \"ZeltoProg\""), std::string::npos);
}

TEST_F(Commands, AdapterHeldByAnotherProgramIsInUse) {
  Sensor();
  adapter_->SetHeldElsewhere(true);
  EXPECT_EQ(CmdGet(ctx_, false), kExitAdapterInUse);
  EXPECT_NE(err_.str().find("adapter in use"), std::string::npos);
}

TEST_F(Commands, SensorSilentMidApplyFailsWithinTheTimeouts) {
  sim::Duroz740& s = Sensor();
  LogTo(LogFormat::kJsonl);
  When([&] { return s.counters().writes >= 1; }, [&] { s.SetSilent(true); });
  const auto profile = WriteProfile(R"({"zeltoctl_profile": 1, "parameters": {"sensitivity": 3}})");
  const std::int64_t start = clock_.NowMs();
  EXPECT_EQ(CmdApply(ctx_, profile, false), kExitSensor);
  // Three read-back tries of 2 s each, no more.
  EXPECT_LE(clock_.NowMs() - start, 3 * 2000 + 500);
  EXPECT_EQ(Count(ReadParamsRequest), 1 + 3);
  const json r = json::parse(LogLines().at(0));
  EXPECT_EQ(r["verified"], false);
  EXPECT_EQ(r["result"], "reading back: no device answering");
}

TEST_F(Commands, UnplugMidSetEndsWithAClearError) {
  sim::Duroz740& s = Sensor();
  LogTo(LogFormat::kCsv);
  When([&] { return s.counters().reads >= 1; }, [&] { bus_.Unplug(*adapter_); });
  EXPECT_EQ(CmdSet(ctx_, {"sensitivity=3"}, true), kExitSensor);
  EXPECT_NE(err_.str().find("unplugged"), std::string::npos) << err_.str();
  EXPECT_EQ(LogLines().size(), 2u);
  EXPECT_NE(LogLines()[1].find(",no,"), std::string::npos);
  EXPECT_LT(clock_.NowMs(), 1000);  // noticed at the next poll, not after the timeouts
  // The link closed the handle when the unplug showed; the session does not close it again.
  EXPECT_EQ(bus_.CallCount(sim::Call::kClose), 1u);
}

TEST_F(Commands, CtrlCMidApplyLogsInterruptedAndExits130) {
  sim::Duroz740& s = Sensor();
  LogTo(LogFormat::kJsonl);
  When([&] { return s.counters().writes >= 1; }, [&] { interrupt_ = true; });
  const auto profile = WriteProfile(R"({"zeltoctl_profile": 1, "parameters": {"filter": 60}})");
  EXPECT_EQ(CmdApply(ctx_, profile, false), kExitInterrupted);
  const json r = json::parse(LogLines().at(0));
  EXPECT_EQ(r["verified"], false);
  EXPECT_NE(r["result"].get<std::string>().find("interrupted"), std::string::npos);
  EXPECT_FALSE(adapter_->IsOpen());
}

TEST_F(Commands, ApplyEachGoesThroughARowOfSensorsUntilCtrlC) {
  LogTo(LogFormat::kJsonl);
  // The installer plugs three sensors in turn, the second an older one without height, and
  // presses Ctrl-C while the socket is empty.
  struct Step {
    std::int64_t at;
    const char* serial;
    std::uint16_t fw;
  };
  const std::vector<Step> row = {
      {0, "ZS74000011", 0x0200}, {3000, "ZS74000012", 0x0101}, {6000, "ZS74000013", 0x0203}};
  adapter_ = &bus_.Plug();
  std::vector<std::unique_ptr<Timer>> timers;
  auto at = [&](std::int64_t t, std::function<void()> f) {
    timers.push_back(clock_.CreateTimer());
    Timer* timer = timers.back().get();
    timer->SetInterval(static_cast<int>(t));
    timer->SetOnTick([timer, f = std::move(f)] {
      timer->SetEnabled(false);
      f();
    });
    timer->SetEnabled(true);
  };
  std::vector<sim::Duroz740*> sensors;
  std::vector<std::unique_ptr<sim::Device>> unplugged;
  for (const Step& step : row) {
    at(step.at + 1, [&, step] {
      unplugged.push_back(adapter_->Detach());
      sensors.push_back(&adapter_->Attach<sim::Duroz740>(step.serial, 0x0102, step.fw));
    });
  }
  // The first sensor misses one look while it stays in the socket: it is not written again.
  at(1500, [&] { sensors[0]->SetSilent(true); });
  at(2300, [&] { sensors[0]->SetSilent(false); });
  at(8000, [&] { unplugged.push_back(adapter_->Detach()); });
  at(9500, [&] { interrupt_ = true; });

  const auto profile = WriteProfile(
      R"({"zeltoctl_profile": 1, "device": "Duroz740",
          "parameters": {"sensitivity": 8, "relay": 2.5, "speed": 0, "filter": 50,
                         "traffic": 1, "height": 2.3}})");
  // Ctrl-C at an empty socket finishes an open-ended batch: the exit code is the batch's.
  EXPECT_EQ(CmdApply(ctx_, profile, true), kExitOk);
  ASSERT_EQ(sensors.size(), 3u);
  for (sim::Duroz740* s : sensors) {
    EXPECT_EQ(s->ParamValue(0), 8);
    EXPECT_EQ(s->ParamValue(1), 5);
    EXPECT_EQ(s->ParamValue(2), 0);
    EXPECT_EQ(s->ParamValue(3), 1);
    EXPECT_EQ(s->ParamValue(4), 1);
    EXPECT_EQ(s->counters().writes, 1u);  // each sensor once, though it stayed plugged
  }
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const json r = json::parse(lines[i]);
    EXPECT_EQ(r["serial"], row[i].serial);
    EXPECT_EQ(r["verified"], true);
  }
  EXPECT_FALSE(json::parse(lines[1])["after"].contains("height"));
  // At an empty socket it looks every 250 ms after each look's 500 ms wait.
  std::vector<std::int64_t> looks;
  for (const auto& f : adapter_->HostFrames())
    if (f.frame.code == IdentificationRequest && f.at_ms >= 8000) looks.push_back(f.at_ms);
  ASSERT_EQ(looks.size(), 2u);
  EXPECT_EQ(looks[1] - looks[0], 750);
  EXPECT_NE(out_.str().find("3 sensor(s): 3 verified, 0 not"), std::string::npos) << out_.str();
}

TEST_F(Commands, ApplyEachRetriesASensorPulledTooEarlyOnlyWhenPluggedAgain) {
  sim::Duroz740& s = Sensor();
  LogTo(LogFormat::kJsonl);
  std::unique_ptr<sim::Device> pulled;
  // Pulled out while its write is on the way, then left out for a while and plugged again.
  When([&] { return s.counters().reads >= 1; }, [&] { pulled = adapter_->Detach(); });
  std::unique_ptr<Timer> replug = clock_.CreateTimer();
  replug->SetInterval(10000);
  replug->SetOnTick([&] {
    replug->SetEnabled(false);
    adapter_->Attach(std::move(pulled));
    When([&] { return clock_.NowMs() >= 14000; }, [&] { interrupt_ = true; });
  });
  replug->SetEnabled(true);
  const auto profile = WriteProfile(R"({"zeltoctl_profile": 1, "parameters": {"speed": 2}})");
  EXPECT_EQ(CmdApply(ctx_, profile, true), kExitOk);
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u) << out_.str() << err_.str();
  EXPECT_EQ(json::parse(lines[0])["verified"], false);
  EXPECT_EQ(json::parse(lines[1])["verified"], true);
  EXPECT_EQ(s.ParamValue(sim::Duroz740::kSpeed), 2);
  EXPECT_EQ(s.counters().writes, 1u);  // the first write never reached it
  // One sensor, verified at its second plugging.
  EXPECT_NE(out_.str().find("1 sensor(s): 1 verified, 0 not\n"), std::string::npos) << out_.str();
}

TEST_F(Commands, NothingReachesTheSensorWithoutALogToRecordIt) {
  sim::Duroz740& s = Sensor();
  ctx_.log_path = (folder_.path() / "missing-folder" / "log").string();
  const auto profile = WriteProfile(R"({"zeltoctl_profile": 1, "parameters": {"speed": 0}})");
  const std::vector<std::function<int()>> commands = {
      [&] { return CmdSet(ctx_, {"sensitivity=2"}, true); },
      [&] { return CmdApply(ctx_, profile, false); },
      [&] { return CmdApply(ctx_, profile, true); },
      [&] { return CmdVerify(ctx_, profile); }};
  for (const auto& command : commands) {
    err_.str("");
    EXPECT_EQ(command(), kExitFailure);
    EXPECT_NE(err_.str().find("cannot open the log"), std::string::npos) << err_.str();
  }
  EXPECT_EQ(adapter_->Opens(), 0u);
  EXPECT_EQ(s.ParamValue(0), 5);
  // A log that can be written is created before the sensor is touched.
  LogTo(LogFormat::kCsv);
  EXPECT_EQ(CmdSet(ctx_, {"sensitivity=2"}, true), kExitOk);
  EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(Commands, SaveThenApplyCopiesOneSensorToAnother) {
  sim::Duroz740& a = Sensor(0x0200, "ZS74000021");
  for (int i = 0; i < 6; ++i) a.SetParam(i, std::array<std::uint8_t, 6>{2, 9, 0, 2, 1, 1}[i]);
  const auto path = (folder_.path() / "saved.json").string();
  EXPECT_EQ(CmdSave(ctx_, path), kExitOk);
  const std::unique_ptr<sim::Device> first = adapter_->Detach();
  sim::Duroz740& b = Sensor(0x0200, "ZS74000022");
  EXPECT_EQ(CmdApply(ctx_, path, false), kExitOk) << err_.str();
  EXPECT_EQ(b.Params(), a.Params());
}

// Whatever the JSON reader finds wrong with a profile (its version, a number too large for
// it, nesting, bytes that are not UTF-8), apply and verify say so and never open the adapter.
TEST_F(Commands, ApplyRejectsABadProfileBeforeOpening) {
  Sensor();
  const std::pair<std::string, const char*> bad[] = {
      {R"({"parameters": {"sensitivity": 3}})", "format version"},
      {R"({"zeltoctl_profile": 1, "device": "Duroz740", "parameters": {"sensitivity": 1e309}})",
       "1e309"},
      {R"({"zeltoctl_profile": 1, "parameters": {"sensitivity": )" + std::string(5000, '[') +
           std::string(5000, ']') + "}}",
       "deeper"},
      {"{\"zeltoctl_profile\": 1, \"parameters\": {\"sensitivity\xE0\": 3}}", "UTF-8"}};
  for (const auto& [text, why] : bad) {
    for (const bool apply : {true, false}) {
      err_.str("");
      const std::string path = WriteProfile(text);
      EXPECT_EQ(apply ? CmdApply(ctx_, path, false) : CmdVerify(ctx_, path), kExitUsage) << why;
      EXPECT_NE(err_.str().find(why), std::string::npos) << err_.str();
    }
  }
  EXPECT_EQ(CmdApply(ctx_, (folder_.path() / "missing.json").string(), false), kExitFailure);
  EXPECT_EQ(adapter_->Opens(), 0u);
}

TEST_F(Commands, MonitorStreamsThenSetsReportModeBackToZero) {
  sim::Duroz740& s = Sensor();
  When([&] { return s.ReportMode() == 2 && clock_.NowMs() > 1000; },
       [&] { s.WalkPast(9000, 1500); });
  EXPECT_EQ(CmdMonitor(ctx_, MonitorFormat::kCsv, 5.0), kExitOk) << err_.str();
  EXPECT_EQ(s.ReportMode(), 0);
  std::istringstream rows(out_.str());
  std::string line;
  std::getline(rows, line);
  EXPECT_EQ(line, "time_s,level,detected");
  int n = 0, detected = 0;
  while (std::getline(rows, line)) {
    ++n;
    detected += line.back() == '1';
  }
  EXPECT_GE(n, 45);  // a report every 100 ms for 5 s
  EXPECT_LE(n, 51);
  EXPECT_GT(detected, 0);
  EXPECT_NE(err_.str().find("walk test: "), std::string::npos);
  EXPECT_NE(err_.str().find("1 detection(s)"), std::string::npos) << err_.str();
}

TEST_F(Commands, MonitorRestoresModeZeroOnCtrlCAndStopsOnSilence) {
  sim::Duroz740& s = Sensor();
  When([&] { return clock_.NowMs() >= 1500; }, [&] { interrupt_ = true; });
  EXPECT_EQ(CmdMonitor(ctx_, MonitorFormat::kText, 0), kExitInterrupted);
  EXPECT_EQ(s.ReportMode(), 0);
  EXPECT_NE(out_.str().find("walk test:"), std::string::npos);

  interrupt_ = false;
  err_.str("");
  out_.str("");
  const std::size_t mode_requests = Count(ReportModeRequest);
  // Silent in the middle of a detection: the silence is not counted as detected.
  const std::int64_t t0 = clock_.NowMs();
  When([&] { return clock_.NowMs() >= t0 + 2000; }, [&] { s.WalkPast(9000, 60000); });
  watch_later_ = clock_.CreateTimer();
  watch_later_->SetInterval(3000);
  watch_later_->SetOnTick([&] {
    watch_later_->SetEnabled(false);
    s.SetSilent(true);
  });
  watch_later_->SetEnabled(true);
  EXPECT_EQ(CmdMonitor(ctx_, MonitorFormat::kText, 0), kExitSensor);
  EXPECT_NE(err_.str().find("stopped reporting"), std::string::npos);
  // Within 3 s of the first missed report, with one request to stop (mode 2, then mode 0).
  EXPECT_LE(clock_.NowMs() - t0 - 3000, 100 + 3000);
  EXPECT_EQ(Count(ReportModeRequest) - mode_requests, 2u);
  double detected = -1;
  const auto at = out_.str().find("detected for ");
  ASSERT_NE(at, std::string::npos) << out_.str();
  detected = std::stod(out_.str().substr(at + 13));
  EXPECT_LE(detected, 1.1) << out_.str();
}

TEST_F(Commands, VerifyAndUnchangedReadButNeverWrite) {
  sim::Duroz740& s = Sensor();
  LogTo(LogFormat::kJsonl);
  ctx_.notes = {{"site", "Hall 3"}};
  struct Row {
    std::function<int()> run;
    int code;
    const char* result;
  };
  const auto same = WriteProfile(R"({"zeltoctl_profile": 1, "parameters": {"sensitivity": 5}})");
  const std::vector<Row> rows = {
      {[&] { return CmdVerify(ctx_, same); }, kExitOk, "matches"},
      {[&] { return CmdSet(ctx_, {"sensitivity=5", "speed=1"}, true); }, kExitOk, "unchanged"},
      {[&] { return CmdApply(ctx_, same, false); }, kExitOk, "unchanged"},
      {[&] { return CmdVerify(ctx_, WriteProfile(R"({"zeltoctl_profile": 1,
                                                  "parameters": {"speed": 2, "relay": 1}})")); },
       kExitNotVerified, "differs: speed: profile 2, sensor has 1"},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].run(), rows[i].code) << i << err_.str();
    const json r = json::parse(LogLines().at(i));
    EXPECT_EQ(r["result"], rows[i].result) << i;
    EXPECT_EQ(r["verified"], rows[i].code == kExitOk) << i;
    EXPECT_EQ(r["after"], r["before"]) << i;
    EXPECT_EQ(r["notes"]["site"], "Hall 3");
  }
  EXPECT_EQ(Count(WriteParamsRequest), 0);
  EXPECT_EQ(s.counters().writes, 0u);
}

TEST_F(Commands, GetJsonIsAProfileForApply) {
  sim::Duroz740& a = Sensor(0x0200, "ZS74000031");
  for (int i = 0; i < 6; ++i) a.SetParam(i, std::array<std::uint8_t, 6>{3, 8, 0, 1, 1, 0}[i]);
  ASSERT_EQ(CmdGet(ctx_, true), kExitOk);
  const auto path = WriteProfile(out_.str());
  const std::unique_ptr<sim::Device> first = adapter_->Detach();
  sim::Duroz740& b = Sensor(0x0200, "ZS74000032");
  EXPECT_EQ(CmdApply(ctx_, path, false), kExitOk) << err_.str();
  EXPECT_EQ(b.Params(), a.Params());
}

TEST_F(Commands, ApplyEachCountEndsTheBatchWithAnHonestExitCode) {
  LogTo(LogFormat::kJsonl);
  adapter_ = &bus_.Plug();
  std::vector<std::unique_ptr<sim::Device>> pulled;
  int plugged = 0;
  // A new sensor every 2 s; the second refuses the profile's sensitivity.
  watch_later_ = clock_.CreateTimer();
  watch_later_->SetInterval(2000);
  watch_later_->SetOnTick([&] {
    pulled.push_back(adapter_->Detach());
    const std::string serial = "ZS7400004" + std::to_string(++plugged);
    auto& s = adapter_->Attach<sim::Duroz740>(serial, 0x0102, 0x0200);
    if (plugged == 2) s.RefuseValue(sim::Duroz740::kSensitivity, 8);
  });
  watch_later_->SetEnabled(true);
  const auto profile = WriteProfile(R"({"zeltoctl_profile": 1, "parameters": {"sensitivity": 8}})");
  EXPECT_EQ(CmdApply(ctx_, profile, true, 3), kExitNotVerified);
  EXPECT_EQ(plugged, 3);
  EXPECT_EQ(LogLines().size(), 3u);
  EXPECT_NE(out_.str().find("3 sensor(s): 2 verified, 1 not\n"), std::string::npos) << out_.str();

  // Interrupted before the count is reached: 130, and the summary says so.
  out_.str("");
  When([&] { return clock_.NowMs() >= 9000; }, [&] { interrupt_ = true; });
  EXPECT_EQ(CmdApply(ctx_, profile, true, 5), kExitInterrupted);
  EXPECT_NE(out_.str().find("; interrupted\n"), std::string::npos) << out_.str();
}

// A stream whose reader goes away after `lines` lines, as `zeltoctl monitor | head` does.
class ClosingBuf : public std::stringbuf {
 public:
  explicit ClosingBuf(int lines) : lines_(lines) {}
  int sync() override { return --lines_ >= 0 ? 0 : -1; }

 private:
  int lines_;
};

TEST_F(Commands, MonitorLinesGoOutOneByOneAndAClosedOutputEndsIt) {
  sim::Duroz740& s = Sensor();
  for (const MonitorFormat format : {MonitorFormat::kText, MonitorFormat::kJsonl}) {
    ClosingBuf buf(2);
    std::ostream closing(&buf);
    StopRequest stop;
    Context ctx{bus_, "simulated bench", loop_, closing, err_};
    ctx.stop = &stop;
    EXPECT_EQ(CmdMonitor(ctx, format, 0), kExitOutputClosed);
    EXPECT_EQ(stop.ExitCode(0), 141);
    EXPECT_EQ(s.ReportMode(), 0);
    EXPECT_FALSE(adapter_->IsOpen());
    EXPECT_LT(clock_.NowMs(), 60000);
    // Each line was flushed as it was written: two went out before the reader left.
    std::istringstream lines(buf.str());
    std::string first;
    std::getline(lines, first);
    if (format == MonitorFormat::kJsonl)
      EXPECT_TRUE(json::parse(first)["level"].is_number()) << first;
    else
      EXPECT_NE(first.find(" s  level "), std::string::npos) << first;
    // Nobody walks past at the start: the first report is no detection.
    EXPECT_NE(first.find(format == MonitorFormat::kJsonl ? "\"detected\":false" : "  -"),
              std::string::npos) << first;
  }
  // The same for a batch: a reader gone away ends it at the next wait, as SIGPIPE would.
  ClosingBuf buf(0);
  std::ostream closing(&buf);
  StopRequest stop;
  loop_.SetInterruptFlag(&stop.Flag());
  Context ctx{bus_, "simulated bench", loop_, closing, err_};
  ctx.stop = &stop;
  const auto profile = WriteProfile(R"({"zeltoctl_profile": 1, "parameters": {"speed": 2}})");
  EXPECT_EQ(CmdApply(ctx, profile, true), kExitInterrupted);
  EXPECT_EQ(s.ParamValue(sim::Duroz740::kSpeed), 1);  // ended before the sensor was written
  // The first signal names the exit, whatever comes after it.
  stop.Request(kStopTerminate);
  EXPECT_EQ(stop.ExitCode(0), 141);
}

TEST_F(Commands, ListAndInfoAsJson) {
  Sensor();
  ASSERT_EQ(CmdList(ctx_, true), kExitOk);
  const json list = json::parse(out_.str());
  EXPECT_EQ(list["programmers"], 1);
  EXPECT_EQ(list["adapters"][0]["serial"], "ZP100000");
  EXPECT_EQ(list["adapters"][0]["location"], 0x0111);
  EXPECT_EQ(list["adapters"][0]["slot"], "ZP100000");
  out_.str("");
  ASSERT_EQ(CmdInfo(ctx_, true), kExitOk);
  const json info = json::parse(out_.str());
  EXPECT_EQ(info["device"]["serial"], "ZS74000001");
  EXPECT_EQ(info["device"]["fw"], "200");
  EXPECT_EQ(info["device"]["height"], true);
  EXPECT_EQ(info["programmer"]["serial"], "ZP100000");
}

// Faults met on the bench, one row each: what the command must answer and what must have
// gone over the bus.
class CommandFaults;
struct FaultRow {
  const char* name;
  void (*fault)(CommandFaults&);
  int (*command)(CommandFaults&);
  int code;
  void (*check)(CommandFaults&);
};

class CommandFaults : public Commands, public ::testing::WithParamInterface<FaultRow> {
 public:
  using Commands::adapter_;
  using Commands::bus_;
  using Commands::Count;
  using Commands::ctx_;
  using Commands::err_;
  using Commands::out_;
  using Commands::When;
  sim::Duroz740* sensor_ = nullptr;
};

TEST_P(CommandFaults, AnsweredAsTheyAre) {
  const FaultRow& row = GetParam();
  sensor_ = &Sensor();
  row.fault(*this);
  EXPECT_EQ(row.command(*this), row.code) << err_.str();
  row.check(*this);
  EXPECT_FALSE(adapter_->IsOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Bench, CommandFaults,
    ::testing::Values(
        // The adapter pulled while the parameter reply is awaited: no values are shown.
        FaultRow{"unplug_awaiting_reply",
                 [](CommandFaults& t) {
                   t.When([&t] { return t.Count(ReadParamsRequest) >= 1; },
                          [&t] { t.bus_.Unplug(*t.adapter_); });
                 },
                 [](CommandFaults& t) { return CmdGet(t.ctx_, false); }, kExitSensor,
                 [](CommandFaults& t) { EXPECT_EQ(t.out_.str(), ""); }},
        // Nobody answers: identification is asked --tries times, no more, no fewer.
        FaultRow{"no_sensor",
                 [](CommandFaults& t) {
                   t.ctx_.session.tries = 4;
                   t.adapter_->Detach();
                 },
                 [](CommandFaults& t) { return CmdGet(t.ctx_, false); }, kExitSensor,
                 [](CommandFaults& t) { EXPECT_EQ(t.Count(IdentificationRequest), 4); }},
        // The acknowledgement of report mode 2 is lost: the sensor streams anyway, so it is
        // told to stop before the command ends.
        FaultRow{"lost_report_mode_ack",
                 [](CommandFaults& t) {
                   // Armed once identification is asked, the fault hits the next reply.
                   t.ctx_.session.tries = 1;
                   t.adapter_->SetIdentifyDelayMs(20);
                   t.When([&t] { return t.Count(IdentificationRequest) >= 1; },
                          [&t] { t.adapter_->CorruptNextReplies(1); });
                 },
                 [](CommandFaults& t) { return CmdMonitor(t.ctx_, MonitorFormat::kText, 2); },
                 kExitSensor, [](CommandFaults& t) { EXPECT_EQ(t.sensor_->ReportMode(), 0); }},
        // A sensor identified as firmware 200 sends a 5-byte parameter reply: it is not read
        // with whatever byte lies where the height would be.
        FaultRow{"short_params_reply",
                 [](CommandFaults& t) {
                   t.ctx_.session.tries = 1;
                   t.When([&t] { return t.Count(IdentificationRequest) >= 1; },
                          [&t] {
                            t.sensor_->SetIdentity(
                                sim::MakeIdentity(sim::Duroz740::kId, "ZS74000001", 0x0102, 0x01FF));
                          });
                 },
                 [](CommandFaults& t) { return CmdGet(t.ctx_, false); }, kExitSensor,
                 [](CommandFaults& t) { EXPECT_EQ(t.out_.str(), ""); }},
        // A signal report of another report mode is not a reading of this walk test.
        FaultRow{"report_of_another_mode",
                 [](CommandFaults& t) {
                   t.When([&t] { return t.sensor_->ReportMode() == 2; },
                          [&t] {
                            const std::uint8_t payload[] = {1, 0xFF, 0xFE, 1};
                            sim::WireFrame frame;
                            sim::EncodeFrame(SignalReport, payload, sizeof(payload), frame);
                            t.adapter_->InsertNoise(frame.bytes.data(), frame.size);
                          });
                 },
                 [](CommandFaults& t) { return CmdMonitor(t.ctx_, MonitorFormat::kCsv, 1); },
                 kExitOk,
                 [](CommandFaults& t) {
                   EXPECT_EQ(t.out_.str().find("65534"), std::string::npos) << t.out_.str();
                 }},
        // A value the sensor reports out of range is replaced by the one the user names.
        FaultRow{"named_value_replaces_out_of_range",
                 [](CommandFaults& t) { t.sensor_->SetParam(sim::Duroz740::kSpeed, 7); },
                 [](CommandFaults& t) { return CmdSet(t.ctx_, {"speed=2"}, true); }, kExitOk,
                 [](CommandFaults& t) {
                   EXPECT_EQ(t.sensor_->ParamValue(sim::Duroz740::kSpeed), 2);
                 }},
        // Another kind of device answers: a sensor fault (5), not an adapter one (3).
        FaultRow{"not_a_duroz740",
                 [](CommandFaults& t) {
                   t.adapter_->Detach();
                   t.adapter_->Attach<sim::OtherDevice>();
                 },
                 [](CommandFaults& t) { return CmdSet(t.ctx_, {"speed=2"}, true); }, kExitSensor,
                 [](CommandFaults& t) {
                   EXPECT_NE(t.err_.str().find("not a Duroz740"), std::string::npos);
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Commands, NoSensorAndAnotherDevice) {
  adapter_ = &bus_.Plug();
  EXPECT_EQ(CmdGet(ctx_, false), kExitSensor);
  EXPECT_NE(err_.str().find("no device answering"), std::string::npos);
  EXPECT_LE(clock_.NowMs(), 3 * 2000 + 100);
}

TEST_F(Commands, WalkRecordsDetectionsAndSilenceThenReportsAndLogsThem) {
  sim::Duroz740& s = Sensor();
  When([&] { return s.ReportMode() == 2 && clock_.NowMs() > 1000; },
       [&] {
         s.WalkPast(9000, 2000);
         When([&] { return clock_.NowMs() >= 5000; },
              [&] {
                s.SetSilent(true);
                When([&] { return clock_.NowMs() >= 8000; }, [&] { s.SetSilent(false); });
              });
       });
  LogTo(LogFormat::kJsonl);
  WalkOptions options;
  options.seconds = 12;
  options.report_path = (folder_.path() / "walk.html").string();
  options.csv_path = (folder_.path() / "walk.csv").string();
  ctx_.notes = {{"door", "<left> open"}};
  EXPECT_EQ(CmdWalk(ctx_, options), kExitOk) << err_.str();
  EXPECT_EQ(s.ReportMode(), 0);
  // One walk; silent from 5 to 8 s: from the last report before to the first after.
  EXPECT_NE(out_.str().find("walk test: 1 detection(s)"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find(", 3.1 s without reports"), std::string::npos) << out_.str();

  std::ifstream csv(options.csv_path);
  std::string header;
  std::getline(csv, header);
  EXPECT_EQ(header, "time_s,level,detected");
  std::ifstream html_file(options.report_path);
  const std::string html{std::istreambuf_iterator<char>(html_file), {}};
  EXPECT_NE(html.find("<svg"), std::string::npos);
  EXPECT_NE(html.find("class=\"gap\""), std::string::npos);
  EXPECT_NE(html.find("class=\"det\""), std::string::npos);
  EXPECT_NE(html.find("ZS74000001"), std::string::npos);
  EXPECT_NE(html.find("door:</b> &lt;left&gt; open"), std::string::npos);
  EXPECT_EQ(html.find("<script"), std::string::npos);
  // The local time carries its offset from UTC, plain ASCII on every system.
  EXPECT_TRUE(std::regex_search(html, std::regex(R"(\d\d:\d\d:\d\d [+-]\d\d:\d\d<)"))) << html;

  // The batch page from the log has the walk, in either log format.
  int skipped = -1;
  const auto entries = ReadCommissioningLog((folder_.path() / "log").string(), skipped);
  ASSERT_TRUE(entries.has_value());
  ASSERT_EQ(entries->size(), 1u);
  EXPECT_EQ(skipped, 0);
  EXPECT_EQ((*entries)[0].command, "walk");
  EXPECT_FALSE((*entries)[0].verified);  // reports went missing
  EXPECT_EQ((*entries)[0].before, "sensitivity=5 relay=1 speed=1 filter=0 traffic=0 height=2.9");
  EXPECT_EQ((*entries)[0].notes, "door=<left> open");
  const std::string page = BatchReportHtml(*entries, "log", ctx_.strings, "en");
  EXPECT_NE(page.find("1 detection(s)"), std::string::npos);
}

TEST(CommissioningLog, CsvAndJsonLinesReadAlike) {
  zelto::test::TempFolder folder;
  CommissionRecord rec;
  rec.time_utc = "2026-12-09T01:00:00Z";
  rec.command = "apply";
  rec.serial = "ZS,\"7\"";
  rec.fw = 0x0200;
  rec.after = RadarParams{};
  rec.verified = true;
  rec.result = "verified";
  std::vector<LogEntry> read[2];
  for (const LogFormat format : {LogFormat::kCsv, LogFormat::kJsonl}) {
    const std::string path = (folder.path() / "log").string();
    std::filesystem::remove(path);
    std::string error;
    ASSERT_TRUE(AppendRecord(path, rec, format, error));
    ASSERT_TRUE(AppendRecord(path, rec, format, error));
    { std::ofstream(path, std::ios::app) << "not a record\n"; }
    int skipped = 0;
    read[format == LogFormat::kJsonl] = *ReadCommissioningLog(path, skipped);
    EXPECT_EQ(skipped, 1);
  }
  for (const auto& entries : read) {
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].serial, "ZS,\"7\"");
    EXPECT_EQ(entries[1].fw, "200");
    EXPECT_TRUE(entries[1].verified);
    EXPECT_EQ(entries[1].after, read[0][1].after);
  }
}

// Lines scripts and spreadsheets leave behind: read as far as they are records, skipped
// when not, never thrown at the caller.
TEST(CommissioningLog, OddLinesAreReadOrSkipped) {
  const std::string deep = std::string(40, '[') + std::string(40, ']');
  std::istringstream in("{\"serial\": \"A\", \"verified\": 1, \"before\": {\"relay\": [1]}}\n"
                        "{\"serial\": \"B\", \"notes\": {\"k\": " + deep + "}}\n"
                        "{\"serial\": \"C\", \"verified\": true, \"hw\": 1e309}\n" +
                        std::string(kMaxLogLineBytes + 1, 'x') + "\n\r\n"
                        "{\"serial\": \"D\", \"verified\": true}");
  int skipped = 0;
  const std::vector<LogEntry> entries = ReadCommissioningLog(in, skipped);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(skipped, 3);  // too deep, a number out of range, too long
  EXPECT_EQ(entries[0].serial, "A");
  EXPECT_FALSE(entries[0].verified);
  EXPECT_EQ(entries[0].before, "relay=[1]");
  EXPECT_EQ(entries[1].serial, "D");
  EXPECT_TRUE(entries[1].verified);
}

}  // namespace
}  // namespace zelto::cli
