// SPDX-License-Identifier: MIT
// zeltoctl's command line: its options and commands, and where each one's value goes.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/record_store.h"
#include "cli/sim_setup.h"
#include "cli/station_command.h"
#include "cli/walk.h"

namespace zelto::cli {

inline constexpr char kZeltoctlDescription[] =
      "zeltoctl: configure, verify and watch Duroz740 sensors through the ZeltoProg programmer.\n"
      "Exit codes: 0 ok, 1 file or log failure, 2 usage, 3 no/several programmers or driver "
      "failure, 4 adapter in use, 5 sensor silent/absent/unplugged, 6 value refused or read back "
      "different, 7 not supported by the sensor's firmware, 128+N ended by signal N (130 "
      "Ctrl-C, 129 hang-up, 143 terminated, 141 output closed).";

// Every value the command line can give, with its default, and the commands: a command was
// given when *command is true after parsing.
struct CommandLine {
  SessionOptions session;
  std::string log_path, log_format = "csv", strings_file, lang = "en";
  bool verbose = false, quiet = false;
  std::vector<std::string> notes;
  std::string records_location;  // --records, else ZELTOCTL_RECORDS

  bool use_sim = false;
  SimOptions sim;
  std::string sim_fw = "0x0200";
  std::vector<int> sim_params;
  StationSimOptions station_sim;

  bool json = false;                     // list, info, get, doctor
  std::vector<std::string> assignments;  // set
  bool no_verify = false;
  std::string file;  // save, apply, verify
  bool each = false;
  int count = 0;
  bool csv = false, jsonl = false;  // monitor
  double seconds = 0;
  WalkOptions walk_options;
  StationCommand station_command;
  std::string report_log, report_html;
  RecordFilter filter;  // records list/yield/export, report from the store
  std::string show_serial, export_format = "csv", export_output;

  CLI::App* list = nullptr;
  CLI::App* info = nullptr;
  CLI::App* get = nullptr;
  CLI::App* set = nullptr;
  CLI::App* save = nullptr;
  CLI::App* apply = nullptr;
  CLI::App* verify = nullptr;
  CLI::App* monitor = nullptr;
  CLI::App* doctor = nullptr;
  CLI::App* walk = nullptr;
  CLI::App* station = nullptr;
  CLI::App* report = nullptr;
  CLI::App* records = nullptr;
  CLI::App* records_show = nullptr;
  CLI::App* records_list = nullptr;
  CLI::App* records_yield = nullptr;
  CLI::App* records_export = nullptr;
  CLI::App* records_status = nullptr;
  CLI::App* records_sync = nullptr;
};

// Adds the version flag, the options and the commands to app, each bound to o.
void DefineCommandLine(CLI::App& app, CommandLine& o);

}  // namespace zelto::cli
