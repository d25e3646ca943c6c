// SPDX-License-Identifier: MIT
// StringTable.txt: the language texts of every caption, label and list item, one numbered
// entry per block, one line per language.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/text/text_id.h"

namespace zelto {

constexpr int kStringTableSize = 201;  // entries 0..200

inline constexpr char kStringTableFile[] = "StringTable.txt";
inline constexpr char kFatalStringTableMessage[] =
    "Unable to find file \"StringTable.txt\", the application will be terminated";
inline constexpr char kProgramTitle[] = "ZeltoSoft";

// Fills table from the file's bytes for the given language; returns false on any of the
// fatal causes (the caller then shows the fatal message and ends the program).
//
// Lines end with CR LF or a lone CR; a lone LF is part of the line's text. A line whose first
// seven characters are "#STRING" starts an entry; the rest of the line is its number (a 16-bit
// decimal with optional blanks around it; above 200 means 200). The following text lines are
// counted from 0 and the one whose count equals language becomes the entry's text, exactly as
// read. Lines before the first header belong to entry 0. Entries the file does not give keep
// their previous text.
//
// Fatal: a header number that is empty, not a number or outside -32768..32767; a text line
// of the selected language under a negative entry number; more than 32767 text lines under
// one header. On a fatal cause table is left exactly as it was.
// Where a fatal file went wrong: the line (counted from 1) and why.
struct StringTableFault {
  long line = 0;
  std::string reason;
};

bool ParseStringTable(std::string_view contents, int language,
                      std::array<std::string, 201>& table, StringTableFault* fault = nullptr);

// The diagnostics category of the string table's warnings.
inline constexpr char kStringTableCategory[] = "zelto.strings";

// Reads the file (binary, whole) and parses it; false when it cannot be opened/read too. A
// failure is also given as a warning naming the file and, for a malformed one, the line.
bool LoadStringTable(const std::filesystem::path& file, int language,
                     std::array<std::string, 201>& table);

// Reads a whole file as bytes. False when it cannot be opened or a read fails (a folder, a
// device error); contents then holds nothing useful. Shared with the parameter file.
bool ReadWholeFile(const std::filesystem::path& file, std::string& contents);

// The texts of one language: what the windows show, looked up by name.
class StringTable {
 public:
  // Loads the language's texts from the file; on failure the texts are left as they were.
  bool Load(const std::filesystem::path& file) {
    return LoadStringTable(file, language_, entries_);
  }
  // The language read from and written to the parameter file: 0 Italian, 1 English (the
  // file may hold any 16-bit number; lines of a language the file lacks are simply missing).
  int Language() const { return language_; }
  void SetLanguage(int language) { language_ = language; }

  const std::string& operator[](Text::Id id) const { return entries_[id]; }
  const std::array<std::string, kStringTableSize>& Entries() const { return entries_; }

 private:
  int language_ = 0;
  std::array<std::string, kStringTableSize> entries_;
};

}  // namespace zelto
