// SPDX-License-Identifier: MIT
// The production station on the simulated bench and the virtual clock: several slots, one
// fault per row on one slot, the others checked to go on as if nothing happened; and a soak
// with random timing and faults held to the station's invariants.
#include "cli/station.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <algorithm>
#include <map>
#include <random>
#include <sstream>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/station_command.h"
#include "core/text/string_table.h"
#include "core/protocol/programmer_messages.h"
#include "sim/duroz740.h"
#include "sim/station_feeder.h"
#include "sim/usb_bus.h"
#include "sim/virtual_clock.h"
#include "sim/wire_frame.h"
#include "tests/support/temp_folder.h"

namespace zelto::cli {
namespace {

using nlohmann::json;

// The bus as the station sees it, watching what goes to each sensor: a parameter write that
// was not preceded by a read since the last identification over the same connection is
// counted. It passes on every call but the latency timer's.
class WatchedBus final : public AdapterPort {
 public:
  explicit WatchedBus(sim::UsbBus& bus) : bus_(bus) {}
  int unread_writes = 0;

  AdapterStatus List(std::vector<AdapterInfo>& adapters, const AdapterFilter* filter) override {
    return bus_.List(adapters, filter);
  }
  AdapterStatus Open(AdapterKey key, std::string_view text, std::uint32_t location,
                     std::unique_ptr<AdapterConnection>& connection) override {
    std::unique_ptr<AdapterConnection> inner;
    const AdapterStatus s = bus_.Open(key, text, location, inner);
    if (s.Ok()) connection = std::make_unique<Watched>(*this, std::move(inner));
    return s;
  }

 private:
  class Watched final : public AdapterConnection {
   public:
    Watched(WatchedBus& bus, std::unique_ptr<AdapterConnection> inner)
        : bus_(bus), inner_(std::move(inner)) {}
    AdapterStatus Reset() override { return inner_->Reset(); }
    AdapterStatus Purge() override { return inner_->Purge(); }
    AdapterStatus Write(const std::uint8_t* bytes, std::uint32_t n, std::uint32_t& written) override {
      for (std::uint32_t i = 0; i < n; ++i) {
        if (decoder_.Feed(bytes[i]) != sim::FrameDecoder::Result::kFrame) continue;
        const std::uint8_t code = decoder_.frame().code;
        if (code == sim::kIdentificationRequest) read_ = false;
        if (code == sim::kReadParamsRequest) read_ = true;
        if (code == sim::kWriteParamsRequest && !read_) ++bus_.unread_writes;
      }
      return inner_->Write(bytes, n, written);
    }
    AdapterStatus Queue(std::uint32_t& n) override { return inner_->Queue(n); }
    AdapterStatus SetTimeouts(std::uint32_t r, std::uint32_t w) override {
      return inner_->SetTimeouts(r, w);
    }
    AdapterStatus Read(std::uint8_t* b, std::uint32_t n, std::uint32_t& got) override {
      return inner_->Read(b, n, got);
    }
    AdapterStatus Close() override { return inner_->Close(); }

   private:
    WatchedBus& bus_;
    std::unique_ptr<AdapterConnection> inner_;
    sim::FrameDecoder decoder_;
    bool read_ = false;
  };
  sim::UsbBus& bus_;
};

struct StationRun {
  int exit_code = -1;
  std::vector<StationEvent> events;
  std::vector<json> records;
  std::vector<SlotView> views;
  int unread_writes = 0;
  std::vector<std::string> OutcomesOf(const std::string& slot) const {
    std::vector<std::string> out;
    for (const auto& e : events)
      if (e.slot == slot && e.kind == "outcome") out.push_back(e.outcome);
    return out;
  }
  std::vector<json> RecordsOf(const std::string& slot) const {
    std::vector<json> out;
    for (const auto& r : records)
      if (r["slot"] == slot) out.push_back(r);
    return out;
  }
};

Profile TestProfile() {
  Profile p;
  p.wire[FindParamField("sensitivity")->list] = 7;
  p.wire[FindParamField("speed")->list] = 2;
  return p;
}

class StationBench {
 public:
  explicit StationBench(const std::vector<sim::FeederPlan>& plans,
                        const std::vector<std::string>& programmer_serials = {})
      : bus_(clock_), watched_(bus_), loop_(clock_) {
    for (std::size_t i = 0; i < plans.size(); ++i) {
      const std::string serial = i < programmer_serials.size() ? programmer_serials[i] : "";
      sim::Adapter& a = bus_.Plug("ZeltoProg", serial);
      feeders_.push_back(std::make_unique<sim::StationFeeder>(bus_, a, clock_, plans[i]));
    }
    loop_.SetInterruptFlag(&stop_.Flag());
  }
  sim::UsbBus& bus() { return bus_; }
  sim::VirtualClock& clock() { return clock_; }
  sim::StationFeeder& feeder(std::size_t i) { return *feeders_[i]; }
  // Runs `action` once, `ms` from now.
  void After(int ms, std::function<void()> action) {
    auto timer = clock_.CreateTimer();
    Timer* t = timer.get();
    timer->SetInterval(ms);
    timer->SetOnTick([t, action = std::move(action)] {
      t->SetEnabled(false);
      action();
    });
    timer->SetEnabled(true);
    timers_.push_back(std::move(timer));
  }

