// SPDX-License-Identifier: MIT
// The record the record-store benchmarks write: a station's PASS of unit i, as a slot of 32
// records it.
#pragma once

#include <string>

#include "cli/records.h"

namespace zelto::cli {

inline CommissionRecord SampleUnit(int i) {
  CommissionRecord r;
  r.command = "station";
  r.adapter = "ZP100000";
  r.hw = 0x102;
  r.fw = 0x200;
  r.before = zelto::RadarParams{};
  r.after = zelto::RadarParams{{7, 1, 2, 0, 0, 1}};
  r.verified = true;
  r.result = "verified";
  r.notes = {{"site", "hall 3"}};
  r.serial = "ZS" + std::to_string(10000000 + i);
  r.time_utc = r.started_utc = UtcNow();
  StationFields st;
  st.station = "line-1";
  st.slot = "ZP1000" + std::to_string(10 + i % 32);
  st.operator_name = "bench";
  st.version = "bench";
  st.profile_hash = "fnv1a64:0123456789abcdef";
  st.outcome = "PASS";
  for (int p = 0; p < 6; ++p) st.checks.push_back(ParamCheck{p, 5, 7, 7});
  r.station = st;
  return r;
}

}  // namespace zelto::cli
