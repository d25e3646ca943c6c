// SPDX-License-Identifier: MIT
// The batch page `zeltoctl report LOG --html` writes, from an arbitrary log. Whatever the
// log holds, the page carries no markup the log put there: its tags are exactly those of the
// page made from the same records with every character that could open or close markup
// replaced by a letter. Its size stays in proportion to the log's.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "cli/walk_report.h"
#include "fuzz/fuzz_check.h"

namespace {

std::string Harmless(std::string text) {
  for (char& c : text)
    if (c == '<' || c == '>' || c == '&' || c == '"' || c == '\'') c = 'x';
  return text;
}

// The tags of a page, in order, as written.
std::vector<std::string> Tags(const std::string& page) {
  std::vector<std::string> tags;
  for (std::size_t open = page.find('<'); open != std::string::npos;
       open = page.find('<', open + 1)) {
    const std::size_t close = page.find('>', open);
    tags.push_back(page.substr(open, close == std::string::npos ? close : close - open + 1));
  }
  return tags;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream in(text);
  int skipped = 0;
  const std::vector<zelto::cli::LogEntry> entries = zelto::cli::ReadCommissioningLog(in, skipped);
  std::vector<zelto::cli::LogEntry> plain = entries;
  for (zelto::cli::LogEntry& e : plain) {
    for (std::string* field : {&e.time_utc, &e.command, &e.adapter, &e.serial, &e.hw, &e.fw,
                               &e.before, &e.after, &e.result, &e.notes})
      *field = Harmless(*field);
  }
  const zelto::cli::Strings strings{};
  const std::string name = "log <b>\"&'.csv";
  const std::string page = zelto::cli::BatchReportHtml(entries, name, strings, "en");
  const std::string plain_page = zelto::cli::BatchReportHtml(plain, Harmless(name), strings, "en");
  FUZZ_CHECK(Tags(page) == Tags(plain_page));
  FUZZ_CHECK(page.find("<script") == std::string::npos);
  FUZZ_CHECK(page.size() <= 16384 + 400 * size);
  return 0;
}