  // Runs the station with a JSON-lines log until `count` units, or until `stop_ms` of
  // virtual time when count is 0.
  StationRun Go(int count, std::int64_t stop_ms = 0,
         std::function<void(const StationEvent&)> also = nullptr) {
    StationOptions o;
    o.profile = TestProfile();
    o.profile_hash = ProfileHash(o.profile);
    o.station_name = "line-1";
    o.operator_name = "ana";
    o.version = "test";
    o.count = count;
    o.log_path = (folder_.path() / "station.jsonl").string();
    o.log_format = LogFormat::kJsonl;
    o.session.reply_timeout_ms = 200;
    o.session.tries = 2;
    o.now_utc = [] { return std::string("2026-12-10T03:00:00.000Z"); };
    Station station(watched_, loop_, o);
    StationRun run;
    station.OnEvent([&](const StationEvent& e) {
      run.events.push_back(e);
      if (also) also(e);
    });
    std::unique_ptr<Timer> stopper;
    if (stop_ms > 0) {
      stopper = clock_.CreateTimer();
      stopper->SetInterval(static_cast<int>(stop_ms));
      stopper->SetOnTick([this] { stop_.Request(kStopInterrupt); });
      stopper->SetEnabled(true);
    }
    std::string error;
    EXPECT_TRUE(station.Setup(error)) << error;
    run.exit_code = station.Run(&stop_);
    run.views = station.Views();
    std::ifstream in(o.log_path);
    for (std::string line; std::getline(in, line);) run.records.push_back(json::parse(line));
    run.unread_writes = watched_.unread_writes;
    return run;
  }

