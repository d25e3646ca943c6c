// SPDX-License-Identifier: MIT
// The profile reader under arbitrary file contents: profiles are edited by hand and passed
// around by mail, so anything may arrive. It must answer with a profile or a reason, never
// throw or crash, and a profile it accepts must come back the same through its own writer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/records.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto profile = zelto::cli::ProfileFromJson(text, error);
  if (!profile) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  bool any = false;
  for (const auto& wire : profile->wire) any = any || wire.has_value();
  FUZZ_CHECK(any);
  std::string again_error;
  const auto again = zelto::cli::ProfileFromJson(zelto::cli::ProfileToJson(*profile), again_error);
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(again->wire == profile->wire);
  return 0;
}
