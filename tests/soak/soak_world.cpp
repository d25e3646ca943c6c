// SPDX-License-Identifier: MIT
#include "tests/soak/soak_world.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "core/protocol/programmer_messages.h"
#include "core/radar/radar_logic.h"
#include "core/text/text_id.h"
#include "sim/other_device.h"

namespace zelto::soak {

namespace {

// A window is closed at the sixth identification check in a row that misses; checks come
// every 600 ms, the first 500 ms after the window opens.
constexpr std::int64_t kCloseAfterLastGoodMs = 6 * 600;
// One tick of the connection timer, for the check made while faults run: the exact figure is
// held to in the quiet silences.
constexpr std::int64_t kCloseMarginMs = 100;
// The supervision counts the 3000 ms hold-off down in 500 ms ticks, the first of which may
// come at the very moment the window closed.
constexpr std::int64_t kHoldOffMs = 3000;
constexpr std::int64_t kEarliestReopenMs = kHoldOffMs - 500;
constexpr std::int64_t kSupervisionMs = 500;
// Faults stop; the window may need 3.6 s to notice a loss, 3 s to come back, and a few
// checks to settle.
constexpr std::int64_t kRecoveryLimitMs = 20000;

constexpr std::array<const char*, kParamCount> kParamNames = {
    "sensitivity", "relay time", "reaction speed", "mains filter", "high-traffic mode", "height"};

// The sensor's own first values, none of them what a freshly opened window selects.
constexpr std::array<std::uint8_t, kParamCount> kInitialValues = {7, 3, 2, 2, 1, 2};
// The second sensor's, none of them the first one's either (high-traffic mode has only two).
constexpr std::array<std::uint8_t, kParamCount> kSecondValues = {3, 7, 0, 1, 0, 1};
// Values the lists cannot take, per field, as a later firmware might report.
constexpr std::array<std::uint8_t, kParamCount> kFirstOutOfRange = {10, 10, 3, 3, 2, 3};

// A sensor pulled and put back, or a programmer unplugged: from a brief loose contact to a
// few seconds, short enough not to lose the window.
constexpr std::int64_t kShortestPullMs = 100;
constexpr std::int64_t kLongestPullMs = 2500;
// A sensor swapped for another takes a person a moment: at least one identification request
// goes unanswered. A swap quicker than that could not be told from the first sensor.
constexpr std::int64_t kShortestSwapMs = 700;
// From a check that found the sensor again to the signal shown again.
constexpr std::int64_t kSignalBackMs = 1200;
// From the last signal report to the next one while the sensor is identified, its report
// mode acknowledged and nothing is in the way.
constexpr std::int64_t kSignalResumeMs = 4000;

// The lists the user can change; the installation height list is never shown.
constexpr int kUserLists = 5;

int ValueOf(int list, int index) {
  return index + (list <= kRelayTime ? 1 : 0);
}

std::string Ms(std::int64_t ms) {
  return std::to_string(ms) + " ms";
}

}  // namespace

const char* const kFaultKindNames[kSoakFaultKinds] = {"unplug",
                                                      "second adapter",
                                                      "call failure",
                                                      "short write",
                                                      "description failure",
                                                      "noise",
                                                      "corrupt replies",
                                                      "read limit",
                                                      "merge replies",
                                                      "silence",
                                                      "other device",
                                                      "refused value",
                                                      "out-of-range field",
                                                      "sensor swap",
                                                      "sensor restart",
                                                      "restart in place"};

// A radar window view that also tells the soak when the window shows, goes, and shows the
// sensor's identification (a good check) in its status panel.
class SoakRadarView : public testing::FakeRadarView {
 public:
  SoakRadarView(std::shared_ptr<testing::RadarRecord> rec, SoakWorld& world)
      : FakeRadarView(std::move(rec)), world_(world) {}
  void ShowWindow() override {
    FakeRadarView::ShowWindow();
    world_.OnRadarShown();
  }
  void Unload() override {
    FakeRadarView::Unload();
    world_.OnRadarUnloaded();
  }
  void ShowIdentification(const std::string& text) override {
    FakeRadarView::ShowIdentification(text);
    world_.OnStatusPanel(text);
  }
  void ShowSignal(int level, bool detected) override {
    FakeRadarView::ShowSignal(level, detected);
    world_.OnSignalShown();
  }

