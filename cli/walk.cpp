// SPDX-License-Identifier: MIT
#include "cli/walk.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <limits>

#include "cli/platform.h"
#include "cli/walk_report.h"
#include "core/history/signal_history.h"
#include "core/text/cp1252.h"

namespace zelto::cli {

namespace {

// The held peak as the radar window shows it: a new maximum at once, held for 2 s, then the
// level of that moment.
constexpr std::int64_t kPeakHoldMs = 2000;

std::optional<RadarParams> ReadBack(Session& s) {
  ParamsDecode reply;
  if (s.ReadParams(reply) != Outcome::kOk) return std::nullopt;
  return reply.params;
}

}  // namespace

bool WriteWhole(const std::string& path, const std::string& text, std::string& error) {
  std::ofstream out(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
  if (out) out << text;
  if (out) out.flush();
  if (!out) error = "cannot write " + path;
  return static_cast<bool>(out);
}

int CmdWalk(Context& ctx, const WalkOptions& options) {
  Session s(ctx.driver, ctx.loop, ctx.session);
  if (const int code = OpenSensor(ctx, s); code != kExitOk) return code;
  const SensorIdentity& st = s.Identity();
  WalkRecord walk;
  walk.serial = st.serial;
  walk.hw = st.hw_version;
  walk.fw = st.fw_version;
  walk.notes = ctx.notes;
  walk.before = ReadBack(s);

  SignalHistory history;
  walk.history = &history;
  walk.started = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  const std::string started_utc = ctx.now_utc();
  const std::int64_t start = ctx.loop.NowMs();
  walk.from_ms = start;
  history.BeginSensor(st.serial, start);
  std::uint16_t peak = 0;
  std::int64_t peak_until = 0;
  s.OnSignal([&](const SignalSample& sample) {
    if (sample.level > peak || sample.at_ms >= peak_until) {
      peak = sample.level;
      peak_until = sample.at_ms + kPeakHoldMs;
    }
    history.AddReport(sample.at_ms, sample.level, peak, sample.detected);
  });

  int code = kExitOk;
  if (const Outcome o = s.SetReportMode(2); o != Outcome::kOk) {
    ctx.err << "zeltoctl: starting report mode: " << OutcomeText(o) << "\n";
    code = ExitFor(o);
  } else {
    if (!ctx.quiet) {
      ctx.out << "walk test: walk through the sensor's field now"
              << (options.seconds > 0 ? "" : " (Ctrl-C to end)") << "\n";
      ctx.out.flush();
    }
    // Unlike monitor, a stretch without reports does not end the walk: it is what the
    // report must show.
    const std::int64_t limit = options.seconds > 0
                                   ? static_cast<std::int64_t>(options.seconds * 1000)
                                   : std::numeric_limits<std::int64_t>::max() / 4;
    const Wait w = ctx.loop.RunUntil([&] { return s.LinkLost(); }, limit);
    if (w == Wait::kInterrupted) {
      code = kExitInterrupted;
    } else if (s.LinkLost()) {
      ctx.err << "zeltoctl: " << OutcomeText(Outcome::kLinkLost) << "\n";
      code = kExitSensor;
    }
  }
  s.OnSignal(nullptr);
  walk.to_ms = ctx.loop.NowMs();
  // Read back at the end too, unless the sensor or the user is gone.
  if (code == kExitOk) walk.after = ReadBack(s);
  s.Close();

  walk.summary = SummarizeWalk(history, walk.from_ms, walk.to_ms);
  if (code == kExitOk && walk.summary.reports == 0) {
    ctx.err << "zeltoctl: the sensor sent no signal reports\n";
    code = kExitSensor;
  }
  ctx.out << "walk test: " << SummaryLine(walk.summary) << "\n";

  std::string error;
  if (!options.csv_path.empty() &&
      !WriteWhole(options.csv_path, history.Csv(walk.from_ms, walk.to_ms), error)) {
    ctx.err << "zeltoctl: " << error << "\n";
    if (code == kExitOk) code = kExitFailure;
  }
  if (!options.report_path.empty() &&
      !WriteWhole(options.report_path, WalkReportHtml(walk, ctx.strings, options.lang), error)) {
    ctx.err << "zeltoctl: " << error << "\n";
    if (code == kExitOk) code = kExitFailure;
  }
  if (!ctx.log_path.empty() || ctx.store != nullptr) {
    CommissionRecord rec;
    rec.time_utc = started_utc;
    rec.started_utc = started_utc;
    rec.command = "walk";
    rec.adapter = s.AdapterSerial();
    rec.serial = walk.serial;
    rec.hw = walk.hw;
    rec.fw = walk.fw;
    rec.before = walk.before;
    rec.after = walk.after;
    // Verified: the sensor kept its parameters through the walk and reported all along.
    rec.verified = walk.before && walk.after && *walk.before == *walk.after &&
                   walk.summary.without_reports_ms == 0;
    rec.result = SummaryLine(walk.summary);
    rec.notes = ctx.notes;
    if (!WriteRecord(ctx, rec) && code == kExitOk) code = kExitFailure;
  }
  return code;
}

int CmdReport(Context& ctx, const std::string& log_path, const std::string& html_path,
              const std::string& lang) {
  int skipped = 0;
  const auto entries = ReadCommissioningLog(log_path, skipped);
  if (!entries) {
    ctx.err << "zeltoctl: cannot read the log " << log_path << "\n";
    return kExitFailure;
  }
  if (skipped > 0)
    ctx.err << "zeltoctl: warning: " << skipped << " line(s) of " << log_path
            << " are not records and were left out\n";
  std::string error;
  if (!WriteWhole(html_path, BatchReportHtml(*entries, log_path, ctx.strings, lang), error)) {
    ctx.err << "zeltoctl: " << error << "\n";
    return kExitFailure;
  }
  ctx.out << html_path << ": " << entries->size() << " record(s)\n";
  return kExitOk;
}

}  // namespace zelto::cli
