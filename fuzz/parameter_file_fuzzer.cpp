// SPDX-License-Identifier: MIT
// The parameter file reader under arbitrary file contents.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "core/text/parameter_file.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view contents(reinterpret_cast<const char*>(data), size);
  // Read twice with different languages already set: the result either comes from the file
  // alone, or the file left the language alone (a second field that is not a 16-bit number).
  std::int16_t a = 7;
  std::int16_t b = -9;
  zelto::ParseParameterFile(contents, a);
  zelto::ParseParameterFile(contents, b);
  FUZZ_CHECK(a == b || (a == 7 && b == -9));
  // Without the header text anywhere the file is foreign: Italian.
  if (contents.find(zelto::kParameterFileHeader) == std::string_view::npos) {
    FUZZ_CHECK(a == 0 && b == 0);
  }
  return 0;
}
