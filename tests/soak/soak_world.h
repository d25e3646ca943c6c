// SPDX-License-Identifier: MIT
// The fault soak: the whole program on the virtual clock against the simulated bench for
// hours of simulated time, while the bench throws every fault it can at it and a scripted
// user changes the sensor's parameters. Between fault phases the faults stop, and the soak
// checks that the program has come back and that the sensor and the window agree.
//
// Checked on every timer tick:
//   - the sensor's stored parameters change only to values the user chose (the user never
//     picks the selections a freshly opened window starts with, so one of those reaching the
//     sensor is a value the tool made up), and the installation height, which the user
//     cannot change, never changes;
//   - every parameter write the programmer receives carries only such values;
//   - an open radar window is closed at the latest 3.6 s after its last good identification
//     check (six missed checks of 600 ms), and a closed one is not opened again before the
//     hold-off of 3000 ms has been counted down;
//   - the program never ends by itself, and the receive ring's positions stay in the ring;
//   - no parameter write reaches a sensor put into the socket (another one, or the same one
//     restarted) before its parameters have been read, once the program could know: an
//     identification request went unanswered meanwhile, or the link was lost;
//   - after an identification check that found the sensor again (after missed checks, or
//     another one), a signal report is shown within 1.2 s unless another fault starts;
//   - while the sensor is identified with its report mode acknowledged and no fault runs,
//     signal reports resume within 4 s of stopping (a sensor may restart in its socket
//     without anything else to show for it).
// Checked in the quiet periods:
//   - the window is lost at most once more, at the first check (which judges a request
//     sent while the faults ran), comes back, and its lists and remembered parameters show
//     the sensor's stored values (so each choice the user made was stored, or is shown back
//     as refused);
//   - new choices made then are stored in the sensor;
//   - every pick has reached its sensor in a write (or the sensor holds it), unless the
//     program found a different sensor first or the user picked again in that list;
//   - a sensor that goes silent loses its window exactly at the sixth missed check, and
//     gets it back by the first supervision tick after the hold-off once it answers again.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/ports/param_list.h"
#include "core/program/program.h"
#include "sim/duroz740.h"
#include "sim/usb_bus.h"
#include "sim/virtual_clock.h"
#include "tests/support/fakes.h"
#include "tests/support/test_support.h"

namespace zelto::soak {

struct SoakOptions {
  double hours = 1.0;
  std::uint32_t seed = 1;
  std::uint16_t firmware = 0x0200;
  bool verbose = false;
  // The program's hold-off before it opens the radar window (a check's test shortens it).
  int radar_open_delay_ms = 3000;
};

// Kinds of fault the soak injects, by the names of the episodes it counts.
constexpr int kSoakFaultKinds = 16;
extern const char* const kFaultKindNames[kSoakFaultKinds];

struct SoakFigures {
  std::int64_t simulated_ms = 0;
  std::array<std::uint64_t, sim::kFaultKinds> faults{};   // the bus's own counters
  std::array<std::uint64_t, kSoakFaultKinds> episodes{};  // faults the soak started
  std::uint64_t writes_sent = 0;   // WriteParamsRequest frames the programmer received
  std::uint64_t writes_taken = 0;  // writes the sensor answered
  std::uint64_t sensor_changes = 0;
  std::uint64_t user_choices = 0;
  std::uint64_t choices_stored = 0;      // last choices found stored at a settle
  std::uint64_t choices_shown_back = 0;  // last choices the sensor did not keep, shown back
  std::uint64_t radar_openings = 0;
  std::uint64_t radar_closings = 0;
  std::uint64_t cycles = 0;
  std::int64_t longest_recovery_ms = 0;   // from the end of the faults to a synced window
  std::uint64_t settles_with_reopen = 0;  // the window was lost once more after the faults
  std::uint64_t silences = 0;             // quiet silence episodes that closed the window
  std::uint64_t refinds_watched = 0;      // re-finding checks followed by a signal report
  std::uint64_t sensor_restarts = 0;      // of both sensors
  std::int64_t reopen_min_ms = -1, reopen_max_ms = -1;  // window closed -> open again
  std::uint64_t picks_during_write = 0;    // user choices made while a write was unanswered
  std::uint64_t picks_reached = 0;         // picks a write carried to their own sensor
  std::uint64_t picks_for_other = 0;       // picks dropped: another sensor was found first
  std::int64_t longest_signal_gap_ms = 0;  // while reports were expected
  std::uint64_t violations = 0;
  std::vector<std::string> first_violations;
  // What happened just before the first violation: faults, window, user.
  std::vector<std::string> before_first_violation;
};

// Timestamps of the radar windows' lives, kept by the views the soak's Ui hands out.
struct RadarWatch {
  bool open = false;
  std::int64_t opened_at = -1;
  std::int64_t closed_at = -1;
  std::int64_t last_good_check = -1;
  std::uint64_t openings = 0;
  std::uint64_t closings = 0;
  std::int64_t last_reopen_gap = -1;
};

class SoakWorld;

class SoakUi : public testing::FakeUi {
 public:
  explicit SoakUi(SoakWorld& world) : world_(world) {}
  std::unique_ptr<RadarView> CreateRadarView(RadarEvents& events) override;

