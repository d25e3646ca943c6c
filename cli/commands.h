// SPDX-License-Identifier: MIT
// The zeltoctl commands, each a function from its options to an exit code, writing results
// to `out` and errors to `err`. They run on whatever driver and loop the context holds: the
// real drivers on the real-time loop, or the simulated bench on its virtual clock.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cli/event_loop.h"
#include "cli/record_store.h"
#include "cli/records.h"
#include "cli/session.h"
#include "cli/stop.h"
#include "core/link/adapter_list.h"
#include "core/ports/adapter_port.h"
#include "core/ports/param_list.h"

namespace zelto::cli {

// Exit codes, also in the manual page and the README.
enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,       // a file could not be read or written, the log among them
  kExitUsage = 2,         // bad arguments, a bad NAME=VALUE, a bad profile
  kExitAdapter = 3,       // no programmer, more than one, driver failure
  kExitAdapterInUse = 4,  // another program holds the programmer
  kExitSensor = 5,        // no answer, not a Duroz740, unplugged, values out of range
  kExitNotVerified = 6,   // a value was refused or read back different
  kExitUnsupported = 7,   // a parameter this firmware does not have (height)
  kExitInterrupted = 130,  // Ctrl-C; main turns it into 128 + the signal that came
  kExitOutputClosed = 128 + kStopPipe,  // stdout's reader went away (`| head`)
};

struct Context {
  Context(AdapterPort& d, std::string name, EventLoop& l, std::ostream& o, std::ostream& e,
          SessionOptions s = {})
      : driver(d), driver_name(std::move(name)), loop(l), out(o), err(e), session(std::move(s)) {}

  AdapterPort& driver;
  std::string driver_name;
  EventLoop& loop;
  std::ostream& out;
  std::ostream& err;
  SessionOptions session;
  // The string table for the words beside the numbers; all empty when none was found.
  std::array<std::string, kStringTableSize> strings{};
  // Commissioning log; empty path: none.
  std::string log_path;
  LogFormat log_format = LogFormat::kCsv;
  // The record store every record also goes to; null: none.
  RecordStore* store = nullptr;
  std::function<std::string()> now_utc = UtcNow;
  // Raised by a signal; a command raises it itself when stdout's reader is gone. Null: none.
  StopRequest* stop = nullptr;
  // -q: no progress or success lines, only errors and the data asked for.
  bool quiet = false;
  // --note KEY=VALUE, carried into every record.
  std::vector<std::pair<std::string, std::string>> notes;
  // --each: time between looks at the socket while waiting for the next sensor, and the
  // longest wait for each look's answer (an empty socket answers nothing).
  int each_poll_ms = 250;
  int each_look_ms = 500;
};

int CmdList(Context& ctx, bool json = false);
// What `list` prints, from a listing already made (the doctor counts from the same one).
int PrintAdapters(Context& ctx, const AdapterListing& listing, bool json = false);
int CmdInfo(Context& ctx, bool json = false);
int CmdGet(Context& ctx, bool json);
// assignments: "name=value" texts.
int CmdSet(Context& ctx, const std::vector<std::string>& assignments, bool verify);
int CmdSave(Context& ctx, const std::string& file);
// each: every new sensor plugged in, until Ctrl-C or, with count > 0, count sensors.
int CmdApply(Context& ctx, const std::string& file, bool each, int count = 0);
// Compares the sensor with a profile without writing: 0 when it holds every value named.
int CmdVerify(Context& ctx, const std::string& file);
enum class MonitorFormat { kText, kCsv, kJsonl };
// seconds <= 0: until interrupted.
int CmdMonitor(Context& ctx, MonitorFormat format, double seconds);

// Creates the log if it is missing and checks it can be appended to, before anything goes
// to a sensor; false (the reason reported) when it cannot.
bool LogReady(Context& ctx);

// Writes the record to the log and to the record store, whichever the context has (to both
// even when one fails); false when either failed, which it has reported.
bool WriteRecord(Context& ctx, CommissionRecord& record);

// Opens the programmer and makes sure a Duroz740 answers. Returns kExitOk or the code of
// the failure, which it has reported.
int OpenSensor(Context& ctx, Session& s);

// The profile in `file`, or nothing with the exit code of why not, which it has reported.
std::optional<Profile> ReadProfileFile(Context& ctx, const std::string& file, int& code);

// The exit code that goes with a session outcome.
int ExitFor(Outcome outcome);

}  // namespace zelto::cli
