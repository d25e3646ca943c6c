// SPDX-License-Identifier: MIT
// Records whose texts a store must keep exactly as they are: quotes, semicolons and text
// that looks like SQL, LIKE's wildcards, a backslash, Windows-1252 bytes in the serial as a
// sensor sends them (among them the undefined 0x81), UTF-8 beyond it in notes and names.
// Every store's test runs these rows through it and compares what comes back.
#pragma once

#include <vector>

#include "cli/records.h"

namespace zelto::test {

inline std::vector<cli::CommissionRecord> AwkwardRecords() {
  using cli::CommissionRecord;
  std::vector<CommissionRecord> rows;
  auto station = [](const char* name, const char* slot, const char* outcome) {
    cli::StationFields s;
    s.station = name;
    s.slot = slot;
    s.operator_name = "Zoë O'Neil";
    s.version = "1.0";
    s.profile_hash = "fnv1a64:0123456789abcdef";
    s.outcome = outcome;
    s.checks.push_back({0, 5, 7, 7});
    s.checks.push_back({5, std::nullopt, 2, std::nullopt});
    return s;
  };
  CommissionRecord r;
  r.time_utc = "2026-12-09T01:02:03.045Z";
  r.command = "station";
  r.adapter = "ZP-01";
  r.serial = "O'Brien\"; DROP TABLE zelto_records; --";
  r.hw = 0x0101;
  r.fw = 0x0200;
  r.after = RadarParams{{7, 1, 2, 0, 0, 2}};
  r.verified = true;
  r.result = "verified";
  r.notes = {{"label", "a;b 'c' \"d\" $1 ?1"}, {"site", "Zürich – Halle 3 ☃"}};
  r.station = station("Line 1; \"A\"", "@0x0111", "PASS");
  rows.push_back(r);

  r.time_utc = "2026-12-09T01:02:04.000Z";
  r.serial = "\xC4\xD6\xDC\xDF\x80\x81";  // ÄÖÜß€ and the undefined 0x81, as the sensor sends
  r.notes = {{"operator", "Ødegård"}};
  r.result = "speed: wrote 2, sensor has 1";
  r.verified = false;
  r.station = station("Båthus", "ZP-02", "FAIL");
  rows.push_back(r);

  r = CommissionRecord{};
  r.time_utc = "2026-12-09T01:02:05.500Z";
  r.command = "set";
  r.adapter = "ZP-03";
  r.serial = "50%_\\x";
  r.before = RadarParams{};
  r.after = RadarParams{{9, 9, 2, 2, 1, 0}};
  r.verified = true;
  r.result = "verified";
  r.skipped = "height";
  r.notes = {{"label", "--'; SELECT 1; /*"}};
  rows.push_back(r);
  return rows;
}

}  // namespace zelto::test