 private:
  SoakWorld& world_;
};

std::unique_ptr<RadarView> SoakUi::CreateRadarView(RadarEvents&) {
  // Only the newest window's record is of interest; a long run opens thousands.
  radars.clear();
  radars.push_back(std::make_shared<testing::RadarRecord>());
  return std::make_unique<SoakRadarView>(radars.back(), world_);
}

SoakWorld::SoakWorld(const SoakOptions& options) : options_(options), rng_(options.seed) {
  testing::WriteFile(folder_.path() / "StringTable.txt", testing::NamedStringTable());
  adapter_ = &bus_.Plug();
  sensor_ = &adapter_->Attach<sim::Duroz740>("0000000001", 0x0102, options.firmware,
                                             options.seed ^ 0x740u);
  for (int p = 0; p < kParamCount; ++p) ConfigureOnDevice(*sensor_, p, kInitialValues[p]);
  // The second sensor: another serial number, and a firmware on the other side of the height
  // parameter's first version.
  const std::uint16_t second_fw = options.firmware >= kHeightFirmware ? 0x01FF : 0x0200;
  auto second =
      std::make_unique<sim::Duroz740>("0000000002", 0x0102, second_fw, options.seed ^ 0x742u);
  for (int p = 0; p < kParamCount; ++p) ConfigureOnDevice(*second, p, kSecondValues[p]);
  spare_sensor_ = std::move(second);
  last_seen_ = sensor_->Params();
  last_choice_.fill(-1);
  ProgramConfig config{folder_.path(), {1, 0, 0}};
  config.radar_open_delay_ms = options.radar_open_delay_ms;
  program_ = std::make_unique<Program>(bus_, clock_, ui_, config);
}

SoakWorld::~SoakWorld() = default;

std::int64_t SoakWorld::Between(std::int64_t lo, std::int64_t hi) {
  return std::uniform_int_distribution<std::int64_t>(lo, hi)(rng_);
}

bool SoakWorld::Allowed(int param, int value) const {
  if (allowed_values_[param].count(value) != 0) return true;
  const auto own = own_values_.find(sensor_);
  return own != own_values_.end() && own->second[param].count(value) != 0;
}

void SoakWorld::ConfigureOnDevice(sim::Duroz740& sensor, int param, std::uint8_t value) {
  sensor.SetParam(param, value);
  own_values_[&sensor][param].insert(value);
  if (&sensor == sensor_) last_seen_[param] = value;
}

int SoakWorld::FirstUnreadable() const {
  for (int p = 0; p < VisibleParams(); ++p) {
    const int v = sensor_->ParamValue(p);
    const int lowest = p <= kRelayTime ? 1 : 0;
    if (v < lowest || v >= kFirstOutOfRange[p]) return p;
  }
  return VisibleParams();
}

void SoakWorld::PutSensorIn(std::unique_ptr<sim::Device> device) {
  auto* sensor = static_cast<sim::Duroz740*>(device.get());
  if (out_of_range_param_ >= 0) {
    ConfigureOnDevice(*sensor, out_of_range_param_, out_of_range_value_);
    out_of_range_param_ = -1;
  }
  sensor->Restart();
  adapter_->Attach(std::move(device));
  sensor_ = sensor;
  last_seen_ = sensor_->Params();
  // A sensor pulled and put back between two identification requests cannot be told from
  // one that restarted in place.
  unread_since_put_in_ = asked_while_out_;
  if (!asked_while_out_) restarted_at_ = Now();
  asked_while_out_ = false;
  reads_at_put_in_ = sensor_->counters().reads;
}

void SoakWorld::HoldPulledSensor(std::int64_t shortest_ms) {
  if (Now() < pulled_at_ + shortest_ms) Advance(pulled_at_ + shortest_ms - Now());
}

void SoakWorld::PullSensor(std::int64_t ms, bool swap) {
  std::unique_ptr<sim::Device> out = adapter_->Detach();
  asked_while_out_ = false;
  Log(swap ? "sensor swapped" : "sensor pulled");
  Advance(ms);
  if (swap) {
    PutSensorIn(std::move(spare_sensor_));
    spare_sensor_ = std::move(out);
  } else {
    PutSensorIn(std::move(out));
  }
}

void SoakWorld::Log(const std::string& what) {
  if (recent_.size() >= 40) recent_.pop_front();
  recent_.push_back("t=" + Ms(Now()) + ": " + what);
}

void SoakWorld::Violation(const std::string& what) {
  if (figures_.violations == 0)
    figures_.before_first_violation.assign(recent_.begin(), recent_.end());
  ++figures_.violations;
  const std::string line = "t=" + Ms(Now()) + ": " + what;
  if (figures_.first_violations.size() < 20) figures_.first_violations.push_back(line);
  if (options_.verbose) std::fprintf(stderr, "violation %s\n", line.c_str());
}

bool SoakWorld::WindowOpen() const {
  return watch_.open && program_->Radar() != nullptr && !program_->Ended();
}

int SoakWorld::SensorIndex(ParamList list) const {
  return sensor_->ParamValue(list) - (list <= kRelayTime ? 1 : 0);
}

int SoakWorld::VisibleParams() const {
  // The height is read back only from sensors that have it.
  return sensor_->ParamCount();
}

// The user never picks what a freshly opened window selects before the sensor's values have
// been read (sensitivity 5, on-time 0.5 s, speed 1, filter entry 0), so such a value reaching
// the sensor can only be one the program made up. High-traffic mode has only two values, so
// both are offered.
std::vector<int> SoakWorld::Choices(ParamList list) const {
  switch (list) {
    case kSensitivity:
      return {0, 1, 2, 3, 5, 6, 7, 8};
    case kRelayTime:
      return {1, 2, 3, 4, 5, 6, 7, 8};
    case kReactionSpeed:
      return {0, 2};
    case kMainsFilter:
      return {1, 2};
    case kHighTrafficMode:
      return {0, 1};
    default:
      return {};
  }
}

void SoakWorld::Choose(ParamList list, int index, bool drop_down_first) {
  RadarEvents& events = program_->RadarWindowEvents();
  if (drop_down_first) events.OnListDropDown(list);
  events.OnListClick(list, index);
  allowed_values_[list].insert(ValueOf(list, index));
  last_choice_[list] = index;
  picks_[list] = {true, ValueOf(list, index), program_->Identity().last_duroz740_serial,
                  program_->Identity().last_duroz740_fw};
  ++figures_.user_choices;
  Log(std::string("user chooses entry ") + std::to_string(index) + " in " + kParamNames[list]);
}

void SoakWorld::OnRadarShown() {
  if (watch_.open) return;
  watch_.open = true;
  watch_.opened_at = Now();
  ++watch_.openings;
  window_overdue_reported_ = false;
  Log("radar window shown");
  if (watch_.closed_at < 0) return;
  const std::int64_t gap = Now() - watch_.closed_at;
  watch_.last_reopen_gap = gap;
  if (figures_.reopen_min_ms < 0 || gap < figures_.reopen_min_ms) figures_.reopen_min_ms = gap;
  if (gap > figures_.reopen_max_ms) figures_.reopen_max_ms = gap;
  if (gap < kEarliestReopenMs)
    Violation("the radar window opened again " + Ms(gap) + " after it closed, inside the hold-off");
}

void SoakWorld::OnRadarUnloaded() {
  if (!watch_.open) return;
  watch_.open = false;
  watch_.closed_at = Now();
  ++watch_.closings;
  Log("radar window closed, " + std::to_string(program_->Connection().id_miss_count) + " missed checks");
}

void SoakWorld::OnStatusPanel(const std::string& text) {
  // A missed check shows entry 30 (from the third miss on); a good one the identification.
  if (text == program_->Texts().Entries()[Text::kNoDeviceAnswering]) return;
  watch_.last_good_check = Now();
  // The sensor found again after missed checks, or another one: it may have restarted, and
  // its signal must come back, unless a fault stands in the way.
  if ((missed_since_good_ || text != last_good_text_) && active_.empty())
    signal_due_by_ = Now() + kSignalBackMs;
  missed_since_good_ = false;
  last_good_text_ = text;
}

void SoakWorld::OnSignalShown() {
  figures_.longest_signal_gap_ms =
      std::max(figures_.longest_signal_gap_ms, Now() - signal_watched_from_);
  signal_watched_from_ = Now();
  if (signal_due_by_ < 0) return;
  signal_due_by_ = -1;
  ++figures_.refinds_watched;
}

void SoakWorld::CheckTick() {
  if (program_->Ended()) return;  // reported once by the caller

  const ReceiveRing& ring = program_->Messages().Ring();
  if (ring.read_pos < 0 || ring.read_pos >= kRingSize || ring.write_pos < 0 ||
      ring.write_pos >= kRingSize)
    Violation("receive ring position outside the ring");

  const auto& params = sensor_->Params();
  for (int p = 0; p < kParamCount; ++p) {
    if (params[p] == last_seen_[p]) continue;
    ++figures_.sensor_changes;
    if (!Allowed(p, params[p]))
      Violation(std::string("the sensor's ") + kParamNames[p] + " became " +
                std::to_string(params[p]) + ", a value the user never chose");
    last_seen_[p] = params[p];
  }

  const bool in_socket = adapter_->AttachedDevice() == sensor_;
  if (unread_since_put_in_ && sensor_->counters().reads > reads_at_put_in_)
    unread_since_put_in_ = false;
  // The sensor the program found last; a pick made for another one no longer waits.
  const bool found_in_socket =
      in_socket &&
      std::string(sensor_->Identity().serial.data(), 10) == program_->Identity().last_duroz740_serial &&
      sensor_->Identity().fw == program_->Identity().last_duroz740_fw;
  for (int p = 0; p < kParamCount; ++p) {
    Pick& pick = picks_[p];
    if (!pick.waiting) continue;
    if (pick.serial != program_->Identity().last_duroz740_serial || pick.fw != program_->Identity().last_duroz740_fw) {
      pick.waiting = false;
      ++figures_.picks_for_other;
    } else if (found_in_socket && sensor_->ParamValue(p) == pick.value) {
      pick.waiting = false;
      ++figures_.picks_reached;
    }
  }
  bool write_unanswered = false;
  for (const sim::HostFrame& f : adapter_->HostFrames()) {
    if (f.frame.code == IdentificationRequest && !in_socket) asked_while_out_ = true;
    if (f.frame.code == ReportModeRequest && in_socket) last_mode_request_at_ = Now();
    if (f.frame.code != WriteParamsRequest) continue;
    ++figures_.writes_sent;
    write_unanswered = true;
    for (int p = 0; p < kParamCount; ++p)
      if (found_in_socket && picks_[p].waiting && static_cast<std::size_t>(p) < f.frame.count &&
          f.frame.payload[p] == picks_[p].value) {
        picks_[p].waiting = false;
        ++figures_.picks_reached;
      }
    if (in_socket && unread_since_put_in_)
      Violation(
          "a parameter write reached a sensor whose parameters had not been read since "
          "it was put in");
    for (std::size_t i = 0; i < f.frame.count && i < static_cast<std::size_t>(kParamCount); ++i)
      if (!Allowed(static_cast<int>(i), f.frame.payload[i]))
        Violation(std::string("a parameter write carried ") + kParamNames[i] + " = " +
                  std::to_string(f.frame.payload[i]) + ", a value the user never chose");
  }
  adapter_->ClearLog();
  // The user picks again while the write just sent is still unanswered.
  if (write_unanswered && in_fault_phase_ && WindowOpen() && Between(0, 2) == 0) {
    const auto list = static_cast<ParamList>(Between(0, kUserLists - 1));
    const std::vector<int> choices = Choices(list);
    Choose(list, choices[static_cast<std::size_t>(Between(0, choices.size() - 1))], false);
    ++figures_.picks_during_write;
  }

  const bool signal_expected = WindowOpen() && active_.empty() && program_->Connection().id_miss_count == 0 &&
                               !program_->Connection().report_mode_pending && in_socket;
  if (!signal_expected) {
    figures_.longest_signal_gap_ms =
        std::max(figures_.longest_signal_gap_ms, Now() - signal_watched_from_);
    signal_watched_from_ = Now();
  } else if (Now() - signal_watched_from_ > kSignalResumeMs) {
    Violation("no signal report for " + Ms(Now() - signal_watched_from_) +
              " from a sensor identified with its report mode acknowledged");
    signal_watched_from_ = Now();
  }

  if (program_->Connection().id_miss_count > 0) missed_since_good_ = true;
  if (!WindowOpen()) signal_due_by_ = -1;
  // A restart after the sensor was last asked for its signal (one in the same millisecond
  // comes after that millisecond's ticks), in place or by a pull too short to be seen, is not
  // undone by finding it again; the 4 s rule below judges that one.
  if (signal_due_by_ >= 0 && Now() > signal_due_by_) {
    if (restarted_at_ < last_mode_request_at_)
      Violation("no signal report " + Ms(kSignalBackMs) +
                " after an identification check found the sensor again");
    signal_due_by_ = -1;
  }

  if (watch_.open && !window_overdue_reported_) {
    const std::int64_t since = Now() - std::max(watch_.opened_at, watch_.last_good_check);
    if (since > kCloseAfterLastGoodMs + kCloseMarginMs) {
      Violation("the radar window is still open " + Ms(since) +
                " after its last good identification check");
      window_overdue_reported_ = true;
    }
  }
}

bool SoakWorld::AdvanceUntil(const std::function<bool()>& pred, std::int64_t limit_ms) {
  if (program_->Ended()) {
    clock_.AdvanceBy(limit_ms);
    return pred();
  }
  const bool held = clock_.AdvanceUntil(
      [&] {
        CheckTick();
        return pred();
      },
      limit_ms);
  return held;
}

void SoakWorld::Advance(std::int64_t ms) {
  AdvanceUntil([] { return false; }, ms);
}

void SoakWorld::Start() {
  program_->Load();
  if (!AdvanceUntil([this] { return WindowOpen() && !program_->Connection().read_params_pending; }, 10000))
    Violation("no radar window 10 s after start-up");
}

void SoakWorld::StartFault(FaultKind kind) {
  static constexpr AdapterStatus kStatuses[] = {
      adapter_status::kIoError, adapter_status::kNotFound, adapter_status::kClosed,
      adapter_status::kOther, adapter_status::kNoResources};
  const AdapterStatus status = kStatuses[Between(0, 4)];
  // Most faults are short; one in ten lasts long enough to lose the window several times.
  const std::int64_t until =
      Now() + (Between(0, 9) == 0 ? Between(5000, 40000) : Between(50, 5000));
  if (active_.count(kind) != 0) return;
  // One thing at a time happens to the socket and to the sensor in it.
  static constexpr FaultKind kSocket[] = {kUnplug, kOtherDevice, kSilence, kSwap, kRestart};
  const bool socket_fault =
      std::find(std::begin(kSocket), std::end(kSocket), kind) != std::end(kSocket);
  if (socket_fault)
    for (FaultKind other : kSocket)
      if (active_.count(other) != 0) return;
  signal_due_by_ = -1;  // the signal may be held up by this fault
  ++figures_.episodes[kind];
  Log(std::string("fault starts: ") + kFaultKindNames[kind]);
  switch (kind) {
    case kUnplug:
      bus_.Unplug(*adapter_);
      active_[kind] = std::max(until, Now() + kShortestPullMs);
      break;
    case kSecondAdapter: {
      // A few spare adapters plugged in again and again: every adapter ever plugged stays on
      // the bus, and each driver call visits them all.
      sim::Adapter* second = nullptr;
      for (sim::Adapter* a : spare_adapters_)
        if (!a->Plugged()) second = a;
      if (second == nullptr) {
        second = &bus_.Plug();
        spare_adapters_.push_back(second);
      } else {
        bus_.Replug(*second);
      }
      second->Detach();
      if (Between(0, 1) == 0) second->Attach<sim::OtherDevice>();
      second_adapters_.push_back(second);
      active_[kind] = until;
      break;
    }
    case kCallFailure: {
      const auto call = static_cast<sim::Call>(Between(0, sim::kCallKinds - 1));
      if (Between(0, 2) != 0) {
        bus_.FailCall(call, static_cast<int>(Between(1, 4)), status);
      } else {
        bus_.FailCall(call, sim::kUntilCleared, status);
        failing_call_ = call;
        active_[kind] = Now() + Between(50, 3000);
      }
      break;
    }
    case kShortWrite:
      bus_.ShortWrite(static_cast<std::uint32_t>(Between(1, 6)), static_cast<int>(Between(1, 3)));
      break;
    case kDescriptionFailure:
      adapter_->FailDescription(true);
      active_[kind] = until;
      break;
    case kNoise: {
      // Random bytes, or the framing bytes that can derail an assembler.
      static const std::vector<std::vector<std::uint8_t>> kPatterns = {
          {0x01},
          {0x01, 0x02},
          {0x01, 0x01, 0x02},
          {0x01, 0x03},
          {0x01, 0x02, 0x03, 0x01},
          {0x01, 0x02, 0x17, 0x02, 0x40},
          {0x02, 0x01, 0x01, 0x03}};
      if (Between(0, 1) == 0) {
        adapter_->InsertRandomNoise(static_cast<std::size_t>(Between(1, 64)));
      } else {
        const auto& p = kPatterns[static_cast<std::size_t>(Between(0, kPatterns.size() - 1))];
        adapter_->InsertNoise(p.data(), p.size());
      }
      break;
    }
    case kCorruptReplies:
      adapter_->CorruptNextReplies(static_cast<int>(Between(1, 4)));
      break;
    case kReadLimit:
      adapter_->LimitReadSize(static_cast<std::uint32_t>(Between(1, 48)));
      active_[kind] = until;
      break;
    case kMergeReplies:
      // Held back at most 300 ms: an answer still comes before the next identification check.
      adapter_->MergeReplies(static_cast<int>(Between(20, 300)));
      active_[kind] = until;
      break;
    case kSilence:
      sensor_->SetSilent(true);
      active_[kind] = until;
      break;
    case kOtherDevice:
      parked_sensor_ = adapter_->Detach();
      adapter_->Attach<sim::OtherDevice>(
          static_cast<std::uint16_t>(Between(0, 1) ? 0x0202 : 0x0100));
      active_[kind] = until;
      break;
    case kOutOfRange: {
      // The next sensor put into the socket holds a value the lists cannot take (as a later
      // firmware with one more step would), until the user picks in that list; the height,
      // which the user cannot pick, until that sensor is set up off the bench again.
      out_of_range_param_ = static_cast<int>(Between(0, VisibleParams() - 1));
      out_of_range_value_ =
          static_cast<std::uint8_t>(out_of_range_param_ <= kRelayTime && Between(0, 1) == 0
                                        ? 0
                                        : kFirstOutOfRange[out_of_range_param_] + Between(0, 2));
      break;
    }
    case kRestartInPlace:
      // A power dip: no pull, no link lost, only the report mode gone.
      if (adapter_->AttachedDevice() == sensor_) {
        sensor_->Restart();
        restarted_at_ = Now();
      }
      break;
    case kSwap:
    case kRestart: {
      const std::int64_t pulled_until =
          Now() + Between(kind == kSwap ? kShortestSwapMs : kShortestPullMs, kLongestPullMs);
      restart_by_unplug_ = kind == kRestart && Between(0, 1) == 0;
      pulled_at_ = Now();
      if (restart_by_unplug_) {
        bus_.Unplug(*adapter_);
        sensor_->Restart();
      } else {
        parked_sensor_ = adapter_->Detach();
        asked_while_out_ = false;
      }
      active_[kind] = pulled_until;
      break;
    }
    case kRefusal: {
      const int list = static_cast<int>(Between(0, kUserLists - 1));
      const auto value = static_cast<std::uint8_t>(
          ValueOf(list, static_cast<int>(Between(0, list == kHighTrafficMode ? 1 : 2))));
      sensor_->RefuseValue(list, value);
      active_[kind] = until;
      break;
    }
    default:
      break;
  }
}

void SoakWorld::EndFault(FaultKind kind) {
  if (active_.erase(kind) == 0) return;
  Log(std::string("fault ends: ") + kFaultKindNames[kind]);
  switch (kind) {
    case kUnplug:
      bus_.Replug(*adapter_);
      // The link was lost: the program has to read the sensor before writing to it.
      unread_since_put_in_ = true;
      reads_at_put_in_ = sensor_->counters().reads;
      break;
    case kSecondAdapter:
      for (sim::Adapter* a : second_adapters_) bus_.Unplug(*a);
      second_adapters_.clear();
      break;
    case kCallFailure:
      bus_.ClearCallFailure(failing_call_);
      break;
    case kDescriptionFailure:
      adapter_->FailDescription(false);
      break;
    case kReadLimit:
      adapter_->LimitReadSize(0);
      break;
    case kMergeReplies:
      adapter_->MergeReplies(0);
      break;
    case kSilence:
      sensor_->SetSilent(false);
      break;
    case kOtherDevice:
      adapter_->Detach();
      adapter_->Attach(std::move(parked_sensor_));
      break;
    case kRefusal:
      sensor_->ClearRefusals();
      if (spare_sensor_ != nullptr) static_cast<sim::Duroz740&>(*spare_sensor_).ClearRefusals();
      break;
    case kSwap: {
      // The incoming sensor was set up off the bench meanwhile: nothing out of range.
      auto& incoming = static_cast<sim::Duroz740&>(*spare_sensor_);
      for (int p = 0; p < kParamCount; ++p) {
        const int lowest = p <= kRelayTime ? 1 : 0;
        if (incoming.ParamValue(p) < lowest || incoming.ParamValue(p) >= kFirstOutOfRange[p])
          ConfigureOnDevice(incoming, p,
                            static_cast<std::uint8_t>(Between(lowest, kFirstOutOfRange[p] - 1)));
      }
      HoldPulledSensor(kShortestSwapMs);
      PutSensorIn(std::move(spare_sensor_));
      spare_sensor_ = std::move(parked_sensor_);
      break;
    }
    case kRestart:
      if (restart_by_unplug_) {
        bus_.Replug(*adapter_);
        unread_since_put_in_ = true;
        reads_at_put_in_ = sensor_->counters().reads;
      } else {
        HoldPulledSensor(kShortestPullMs);
        PutSensorIn(std::move(parked_sensor_));
      }
      break;
    default:
      break;
  }
}

void SoakWorld::EndAllFaults() {
  for (int k = 0; k < kFaultKindCount; ++k) EndFault(static_cast<FaultKind>(k));
  bus_.ClearCallFailures();
  bus_.ShortWrite(1, 0);
  adapter_->CorruptNextReplies(0);
}

void SoakWorld::ScheduleUserAction() {
  if (!WindowOpen()) return;
  const auto list = static_cast<ParamList>(Between(0, kUserLists - 1));
  const std::vector<int> choices = Choices(list);
  const int index = choices[static_cast<std::size_t>(Between(0, choices.size() - 1))];
  const int kind = static_cast<int>(Between(0, 19));
  if (kind < 12) {
    // Opens the list now and picks a moment later, if the same window is still there.
    program_->RadarWindowEvents().OnListDropDown(list);
    const std::uint64_t window = watch_.openings;
    user_steps_.emplace(Now() + Between(100, 2500), [this, list, index, window] {
      if (WindowOpen() && watch_.openings == window) Choose(list, index, false);
    });
  } else if (kind < 17) {
    Choose(list, index, false);  // from the keyboard, without opening the list
  } else {
    program_->RadarWindowEvents().OnListDropDown(list);  // opened, then left without a choice
  }
}

void SoakWorld::FaultPhase(std::int64_t ms) {
  static constexpr int kWeights[kFaultKindCount] = {3, 2, 6, 3, 2, 8, 5, 3, 3, 3, 2, 2, 2, 2, 2, 2};
  std::discrete_distribution<int> pick(std::begin(kWeights), std::end(kWeights));
  in_fault_phase_ = true;
  const std::int64_t end = Now() + ms;
  std::int64_t next_fault = Now() + Between(200, 8000);
  std::int64_t next_user = Now() + Between(500, 8000);
  while (Now() < end && !program_->Ended()) {
    Advance(std::min<std::int64_t>(50, end - Now()));
    for (auto it = active_.begin(); it != active_.end();) {
      const FaultKind kind = it->first;
      const bool due = it->second <= Now();
      ++it;
      if (due) EndFault(kind);
    }
    while (!user_steps_.empty() && user_steps_.begin()->first <= Now()) {
      auto step = std::move(user_steps_.begin()->second);
      user_steps_.erase(user_steps_.begin());
      step();
    }
    if (Now() >= next_fault) {
      StartFault(static_cast<FaultKind>(pick(rng_)));
      next_fault = Now() + Between(200, 10000);
    }
    if (Now() >= next_user) {
      ScheduleUserAction();
      next_user = Now() + Between(1000, 12000);
    }
  }
  in_fault_phase_ = false;
}

bool SoakWorld::Settle() {
  const std::int64_t began = Now();
  Log("settle: every fault stops");
  EndAllFaults();
  user_steps_.clear();
  // The first check after the faults stop judges a request sent while they ran: it may miss
  // and cost the window once more, or count an answer that came before. Only a later good
  // check shows the link working again.
  const std::uint64_t closings = watch_.closings;
  const bool back = AdvanceUntil(
      [&] {
        return WindowOpen() && watch_.last_good_check > began + 600 && !program_->Connection().read_params_pending;
      },
      kRecoveryLimitMs);
  if (watch_.closings != closings) {
    ++figures_.settles_with_reopen;
    if (watch_.closed_at > began + 600)
      Violation("the radar window closed " + Ms(watch_.closed_at - began) +
                " after the faults stopped, later than the first check after them");
  }
  if (!back) {
    Violation("no radar window with the sensor's values " + Ms(kRecoveryLimitMs) +
              " after the faults stopped");
    return false;
  }
  // A list the user left open is finished with a click on what it shows.
  for (int p = 0; p < kUserLists; ++p)
    if (program_->Connection().list_open[p])
      Choose(static_cast<ParamList>(p), program_->Radar()->ListIndex(static_cast<ParamList>(p)),
             false);
  Advance(2000);
  RadarWindowLogic* radar = program_->Radar();
  if (!WindowOpen()) {
    Violation("the radar window closed with no fault running");
    return false;
  }
  figures_.longest_recovery_ms = std::max(figures_.longest_recovery_ms, Now() - began);
  CheckPicksReached();

  // Fields from one the lists cannot take on are not read, and keep what the lists showed.
  for (int p = 0; p < FirstUnreadable(); ++p) {
    const auto list = static_cast<ParamList>(p);
    if (radar->ListIndex(list) != SensorIndex(list))
      Violation(std::string("after the faults ") + kParamNames[p] + " shows entry " +
                std::to_string(radar->ListIndex(list)) + " but the sensor holds entry " +
                std::to_string(SensorIndex(list)));
    if (program_->Connection().last_params[p] != radar->ListIndex(list))
      Violation(std::string("after the faults ") + kParamNames[p] + " remembers entry " +
                std::to_string(program_->Connection().last_params[p]) + " but shows " +
                std::to_string(radar->ListIndex(list)));
  }
  if (radar->RadarParamsChanged()) Violation("a parameter write is still due after the faults");
  for (int p = 0; p < kUserLists; ++p) {
    if (last_choice_[p] < 0) continue;
    if (SensorIndex(static_cast<ParamList>(p)) == last_choice_[p] || p >= FirstUnreadable())
      ++figures_.choices_stored;
    else
      ++figures_.choices_shown_back;
  }
  last_choice_.fill(-1);

  // With no faults every new choice must reach the sensor.
  std::array<int, kParamCount> wanted;
  wanted.fill(-1);
  for (int n = static_cast<int>(Between(1, kUserLists)); n > 0; --n) {
    const auto list = static_cast<ParamList>(Between(0, kUserLists - 1));
    std::vector<int> choices = Choices(list);
    std::erase(choices, radar->ListIndex(list));
    const int index = choices[static_cast<std::size_t>(Between(0, choices.size() - 1))];
    Choose(list, index, true);
    wanted[list] = index;
  }
  Advance(3000);
  radar = program_->Radar();
  if (!WindowOpen()) {
    Violation("the radar window closed with no fault running");
    return false;
  }
  for (int p = 0; p < kUserLists; ++p) {
    if (wanted[p] < 0) continue;
    const auto list = static_cast<ParamList>(p);
    if (SensorIndex(list) != wanted[p] || radar->ListIndex(list) != wanted[p])
      Violation(std::string("with no faults, the choice of entry ") + std::to_string(wanted[p]) +
                " in " + kParamNames[p] + " left the sensor at entry " +
                std::to_string(SensorIndex(list)) + " and the list at " +
                std::to_string(radar->ListIndex(list)));
  }
  last_choice_.fill(-1);
  return true;
}

void SoakWorld::CheckPicksReached() {
  for (int p = 0; p < kParamCount; ++p) {
    if (!picks_[p].waiting) continue;
    Violation(std::string("the pick of ") + kParamNames[p] + " = " +
              std::to_string(picks_[p].value) + " never reached its sensor");
    picks_[p].waiting = false;
  }
}

void SoakWorld::QuietSilence(std::int64_t ms) {
  if (!WindowOpen()) return;
  const std::int64_t silent_at = Now();
  const std::uint64_t openings = watch_.openings;
  Log("quiet silence for " + Ms(ms));
  signal_due_by_ = -1;
  sensor_->SetSilent(true);
  Advance(ms);
  const bool closed = !watch_.open;
  if (closed) {
    ++figures_.silences;
    const std::int64_t after_good = watch_.closed_at - watch_.last_good_check;
    if (after_good != kCloseAfterLastGoodMs)
      Violation("a silent sensor's window closed " + Ms(after_good) +
                " after the last good check, not at the sixth missed check");
    if (watch_.last_good_check > silent_at + 600)
      Violation("an identification check found a silent sensor");
    if (watch_.openings != openings)
      Violation("the radar window opened while the sensor was silent");
  } else if (ms >= kCloseAfterLastGoodMs + 600 + kCloseMarginMs) {
    Violation("a sensor silent for " + Ms(ms) + " kept its radar window");
  }
  sensor_->SetSilent(false);
  if (!closed) return;
  // It answers the next supervision request; the tick after that opens the window, once the
  // hold-off has been counted down.
  const std::int64_t deadline = std::max(watch_.closed_at + kHoldOffMs, Now() + 2 * kSupervisionMs);
  if (!AdvanceUntil([this] { return watch_.open; }, deadline - Now()))
    Violation("the radar window was not back " + Ms(Now() - watch_.closed_at) +
              " after it closed, although the sensor answered again");
}

void SoakWorld::Run() {
  const auto end = static_cast<std::int64_t>(options_.hours * 3600.0 * 1000.0);
  Start();
  while (Now() < end && !program_->Ended()) {
    ++figures_.cycles;
    FaultPhase(
        std::min<std::int64_t>(Between(30000, 600000), std::max<std::int64_t>(end - Now(), 1000)));
    if (!Settle()) break;
    if (options_.verbose)
      std::fprintf(stderr, "cycle %llu done at %.2f h, %llu violations\n",
                   static_cast<unsigned long long>(figures_.cycles), Now() / 3600000.0,
                   static_cast<unsigned long long>(figures_.violations));
    if (Now() < end && Between(0, 2) == 0) QuietSilence(Between(500, 12000));
  }
  if (program_->Ended()) Violation("the program ended by itself");
}

SoakFigures SoakWorld::Figures() const {
  SoakFigures f = figures_;
  f.simulated_ms = clock_.NowMs();
  for (int k = 0; k < sim::kFaultKinds; ++k)
    f.faults[k] = bus_.FaultCount(static_cast<sim::Fault>(k));
  f.writes_taken = sensor_->counters().writes;
  f.sensor_restarts = sensor_->Restarts();
  if (spare_sensor_ != nullptr) {
    const auto& spare = static_cast<const sim::Duroz740&>(*spare_sensor_);
    f.writes_taken += spare.counters().writes;
    f.sensor_restarts += spare.Restarts();
  }
  f.radar_openings = watch_.openings;
  f.radar_closings = watch_.closings;
  return f;
}

}  // namespace zelto::soak