 private:
  SoakWorld& world_;
};

class SoakWorld {
 public:
  explicit SoakWorld(const SoakOptions& options);
  ~SoakWorld();

  // Starts the program and waits for its first radar window.
  void Start();
  // Runs fault phases, silences and settles until the simulated time is used up.
  void Run();
  SoakFigures Figures() const;

  // Pieces of the run, public for the soak's own tests.
  void FaultPhase(std::int64_t ms);
  // Stops every fault, waits for the window and checks it against the sensor; then makes
  // new choices and checks they are stored. False when the program did not come back.
  bool Settle();
  // A silence of `ms` with nothing else going on, and the window's loss and return.
  void QuietSilence(std::int64_t ms);
  // Advances the clock, checking after every timer tick.
  void Advance(std::int64_t ms);
  // Advances until pred holds or limit_ms passed; checks after every tick.
  bool AdvanceUntil(const std::function<bool()>& pred, std::int64_t limit_ms);

  void Violation(const std::string& what);
  std::int64_t Now() const { return clock_.NowMs(); }
  sim::Duroz740& Sensor() { return *sensor_; }
  sim::UsbBus& Bus() { return bus_; }
  Program& program() { return *program_; }
  sim::Adapter& Programmer() { return *adapter_; }
  const RadarWatch& Watch() const { return watch_; }
  // A user choice through the radar window's events, recorded as allowed.
  void Choose(ParamList list, int index, bool drop_down_first);
  // The sensor in the socket is pulled and, `ms` later, put back restarted; with `swap`,
  // the other sensor goes in instead.
  void PullSensor(std::int64_t ms, bool swap);
  // Checks that every pick still waiting has reached its sensor.
  void CheckPicksReached();

 private:
  friend class SoakRadarView;
  enum FaultKind : int {
    kUnplug,
    kSecondAdapter,
    kCallFailure,
    kShortWrite,
    kDescriptionFailure,
    kNoise,
    kCorruptReplies,
    kReadLimit,
    kMergeReplies,
    kSilence,
    kOtherDevice,
    kRefusal,
    kOutOfRange,
    kSwap,
    kRestart,
    kRestartInPlace,
    kFaultKindCount,
  };
  static_assert(kFaultKindCount == kSoakFaultKinds);

