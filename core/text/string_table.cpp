// SPDX-License-Identifier: MIT
#include "core/text/string_table.h"

#include <charconv>
#include <fstream>
#include <limits>
#include <string>

#include "core/ports/diagnostics.h"

namespace zelto {
namespace {

constexpr std::string_view kHeader = "#STRING";
constexpr std::int16_t kLastEntry = 200;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// The entry number after "#STRING": optional blanks, an optional sign, decimal digits,
// optional blanks, and nothing else. False for anything else or a value outside int16_t.
bool ParseEntryNumber(std::string_view rest, std::int16_t& number) {
  while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
  while (!rest.empty() && IsBlank(rest.back())) rest.remove_suffix(1);
  // from_chars takes a leading '-' but not '+'; "+-1" must still be rejected.
  if (!rest.empty() && rest.front() == '+') {
    rest.remove_prefix(1);
    if (rest.empty() || rest.front() == '-') return false;
  }
  if (rest.empty()) return false;
  std::int16_t value = 0;
  const char* const end = rest.data() + rest.size();
  const auto [ptr, ec] = std::from_chars(rest.data(), end, value);
  if (ec != std::errc() || ptr != end) return false;
  number = value;
  return true;
}

// Splits off the next line. CR LF and a lone CR end a line; a lone LF stays in the text.
// Returns false when no line is left, so that a file ending with a line end has no extra
// empty last line.
bool NextLine(std::string_view& rest, std::string_view& line) {
  if (rest.empty()) return false;
  const auto cr = rest.find('\r');
  if (cr == std::string_view::npos) {
    line = rest;
    rest = {};
    return true;
  }
  line = rest.substr(0, cr);
  std::size_t skip = cr + 1;
  if (skip < rest.size() && rest[skip] == '\n') ++skip;
  rest.remove_prefix(skip);
  return true;
}

}  // namespace

bool ParseStringTable(std::string_view contents, int language,
                      std::array<std::string, 201>& table, StringTableFault* fault) {
  // Work on a copy so that a fatal file leaves the table as it was.
  std::array<std::string, 201> result = table;
  std::int16_t entry = 0;
  std::int32_t text_line = 0;  // counted per header; more than int16_t holds is fatal
  long line_number = 0;
  auto fail = [&](const char* reason) {
    if (fault != nullptr) *fault = StringTableFault{line_number, reason};
    return false;
  };

  std::string_view rest = contents;
  std::string_view line;
  while (NextLine(rest, line)) {
    ++line_number;
    if (line.substr(0, kHeader.size()) == kHeader) {
      std::int16_t number = 0;
      if (!ParseEntryNumber(line.substr(kHeader.size()), number))
        return fail("the entry number is not a 16-bit decimal number");
      entry = number > kLastEntry ? kLastEntry : number;
      text_line = 0;
      continue;
    }
    if (text_line == language) {
      if (entry < 0) return fail("a text of the chosen language under a negative entry number");
      result[static_cast<std::size_t>(entry)] = std::string(line);
    }
    if (text_line == std::numeric_limits<std::int16_t>::max())
      return fail("more than 32767 text lines under one entry");
    ++text_line;
  }
  table = std::move(result);
  return true;
}

bool ReadWholeFile(const std::filesystem::path& file, std::string& contents) {
  contents.clear();
  try {
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) return false;
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
      contents.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    // End of file sets eof and fail; a read error (a folder, an I/O error) sets bad.
    return in.eof() && !in.bad();
  } catch (...) {
    return false;
  }
}

bool LoadStringTable(const std::filesystem::path& file, int language,
                     std::array<std::string, 201>& table) {
  // The message box names only the file; whoever looks at a terminal or a log learns where
  // it lies and, for a file that is there, which line is at fault.
  std::string contents;
  if (!ReadWholeFile(file, contents)) {
    DiagWarning(kStringTableCategory, file.string() + ": cannot be read");
    return false;
  }
  StringTableFault fault;
  if (ParseStringTable(contents, language, table, &fault)) return true;
  DiagWarning(kStringTableCategory,
              file.string() + ":" + std::to_string(fault.line) + ": " + fault.reason);
  return false;
}

}  // namespace zelto
