// SPDX-License-Identifier: MIT
// The commissioning-log reader under arbitrary file contents (CSV and JSON lines that
// spreadsheets, scripts and hands have touched). It never throws or crashes, and every line
// that holds something is either a record, a CSV header or counted as skipped.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "cli/walk_report.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream in(text);
  int skipped = -1;
  const std::vector<zelto::cli::LogEntry> entries = zelto::cli::ReadCommissioningLog(in, skipped);
  std::size_t lines = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (!line.empty() && line != "\r") ++lines;
    start = end + 1;
  }
  FUZZ_CHECK(skipped >= 0);
  FUZZ_CHECK(entries.size() + static_cast<std::size_t>(skipped) <= lines);
  // Whatever a record holds came from its own line.
  for (const auto& e : entries) FUZZ_CHECK(e.serial.size() + e.result.size() <= size);
  return 0;
}
