// SPDX-License-Identifier: MIT
// zeltoctl: the ZeltoProg programmer and the Duroz740 from the command line, for installers
// and service benches. Same core as the windows, no windows.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/doctor.h"
#include "cli/doctor_windows.h"
#include "cli/event_loop.h"
#include "cli/platform.h"
#include "cli/record_store.h"
#include "cli/records_commands.h"
#include "cli/sim_setup.h"
#include "cli/station_command.h"
#include "cli/stop.h"
#include "cli/walk.h"
#include "core/ports/diagnostics.h"
#include "core/text/cp1252.h"
#include "core/text/string_table.h"
#include "drivers/driver_select.h"
#include "drivers/null_driver.h"

namespace {

using zelto::cli::ExecutableFolder;
using zelto::cli::PathFromUtf8;

// The string table beside the executable (a build or a copied folder), else in the package's
// data folder; none is fine. Only a file that is there is read, so an installed program says
// nothing about the places it merely looked in.
void LoadStrings(const std::string& given, int language,
                 std::array<std::string, zelto::kStringTableSize>& table) {
  std::vector<std::filesystem::path> candidates;
  if (!given.empty()) {
    candidates.push_back(PathFromUtf8(given));
  } else {
    const auto folder = ExecutableFolder();
    candidates.push_back(folder / zelto::kStringTableFile);
    candidates.push_back(folder / ZELTO_STRINGS_FROM_BIN / zelto::kStringTableFile);
  }
  for (const auto& file : candidates) {
    std::error_code ec;
    if (given.empty() && !std::filesystem::is_regular_file(file, ec)) continue;
    std::array<std::string, zelto::kStringTableSize> loaded{};
    if (zelto::LoadStringTable(file, static_cast<std::int16_t>(language), loaded)) {
      table = loaded;
      return;
    }
  }
  if (!given.empty())
    std::cerr << "zeltoctl: warning: cannot read the string table " << given << "\n";
}

}  // namespace

