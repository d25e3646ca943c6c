// SPDX-License-Identifier: MIT
// The string table loader under arbitrary file contents, for each language index the program
// can hold after start-up (Italian, English, and a stored 2 that selects a third text line).
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/text/string_table.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view contents(reinterpret_cast<const char*>(data), size);
  for (std::int16_t language : {0, 1, 2}) {
    // Texts from an earlier load, which a failed or partial load must leave in place.
    std::array<std::string, 201> table;
    for (std::size_t n = 0; n < table.size(); ++n) table[n] = "\x01previous " + std::to_string(n);
    const std::array<std::string, 201> before = table;

    if (!zelto::ParseStringTable(contents, language, table)) {
      FUZZ_CHECK(table == before);
      continue;
    }
    for (std::size_t n = 0; n < table.size(); ++n) {
      if (table[n] == before[n]) continue;
      // A new text is one whole line of the file: never a line end, never made up.
      FUZZ_CHECK(table[n].find('\r') == std::string::npos);
      FUZZ_CHECK(contents.find(table[n]) != std::string_view::npos);
    }
  }
  return 0;
}