  void CheckTick();
  void Log(const std::string& what);
  void StartFault(FaultKind kind);
  void EndFault(FaultKind kind);
  void EndAllFaults();
  void ScheduleUserAction();
  bool WindowOpen() const;
  int SensorIndex(ParamList list) const;
  std::vector<int> Choices(ParamList list) const;
  int VisibleParams() const;
  std::int64_t Between(std::int64_t lo, std::int64_t hi);
  bool Allowed(int param, int value) const;
  // Set on the device itself: the value is the sensor's own from now on.
  void ConfigureOnDevice(sim::Duroz740& sensor, int param, std::uint8_t value);
  // The first field, in message order, that the window cannot take from the sensor's reply
  // (VisibleParams() when there is none): the lists from there on need not agree.
  int FirstUnreadable() const;
  void PutSensorIn(std::unique_ptr<sim::Device> device);

  // View callbacks.
  void OnRadarShown();
  void OnRadarUnloaded();
  void OnStatusPanel(const std::string& text);
  void OnSignalShown();

  SoakOptions options_;
  std::mt19937 rng_;
  testing::TempFolder folder_;
  sim::VirtualClock clock_;
  sim::UsbBus bus_{clock_};
  sim::Adapter* adapter_ = nullptr;
  sim::Duroz740* sensor_ = nullptr;
  std::unique_ptr<sim::Device> parked_sensor_;  // while another device sits in the socket
  std::unique_ptr<sim::Device> spare_sensor_;   // the second Duroz740, out of the socket
  bool restart_by_unplug_ = false;
  // A field to hold out of range in the next sensor that goes into the socket (-1: none).
  int out_of_range_param_ = -1;
  std::uint8_t out_of_range_value_ = 0;
  std::int64_t pulled_at_ = 0;
  // A pulled sensor goes back no sooner than a person could do it, even when a settle ends
  // the fault early.
  void HoldPulledSensor(std::int64_t shortest_ms);
  std::vector<sim::Adapter*> spare_adapters_;   // every second adapter ever plugged
  std::vector<sim::Adapter*> second_adapters_;  // those plugged now
  SoakUi ui_{*this};
  std::unique_ptr<Program> program_;
  RadarWatch watch_;

  // Faults that last: when each one ends (absent: not active).
  std::map<FaultKind, std::int64_t> active_;
  sim::Call failing_call_ = sim::Call::kRead;
  // Scheduled steps of the scripted user, by time.
  std::multimap<std::int64_t, std::function<void()>> user_steps_;

  // What a sensor may hold: its own values (set on the device) and every value the user
  // chose.
  std::map<const sim::Duroz740*, std::array<std::set<int>, kParamCount>> own_values_;
  std::array<std::set<int>, kParamCount> allowed_values_;
  // The sensor went into the socket (or restarted) and has not answered a read since.
  bool unread_since_put_in_ = false;
  std::uint64_t reads_at_put_in_ = 0;
  // An identification request reached the socket while the sensor was out of it.
  bool asked_while_out_ = false;
  // The user's picks not yet seen to reach their sensor, per list, with the identity of the
  // Duroz740 the program had found when the pick was made.
  struct Pick {
    bool waiting = false;
    int value = 0;
    std::string serial;
    std::int32_t fw = 0;
  };
  std::array<Pick, kParamCount> picks_{};
  bool in_fault_phase_ = false;
  // Signal reports are due from this moment (the last report, or the last moment they
  // could not be expected).
  std::int64_t signal_watched_from_ = 0;
  std::int64_t restarted_at_ = -1;
  std::int64_t last_mode_request_at_ = -1;
  // A check missed since the last good one; a good one after it must bring the signal back.
  bool missed_since_good_ = false;
  std::string last_good_text_;
  std::int64_t signal_due_by_ = -1;
  std::array<std::uint8_t, kParamCount> last_seen_{};
  // The user's latest choice per list since the last settle, as a list index (-1: none).
  std::array<int, kParamCount> last_choice_{};
  bool window_overdue_reported_ = false;
  std::deque<std::string> recent_;

  SoakFigures figures_;
};

}  // namespace zelto::soak
