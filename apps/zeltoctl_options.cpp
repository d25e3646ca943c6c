// SPDX-License-Identifier: MIT
#include "apps/zeltoctl_options.h"

#include <algorithm>
#include <cctype>

namespace zelto::cli {

void DefineCommandLine(CLI::App& app, CommandLine& o) {
  app.set_version_flag("--version", std::string("zeltoctl ") + ZELTO_VERSION);
  app.require_subcommand(0, 1);
  // The program's options are taken after the command too (`zeltoctl apply p.json --log
  // x.csv`), as scripts written for earlier releases and most command lines' habits expect:
  // what a command does not know falls through to the program. Set before the commands are
  // added, which inherit it.
  app.fallthrough();

  app.add_option("--adapter", o.session.adapter_serial,
                 "Serial number of the programmer to use (see `zeltoctl list`)")
      ->option_text("SERIAL");
  app.add_option("--timeout-ms", o.session.reply_timeout_ms, "Wait for each reply")
      ->capture_default_str()
      ->option_text("MS")
      ->check(CLI::Range(10, 60000));
  app.add_option("--tries", o.session.tries, "Requests sent before giving up")
      ->capture_default_str()
      ->option_text("N")
      ->check(CLI::Range(1, 20));
  app.add_option("--log", o.log_path,
                 "Append a commissioning record per set/apply/verify to FILE (created first: "
                 "nothing is sent to a sensor when it cannot be)")
      ->option_text("FILE");
  app.add_option("--records", o.records_location,
                 "The record store every set/apply/verify/walk/station record also goes to, and "
                 "that `records` reads: an SQLite database file, a postgresql:// connection, or "
                 "none (default: $ZELTOCTL_RECORDS, else the database in the user's data folder; "
                 "with --sim only when named)")
      ->option_text("PATH|URL|none");
  app.add_option("--log-format", o.log_format, "Record format")
      ->capture_default_str()
      ->option_text("csv|jsonl")
      ->check(CLI::IsMember({"csv", "jsonl"}));
  app.add_option("--note", o.notes,
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
  app.add_option("--strings", o.strings_file,
                 "The string table (default: beside the program, else the package's)")
      ->option_text("FILE");
  app.add_option("--lang", o.lang, "Language of the string table's words")
      ->capture_default_str()
      ->option_text("en|it")
      ->check(CLI::IsMember({"en", "it"}));
  app.add_flag("--verbose", o.verbose, "Also print the core's informational lines");
  app.add_flag("-q,--quiet", o.quiet, "Print no progress or success lines, only errors and data");

  app.add_flag("--sim", o.use_sim, "Use the simulated bench instead of the USB drivers");
  auto* g = "Simulated bench (with --sim)";
  app.add_option("--sim-fw", o.sim_fw, "Sensor firmware, e.g. 0x01FF (no height)")
      ->capture_default_str()
      ->option_text("HEX")
      ->group(g);
  app.add_option("--sim-serial", o.sim.serials,
                 "Sensor serial number; several: plugged one after the other")
      ->option_text("SERIAL")
      ->group(g);
  app.add_option("--sim-swap-ms", o.sim.swap_ms, "How long each sensor stays plugged")
      ->capture_default_str()
      ->option_text("MS")
      ->check(CLI::Range(1, 3600000))
      ->group(g);
  app.add_option("--sim-params", o.sim_params, "The sensor's stored wire values (5 or 6)")
      ->delimiter(',')
      ->option_text("V,V,V,V,V[,V]")
      ->check(CLI::Range(0, 255))
      ->group(g);
  app.add_option("--sim-adapters", o.sim.adapters,
                 "Programmers on the bus (with station: 1 to 64, each with a sensor feeder)")
      ->capture_default_str()
      ->option_text("N")
      ->check(CLI::Range(0, 64))
      ->group(g);
  app.add_option("--sim-units", o.station_sim.units, "Station: sensors each feeder plugs in")
      ->option_text("N")
      ->check(CLI::Range(1, 10000000))
      ->group(g);
  app.add_option("--sim-hold-ms", o.station_sim.hold_ms, "Station: how long a sensor stays in")
      ->capture_default_str()
      ->option_text("MS")
      ->check(CLI::Range(1, 3600000))
      ->group(g);
  app.add_option("--sim-gap-ms", o.station_sim.gap_ms, "Station: how long a socket stays empty")
      ->capture_default_str()
      ->option_text("MS")
      ->check(CLI::Range(1, 3600000))
      ->group(g);
  app.add_option("--sim-jitter-ms", o.station_sim.jitter_ms,
                 "Station: each hold and gap up to this much longer, at random")
      ->option_text("MS")
      ->check(CLI::Range(0, 3600000))
      ->group(g);
  app.add_option("--sim-seed", o.station_sim.seed, "Station: the seed of the random timing")
      ->option_text("N")
      ->group(g);
  app.add_option("--sim-pull-after-ms", o.station_sim.pull_after_ms,
                 "Station: a handling robot pulls each sensor this long after the request "
                 "that reads it back (instead of --sim-hold-ms)")
      ->option_text("MS")
      ->check(CLI::Range(0, 3600000))
      ->group(g);
  app.add_flag("--sim-link-timing", o.station_sim.link_timing,
               "Station: frames take their time at 9600 baud, the sensor answers in 15 ms, "
               "the adapter's chip holds replies for its latency timer")
      ->group(g);
  app.add_flag("!--sim-no-latency-timer", o.station_sim.latency_timer,
               "Station: the driver cannot set the latency timer short (replies wait the "
               "chip's 16 ms)")
      ->group(g);
  app.add_option("--sim-fault", o.station_sim.faults,
                 "Station: INDEX:KIND, KIND silent-read, pull-write, held, same-serial, "
                 "refuse:NAME=VALUE")
      ->option_text("INDEX:KIND")
      ->group(g);
  app.add_option("--sim-refuse", o.sim.refuse, "NAME=VALUE the sensor will not take")
      ->option_text("NAME=VALUE")
      ->group(g);
  app.add_flag("--sim-held", o.sim.held_elsewhere, "Another program holds the programmer")->group(g);
  app.add_option("--sim-silent-after-ms", o.sim.silent_after_ms, "The sensor goes silent then")
      ->option_text("MS")
      ->check(CLI::Range(0, 3600000))
      ->group(g);
  app.add_option("--sim-silent-for-ms", o.sim.silent_for_ms, "... and answers again after this")
      ->option_text("MS")
      ->check(CLI::Range(1, 3600000))
      ->group(g);
  app.add_option("--sim-walk-every-ms", o.sim.walk_every_ms, "Someone walks past this often")
      ->option_text("MS")
      ->check(CLI::Range(100, 3600000))
      ->group(g);

  o.list = app.add_subcommand("list", "The adapters the driver sees");
  o.list->add_flag("--json", o.json, "As a JSON object");
  o.info = app.add_subcommand("info", "The programmer and the attached device");
  o.info->add_flag("--json", o.json, "As a JSON object");
  o.get = app.add_subcommand("get", "Read the six parameters");
  o.get->add_flag("--json", o.json, "As a JSON profile with the sensor's identity (apply takes it)");
  o.set = app.add_subcommand(
      "set",
      "Write parameters, read them back and compare (no write when the sensor holds them "
      "already). NAME: sensitivity (1-9), relay (seconds 0.5-4.5), speed (0 slow, 1 normal, 2 "
      "fast), filter (Hz: 0 off, 50, 60), traffic (0, 1), height (metres: 2.3, 2.9, 3.5; "
      "firmware 200 and later)");
  o.set->add_option("NAME=VALUE", o.assignments, "Parameters to change")->required();
  o.set->add_flag("--no-verify", o.no_verify, "Do not read back (the write is then not verified)");
  o.save = app.add_subcommand("save", "Save the sensor's parameters as a JSON profile");
  o.save->add_option("FILE", o.file, "Profile to write")->required();
  o.apply = app.add_subcommand(
      "apply", "Write a JSON profile and verify it (no write when the sensor holds it already)");
  o.apply->add_option("FILE", o.file, "Profile to apply")->required();
  auto* each_flag = o.apply->add_flag(
      "--each", o.each,
      "Keep going: apply to every new sensor (different serial number) plugged in, until "
      "Ctrl-C or --count; exit 0 when every sensor was verified");
  o.apply->add_option("--count", o.count, "With --each: end after N sensors")
      ->option_text("N")
      ->check(CLI::Range(1, 1000000))
      ->needs(each_flag);
  o.verify = app.add_subcommand(
      "verify", "Compare the sensor with a JSON profile without writing (exit 0 or 6)");
  o.verify->add_option("FILE", o.file, "Profile to compare with")->required();
  o.monitor = app.add_subcommand("monitor", "Signal level and detection; walk-test summary");
  auto* csv_flag =
      o.monitor->add_flag("--csv", o.csv, "CSV rows (time_s,level,detected); summary on stderr");
  o.monitor->add_flag("--jsonl", o.jsonl, "One JSON object per report; summary on stderr")
      ->excludes(csv_flag);
  o.monitor->add_option("--seconds", o.seconds, "Stop after N seconds (default: at Ctrl-C)")
      ->option_text("N")
      ->check(CLI::Range(0.0, 31536000.0));
  o.doctor = app.add_subcommand("doctor", "What stands between this machine and an adapter");
  o.doctor->add_flag("--json", o.json, "As a JSON object");
  o.walk = app.add_subcommand(
      "walk", "Walk test: the signal recorded, a summary, an HTML report (notes from --note)");
  o.walk->add_option("--seconds", o.walk_options.seconds, "Stop after N seconds (default: at Ctrl-C)")
      ->option_text("N")
      ->check(CLI::Range(0.0, 86400.0));
  o.walk->add_option("--report", o.walk_options.report_path, "Write the HTML report to FILE.html");
  o.walk->add_option("--csv", o.walk_options.csv_path, "Write the reports as CSV (time_s,level,detected)");
  o.station = app.add_subcommand(
      "station",
      "Production station: every programmer (or each --slot) provisions and verifies sensors "
      "with PROFILE on its own, until Ctrl-C or --count units; exit 0 all passed, 6 a unit "
      "failed, 3 an ERROR or a slot out of service");
  o.station->add_option("PROFILE", o.station_command.profile_file, "Profile to apply");
  o.station->add_flag("--check", o.station_command.check,
                    "Only check the slots: names, shared or missing serial numbers, whether "
                    "each link opens with the short latency timer or is held elsewhere; exit 0 "
                    "when every slot is ready");
  o.station->add_option("--station", o.station_command.station_name, "This station's name, recorded")
      ->option_text("NAME");
  o.station->add_option("--operator", o.station_command.operator_name, "Who runs it, recorded")
      ->option_text("NAME");
  o.station->add_option("--slot", o.station_command.slots,
                      "A slot to run (a programmer's serial number, or @LOCATION; see list)")
      ->option_text("NAME");
  o.station->add_option("--look-ms", o.station_command.look_ms,
                      "Time between looks at a socket for a sensor put in or taken out")
      ->capture_default_str()
      ->option_text("MS")
      ->check(CLI::Range(5, 10000));
  o.station->add_option("--count", o.station_command.count, "End after N units")
      ->option_text("N")
      ->check(CLI::Range(1, 100000000));
  o.report = app.add_subcommand(
      "report", "One HTML page of the commissioning log, or of the record store without LOG");
  o.report->add_option("LOG", o.report_log, "The commissioning log (CSV or JSON lines)");
  o.report->add_option("--html", o.report_html, "The page to write")->required();

  o.records = app.add_subcommand(
      "records", "What the record store holds: a unit's history, lists, yield, exports");
  o.records->require_subcommand(1);
  o.records_show = o.records->add_subcommand("show", "Every record of one sensor, oldest first");
  o.records_show->add_option("SERIAL", o.show_serial, "The sensor's serial number")->required();
  o.records_list = o.records->add_subcommand("list", "The records that match, oldest first");
  o.records_yield =
      o.records->add_subcommand("yield", "PASS, FAIL, ERROR and the yield per day, station and slot");
  o.records_export = o.records->add_subcommand(
      "export", "The records that match as CSV or JSON lines (as --log writes them) or as JUnit "
                "XML test records (one test suite per unit, one test case per parameter)");
  o.records_status = o.records->add_subcommand(
      "status", "The records waiting for the line's server: how many, the oldest, whether it "
                "answers now and why not (exit 1 when it does not)");
  o.records_sync = o.records->add_subcommand(
      "sync", "Send the records waiting for the line's server now (exit 1 when they cannot go)");
  o.records_export->add_option("--format", o.export_format, "Export format")
      ->capture_default_str()
      ->option_text("csv|jsonl|junit")
      ->check(CLI::IsMember({"csv", "jsonl", "junit"}));
  o.records_export->add_option("--output", o.export_output, "Write to FILE instead of stdout")
      ->option_text("FILE");
  for (CLI::App* command : {o.records_list, o.records_yield, o.records_export, o.report}) {
    command->add_option("--serial", o.filter.serial, "Only this sensor")->option_text("SERIAL");
    command->add_option("--since", o.filter.since, "Only records at or after this UTC time")
        ->option_text("YYYY-MM-DD[THH:MM:SS]")
        ->check([](const std::string& t) {
          const bool date = t.size() >= 10 && t[4] == '-' && t[7] == '-' &&
                            std::all_of(t.begin(), t.begin() + 4,
                                      [](char c) { return c >= '0' && c <= '9'; }) &&
                            std::isdigit(static_cast<unsigned char>(t[5])) &&
                            std::isdigit(static_cast<unsigned char>(t[8]));
          return date ? std::string() : "not a date such as 2026-12-09: " + t;
        });
    command->add_option("--station", o.filter.station, "Only this station")->option_text("NAME");
    command->add_option("--slot", o.filter.slot, "Only this slot")->option_text("NAME");
    command->add_option("--outcome", o.filter.outcome, "Only this outcome")
        ->option_text("PASS|FAIL|ERROR|OUT OF SERVICE")
        ->check(CLI::IsMember({"PASS", "FAIL", "ERROR", "OUT OF SERVICE"}));
    command->add_option("--profile", o.filter.profile_hash, "Only records against this profile hash")
        ->option_text("HASH");
  }
  o.records_list->add_option("--limit", o.filter.limit, "At most N records")->option_text("N");
}

}  // namespace zelto::cli
