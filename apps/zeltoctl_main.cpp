// SPDX-License-Identifier: MIT
// zeltoctl: the ZeltoProg programmer and the Duroz740 from the command line, for installers
// and service benches. Same core as the windows, no windows.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/doctor.h"
#include "cli/event_loop.h"
#include "cli/sim_setup.h"
#include "core/ports/diagnostics.h"
#include "core/text/string_table.h"
#include "drivers/driver_select.h"

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int signal_number) {
  g_interrupted.store(true);
  // A second Ctrl-C ends the program at once.
  std::signal(signal_number, SIG_DFL);
}

std::filesystem::path ExecutableFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

// The string table beside the executable, or where the package puts it; none is fine.
void LoadStrings(const std::string& given, int language,
                 std::array<std::string, zelto::kStringTableSize>& table) {
  std::vector<std::filesystem::path> candidates;
  if (!given.empty()) {
    candidates.push_back(given);
  } else {
    const auto folder = ExecutableFolder();
    candidates.push_back(folder / zelto::kStringTableFile);
    candidates.push_back(folder / ZELTO_STRINGS_FROM_BIN / zelto::kStringTableFile);
  }
  for (const auto& file : candidates) {
    std::array<std::string, zelto::kStringTableSize> loaded{};
    if (zelto::LoadStringTable(file, static_cast<std::int16_t>(language), loaded)) {
      table = loaded;
      return;
    }
  }
  if (!given.empty())
    std::cerr << "zeltoctl: warning: cannot read the string table " << given << "\n";
}