 private:
  sim::VirtualClock clock_;
  sim::UsbBus bus_;
  WatchedBus watched_;
  VirtualLoop loop_;
  StopRequest stop_;
  test::TempFolder folder_;
  std::vector<std::unique_ptr<sim::StationFeeder>> feeders_;
  std::vector<std::unique_ptr<Timer>> timers_;
};

sim::FeederPlan Plan(int slot, int units) {
  sim::FeederPlan p;
  p.first_number = slot * 1000;
  p.units = units;
  p.first_ms = 1 + slot * 41;
  p.hold_ms = 3000;
  p.gap_ms = 500;
  return p;
}

struct FaultRow {
  const char* name;
  int slot;  // the slot with the fault
  std::function<void(sim::FeederPlan&)> fault;
  std::vector<std::string> outcomes;  // expected on that slot, in order
  // Anything else the row checks, after the common checks.
  std::function<void(StationBench&, const StationRun&, const std::vector<std::string>& names)> check;
  std::vector<std::string> programmer_serials;
  std::function<void(StationBench&, const StationEvent&)> on_event;
};

void PrintTo(const FaultRow& row, std::ostream* os) { *os << row.name; }

class StationFaults : public ::testing::TestWithParam<FaultRow> {};

TEST_P(StationFaults, OnlyTheFaultySlotIsAffected) {
  const FaultRow& row = GetParam();
  constexpr int kSlots = 4, kUnits = 3;
  std::vector<sim::FeederPlan> plans;
  for (int i = 0; i < kSlots; ++i) plans.push_back(Plan(i, kUnits));
  if (row.fault) row.fault(plans[static_cast<std::size_t>(row.slot)]);
  StationBench bench(plans, row.programmer_serials);
  // Long enough for every feeder to be done several times over.
  const StationRun run = bench.Go(0, 60000, [&](const StationEvent& e) {
    if (row.on_event) row.on_event(bench, e);
  });
  std::vector<std::string> names;
  for (const SlotView& v : run.views) names.push_back(v.name);
  ASSERT_EQ(names.size(), static_cast<std::size_t>(kSlots));
  for (int i = 0; i < kSlots; ++i) {
    const std::string& name = names[static_cast<std::size_t>(i)];
    const auto outcomes = run.OutcomesOf(name);
    const auto records = run.RecordsOf(name);
    if (i == row.slot) {
      EXPECT_EQ(outcomes, row.outcomes) << name;
    } else {
      EXPECT_EQ(outcomes, std::vector<std::string>(kUnits, "PASS")) << name;
      ASSERT_EQ(records.size(), static_cast<std::size_t>(kUnits)) << name;
      for (std::size_t u = 0; u < records.size(); ++u) {
        EXPECT_EQ(records[u]["outcome"], "PASS");
        EXPECT_EQ(records[u]["serial"], bench.feeder(static_cast<std::size_t>(i)).PluggedSerials()[u]);
        EXPECT_EQ(records[u]["checks"]["sensitivity"]["read_back"], 7);
      }
    }
  }
  // Every outcome has its record, and nothing was written before it was read.
  std::size_t unit_records = 0;
  for (const auto& r : run.records) unit_records += r["outcome"] != "OUT OF SERVICE";
  std::size_t outcomes = 0;
  for (const auto& e : run.events) outcomes += e.kind == "outcome";
  EXPECT_EQ(unit_records, outcomes);
  EXPECT_EQ(run.unread_writes, 0);
  if (row.check) row.check(bench, run, names);
}

const std::vector<std::string> kPass3{"PASS", "PASS", "PASS"};

INSTANTIATE_TEST_SUITE_P(
    Rows, StationFaults,
    ::testing::Values(
        FaultRow{"AdapterPulledMidWrite", 1,
                 [](sim::FeederPlan& p) {
                   p.pull_adapter_mid_write = true;
                   p.fault_count = 1;
                 },
                 {"ERROR", "PASS", "PASS"},
                 [](StationBench& bench, const StationRun& run, const std::vector<std::string>& names) {
                   // The sensor pulled with its programmer was not taken again when the
                   // programmer came back with it still in the socket.
                   const auto records = run.RecordsOf(names[1]);
                   ASSERT_EQ(records.size(), 3u);
                   EXPECT_EQ(records[1]["serial"], bench.feeder(1).PluggedSerials()[1]);
                   EXPECT_EQ(bench.bus().adapter(1).Plugged(), true);
                 }, {}, nullptr},
        FaultRow{"RefusingSensor", 2,
                 [](sim::FeederPlan& p) { p.refuse.emplace_back(sim::Duroz740::kSensitivity, 7); },
                 {"FAIL", "FAIL", "FAIL"},
                 [](StationBench&, const StationRun& run, const std::vector<std::string>& names) {
                   const auto records = run.RecordsOf(names[2]);
                   ASSERT_EQ(records.size(), 3u);
                   EXPECT_EQ(records[0]["checks"]["sensitivity"]["found"], 5);
                   EXPECT_EQ(records[0]["checks"]["sensitivity"]["expected"], 7);
                   EXPECT_EQ(records[0]["checks"]["sensitivity"]["read_back"], 5);
                   EXPECT_EQ(run.exit_code, kExitInterrupted);
                 }, {}, nullptr},
        FaultRow{"SensorSilentMidRead", 0,
                 [](sim::FeederPlan& p) {
                   p.silent_mid_read = true;
                   p.fault_count = 1;
                 },
                 {"ERROR", "PASS", "PASS"},
                 [](StationBench&, const StationRun& run, const std::vector<std::string>& names) {
                   // Retried once on the same unit before the ERROR.
                   int retries = 0;
                   for (const auto& e : run.events) retries += e.slot == names[0] && e.kind == "retry";
                   EXPECT_EQ(retries, 1);
                 }, {}, nullptr},
        FaultRow{"ProgrammerHeldElsewhere", 3,
                 [](sim::FeederPlan& p) { p.programmer_held = true; },
                 {},
                 [](StationBench&, const StationRun& run, const std::vector<std::string>&) {
                   EXPECT_EQ(run.views[3].state, SlotState::kHeld);
                 },
                 {},
                 nullptr},
        FaultRow{"TwoProgrammersOneSerial", 1,
                 [](sim::FeederPlan&) {},
                 kPass3,
                 [](StationBench& bench, const StationRun& run, const std::vector<std::string>& names) {
                   EXPECT_EQ(names[0], "@0x0111");
                   EXPECT_EQ(names[1], "@0x0112");
                   EXPECT_EQ(names[2], "ZP100002");
                   EXPECT_EQ(run.RecordsOf("@0x0112").size(), 3u);
                   EXPECT_EQ(bench.feeder(1).Plugged(), 3);
                 },
                 {"ZPSAME", "ZPSAME"}, nullptr},
        FaultRow{"DuplicateSensorSerial", 2,
                 [](sim::FeederPlan& p) {
                   p.serials = {"ZS00001000"};  // slot 1's first sensor
                   p.first_ms = 60;
                 },
                 kPass3,
                 [](StationBench&, const StationRun& run, const std::vector<std::string>& names) {
                   const auto records = run.RecordsOf(names[2]);
                   ASSERT_EQ(records.size(), 3u);
                   EXPECT_TRUE(records[0]["duplicate_serial"]);
                   EXPECT_FALSE(records[1]["duplicate_serial"]);
                   EXPECT_FALSE(run.RecordsOf(names[1])[0]["duplicate_serial"]);
                 }, {}, nullptr},
        FaultRow{"ThreeErrorsTakeASlotOutAndAReplugBringsItBack", 0,
                 [](sim::FeederPlan& p) {
                   p.units = 6;
                   p.silent_mid_read = true;
                   p.fault_count = 3;
                 },
                 {"ERROR", "ERROR", "ERROR", "PASS", "PASS", "PASS"},
                 [](StationBench&, const StationRun& run, const std::vector<std::string>& names) {
                   const auto records = run.RecordsOf(names[0]);
                   ASSERT_EQ(records.size(), 7u);
                   EXPECT_EQ(records[3]["outcome"], "OUT OF SERVICE");
                   int back = 0;
                   for (const auto& e : run.events) back += e.slot == names[0] && e.kind == "back_in_service";
                   EXPECT_EQ(back, 1);
                   EXPECT_EQ(run.views[0].state, SlotState::kWaiting);
                 },
                 {},
                 [](StationBench& bench, const StationEvent& e) {
                   if (e.kind != "out_of_service") return;
                   // Someone pulls the programmer and plugs it in again.
                   bench.bus().Unplug(bench.bus().adapter(0));
                   bench.After(700, [&bench] { bench.bus().Replug(bench.bus().adapter(0)); });
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zelto::cli

namespace zelto::cli {
namespace {

// Eight slots with random holds, gaps and faults; whatever happens, the station keeps its
// promises: one outcome and one record per unit taken, nothing written before a read over
// the same link, no unit taken twice without a removal, an ERROR never recorded as a FAIL.
TEST(StationSoak, KeepsItsInvariants) {
  for (std::uint32_t seed : {11u, 12u, 13u}) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    constexpr int kSlots = 8, kUnits = 25;
    std::vector<sim::FeederPlan> plans;
    for (int i = 0; i < kSlots; ++i) {
      sim::FeederPlan p = Plan(i, kUnits);
      p.seed = seed * 100 + static_cast<std::uint32_t>(i);
      p.hold_ms = 200 + static_cast<int>(rng() % 1500);  // some too short for a unit
      p.gap_ms = 100 + static_cast<int>(rng() % 400);
      p.jitter_ms = 800;
      p.fault_from = static_cast<int>(rng() % kUnits);
      p.fault_count = 1 + static_cast<int>(rng() % 4);
      switch (rng() % 4) {
        case 0:
          p.silent_mid_read = true;
          break;
        case 1:
          p.pull_adapter_mid_write = true;
          p.replug_after_ms = 300 + static_cast<int>(rng() % 3000);
          break;
        case 2:
          p.refuse.emplace_back(sim::Duroz740::kSpeed, 2);
          break;
        default:
          break;
      }
      plans.push_back(p);
    }
    StationBench bench(plans);
    const StationRun run = bench.Go(0, 200000);
    EXPECT_EQ(run.unread_writes, 0);
    for (int i = 0; i < kSlots; ++i) {
      const std::string name = run.views[static_cast<std::size_t>(i)].name;
      const sim::FeederPlan& plan = plans[static_cast<std::size_t>(i)];
      const auto& plugged = bench.feeder(static_cast<std::size_t>(i)).PluggedSerials();
      std::vector<std::pair<std::string, std::string>> outcomes;  // serial, outcome
      std::string open_unit;
      std::map<std::string, int> taken;
      for (const auto& e : run.events) {
        if (e.slot != name) continue;
        if (e.kind == "sensor") {
          EXPECT_TRUE(open_unit.empty()) << name << ": a unit began before " << open_unit << " ended";
          open_unit = e.serial;
          // The feeders never put a sensor back: taking one twice is taking it again
          // without a removal.
          EXPECT_EQ(++taken[e.serial], 1) << name << " " << e.serial;
        }
        if (e.kind == "outcome") {
          EXPECT_EQ(e.serial, open_unit) << name;
          outcomes.emplace_back(e.serial, e.outcome);
          open_unit.clear();
        }
      }
      EXPECT_TRUE(open_unit.empty()) << name;
      std::vector<std::pair<std::string, std::string>> recorded;
      for (const auto& r : run.RecordsOf(name))
        if (r["outcome"] != "OUT OF SERVICE") recorded.emplace_back(r["serial"], r["outcome"]);
      EXPECT_EQ(recorded, outcomes) << name;
      for (const auto& [serial, outcome] : outcomes) {
        const auto at = std::find(plugged.begin(), plugged.end(), serial) - plugged.begin();
        const bool faulty = at >= plan.fault_from && at < plan.fault_from + plan.fault_count;
        const bool station_side = faulty && (plan.silent_mid_read || plan.pull_adapter_mid_write);
        if (outcome == "FAIL") {
          EXPECT_FALSE(plan.refuse.empty()) << name << " " << serial;
        }
        // A sensor that fell silent, or whose programmer was pulled, is the station's side.
        if (station_side) {
          EXPECT_NE(outcome, "FAIL") << name << " " << serial;
        }
        if (station_side && plan.silent_mid_read) {
          EXPECT_EQ(outcome, "ERROR") << name << " " << serial;
        }
      }
    }
  }
}

}  // namespace
}  // namespace zelto::cli

namespace zelto::cli {
namespace {

// Ended by --count: the exit code says the worst that happened to a unit.
TEST(StationExit, SaysTheWorstOutcome) {
  struct Row {
    const char* name;
    std::function<void(sim::FeederPlan&)> fault;  // on slot 1 of 2
    int exit_code;
  };
  const std::vector<Row> rows = {
      {"AllPass", [](sim::FeederPlan&) {}, 0},
      {"Refused", [](sim::FeederPlan& p) { p.refuse.emplace_back(sim::Duroz740::kSpeed, 2); },
       kExitNotVerified},
      {"SilentIsNoFail", [](sim::FeederPlan& p) { p.silent_mid_read = true; }, kExitAdapter},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<sim::FeederPlan> plans{Plan(0, 2), Plan(1, 2)};
    row.fault(plans[1]);
    StationBench bench(plans);
    const StationRun run = bench.Go(4);
    EXPECT_EQ(run.exit_code, row.exit_code);
    EXPECT_EQ(run.records.size(), 4u);
    EXPECT_EQ(run.records.back()["profile_hash"], ProfileHash(TestProfile()));
    EXPECT_EQ(run.records.back()["operator"], "ana");
  }
}

}  // namespace
}  // namespace zelto::cli

namespace zelto::cli {
namespace {

// The adapter's chip holds a reply until its latency timer runs out: with a driver that
// cannot set it short, every exchange waits for the 16 ms default; the link opens with it
// set short where the driver can.
TEST(LatencyTimer, ShortSettingShortensEachExchange) {
  std::int64_t took[2] = {0, 0};
  for (int with_call = 0; with_call < 2; ++with_call) {
    sim::VirtualClock clock;
    sim::UsbBus bus(clock);
    bus.SetLinkTiming(true);
    bus.Plug().Attach<sim::Duroz740>("ZS74000001").SetReplyDelayMs(15);
    WatchedBus without_call(bus);  // forwards everything but the latency timer
    AdapterPort& driver = with_call ? static_cast<AdapterPort&>(bus) : without_call;
    VirtualLoop loop(clock);
    SessionOptions options;
    options.poll_ms = 1;
    Session s(driver, loop, options);
    ASSERT_EQ(s.Open(), Outcome::kOk);
    EXPECT_EQ(s.ShortLatency(), with_call == 1);
    EXPECT_EQ(bus.adapter(0).LatencyTimerMs(), with_call ? kShortLatencyMs : 16);
    ParamsDecode d;
    const std::int64_t start = clock.NowMs();
    ASSERT_EQ(s.ReadParams(d), Outcome::kOk);
    took[with_call] = clock.NowMs() - start;
  }
  // Out and back at 9600 baud and the sensor's 15 ms come to about 40 ms; the default
  // timer rounds the arrival up to its next 16 ms.
  EXPECT_GT(took[0], took[1]);
  EXPECT_LE(took[1], 45);
  EXPECT_GE(took[0] - took[1], 5) << took[0] << " against " << took[1];
}

}  // namespace
}  // namespace zelto::cli

namespace zelto::cli {
namespace {

// The link, not the station, sets the pace. With link timing on two slots: a sensor swapped
// for the next as the read-back goes out is taken by the first look after the outcome (an
// identification and a receive poll, under 90 ms); one put into an empty socket is found
// within one unanswered look (100 ms) and an identification after it goes in.
TEST(StationPace, TakesTheNextSensorWithoutAPause) {
  struct Row {
    const char* name;
    int pull_after_ms, gap_ms;
    std::int64_t most_ms;  // from an outcome to the slot's next sensor
  };
  for (const Row& row : {Row{"handover", 1, 1, 90}, Row{"robot", 50, 300, 50 + 300 + 100 + 90}}) {
    SCOPED_TRACE(row.name);
    std::vector<sim::FeederPlan> plans{Plan(0, 6), Plan(1, 6)};
    for (auto& p : plans) {
      p.pull_after_read_back_ms = row.pull_after_ms;
      p.gap_ms = row.gap_ms;
      p.reply_delay_ms = 15;
    }
    StationBench bench(plans);
    bench.bus().SetLinkTiming(true);
    const StationRun run = bench.Go(12);
    EXPECT_EQ(run.exit_code, 0);
    std::map<std::string, std::int64_t> outcome_at;
    int next_units = 0;
    for (const auto& e : run.events) {
      if (e.kind == "outcome") outcome_at[e.slot] = e.at_ms;
      if (e.kind != "sensor" || !outcome_at.count(e.slot)) continue;
      ++next_units;
      EXPECT_LE(e.at_ms - outcome_at[e.slot], row.most_ms) << e.slot << " " << e.serial;
      EXPECT_GT(e.identified_in_ms, 0);
    }
    EXPECT_EQ(next_units, 10);
  }
}

}  // namespace
}  // namespace zelto::cli

namespace zelto::cli {
namespace {

// On a terminal the slot lines and the summary speak the string table's language; the
// outcome words stay PASS, FAIL and ERROR.
TEST(StationTerminal, SpeaksTheTablesLanguage) {
  struct Row {
    std::int16_t language;
    const char* state;    // the slots' last state: the sensor is to be taken out
    const char* summary;  // the summary line's start
  };
  for (const Row& row : {Row{0, "togliere il sensore", "2 unit\xc3\xa0 in "},
                         Row{1, "take the sensor out", "2 unit(s) in "}}) {
    SCOPED_TRACE(row.language);
    sim::VirtualClock clock;
    sim::UsbBus bus(clock);
    sim::StationFeeder feeder(bus, bus.Plug("ZeltoProg", "ZP000001"), clock, Plan(0, 2));
    VirtualLoop loop(clock);
    std::ostringstream out, err;
    Context ctx(bus, "sim", loop, out, err);
    ASSERT_TRUE(LoadStringTable(std::string(ZELTO_SOURCE_DIR) + "/data/StringTable.txt",
                                row.language, ctx.strings));
    test::TempFolder folder;
    StationCommand command;
    command.profile_file = (folder.path() / "profile.json").string();
    std::ofstream(command.profile_file) << ProfileToJson(TestProfile());
    command.count = 2;
    command.terminal = true;
    EXPECT_EQ(CmdStation(ctx, command), 0) << err.str();
    EXPECT_NE(out.str().find(row.state), std::string::npos) << out.str();
    EXPECT_NE(out.str().find(row.summary), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("ZP000001: 2 PASS, 0 FAIL, 0 ERROR"), std::string::npos);
  }
}

}  // namespace
}  // namespace zelto::cli
