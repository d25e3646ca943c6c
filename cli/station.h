// SPDX-License-Identifier: MIT
// The production station: every attached programmer is a slot that provisions and verifies
// sensors on its own. A slot waits for a sensor, reads it, writes only what differs from
// the profile, reads back and records the outcome (PASS, FAIL, ERROR), then waits for the
// sensor to be taken out. All slots run on one event loop through their own Session's
// requests that do not wait, so none ever waits for another.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli/event_loop.h"
#include "cli/record_store.h"
#include "cli/records.h"
#include "cli/session.h"
#include "cli/stop.h"
#include "core/link/adapter_list.h"
#include "core/ports/d2xx_port.h"

namespace zelto::cli {

// "0x0101": device ids and USB locations, as list, station and get print them.
std::string Hex4(std::uint32_t value);

// A programmer's name as a slot: its serial number; where another programmer in the listing
// has the same serial number, or it has none, its USB location ("@0x0111"), which stays the
// same as long as it is plugged into the same port.
std::string SlotName(const AdapterListing& listing, const ListedAdapter& adapter);

struct StationOptions {
  Profile profile;
  std::string profile_hash;  // ProfileHash of the profile
  std::string station_name, operator_name, version;
  std::vector<std::string> slots;  // --slot: the slots to run; empty: every programmer
  int count = 0;                   // units to finish; 0: until stopped
  std::string log_path;
  LogFormat log_format = LogFormat::kCsv;
  // Every record also goes here (null: none); asked at a PASS whether the serial passed
  // before, here or at another station.
  RecordStore* store = nullptr;
  std::vector<std::pair<std::string, std::string>> notes;
  SessionOptions session;     // reply time limit and tries of each request
  int look_ms = 250;          // between looks at a socket
  int look_timeout_ms = 300;  // the wait for each look's answer
  int errors_out_of_service = 3;  // ERRORs in a row that take a slot out of service
  int finish_ms = 5000;       // after a stop, the time given to units in flight
  std::function<std::string()> now_utc = UtcNow;
};

// "fnv1a64:0123456789abcdef" of the profile's canonical JSON: the same values give the same
// hash however the file was laid out.
std::string ProfileHash(const Profile& profile);

enum class SlotState { kOpening, kHeld, kGone, kWaiting, kUnit, kRemove, kOutOfService };
const char* SlotStateText(SlotState state);

// What the operator sees of a slot.
struct SlotView {
  std::string name;
  SlotState state = SlotState::kOpening;
  std::string step;    // within a unit: "reading", "writing", "reading back", "retrying"
  std::string sensor;  // the serial in the socket, UTF-8
  std::int64_t since_ms = 0;  // when the current state or unit began
  std::string last_outcome, last_serial, last_reason;  // kept until the next unit ends
  int pass = 0, fail = 0, error = 0;
};

// One thing that happened at a slot, for the event stream.
struct StationEvent {
  std::int64_t at_ms = 0;
  std::string slot;
  // "slot" (found), "ready", "held", "gone", "sensor", "retry", "outcome", "removed",
  // "other_device", "out_of_service", "back_in_service", "log_failed"
  std::string kind;
  std::string serial;  // UTF-8
  std::string outcome, reason;
  bool retest = false, duplicate_serial = false;
};

class Station {
 public:
  Station(D2xxPort& driver, EventLoop& loop, StationOptions options);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  void OnEvent(std::function<void(const StationEvent&)> sink) { on_event_ = std::move(sink); }
  // Finds the slots (and the PASSes already in the log); false with the reason in `error`
  // when there is no programmer, a --slot names none, or the log cannot be used.
  bool Setup(std::string& error);
  // Runs until `count` units are done or a stop request; closes every link. Returns the exit
  // code: 0 every unit passed, 6 a unit failed, 3 a unit ended in ERROR or a slot went out
  // of service (none failed), 1 a record could not be written (to the log or the record
  // store), 130 interrupted.
  int Run(const StopRequest* stop);

  std::vector<SlotView> Views() const;
  std::int64_t StartedMs() const { return started_ms_; }
  int UnitsDone() const { return units_done_; }

 private:
  struct Slot;
  void Arm(Slot& slot, int ms);
  void Tick(Slot& slot);
  void TryOpen(Slot& slot);
  void Look(Slot& slot);
  void OnLook(Slot& slot, Outcome outcome);
  void StartUnit(Slot& slot, const std::string& serial);
  void Read(Slot& slot);
  void OnRead(Slot& slot, Outcome outcome);
  void OnWrite(Slot& slot, Outcome outcome);
  void OnReadBack(Slot& slot, Outcome outcome);
  void LinkError(Slot& slot, Outcome outcome);
  void Finish(Slot& slot, const std::string& outcome, const std::string& reason);
  bool Record(Slot& slot, const std::string& outcome, const std::string& reason);
  void WatchReplug(Slot& slot);
  struct EventDetail {
    std::string serial, outcome, reason;
    bool retest, duplicate;
  };
  void Emit(const Slot& slot, const char* kind,
            const EventDetail& detail = EventDetail{"", "", "", false, false});
  void SetState(Slot& slot, SlotState state);
  bool InFlight() const;
  bool MayStartUnit() const;

  D2xxPort& driver_;
  EventLoop& loop_;
  StationOptions options_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::set<std::string> passed_;  // serials (as received) with a PASS in the log
  std::set<std::string> seen_;    // serials that had an outcome in this run
  std::function<void(const StationEvent&)> on_event_;
  std::int64_t started_ms_ = 0;
  int units_started_ = 0;
  int units_done_ = 0;
  bool stopping_ = false;
  bool log_failed_ = false;
  bool any_fail_ = false, any_error_ = false, any_out_of_service_ = false;
};

}  // namespace zelto::cli
