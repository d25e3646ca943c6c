// SPDX-License-Identifier: MIT
#include "core/text/parameter_file.h"

#include <charconv>
#include <fstream>
#include <string>
#include <system_error>

#include "core/text/string_table.h"

namespace zelto {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsLineEnd(char c) {
  return c == '\r' || c == '\n';
}

// Steps over the separator at the front of rest: a comma, or a line end, where CR LF counts
// as one.
void SkipSeparator(std::string_view& rest) {
  if (rest.empty()) return;
  if (rest.front() == '\r' && rest.size() > 1 && rest[1] == '\n') {
    rest.remove_prefix(2);
  } else {
    rest.remove_prefix(1);
  }
}

// Reads the next field off rest. False when the data is used up (the field is missing).
bool NextField(std::string_view& rest, std::string_view& field) {
  if (rest.empty()) return false;
  std::size_t start = 0;
  while (start < rest.size() && IsBlank(rest[start])) ++start;

  if (start < rest.size() && rest[start] == '"') {
    const auto close = rest.find('"', start + 1);
    if (close == std::string_view::npos) {
      field = rest.substr(start + 1);
      rest = {};
      return true;
    }
    field = rest.substr(start + 1, close - start - 1);
    rest.remove_prefix(close + 1);
    // Anything between the closing mark and the separator is not part of the field.
    std::size_t sep = 0;
    while (sep < rest.size() && rest[sep] != ',' && !IsLineEnd(rest[sep])) ++sep;
    rest.remove_prefix(sep);
    SkipSeparator(rest);
    return true;
  }

  std::size_t end = start;
  while (end < rest.size() && rest[end] != ',' && !IsLineEnd(rest[end])) ++end;
  std::size_t last = end;
  while (last > start && IsBlank(rest[last - 1])) --last;
  field = rest.substr(start, last - start);
  rest.remove_prefix(end);
  SkipSeparator(rest);
  return true;
}

// A 16-bit signed decimal with an optional sign. False for anything else or out of range.
bool ParseInt16(std::string_view text, std::int16_t& value) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return false;
  }
  if (text.empty()) return false;
  std::int16_t parsed = 0;
  const char* const end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, parsed);
  if (ec != std::errc() || ptr != end) return false;
  value = parsed;
  return true;
}

}  // namespace

void ParseParameterFile(std::string_view contents, std::int16_t& language) {
  std::string_view rest = contents;
  std::string_view field;
  if (!NextField(rest, field) || field != kParameterFileHeader) {
    language = 0;
    return;
  }
  if (!NextField(rest, field) || field.empty()) {
    language = 0;
    return;
  }
  // Not a number, or too big for 16 bits: keep what the caller had.
  ParseInt16(field, language);
}

void ReadParameterFile(const std::filesystem::path& file, std::int16_t& language) {
  std::string contents;
  if (!ReadWholeFile(file, contents)) {
    language = 0;
    return;
  }
  ParseParameterFile(contents, language);
}

void WriteParameterFile(const std::filesystem::path& file, std::int16_t language) {
  try {
    std::filesystem::path temp = file;
    temp += ".tmp";
    // to_chars, not a stream's number formatting, so no locale can add grouping marks.
    char number[8];
    const auto [end, conv] = std::to_chars(number, number + sizeof number, language);
    if (conv != std::errc()) return;
    std::string text = "\"";
    text += kParameterFileHeader;
    text += "\"\r\n";
    text.append(number, end);
    text += "\r\n";

    std::error_code ec;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      if (!out.is_open()) {
        // No room for a second file here; the file itself may still be ours to rewrite.
        std::ofstream in_place(file, std::ios::binary | std::ios::trunc);
        if (in_place.is_open()) in_place << text;
        return;
      }
      out << text;
      out.close();
      if (!out) {
        std::filesystem::remove(temp, ec);
        return;
      }
    }
    std::filesystem::rename(temp, file, ec);
    if (ec) std::filesystem::remove(temp, ec);
  } catch (...) {
    // The language choice of this run is lost; nothing else is at stake.
  }
}

ParameterFileLocation LocateParameterFile(const std::filesystem::path& program_folder,
                                          bool installed, const char* xdg_config_home,
                                          const char* home) {
  std::filesystem::path config_home;
  // A relative XDG_CONFIG_HOME is invalid and must be ignored.
  if (xdg_config_home != nullptr && std::filesystem::path(xdg_config_home).is_absolute()) {
    config_home = xdg_config_home;
  } else if (home != nullptr && std::filesystem::path(home).is_absolute()) {
    config_home = std::filesystem::path(home) / ".config";
  }
  return LocateParameterFileIn(program_folder, installed, config_home);
}

ParameterFileLocation LocateParameterFileIn(const std::filesystem::path& program_folder,
                                            bool installed,
                                            const std::filesystem::path& config_home) {
  const std::filesystem::path beside = program_folder / kParameterFile;
  if (!installed || config_home.empty() || !config_home.is_absolute()) return {beside, beside};
  const std::filesystem::path own = config_home / "zeltosoft" / kParameterFile;
  std::error_code ec;
  const bool have_own = std::filesystem::exists(own, ec);
  return {have_own ? own : beside, own};
}

}  // namespace zelto
