// SPDX-License-Identifier: MIT
// `zeltoctl walk`: a walk test. Report mode on, the signal, the detections and any stretch
// without reports recorded while the installer walks through the sensor's field, report mode
// off at the end, then a one-line summary and, if asked for, the HTML report (with the
// --note notes), the CSV rows and a record in the commissioning log. `zeltoctl report`: the page of a batch from the log.
#pragma once

#include <string>

#include "cli/commands.h"

namespace zelto::cli {

struct WalkOptions {
  double seconds = 0;  // <= 0: until interrupted
  std::string report_path;
  std::string csv_path;
  std::string lang = "en";
};

// Writes `text` as the whole of the file `path` (UTF-8); false with the reason in `error`.
bool WriteWhole(const std::string& path, const std::string& text, std::string& error);

int CmdWalk(Context& ctx, const WalkOptions& options);
int CmdReport(Context& ctx, const std::string& log_path, const std::string& html_path,
              const std::string& lang);

}  // namespace zelto::cli
