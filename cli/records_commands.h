// SPDX-License-Identifier: MIT
// `zeltoctl records ...`: what the record store answers. A unit's whole history, the records
// that match a filter, the yield per station, slot and day, and exports: the CSV and JSON
// lines `--log` writes, and JUnit XML, the test-record shape factory test systems read.
#pragma once

#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/record_store.h"

namespace zelto::cli {

enum class ExportFormat { kCsv, kJsonl, kJunit };

// The whole text of an export of `records` (in their order). CSV: one header, the station's
// columns when any record is a station's (the others' rows then leave those empty). JUnit:
// one <testsuite> per unit (station records, and set/apply/verify/walk records), with the
// unit's serial, station, slot, start and end and outcome as properties and one <testcase>
// per parameter the profile names: its expected value, what was found and read back, and its
// own outcome (a <failure> when read back different, an <error> when never read back).
std::string ExportRecords(const std::vector<CommissionRecord>& records, ExportFormat format);

// Per day, station and slot: PASS, FAIL, ERROR and the yield, as an aligned table.
std::string YieldTable(const std::vector<CommissionRecord>& records);

// One line of a record as `records show` and `records list` print it.
std::string RecordLine(const CommissionRecord& record);

// `records show SERIAL`: every record of the serial (UTF-8, as printed), oldest first.
int CmdRecordsShow(Context& ctx, RecordStore& store, const std::string& serial);
// `records list`, `records yield`, `records export`: the records that match.
int CmdRecordsList(Context& ctx, RecordStore& store, const RecordFilter& filter);
int CmdRecordsYield(Context& ctx, RecordStore& store, const RecordFilter& filter);
// `output` empty: stdout.
int CmdRecordsExport(Context& ctx, RecordStore& store, const RecordFilter& filter,
                     ExportFormat format, const std::string& output);
// `report --html` from the store instead of a log file.
int CmdReportFromStore(Context& ctx, RecordStore& store, const RecordFilter& filter,
                       const std::string& html_path, const std::string& lang);

}  // namespace zelto::cli