std::uint8_t ToByte(int v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zelto::cli;
  CLI::App app{
      "zeltoctl: configure, verify and watch Duroz740 sensors through the ZeltoProg programmer.\n"
      "Exit codes: 0 ok, 1 file or log failure, 2 usage, 3 no/several programmers or driver "
      "failure, 4 adapter in use, 5 sensor silent/absent/unplugged, 6 value refused or read back "
      "different, 7 not supported by the sensor's firmware, 130 interrupted.",
      "zeltoctl"};
  app.set_version_flag("--version", std::string("zeltoctl ") + ZELTO_VERSION);
  app.require_subcommand(1);
  app.fallthrough();

  SessionOptions session;
  std::string log_path, log_format = "csv", strings_file, lang = "en";
  bool verbose = false;
  app.add_option("--adapter", session.adapter_serial,
                 "Serial number of the programmer to use (see `zeltoctl list`)");
  app.add_option("--timeout-ms", session.reply_timeout_ms, "Wait for each reply")
      ->capture_default_str()
      ->check(CLI::Range(10, 60000));
  app.add_option("--tries", session.tries, "Requests sent before giving up")
      ->capture_default_str()
      ->check(CLI::Range(1, 20));
  app.add_option("--log", log_path, "Append a commissioning record per set/apply to FILE");
  app.add_option("--log-format", log_format, "Record format")
      ->capture_default_str()
      ->check(CLI::IsMember({"csv", "jsonl"}));
  app.add_option("--strings", strings_file, "The string table (default: beside the program)");
  app.add_option("--lang", lang, "Language of the string table's words")
      ->capture_default_str()
      ->check(CLI::IsMember({"en", "it"}));
  app.add_flag("--verbose", verbose, "Also print the core's informational lines");

  bool use_sim = false;
  SimOptions sim;
  std::string sim_fw = "0x0200";
  std::vector<int> sim_params;
  app.add_flag("--sim", use_sim, "Use the simulated bench instead of the USB drivers");
  auto* g = "Simulated bench (with --sim)";
  app.add_option("--sim-fw", sim_fw, "Sensor firmware, e.g. 0x01FF (no height)")
      ->capture_default_str()
      ->group(g);
  app.add_option("--sim-serial", sim.serials,
                 "Sensor serial number; several: plugged one after the other")
      ->group(g);
  app.add_option("--sim-swap-ms", sim.swap_ms, "How long each sensor stays plugged")
      ->capture_default_str()
      ->group(g);
  app.add_option("--sim-params", sim_params, "The sensor's stored wire values (5 or 6)")
      ->delimiter(',')
      ->group(g);
  app.add_option("--sim-adapters", sim.adapters, "Programmers on the bus")
      ->capture_default_str()
      ->group(g);
  app.add_option("--sim-refuse", sim.refuse, "NAME=VALUE the sensor will not take")->group(g);
  app.add_flag("--sim-held", sim.held_elsewhere, "Another program holds the programmer")->group(g);
  app.add_option("--sim-silent-after-ms", sim.silent_after_ms, "The sensor goes silent then")
      ->group(g);

  auto* list = app.add_subcommand("list", "The adapters the driver sees");
  auto* info = app.add_subcommand("info", "The programmer and the attached device");
  auto* get = app.add_subcommand("get", "Read the six parameters");
  bool get_json = false;
  get->add_flag("--json", get_json, "As a JSON object");
  auto* set = app.add_subcommand(
      "set",
      "Write parameters, read them back and compare. NAME: sensitivity (1-9), relay (seconds "
      "0.5-4.5), speed (0 slow, 1 normal, 2 fast), filter (Hz: 0 off, 50, 60), traffic (0, 1), "
      "height (metres: 2.3, 2.9, 3.5; firmware 200 and later)");
  std::vector<std::string> assignments;
  bool no_verify = false;
  set->add_option("NAME=VALUE", assignments, "Parameters to change")->required();
  set->add_flag("--no-verify", no_verify, "Do not read back (the write is then not verified)");
  auto* save = app.add_subcommand("save", "Save the sensor's parameters as a JSON profile");
  std::string file;
  save->add_option("FILE", file, "Profile to write")->required();
  auto* apply = app.add_subcommand("apply", "Write a JSON profile and verify it");
  bool each = false;
  apply->add_option("FILE", file, "Profile to apply")->required()->check(CLI::ExistingFile);
  apply->add_flag("--each", each,
                  "Keep going: apply to every new sensor (different serial number) plugged in, "
                  "until Ctrl-C");
  auto* monitor = app.add_subcommand("monitor", "Signal level and detection; walk-test summary");
  bool csv = false;
  double seconds = 0;
  monitor->add_flag("--csv", csv, "CSV rows (time_s,level,detected); summary on stderr");
  monitor->add_option("--seconds", seconds, "Stop after N seconds (default: at Ctrl-C)");
  auto* doctor = app.add_subcommand("doctor", "What stands between this machine and an adapter");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }

  zelto::SetDiagSink(
      [verbose](zelto::DiagLevel level, std::string_view category, std::string_view message) {
        if (level == zelto::DiagLevel::Info && !verbose) return;
        std::cerr << "zeltoctl: " << (level == zelto::DiagLevel::Warning ? "warning" : "info")
                  << " [" << category << "]: " << message << "\n";
      });

  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  RealTimeLoop loop;
  loop.SetInterruptFlag(&g_interrupted);

  std::unique_ptr<SimBench> bench;
  std::unique_ptr<zelto::D2xxPort> real_driver;
  zelto::D2xxPort* driver = nullptr;
  std::string driver_name;
  if (use_sim) {
    try {
      sim.firmware = static_cast<std::uint16_t>(std::stoul(sim_fw, nullptr, 0));
    } catch (const std::exception&) {
      std::cerr << "zeltoctl: --sim-fw takes a number such as 0x0200\n";
      return kExitUsage;
    }
    for (int v : sim_params) sim.params.push_back(ToByte(v));
    std::string error;
    bench = SimBench::Create(sim, loop, loop, error);
    if (!bench) {
      std::cerr << "zeltoctl: " << error << "\n";
      return kExitUsage;
    }
    driver = &bench->Bus();
    driver_name = "simulated bench";
  } else if (*doctor) {
    return RunDoctor(DoctorEnvironment::System(), std::cout);
  } else {
    real_driver = zelto::CreateSystemDriver(&driver_name);
    driver = real_driver.get();
  }

  Context ctx(*driver, driver_name, loop, std::cout, std::cerr, session);
  LoadStrings(strings_file, lang == "it" ? 0 : 1, ctx.strings);
  ctx.log_path = log_path;
  ctx.log_format = log_format == "jsonl" ? LogFormat::kJsonl : LogFormat::kCsv;

  if (*list) return CmdList(ctx);
  if (*info) return CmdInfo(ctx);
  if (*get) return CmdGet(ctx, get_json);
  if (*set) return CmdSet(ctx, assignments, !no_verify);
  if (*save) return CmdSave(ctx, file);
  if (*apply) return CmdApply(ctx, file, each);
  if (*monitor) return CmdMonitor(ctx, csv, seconds);
  if (*doctor) {
    std::cerr << "zeltoctl: doctor looks at the real machine; it does not take --sim\n";
    return kExitUsage;
  }
  return kExitUsage;
}
