// SPDX-License-Identifier: MIT
// `zeltoctl station PROFILE`: the station on the context's driver and loop, shown on a
// terminal as one line per slot updated in place, or elsewhere as one JSON object per event.
#pragma once

#include <string>
#include <vector>

#include "cli/commands.h"

namespace zelto::cli {

struct StationCommand {
  std::string profile_file;
  std::string station_name, operator_name, version;
  std::vector<std::string> slots;
  int count = 0;
  bool terminal = false;  // stdout is a terminal: lines in place; else JSON lines
  int redraw_ms = 500;
  int look_ms = 100;  // between looks at a socket with a sensor in it
  bool check = false;  // --check: only look at the slots
};

int CmdStation(Context& ctx, const StationCommand& command);
// `station --check`: each slot's name, programmers sharing a serial number or without one,
// whether each link opens and with the short latency timer, or is held by another program.
// 0 when every slot opens, else 3 (4 when the only trouble is a held programmer).
int CmdStationCheck(Context& ctx, const StationCommand& command);

}  // namespace zelto::cli
