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
};

int CmdStation(Context& ctx, const StationCommand& command);

}  // namespace zelto::cli