namespace {

int Run(int argc, char** argv) {
  using namespace zelto::cli;
  UseUtf8Console();
  CLI::App app{
      "zeltoctl: configure, verify and watch Duroz740 sensors through the ZeltoProg programmer.\n"
      "Exit codes: 0 ok, 1 file or log failure, 2 usage, 3 no/several programmers or driver "
      "failure, 4 adapter in use, 5 sensor silent/absent/unplugged, 6 value refused or read back "
      "different, 7 not supported by the sensor's firmware, 128+N ended by signal N (130 "
      "Ctrl-C, 129 hang-up, 143 terminated, 141 output closed).",
      "zeltoctl"};
  app.set_version_flag("--version", std::string("zeltoctl ") + ZELTO_VERSION);
  app.require_subcommand(0, 1);
  // The program's options are taken after the command too (`zeltoctl apply p.json --log
  // x.csv`), as scripts written for earlier releases and most command lines' habits expect:
  // what a command does not know falls through to the program. Set before the commands are
  // added, which inherit it.
  app.fallthrough();

  SessionOptions session;
  std::string log_path, log_format = "csv", strings_file, lang = "en";
  bool verbose = false, quiet = false;
  std::vector<std::string> notes;
  app.add_option("--adapter", session.adapter_serial,
                 "Serial number of the programmer to use (see `zeltoctl list`)")
      ->option_text("SERIAL");
  app.add_option("--timeout-ms", session.reply_timeout_ms, "Wait for each reply")
      ->capture_default_str()
      ->option_text("MS")
      ->check(CLI::Range(10, 60000));
  app.add_option("--tries", session.tries, "Requests sent before giving up")
      ->capture_default_str()
      ->option_text("N")
      ->check(CLI::Range(1, 20));
  app.add_option("--log", log_path,
                 "Append a commissioning record per set/apply/verify to FILE (created first: "
                 "nothing is sent to a sensor when it cannot be)")
      ->option_text("FILE");
  std::string records_location;
  app.add_option("--records", records_location,
                 "The record store every set/apply/verify/walk/station record also goes to, and "
                 "that `records` reads: an SQLite database file, a postgresql:// connection, or "
                 "none (default: $ZELTOCTL_RECORDS, else the database in the user's data folder; "
                 "with --sim only when named)")
      ->option_text("PATH|URL|none");
  app.add_option("--log-format", log_format, "Record format")
      ->capture_default_str()
      ->option_text("csv|jsonl")
      ->check(CLI::IsMember({"csv", "jsonl"}));
  app.add_option("--note", notes,
                 "KEY=VALUE carried into each record (e.g. site=..., operator=..., label=...)")
      ->option_text("KEY=VALUE")
      ->check([](const std::string& note) {
        const auto eq = note.find('=');
        if (eq == std::string::npos || eq == 0) return std::string("not KEY=VALUE: ") + note;
        for (char c : note.substr(0, eq))
          if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-')
            return std::string("a KEY is letters, digits, _ and -: ") + note;
        return std::string();
      });
  app.add_option("--strings", strings_file,
                 "The string table (default: beside the program, else the package's)")
      ->option_text("FILE");
  app.add_option("--lang", lang, "Language of the string table's words")
      ->capture_default_str()
      ->option_text("en|it")
      ->check(CLI::IsMember({"en", "it"}));
  app.add_flag("--verbose", verbose, "Also print the core's informational lines");
  app.add_flag("-q,--quiet", quiet, "Print no progress or success lines, only errors and data");

  bool use_sim = false;
  SimOptions sim;
  std::string sim_fw = "0x0200";
  std::vector<int> sim_params;
  app.add_flag("--sim", use_sim, "Use the simulated bench instead of the USB drivers");
  auto* g = "Simulated bench (with --sim)";
  app.add_option("--sim-fw", sim_fw, "Sensor firmware, e.g. 0x01FF (no height)")
      ->capture_default_str()
      ->option_text("HEX")
      ->group(g);
  app.add_option("--sim-serial", sim.serials,
                 "Sensor serial number; several: plugged one after the other")
      ->option_text("SERIAL")
      ->group(g);
  app.add_option("--sim-swap-ms", sim.swap_ms, "How long each sensor stays plugged")
      ->capture_default_str()
      ->option_text("MS")
      ->check(CLI::Range(1, 3600000))
      ->group(g);
  app.add_option("--sim-params", sim_params, "The sensor's stored wire values (5 or 6)")
      ->delimiter(',')
      ->option_text("V,V,V,V,V[,V]")
      ->check(CLI::Range(0, 255))
      ->group(g);
  app.add_option("--sim-adapters", sim.adapters,
                 "Programmers on the bus (with station: 1 to 64, each with a sensor feeder)")
      ->capture_default_str()
      ->option_text("N")
      ->check(CLI::Range(0, 64))
      ->group(g);
  StationSimOptions station_sim;
  app.add_option("--sim-units", station_sim.units, "Station: sensors each feeder plugs in")
      ->option_text("N")
      ->check(CLI::Range(1, 10000000))
      ->group(g);
  app.add_option("--sim-hold-ms", station_sim.hold_ms, "Station: how long a sensor stays in")
      ->capture_default_str()
      ->option_text("MS")
      ->check(CLI::Range(1, 3600000))
      ->group(g);
  app.add_option("--sim-gap-ms", station_sim.gap_ms, "Station: how long a socket stays empty")
      ->capture_default_str()
      ->option_text("MS")
      ->check(CLI::Range(1, 3600000))
      ->group(g);
  app.add_option("--sim-jitter-ms", station_sim.jitter_ms,
                 "Station: each hold and gap up to this much longer, at random")
      ->option_text("MS")
      ->check(CLI::Range(0, 3600000))
      ->group(g);
  app.add_option("--sim-seed", station_sim.seed, "Station: the seed of the random timing")
      ->option_text("N")
      ->group(g);
  app.add_option("--sim-pull-after-ms", station_sim.pull_after_ms,
                 "Station: a handling robot pulls each sensor this long after the request "
                 "that reads it back (instead of --sim-hold-ms)")
      ->option_text("MS")
      ->check(CLI::Range(0, 3600000))
      ->group(g);
  app.add_flag("--sim-link-timing", station_sim.link_timing,
               "Station: frames take their time at 9600 baud, the sensor answers in 15 ms, "
               "the adapter's chip holds replies for its latency timer")
      ->group(g);
  app.add_option("--sim-fault", station_sim.faults,
                 "Station: INDEX:KIND, KIND silent-read, pull-write, held, same-serial, "
                 "refuse:NAME=VALUE")
      ->option_text("INDEX:KIND")
      ->group(g);
  app.add_option("--sim-refuse", sim.refuse, "NAME=VALUE the sensor will not take")
      ->option_text("NAME=VALUE")
      ->group(g);
  app.add_flag("--sim-held", sim.held_elsewhere, "Another program holds the programmer")->group(g);
  app.add_option("--sim-silent-after-ms", sim.silent_after_ms, "The sensor goes silent then")
      ->option_text("MS")
      ->check(CLI::Range(0, 3600000))
      ->group(g);
  app.add_option("--sim-silent-for-ms", sim.silent_for_ms, "... and answers again after this")
      ->option_text("MS")
      ->check(CLI::Range(1, 3600000))
      ->group(g);
  app.add_option("--sim-walk-every-ms", sim.walk_every_ms, "Someone walks past this often")
      ->option_text("MS")
      ->check(CLI::Range(100, 3600000))
      ->group(g);

  bool json = false;
  auto* list = app.add_subcommand("list", "The adapters the driver sees");
  list->add_flag("--json", json, "As a JSON object");
  auto* info = app.add_subcommand("info", "The programmer and the attached device");
  info->add_flag("--json", json, "As a JSON object");
  auto* get = app.add_subcommand("get", "Read the six parameters");
  get->add_flag("--json", json, "As a JSON profile with the sensor's identity (apply takes it)");
  auto* set = app.add_subcommand(
      "set",
      "Write parameters, read them back and compare (no write when the sensor holds them "
      "already). NAME: sensitivity (1-9), relay (seconds 0.5-4.5), speed (0 slow, 1 normal, 2 "
      "fast), filter (Hz: 0 off, 50, 60), traffic (0, 1), height (metres: 2.3, 2.9, 3.5; "
      "firmware 200 and later)");
  std::vector<std::string> assignments;
  bool no_verify = false;
  set->add_option("NAME=VALUE", assignments, "Parameters to change")->required();
  set->add_flag("--no-verify", no_verify, "Do not read back (the write is then not verified)");
  auto* save = app.add_subcommand("save", "Save the sensor's parameters as a JSON profile");
  std::string file;
  save->add_option("FILE", file, "Profile to write")->required();
  auto* apply = app.add_subcommand(
      "apply", "Write a JSON profile and verify it (no write when the sensor holds it already)");
  bool each = false;
  int count = 0;
  apply->add_option("FILE", file, "Profile to apply")->required();
  auto* each_flag = apply->add_flag(
      "--each", each,
      "Keep going: apply to every new sensor (different serial number) plugged in, until "
      "Ctrl-C or --count; exit 0 when every sensor was verified");
  apply->add_option("--count", count, "With --each: end after N sensors")
      ->option_text("N")
      ->check(CLI::Range(1, 1000000))
      ->needs(each_flag);
  auto* verify = app.add_subcommand(
      "verify", "Compare the sensor with a JSON profile without writing (exit 0 or 6)");
  verify->add_option("FILE", file, "Profile to compare with")->required();
  auto* monitor = app.add_subcommand("monitor", "Signal level and detection; walk-test summary");
  bool csv = false, jsonl = false;
  double seconds = 0;
  auto* csv_flag =
      monitor->add_flag("--csv", csv, "CSV rows (time_s,level,detected); summary on stderr");
  monitor->add_flag("--jsonl", jsonl, "One JSON object per report; summary on stderr")
      ->excludes(csv_flag);
  monitor->add_option("--seconds", seconds, "Stop after N seconds (default: at Ctrl-C)")
      ->option_text("N")
      ->check(CLI::Range(0.0, 31536000.0));
  auto* doctor = app.add_subcommand("doctor", "What stands between this machine and an adapter");
  doctor->add_flag("--json", json, "As a JSON object");
  auto* walk = app.add_subcommand(
      "walk", "Walk test: the signal recorded, a summary, an HTML report (notes from --note)");
  WalkOptions walk_options;
  walk->add_option("--seconds", walk_options.seconds, "Stop after N seconds (default: at Ctrl-C)")
      ->option_text("N")
      ->check(CLI::Range(0.0, 86400.0));
  walk->add_option("--report", walk_options.report_path, "Write the HTML report to FILE.html");
  walk->add_option("--csv", walk_options.csv_path, "Write the reports as CSV (time_s,level,detected)");
  auto* station = app.add_subcommand(
      "station",
      "Production station: every programmer (or each --slot) provisions and verifies sensors "
      "with PROFILE on its own, until Ctrl-C or --count units; exit 0 all passed, 6 a unit "
      "failed, 3 an ERROR or a slot out of service");
  StationCommand station_command;
  station->add_option("PROFILE", station_command.profile_file, "Profile to apply");
  station->add_flag("--check", station_command.check,
                    "Only check the slots: names, shared or missing serial numbers, whether "
                    "each link opens with the short latency timer or is held elsewhere; exit 0 "
                    "when every slot is ready");
  station->add_option("--station", station_command.station_name, "This station's name, recorded")
      ->option_text("NAME");
  station->add_option("--operator", station_command.operator_name, "Who runs it, recorded")
      ->option_text("NAME");
  station->add_option("--slot", station_command.slots,
                      "A slot to run (a programmer's serial number, or @LOCATION; see list)")
      ->option_text("NAME");
  station->add_option("--look-ms", station_command.look_ms,
                      "Time between looks at a socket for a sensor put in or taken out")
      ->capture_default_str()
      ->option_text("MS")
      ->check(CLI::Range(5, 10000));
  station->add_option("--count", station_command.count, "End after N units")
      ->option_text("N")
      ->check(CLI::Range(1, 100000000));
  auto* report = app.add_subcommand(
      "report", "One HTML page of the commissioning log, or of the record store without LOG");
  std::string report_log, report_html;
  report->add_option("LOG", report_log, "The commissioning log (CSV or JSON lines)");
  report->add_option("--html", report_html, "The page to write")->required();

  auto* records = app.add_subcommand(
      "records", "What the record store holds: a unit's history, lists, yield, exports");
  records->require_subcommand(1);
  RecordFilter filter;
  std::string show_serial, export_format = "csv", export_output;
  auto* records_show = records->add_subcommand("show", "Every record of one sensor, oldest first");
  records_show->add_option("SERIAL", show_serial, "The sensor's serial number")->required();
  auto* records_list = records->add_subcommand("list", "The records that match, oldest first");
  auto* records_yield =
      records->add_subcommand("yield", "PASS, FAIL, ERROR and the yield per day, station and slot");
  auto* records_export = records->add_subcommand(
      "export", "The records that match as CSV or JSON lines (as --log writes them) or as JUnit "
                "XML test records (one test suite per unit, one test case per parameter)");
  records_export->add_option("--format", export_format, "Export format")
      ->capture_default_str()
      ->option_text("csv|jsonl|junit")
      ->check(CLI::IsMember({"csv", "jsonl", "junit"}));
  records_export->add_option("--output", export_output, "Write to FILE instead of stdout")
      ->option_text("FILE");
  for (CLI::App* command : {records_list, records_yield, records_export, report}) {
    command->add_option("--serial", filter.serial, "Only this sensor")->option_text("SERIAL");
    command->add_option("--since", filter.since, "Only records at or after this UTC time")
        ->option_text("YYYY-MM-DD[THH:MM:SS]")
        ->check([](const std::string& t) {
          const bool date = t.size() >= 10 && t[4] == '-' && t[7] == '-' &&
                            std::all_of(t.begin(), t.begin() + 4,
                                      [](char c) { return c >= '0' && c <= '9'; }) &&
                            std::isdigit(static_cast<unsigned char>(t[5])) &&
                            std::isdigit(static_cast<unsigned char>(t[8]));
          return date ? std::string() : "not a date such as 2026-12-09: " + t;
        });
    command->add_option("--station", filter.station, "Only this station")->option_text("NAME");
    command->add_option("--slot", filter.slot, "Only this slot")->option_text("NAME");
    command->add_option("--outcome", filter.outcome, "Only this outcome")
        ->option_text("PASS|FAIL|ERROR|OUT OF SERVICE")
        ->check(CLI::IsMember({"PASS", "FAIL", "ERROR", "OUT OF SERVICE"}));
    command->add_option("--profile", filter.profile_hash, "Only records against this profile hash")
        ->option_text("HASH");
  }
  records_list->add_option("--limit", filter.limit, "At most N records")->option_text("N");

  // "commands: list, info, ...; see zeltoctl --help", for a command missing or mistyped.
  auto commands = [&app] {
    std::string names;
    for (const CLI::App* command : app.get_subcommands([](CLI::App*) { return true; }))
      names += (names.empty() ? "" : ", ") + command->get_name();
    return "commands: " + names + "; see zeltoctl --help";
  };
  try {
    // As UTF-8 on every platform, so that file names with any characters get through.
    const std::vector<std::string> args = Utf8Arguments(argc, argv);
    std::vector<char*> arg_pointers;
    for (const std::string& a : args) arg_pointers.push_back(const_cast<char*>(a.c_str()));
    app.parse(static_cast<int>(arg_pointers.size()), arg_pointers.data());
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ExtrasError& e) {
    // A word left over where a command belongs is the command the user meant.
    const auto extras = app.remaining();
    const auto given = app.get_subcommands();
    if (!given.empty() && !extras.empty() && extras.front().rfind('-', 0) != 0) {
      std::cerr << "zeltoctl: " << given.front()->get_name() << ": unexpected argument \""
                << extras.front() << "\" (see zeltoctl " << given.front()->get_name()
                << " --help)\n";
    } else if (!extras.empty() && extras.front().rfind('-', 0) != 0) {
      std::cerr << "zeltoctl: unknown command \"" << extras.front() << "\" (" << commands()
                << ")\n";
    } else {
      std::cerr << "zeltoctl: " << e.what() << " (see zeltoctl --help)\n";
    }
    return kExitUsage;
  } catch (const CLI::ParseError& e) {
    std::cerr << "zeltoctl: " << e.what() << " (see zeltoctl --help)\n";
    return kExitUsage;
  }
  if (app.get_subcommands().empty()) {
    std::cerr << "zeltoctl: no command given (" << commands() << ")\n";
    return kExitUsage;
  }

  zelto::SetDiagSink(
      [verbose](zelto::DiagLevel level, std::string_view category, std::string_view message) {
        if (level == zelto::DiagLevel::Info && !verbose) return;
        std::cerr << "zeltoctl: " << (level == zelto::DiagLevel::Warning ? "warning" : "info")
                  << " [" << category << "]: " << message << "\n";
      });

  // From here on a signal ends the command through the one path in stop.h.
  InstallStopHandlers();
  StopRequest& stop = ProcessStop();
  RealTimeLoop loop;
  loop.SetInterruptFlag(&stop.Flag());

  std::unique_ptr<SimBench> bench;
  std::unique_ptr<StationSimBench> station_bench;
  std::unique_ptr<zelto::D2xxPort> real_driver;
  zelto::D2xxPort* driver = nullptr;
  std::string driver_name;
  if (use_sim) {
    try {
      std::size_t used = 0;
      const unsigned long fw = std::stoul(sim_fw, &used, 0);
      if (used != sim_fw.size() || fw > 0xFFFF) throw std::out_of_range(sim_fw);
      sim.firmware = static_cast<std::uint16_t>(fw);
    } catch (const std::exception&) {
      std::cerr << "zeltoctl: --sim-fw takes a number from 0 to 0xFFFF such as 0x0200\n";
      return kExitUsage;
    }
    for (int v : sim_params) sim.params.push_back(static_cast<std::uint8_t>(v));
    std::string error;
    if (*station) {
      station_sim.adapters = sim.adapters;
      station_sim.firmware = sim.firmware;
      station_sim.params = sim.params;
      station_bench = StationSimBench::Create(station_sim, loop, loop, error);
      if (!station_bench) {
        std::cerr << "zeltoctl: " << error << "\n";
        return kExitUsage;
      }
      driver = &station_bench->Bus();
    } else {
      bench = SimBench::Create(sim, loop, loop, error);
      if (!bench) {
        std::cerr << "zeltoctl: " << error << "\n";
        return kExitUsage;
      }
      driver = &bench->Bus();
    }
    driver_name = "simulated bench";
  } else if (*doctor) {
#if defined(_WIN32)
    return RunWindowsDoctor(WindowsDoctorEnvironment::System(), std::cout, json);
#else
    return RunDoctor(DoctorEnvironment::System(), std::cout, json);
#endif
  } else if (*records || *report) {
    // They read files and the record store only: no driver is loaded (nor missed).
    real_driver = std::make_unique<zelto::NullDriver>();
    driver_name = "none";
  } else {
    real_driver = zelto::CreateSystemDriver(&driver_name);
    driver = real_driver.get();
  }

  // The record store: named by --records or ZELTOCTL_RECORDS ("none": no store), else the
  // user's own database. Records of the simulated bench go to a store only when one is named,
  // so that trying zeltoctl out leaves no record among the real units'.
  const bool station_run = *station && !station_command.check;
  const bool writes_records = *set || *apply || *verify || *walk || station_run;
  const bool reads_records = *records || (*report && report_log.empty());
  if (records_location.empty())
    if (const char* env = std::getenv("ZELTOCTL_RECORDS")) records_location = env;
  const bool store_named = !records_location.empty();
  // The store holds serials and slot names as the programmer and the sensor sent them.
  filter.serial = zelto::Utf8ToCp1252(filter.serial);
  filter.slot = zelto::Utf8ToCp1252(filter.slot);
  std::unique_ptr<RecordStore> store;
  if (records_location == "none") {
    if (reads_records) {
      std::cerr << "zeltoctl: the record store is turned off (--records none or "
                   "ZELTOCTL_RECORDS=none)\n";
      return kExitUsage;
    }
  } else if (reads_records || (writes_records && (store_named || !use_sim))) {
    if (!RecordStoreBuiltIn()) {
      // Without a store, --log records as before; only a store asked for is an error.
      if (reads_records || store_named) {
        std::cerr << "zeltoctl: this zeltoctl was built without the record store (SQLite); "
                     "records are kept with --log\n";
        return kExitFailure;
      }
    } else {
      const std::string local = DefaultRecordStorePath();
      const std::string location = store_named ? records_location : local;
      std::string error;
      if (location.empty()) {
        error = "no home folder to keep the database in (name one with --records)";
      } else {
        store = OpenRecordStore(location, local, error);
      }
      if (!store) {
        // Before anything goes to a sensor: no unit is provisioned without its record.
        std::cerr << "zeltoctl: cannot open the record store "
                  << (IsPostgresLocation(location) ? std::string("(PostgreSQL)") : location)
                  << ": " << error << " (--records none to work without it)\n";
        return kExitFailure;
      }
    }
  }

  Context ctx(*driver, driver_name, loop, std::cout, std::cerr, session);
  LoadStrings(strings_file, lang == "it" ? 0 : 1, ctx.strings);
  ctx.log_path = log_path;
  ctx.store = writes_records ? store.get() : nullptr;
  ctx.log_format = log_format == "jsonl" ? LogFormat::kJsonl : LogFormat::kCsv;
  ctx.stop = &stop;
  ctx.quiet = quiet;
  for (const std::string& note : notes) {
    const auto eq = note.find('=');
    ctx.notes.emplace_back(note.substr(0, eq), note.substr(eq + 1));
  }

  int code = kExitUsage;
  if (*list) code = CmdList(ctx, json);
  if (*info) code = CmdInfo(ctx, json);
  if (*get) code = CmdGet(ctx, json);
  if (*set) code = CmdSet(ctx, assignments, !no_verify);
  if (*save) code = CmdSave(ctx, file);
  if (*apply) code = CmdApply(ctx, file, each, count);
  if (*verify) code = CmdVerify(ctx, file);
  if (*monitor)
    code = CmdMonitor(
        ctx, csv ? MonitorFormat::kCsv : (jsonl ? MonitorFormat::kJsonl : MonitorFormat::kText),
        seconds);
  walk_options.lang = lang;
  if (*walk) code = CmdWalk(ctx, walk_options);
  if (*report && !report_log.empty()) code = CmdReport(ctx, report_log, report_html, lang);
  if (*report && report_log.empty()) code = CmdReportFromStore(ctx, *store, filter, report_html, lang);
  if (*records_show) code = CmdRecordsShow(ctx, *store, show_serial);
  if (*records_list) code = CmdRecordsList(ctx, *store, filter);
  if (*records_yield) code = CmdRecordsYield(ctx, *store, filter);
  if (*records_export)
    code = CmdRecordsExport(ctx, *store, filter,
                            export_format == "jsonl"   ? ExportFormat::kJsonl
                            : export_format == "junit" ? ExportFormat::kJunit
                                                       : ExportFormat::kCsv,
                            export_output);
  if (*station) {
    station_command.version = ZELTO_VERSION;
    station_command.terminal = StdoutIsTerminal();
    code = CmdStation(ctx, station_command);
  }
  if (*doctor) std::cerr << "zeltoctl: doctor looks at the real machine; it does not take --sim\n";
  // Ended by a signal: the exit code names it.
  if (code == kExitInterrupted) code = stop.ExitCode(code);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  // The commands report what they expect to go wrong themselves; anything thrown past them
  // (memory exhausted, a fault in a library) still ends with a message and an exit code
  // rather than a terminate.
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "zeltoctl: error: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "zeltoctl: error: unexpected failure\n";
  }
  return zelto::cli::kExitFailure;
}
