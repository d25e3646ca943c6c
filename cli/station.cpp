// SPDX-License-Identifier: MIT
#include "cli/station.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>

#include "cli/commands.h"
#include "cli/platform.h"
#include "cli/walk_report.h"
#include "core/protocol/programmer_messages.h"
#include "core/text/cp1252.h"

namespace zelto::cli {

std::string Hex4(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%04X", value);
  return text;
}

namespace {

bool IsLinkError(Outcome o) {
  return o == Outcome::kLinkLost || o == Outcome::kNoAnswer || o == Outcome::kNoProgrammer ||
         o == Outcome::kDriverFailure || o == Outcome::kAdapterInUse ||
         o == Outcome::kManyProgrammers;
}

}  // namespace

std::string SlotName(const AdapterListing& listing, const ListedAdapter& adapter) {
  bool shared = !adapter.has_serial || adapter.serial.empty();
  for (const ListedAdapter& other : listing.adapters)
    if (&other != &adapter && other.Programmer() && other.has_serial && adapter.has_serial &&
        other.serial == adapter.serial)
      shared = true;
  if (!shared) return adapter.serial;
  std::string name = "@";
  if (adapter.has_location) {
    name += Hex4(adapter.location);
  } else {
    name += '#';
    name += std::to_string(adapter.index);
  }
  return name;
}

std::string ProfileHash(const Profile& profile) {
  std::uint64_t h = 1469598103934665603ull;
  for (const unsigned char c : ProfileToJson(profile)) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char text[32];
  std::snprintf(text, sizeof(text), "fnv1a64:%016llx", static_cast<unsigned long long>(h));
  return text;
}

const char* SlotStateText(SlotState state) {
  switch (state) {
    case SlotState::kOpening:
      return "opening";
    case SlotState::kHeld:
      return "held by another program";
    case SlotState::kGone:
      return "programmer gone";
    case SlotState::kWaiting:
      return "waiting for a sensor";
    case SlotState::kUnit:
      return "working";
    case SlotState::kRemove:
      return "take the sensor out";
    case SlotState::kOutOfService:
      return "OUT OF SERVICE (replug its programmer)";
  }
  return "?";
}

struct Station::Slot {
  std::string name;
  std::string serial;                     // the programmer's, when it names the slot
  std::optional<std::uint32_t> location;  // when the location names it
  std::unique_ptr<Session> session;
  std::unique_ptr<Timer> timer;
  SlotView view;
  // The unit in the socket.
  std::string unit_serial;  // as received (Windows-1252)
  std::string unit_started_utc;
  std::int32_t hw = 0, fw = 0;
  bool retest = false, duplicate = false;
  int attempt = 0;
  std::optional<ParamsDecode> found;
  std::optional<RadarParams> target;
  std::optional<ParamsDecode> read_back;
  std::string skipped;
  // A sensor whose outcome is out and that has not been seen taken out since.
  std::string present_serial;
  int errors_in_row = 0;
  std::int64_t look_sent_ms = 0;  // when the pending look's request went out
  bool seen_absent = false;
  bool reported_state = false;
};

Station::Station(AdapterPort& driver, EventLoop& loop, StationOptions options)
    : driver_(driver), loop_(loop), options_(std::move(options)) {}

Station::~Station() {
  for (auto& s : slots_) s->session.reset();
}

bool Station::Setup(std::string& error) {
  const AdapterListing listing = ListAdapters(driver_);
  if (!listing.status.Ok()) {
    error = "USB driver failure (status " + std::to_string(listing.status.code) + ")";
    return false;
  }
  for (const ListedAdapter& a : listing.adapters) {
    if (!a.Programmer()) continue;
    auto slot = std::make_unique<Slot>();
    slot->name = SlotName(listing, a);
    if (slot->name.rfind('@', 0) == 0)
      slot->location = a.location;
    else
      slot->serial = a.serial;
    slot->view.name = Cp1252ToUtf8(slot->name);
    if (!options_.slots.empty() &&
        std::find(options_.slots.begin(), options_.slots.end(), slot->view.name) ==
            options_.slots.end())
      continue;
    slots_.push_back(std::move(slot));
  }
  for (const std::string& wanted : options_.slots)
    if (std::none_of(slots_.begin(), slots_.end(),
                     [&](const auto& s) { return s->view.name == wanted; })) {
      error = "no programmer is slot " + wanted + " (see zeltoctl list)";
      return false;
    }
  if (slots_.empty()) {
    error = OutcomeText(Outcome::kNoProgrammer);
    return false;
  }
  if (!options_.log_path.empty()) {
    if (!CanAppend(options_.log_path, error)) {
      error = "cannot open the log " + options_.log_path + ": " + error;
      return false;
    }
    int skipped = 0;
    const auto entries = ReadCommissioningLog(options_.log_path, skipped);
    if (entries) {
      for (const LogEntry& e : *entries)
        if (e.outcome == "PASS") passed_.insert(Utf8ToCp1252(e.serial));
    }
    // A CSV log begun by set or apply has the older columns: the station's rows would not
    // fit under its header.
    if (options_.log_format == LogFormat::kCsv) {
      std::string first;
      std::ifstream in(PathFromUtf8(options_.log_path), std::ios::binary);
      std::getline(in, first);
      if (!first.empty() && first.back() == '\r') first.pop_back();
      if (!first.empty() && first + "\n" != CsvHeader(true)) {
        error = "the log " + options_.log_path +
                " has the columns of set and apply records; give the station a log of its own";
        return false;
      }
    }
  }
  return true;
}

void Station::Emit(const Slot& slot, const char* kind, const EventDetail& detail) {
  StationEvent event;
  event.serial = detail.serial;
  event.outcome = detail.outcome;
  event.reason = detail.reason;
  event.retest = detail.retest;
  event.duplicate_serial = detail.duplicate;
  event.at_ms = loop_.NowMs();
  event.identified_in_ms = identified_in_ms_;
  event.slot = slot.view.name;
  event.kind = kind;
  if (on_event_) on_event_(event);
}

void Station::SetState(Slot& slot, SlotState state) {
  if (slot.view.state != state) slot.view.since_ms = loop_.NowMs();
  slot.view.state = state;
  if (state != SlotState::kUnit) slot.view.step.clear();
}

void Station::Arm(Slot& slot, int ms) {
  slot.timer->SetEnabled(false);
  slot.timer->SetInterval(std::max(1, ms));
  slot.timer->SetEnabled(true);
}

bool Station::InFlight() const {
  return std::any_of(slots_.begin(), slots_.end(),
                     [](const auto& s) { return s->view.state == SlotState::kUnit; });
}

bool Station::MayStartUnit() const {
  return !stopping_ && (options_.count <= 0 || units_started_ < options_.count);
}

int Station::Run(const StopRequest* stop) {
  started_ms_ = loop_.NowMs();
  for (auto& s : slots_) {
    Slot& slot = *s;
    slot.timer = loop_.CreateTimer();
    slot.timer->SetOnTick([this, &slot] {
      slot.timer->SetEnabled(false);
      Tick(slot);
    });
    slot.view.since_ms = started_ms_;
    Emit(slot, "slot");
    TryOpen(slot);
  }
  auto finished = [this] {
    if (log_failed_) return true;
    const bool counted = options_.count > 0 && units_done_ >= options_.count;
    return counted && !InFlight();
  };
  const Wait w =
      loop_.RunUntil(finished, std::numeric_limits<std::int64_t>::max() / 4, stop != nullptr);
  const bool interrupted = w == Wait::kInterrupted && !finished();
  stopping_ = true;
  // Units in flight are finished when they can be within the time given, then abandoned.
  if (interrupted && InFlight()) loop_.RunUntil([this] { return !InFlight(); }, options_.finish_ms, false);
  for (auto& s : slots_) {
    Slot& slot = *s;
    if (slot.view.state == SlotState::kUnit) {
      if (slot.session) slot.session->CancelPending();
      Finish(slot, "ERROR", "abandoned: the station was stopped");
    }
    if (slot.timer) slot.timer->SetEnabled(false);
    // Report mode back to 0 if it was set, the handle closed once.
    slot.session.reset();
  }
  if (log_failed_) return kExitFailure;
  if (interrupted) return kExitInterrupted;
  if (any_fail_) return kExitNotVerified;
  if (any_error_ || any_out_of_service_) return kExitAdapter;
  return 0;
}

void Station::Tick(Slot& slot) {
  switch (slot.view.state) {
    case SlotState::kOpening:
    case SlotState::kHeld:
    case SlotState::kGone:
      TryOpen(slot);
      return;
    case SlotState::kWaiting:
    case SlotState::kRemove:
      Look(slot);
      return;
    case SlotState::kOutOfService:
      WatchReplug(slot);
      return;
    case SlotState::kUnit:
      return;
  }
}

void Station::TryOpen(Slot& slot) {
  if (stopping_) return;
  SessionOptions so = options_.session;
  so.adapter_serial = slot.serial;
  so.adapter_location = slot.location;
  slot.session = std::make_unique<Session>(driver_, loop_, so);
  const Outcome o = slot.session->Open();
  if (o == Outcome::kOk) {
    // A sensor whose outcome is out stays done until it has been seen taken out, whatever
    // happened to the programmer meanwhile.
    SetState(slot, slot.present_serial.empty() ? SlotState::kWaiting : SlotState::kRemove);
    Emit(slot, "ready");
    Look(slot);
    return;
  }
  slot.session.reset();
  const SlotState state = o == Outcome::kAdapterInUse ? SlotState::kHeld : SlotState::kGone;
  if (slot.view.state != state) {
    SetState(slot, state);
    Emit(slot, state == SlotState::kHeld ? "held" : "gone", EventDetail{"", "", OutcomeText(o), false, false});
  }
  Arm(slot, std::max(options_.look_ms, 500));
}

void Station::Look(Slot& slot) {
  if (!slot.session || slot.session->Busy() || stopping_) return;
  slot.look_sent_ms = loop_.NowMs();
  // Two tries while a sensor is known in the socket: one lost answer is not a sensor taken
  // out (and its next unit taken as a re-test).
  slot.session->StartIdentify(options_.look_timeout_ms,
                              slot.view.state == SlotState::kRemove ? 2 : 1,
                              [this, &slot](Outcome o) { OnLook(slot, o); });
}

void Station::OnLook(Slot& slot, Outcome o) {
  if (o == Outcome::kLinkLost || o == Outcome::kNoProgrammer) {
    slot.session.reset();
    SetState(slot, SlotState::kGone);
    Emit(slot, "gone", EventDetail{"", "", OutcomeText(Outcome::kLinkLost), false, false});
    Arm(slot, options_.look_ms);
    return;
  }
  const std::string serial = o == Outcome::kOk || o == Outcome::kNotDuroz740
                                 ? slot.session->Identity().serial
                                 : std::string();
  if (o == Outcome::kNoAnswer) {
    if (slot.view.state == SlotState::kRemove) {
      Emit(slot, "removed", EventDetail{Cp1252ToUtf8(slot.present_serial), "", "", false, false});
      slot.present_serial.clear();
      slot.view.sensor.clear();
      SetState(slot, SlotState::kWaiting);
    }
    // The unanswered look has waited its time already: ask again at once, so a sensor put
    // in is found within one look.
    return Look(slot);
  } else if (o == Outcome::kNotDuroz740) {
    if (slot.present_serial != "\x01" + serial) {
      slot.present_serial = "\x01" + serial;
      SetState(slot, SlotState::kRemove);
      Emit(slot, "other_device", EventDetail{"", "", OutcomeText(o), false, false});
    }
  } else if (o == Outcome::kOk && serial != slot.present_serial && MayStartUnit()) {
    // Another sensor in the socket: the last one was taken out between two looks.
    if (!slot.present_serial.empty())
      Emit(slot, "removed", EventDetail{Cp1252ToUtf8(slot.present_serial), "", "", false, false});
    StartUnit(slot, serial);
    return;
  }
  Arm(slot, options_.look_ms);
}

void Station::StartUnit(Slot& slot, const std::string& serial) {
  ++units_started_;
  const SensorIdentity& st = slot.session->Identity();
  slot.unit_serial = serial;
  slot.unit_started_utc = options_.now_utc();
  slot.hw = st.hw_version;
  slot.fw = st.fw_version;
  slot.retest = passed_.count(serial) > 0 || seen_.count(serial) > 0;
  if (options_.store != nullptr) options_.store->ExpectPasses(serial, options_.station_name);
  slot.duplicate = false;
  for (const auto& other : slots_) {
    if (other.get() == &slot) continue;
    const bool in_unit = other->view.state == SlotState::kUnit && other->unit_serial == serial;
    if (in_unit || other->present_serial == serial) slot.duplicate = true;
  }
  slot.attempt = 0;
  slot.found.reset();
  slot.target.reset();
  slot.read_back.reset();
  slot.skipped.clear();
  slot.present_serial.clear();
  slot.view.sensor = Cp1252ToUtf8(serial);
  SetState(slot, SlotState::kUnit);
  identified_in_ms_ = loop_.NowMs() - slot.look_sent_ms;
  Emit(slot, "sensor",
       EventDetail{slot.view.sensor, "", "", slot.retest, slot.duplicate});
  identified_in_ms_ = -1;
  Read(slot);
}

void Station::Read(Slot& slot) {
  slot.view.step = "reading";
  slot.session->StartReadParams([this, &slot](Outcome o) { OnRead(slot, o); });
}

void Station::OnRead(Slot& slot, Outcome o) {
  if (o != Outcome::kOk && o != Outcome::kBadReply) return LinkError(slot, o);
  const ParamsDecode& d = slot.session->LastParams();
  slot.found = d;
  const bool has_height = HasHeight(slot.fw);
  RadarParams target = d.params;
  bool differs = false;
  for (const ParamField& f : ParamFields()) {
    const auto& wanted = options_.profile.wire[f.list];
    if (f.list == kHeight && !has_height) {
      if (wanted) slot.skipped = "height";
      continue;
    }
    if (!d.valid[f.list] && !wanted)
      return Finish(slot, "FAIL",
                    std::string("the sensor reports ") + f.name + " as " +
                        std::to_string(d.raw[f.list]) + ", outside its range");
    if (!wanted) continue;
    if (!d.valid[f.list] || d.params.wire[f.list] != *wanted) differs = true;
    target.wire[f.list] = *wanted;
  }
  slot.target = target;
  if (!differs) {
    // What was read is what the profile says: nothing is written, the read is the check.
    slot.read_back = d;
    return Finish(slot, "PASS", "matches the profile, nothing written");
  }
  slot.view.step = "writing";
  slot.session->StartWriteParams(target, [this, &slot](Outcome w) { OnWrite(slot, w); });
}

void Station::OnWrite(Slot& slot, Outcome o) {
  if (o != Outcome::kOk) return LinkError(slot, o);
  slot.view.step = "reading back";
  slot.session->StartReadParams([this, &slot](Outcome r) { OnReadBack(slot, r); });
}

void Station::OnReadBack(Slot& slot, Outcome o) {
  if (o != Outcome::kOk && o != Outcome::kBadReply) return LinkError(slot, o);
  const ParamsDecode& back = slot.session->LastParams();
  slot.read_back = back;
  if (o == Outcome::kBadReply)
    return Finish(slot, "FAIL", "the sensor read back values outside their ranges");
  // Every field of the profile was written as the profile says (the target holds it).
  const std::string differences =
      ParamDifferences(options_.profile.wire, back, HasHeight(slot.fw), "wrote");
  if (!differences.empty()) return Finish(slot, "FAIL", "not taken: " + differences);
  Finish(slot, "PASS", "verified");
}

void Station::LinkError(Slot& slot, Outcome o) {
  if (!IsLinkError(o) || slot.attempt > 0 || stopping_)
    return Finish(slot, "ERROR", OutcomeText(o));
  // Once more on the same unit, from its read: over a reopened link nothing is written
  // before the sensor was read over it.
  slot.attempt = 1;
  slot.view.step = "retrying";
  Emit(slot, "retry", EventDetail{slot.view.sensor, "", OutcomeText(o), false, false});
  if (slot.session->LinkLost()) {
    slot.session.reset();
    SessionOptions so = options_.session;
    so.adapter_serial = slot.serial;
    so.adapter_location = slot.location;
    slot.session = std::make_unique<Session>(driver_, loop_, so);
    const Outcome opened = slot.session->Open();
    if (opened != Outcome::kOk) {
      slot.session.reset();
      return Finish(slot, "ERROR", OutcomeText(o) + "; reopening: " + OutcomeText(opened));
    }
  }
  slot.session->StartIdentify(options_.session.reply_timeout_ms, options_.session.tries,
                              [this, &slot, o](Outcome id) {
                                if (id == Outcome::kOk &&
                                    slot.session->Identity().serial == slot.unit_serial)
                                  return Read(slot);
                                Finish(slot, "ERROR", OutcomeText(o));
                              });
}

bool Station::Record(Slot& slot, const std::string& outcome, const std::string& reason) {
  if (options_.log_path.empty() && options_.store == nullptr) return true;
  if (outcome == "PASS" && options_.store != nullptr) {
    // The store knows the PASSes of the other runs and, shared, of the other stations: one
    // here makes this a re-test, one at another station a serial seen on two stations. A
    // store that cannot be asked leaves what this station knows itself.
    std::string ignored;
    if (const auto passes = options_.store->Passes(slot.unit_serial, options_.station_name, ignored)) {
      slot.retest = slot.retest || passes->here || passes->elsewhere;
      slot.duplicate = slot.duplicate || passes->elsewhere;
    }
  }
  CommissionRecord rec;
  rec.time_utc = options_.now_utc();
  rec.command = "station";
  // The slot's own line (out of service) is no unit's.
  if (!slot.unit_serial.empty()) rec.started_utc = slot.unit_started_utc;
  rec.adapter = slot.serial.empty() ? slot.name : slot.serial;
  rec.serial = slot.unit_serial;
  rec.hw = slot.hw;
  rec.fw = slot.fw;
  if (slot.found) rec.before = slot.found->params;
  if (slot.read_back) rec.after = slot.read_back->params;
  rec.verified = outcome == "PASS";
  rec.result = reason;
  rec.skipped = slot.skipped;
  rec.notes = options_.notes;
  StationFields st;
  st.station = options_.station_name;
  st.slot = slot.name;
  st.operator_name = options_.operator_name;
  st.version = options_.version;
  st.profile_hash = options_.profile_hash;
  st.outcome = outcome;
  st.retest = slot.retest;
  st.duplicate_serial = slot.duplicate;
  const bool has_height = HasHeight(slot.fw);
  for (const ParamField& f : ParamFields()) {
    if (f.list == kHeight && !has_height) continue;
    ParamCheck c;
    c.list = f.list;
    if (slot.found && slot.found->valid[f.list]) c.found = slot.found->params.wire[f.list];
    c.expected = options_.profile.wire[f.list];
    if (slot.read_back && slot.read_back->valid[f.list])
      c.read_back = slot.read_back->params.wire[f.list];
    if (c.found || c.expected || c.read_back) st.checks.push_back(c);
  }
  rec.station = st;
  std::string error;
  bool ok = true;
  if (!options_.log_path.empty() && !AppendRecord(options_.log_path, rec, options_.log_format, error)) {
    ok = false;
    Emit(slot, "log_failed", EventDetail{"", "", "cannot write the log " + options_.log_path + ": " + error, false, false});
  }
  // Also when the log failed: the unit is recorded wherever it can be.
  if (options_.store != nullptr && !options_.store->Append(rec, error)) {
    ok = false;
    Emit(slot, "log_failed",
         EventDetail{"", "", "cannot write the record store " + options_.store->Location() + ": " + error,
                     false, false});
  }
  if (!ok) log_failed_ = true;
  return ok;
}

void Station::Finish(Slot& slot, const std::string& outcome, const std::string& reason) {
  // The record is on the disk before this slot takes its next unit.
  Record(slot, outcome, reason);
  ++units_done_;
  seen_.insert(slot.unit_serial);
  if (outcome == "PASS") {
    ++slot.view.pass;
    passed_.insert(slot.unit_serial);
  } else if (outcome == "FAIL") {
    ++slot.view.fail;
    any_fail_ = true;
  } else {
    ++slot.view.error;
    any_error_ = true;
  }
  slot.errors_in_row = outcome == "ERROR" ? slot.errors_in_row + 1 : 0;
  slot.view.last_outcome = outcome;
  slot.view.last_serial = Cp1252ToUtf8(slot.unit_serial);
  slot.view.last_reason = reason;
  // Shown as done from the outcome on: the sensor is to be taken out.
  SetState(slot, SlotState::kRemove);
  Emit(slot, "outcome",
       EventDetail{slot.view.last_serial, outcome, reason, slot.retest, slot.duplicate});
  slot.present_serial = slot.unit_serial;
  if (slot.errors_in_row >= options_.errors_out_of_service) {
    slot.session.reset();
    SetState(slot, SlotState::kOutOfService);
    any_out_of_service_ = true;
    slot.seen_absent = false;
    const std::string why = std::to_string(slot.errors_in_row) + " ERRORs in a row";
    // Recorded as a line of its own: the slot, not a unit.
    slot.unit_serial.clear();
    slot.found.reset();
    slot.read_back.reset();
    Record(slot, "OUT OF SERVICE", why);
    Emit(slot, "out_of_service", EventDetail{"", "", why, false, false});
    Arm(slot, std::max(options_.look_ms, 500));
    return;
  }
  if (!slot.session || slot.session->LinkLost()) {
    slot.session.reset();
    SetState(slot, SlotState::kGone);
    Emit(slot, "gone", EventDetail{"", "", OutcomeText(Outcome::kLinkLost), false, false});
    if (!stopping_) Arm(slot, options_.look_ms);
    return;
  }
  SetState(slot, SlotState::kRemove);
  // Looked at once: a sensor swapped for the next as the outcome came is taken without a
  // pause; the one just done answers and is looked at again after look_ms.
  Look(slot);
}

void Station::WatchReplug(Slot& slot) {
  const AdapterListing listing = ListAdapters(driver_);
  bool present = false;
  for (const ListedAdapter& a : listing.adapters)
    if (a.Programmer() && (slot.location ? a.has_location && a.location == *slot.location
                                         : a.has_serial && a.serial == slot.serial))
      present = true;
  if (!present) {
    slot.seen_absent = true;
  } else if (slot.seen_absent && !stopping_) {
    slot.errors_in_row = 0;
    Emit(slot, "back_in_service");
    SetState(slot, SlotState::kOpening);
    TryOpen(slot);
    return;
  }
  Arm(slot, std::max(options_.look_ms, 500));
}

std::vector<SlotView> Station::Views() const {
  std::vector<SlotView> out;
  for (const auto& s : slots_) out.push_back(s->view);
  return out;
}

}  // namespace zelto::cli
