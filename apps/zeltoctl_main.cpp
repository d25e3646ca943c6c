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

#include "apps/zeltoctl_options.h"
#include "cli/commands.h"
#include "cli/doctor.h"
#include "cli/doctor_windows.h"
#include "cli/event_loop.h"
#include "cli/platform.h"
#include "cli/record_store.h"
#include "cli/records_commands.h"
#include "cli/records_sync.h"
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

// What the steps of Run return when the command is to go on; anything else is its exit code.
constexpr int kGoOn = -1;

// Parses the command line into the options bound to app: kGoOn when a command is to run,
// else the exit code (help, version, a usage error).
int ParseCommandLine(CLI::App& app, int argc, char** argv) {
  using namespace zelto::cli;
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
  return kGoOn;

}

// The record store: named by --records or ZELTOCTL_RECORDS ("none": no store), else the
// user's own database. kGoOn when the command may go on (with a store or without one that
// it does not need), else the exit code.
int OpenStoreFor(zelto::cli::CommandLine& o, bool writes_records, bool reads_records,
                 bool simulated, std::unique_ptr<zelto::cli::RecordStore>& store) {
  using namespace zelto::cli;
  // Records of the simulated bench go to a store only when one is named, so that trying
  // zeltoctl out leaves no record among the real units'.
  if (o.records_location.empty())
    if (const char* env = std::getenv("ZELTOCTL_RECORDS")) o.records_location = env;
  const bool store_named = !o.records_location.empty();
  // The store holds serials and slot names as the programmer and the sensor sent them.
  o.filter.serial = zelto::Utf8ToCp1252(o.filter.serial);
  o.filter.slot = zelto::Utf8ToCp1252(o.filter.slot);
  if (o.records_location == "none") {
    if (reads_records) {
      std::cerr << "zeltoctl: the record store is turned off (--records none or "
                   "ZELTOCTL_RECORDS=none)\n";
      return kExitUsage;
    }
  } else if (reads_records || (writes_records && (store_named || !simulated))) {
    if (!RecordStoreBuiltIn()) {
      // Without a store, --log records as before; only a store asked for is an error.
      if (reads_records || store_named) {
        std::cerr << "zeltoctl: this zeltoctl was built without the record store (SQLite); "
                     "records are kept with --log\n";
        return kExitFailure;
      }
    } else {
      const std::string local = DefaultRecordStorePath();
      const std::string location = store_named ? o.records_location : local;
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
  return kGoOn;
}

// The one command given.
int RunCommand(zelto::cli::CommandLine& o, zelto::cli::Context& ctx,
               zelto::cli::RecordStore* store) {
  using namespace zelto::cli;
  int code = kExitUsage;
  if (*o.list) code = CmdList(ctx, o.json);
  if (*o.info) code = CmdInfo(ctx, o.json);
  if (*o.get) code = CmdGet(ctx, o.json);
  if (*o.set) code = CmdSet(ctx, o.assignments, !o.no_verify);
  if (*o.save) code = CmdSave(ctx, o.file);
  if (*o.apply) code = CmdApply(ctx, o.file, o.each, o.count);
  if (*o.verify) code = CmdVerify(ctx, o.file);
  if (*o.monitor)
    code = CmdMonitor(
        ctx, o.csv ? MonitorFormat::kCsv : (o.jsonl ? MonitorFormat::kJsonl : MonitorFormat::kText),
        o.seconds);
  o.walk_options.lang = o.lang;
  if (*o.walk) code = CmdWalk(ctx, o.walk_options);
  if (*o.report && !o.report_log.empty()) code = CmdReport(ctx, o.report_log, o.report_html, o.lang);
  if (*o.report && o.report_log.empty()) code = CmdReportFromStore(ctx, *store, o.filter, o.report_html, o.lang);
  if (*o.records_status) code = CmdRecordsStatus(ctx, *store);
  if (*o.records_sync) code = CmdRecordsSync(ctx, *store);
  if (*o.records_show) code = CmdRecordsShow(ctx, *store, o.show_serial);
  if (*o.records_list) code = CmdRecordsList(ctx, *store, o.filter);
  if (*o.records_yield) code = CmdRecordsYield(ctx, *store, o.filter);
  if (*o.records_export)
    code = CmdRecordsExport(ctx, *store, o.filter,
                            o.export_format == "jsonl"   ? ExportFormat::kJsonl
                            : o.export_format == "junit" ? ExportFormat::kJunit
                                                       : ExportFormat::kCsv,
                            o.export_output);
  if (*o.station) {
    o.station_command.version = ZELTO_VERSION;
    o.station_command.terminal = StdoutIsTerminal();
    code = CmdStation(ctx, o.station_command);
  }
  return code;
}

// The driver a command talks through, and what owns it.
struct Driver {
  std::unique_ptr<zelto::cli::SimBench> bench;
  std::unique_ptr<zelto::cli::StationSimBench> station_bench;
  std::unique_ptr<zelto::AdapterPort> owned;
  zelto::AdapterPort* port = nullptr;
  std::string name;
};

// The simulated bench, no driver (commands that only read records), or the system's USB
// driver. kGoOn, else the exit code (a bad simulated bench; doctor, which runs here).
int ChooseDriver(zelto::cli::CommandLine& o, zelto::cli::RealTimeLoop& loop, Driver& d) {
  using namespace zelto::cli;
  if (o.use_sim) {
    try {
      std::size_t used = 0;
      const unsigned long fw = std::stoul(o.sim_fw, &used, 0);
      if (used != o.sim_fw.size() || fw > 0xFFFF) throw std::out_of_range(o.sim_fw);
      o.sim.firmware = static_cast<std::uint16_t>(fw);
    } catch (const std::exception&) {
      std::cerr << "zeltoctl: --sim-fw takes a number from 0 to 0xFFFF such as 0x0200\n";
      return kExitUsage;
    }
    for (int v : o.sim_params) o.sim.params.push_back(static_cast<std::uint8_t>(v));
    std::string error;
    if (*o.station) {
      o.station_sim.adapters = o.sim.adapters;
      o.station_sim.firmware = o.sim.firmware;
      o.station_sim.params = o.sim.params;
      d.station_bench = StationSimBench::Create(o.station_sim, loop, loop, error);
      if (!d.station_bench) {
        std::cerr << "zeltoctl: " << error << "\n";
        return kExitUsage;
      }
      d.port = &d.station_bench->Bus();
    } else {
      d.bench = SimBench::Create(o.sim, loop, loop, error);
      if (!d.bench) {
        std::cerr << "zeltoctl: " << error << "\n";
        return kExitUsage;
      }
      d.port = &d.bench->Bus();
    }
    d.name = "simulated bench";
  } else if (*o.doctor) {
#if defined(_WIN32)
    return RunWindowsDoctor(WindowsDoctorEnvironment::System(), std::cout, o.json);
#else
    return RunDoctor(DoctorEnvironment::System(), std::cout, o.json);
#endif
  } else if (*o.records || *o.report) {
    // They read files and the record store only: no driver is loaded (nor missed).
    d.owned = std::make_unique<zelto::NullDriver>();
    d.port = d.owned.get();
    d.name = "none";
  } else {
    d.owned = zelto::CreateSystemDriver(&d.name);
    d.port = d.owned.get();
  }
  return kGoOn;
}

int Run(int argc, char** argv) {
  using namespace zelto::cli;
  UseUtf8Console();
  CLI::App app{kZeltoctlDescription, "zeltoctl"};
  CommandLine o;
  DefineCommandLine(app, o);

  if (const int code = ParseCommandLine(app, argc, argv); code != kGoOn) return code;

  zelto::SetDiagSink(
      [verbose = o.verbose](zelto::DiagLevel level, std::string_view category, std::string_view message) {
        if (level == zelto::DiagLevel::Info && !verbose) return;
        std::cerr << "zeltoctl: " << (level == zelto::DiagLevel::Warning ? "warning" : "info")
                  << " [" << category << "]: " << message << "\n";
      });

  // From here on a signal ends the command through the one path in stop.h.
  InstallStopHandlers();
  StopRequest& stop = ProcessStop();
  RealTimeLoop loop;
  loop.SetInterruptFlag(&stop.Flag());

  Driver driver;
  if (const int code = ChooseDriver(o, loop, driver); code != kGoOn) return code;

  const bool station_run = *o.station && !o.station_command.check;
  const bool writes_records = *o.set || *o.apply || *o.verify || *o.walk || station_run;
  const bool reads_records = *o.records || (*o.report && o.report_log.empty());
  std::unique_ptr<RecordStore> store;
  if (const int code = OpenStoreFor(o, writes_records, reads_records, o.use_sim, store);
      code != kGoOn)
    return code;

  Context ctx(*driver.port, driver.name, loop, std::cout, std::cerr, o.session);
  LoadStrings(o.strings_file, o.lang == "it" ? 0 : 1, ctx.strings);
  ctx.log_path = o.log_path;
  ctx.store = writes_records ? store.get() : nullptr;
  ctx.log_format = o.log_format == "jsonl" ? LogFormat::kJsonl : LogFormat::kCsv;
  ctx.stop = &stop;
  ctx.quiet = o.quiet;
  for (const std::string& note : o.notes) {
    const auto eq = note.find('=');
    ctx.notes.emplace_back(note.substr(0, eq), note.substr(eq + 1));
  }

  int code = RunCommand(o, ctx, store.get());
  if (*o.doctor) std::cerr << "zeltoctl: doctor looks at the real machine; it does not take --sim\n";
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
