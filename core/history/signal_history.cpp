// SPDX-License-Identifier: MIT
#include "core/history/signal_history.h"

#include <algorithm>
#include <cstdio>

namespace zelto {

namespace {

void Merge(HistorySpan& span, std::uint16_t level, std::uint16_t peak, bool detected,
           bool report) {
  if (!span.covered) {
    span.covered = true;
    span.level_min = span.level_max = level;
    span.peak_max = peak;
  } else {
    span.level_min = std::min(span.level_min, level);
    span.level_max = std::max(span.level_max, level);
    span.peak_max = std::max(span.peak_max, peak);
  }
  span.detected = span.detected || detected;
  if (report && span.reports < 0xFFFF) ++span.reports;
}

void MergeSpan(HistorySpan& into, const HistorySpan& from) {
  if (!from.covered) return;
  Merge(into, from.level_min, from.peak_max, from.detected, false);
  Merge(into, from.level_max, from.peak_max, from.detected, false);
  into.reports = static_cast<std::uint16_t>(std::min(0xFFFF, into.reports + from.reports));
}

void AppendRow(std::string& out, double seconds, unsigned level, bool detected) {
  char line[64];
  std::snprintf(line, sizeof(line), "%.3f,%u,%d\n", seconds, level, detected ? 1 : 0);
  out += line;
}

}  // namespace

SignalHistory::SignalHistory() : bucket_ring_(kBucketCapacity) {}

void SignalHistory::Clear() {
  serial_.clear();
  start_ms_ = last_ms_ = 0;
  samples_.Clear();
  buckets_ = 0;
  bucket_ms_ = kFirstBucketMs;
  markers_.Clear();
  ++revision_;
}

void SignalHistory::BeginSensor(const std::string& serial, std::int64_t now_ms) {
  if (serial == serial_ && !Empty() && now_ms - last_ms_ <= kShortLossMs) return;
  Clear();
  serial_ = serial;
  start_ms_ = last_ms_ = now_ms;
}

void SignalHistory::AddReport(std::int64_t at_ms, std::uint16_t level, std::uint16_t peak,
                              bool detected) {
  // Time never runs backwards here, so both rings stay sorted.
  at_ms = std::max(at_ms, std::max(last_ms_, start_ms_));
  const HistorySample sample{at_ms, level, peak, detected};
  samples_.Push(sample);
  AddToBuckets(sample);
  last_ms_ = at_ms;
  ++revision_;
}

void SignalHistory::AddToBuckets(const HistorySample& sample) {
  std::int64_t index = (sample.at_ms - start_ms_) / bucket_ms_;
  while (index >= kBucketCapacity) {
    HalveBuckets();
    index = (sample.at_ms - start_ms_) / bucket_ms_;
  }
  while (buckets_ <= index) bucket_ring_[buckets_++] = HistorySpan{};
  Merge(bucket_ring_[index], sample.level, sample.peak, sample.detected, true);
}

void SignalHistory::HalveBuckets() {
  for (int i = 0; i < kBucketCapacity / 2; ++i) {
    HistorySpan merged = bucket_ring_[2 * i];
    MergeSpan(merged, bucket_ring_[2 * i + 1]);
    bucket_ring_[i] = merged;
  }
  buckets_ = (buckets_ + 1) / 2;
  bucket_ms_ *= 2;
}

void SignalHistory::AddMarker(std::int64_t at_ms, const RadarParams& before,
                              const RadarParams& after, int fields) {
  HistoryMarker marker;
  marker.at_ms = at_ms;
  for (int i = 0; i < std::min(fields, kParamCount); ++i)
    if (before.wire[i] != after.wire[i])
      marker.changes[marker.count++] =
          ParamChange{static_cast<ParamList>(i), before.wire[i], after.wire[i]};
  if (marker.count == 0) return;
  markers_.Push(marker);
  ++revision_;
}

void SignalHistory::Columns(std::int64_t from_ms, std::int64_t to_ms,
                            std::vector<HistorySpan>& out) const {
  std::fill(out.begin(), out.end(), HistorySpan{});
  const auto n = static_cast<std::int64_t>(out.size());
  if (n == 0 || to_ms <= from_ms) return;
  const std::int64_t range = to_ms - from_ms;
  // Rounded down, also before the range: a report just before it lies in column -1, not 0.
  auto column = [&](std::int64_t t) {
    return t >= from_ms ? (t - from_ms) * n / range : -1 - (from_ms - t - 1) * n / range;
  };
  auto in_range = [&](std::int64_t c) { return c >= 0 && c < n; };

  // Older than the recent reports: the buckets.
  const std::int64_t recent_from = SampleCount() > 0 ? Sample(0).at_ms : to_ms;
  for (int b = static_cast<int>(std::max<std::int64_t>(0, (from_ms - start_ms_) / bucket_ms_));
       b < buckets_; ++b) {
    const std::int64_t begin = start_ms_ + b * bucket_ms_;
    const std::int64_t end = std::min(begin + bucket_ms_, recent_from);
    if (begin >= to_ms || begin >= recent_from) break;
    if (end <= from_ms || !bucket_ring_[b].covered) continue;
    const std::int64_t first = std::max<std::int64_t>(0, column(std::max(begin, from_ms)));
    const std::int64_t last = std::min(n - 1, column(std::min(end, to_ms) - 1));
    for (std::int64_t c = first; c <= last; ++c) MergeSpan(out[c], bucket_ring_[b]);
  }

  // The recent reports, from the last one before the range on.
  int lo = 0, hi = SampleCount();
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    if (Sample(mid).at_ms < from_ms) lo = mid + 1;
    else hi = mid;
  }
  for (int i = std::max(0, lo - 1); i < SampleCount(); ++i) {
    const HistorySample& s = Sample(i);
    if (s.at_ms >= to_ms) {
      // Still fills the columns up to the range's end when the step is no gap.
      if (i > 0 && s.at_ms - Sample(i - 1).at_ms <= kGapMs) {
        const HistorySample& p = Sample(i - 1);
        for (std::int64_t c = std::max<std::int64_t>(0, column(p.at_ms) + 1); c < n; ++c)
          Merge(out[c], p.level, p.peak, p.detected, false);
      }
      break;
    }
    const std::int64_t c = column(s.at_ms);
    if (in_range(c)) Merge(out[c], s.level, s.peak, s.detected, true);
    if (i == 0) continue;
    const HistorySample& p = Sample(i - 1);
    if (s.at_ms - p.at_ms > kGapMs) continue;
    // Columns between two reports: the level runs from one to the other, the LED keeps the
    // state of the earlier report until the next one.
    const std::int64_t pc = column(p.at_ms);
    for (std::int64_t k = std::max<std::int64_t>(0, pc + 1); k < std::min(c, n); ++k) {
      const std::int64_t t = from_ms + (k * range + n - 1) / n;
      const std::int64_t dt = s.at_ms - p.at_ms;
      const auto level = static_cast<std::uint16_t>(
          dt > 0 ? p.level + (static_cast<std::int64_t>(s.level) - p.level) * (t - p.at_ms) / dt
                 : s.level);
      Merge(out[k], level, p.peak, p.detected, false);
    }
  }
}

std::string SignalHistory::Csv(std::int64_t from_ms, std::int64_t to_ms) const {
  std::string out = "time_s,level,detected\n";
  const std::int64_t recent_from = SampleCount() > 0 ? Sample(0).at_ms : last_ms_ + 1;
  for (int b = 0; b < buckets_; ++b) {
    const std::int64_t begin = start_ms_ + b * bucket_ms_;
    if (begin >= recent_from || begin > to_ms) break;
    const HistorySpan& bucket = bucket_ring_[b];
    if (begin + bucket_ms_ <= from_ms || !bucket.covered) continue;
    AppendRow(out, (begin - start_ms_) / 1000.0, bucket.level_max, bucket.detected);
  }
  for (int i = 0; i < SampleCount(); ++i) {
    const HistorySample& s = Sample(i);
    if (s.at_ms < from_ms) continue;
    if (s.at_ms > to_ms) break;
    AppendRow(out, (s.at_ms - start_ms_) / 1000.0, s.level, s.detected);
  }
  return out;
}

std::string MarkerText(const HistoryMarker& marker,
                       const std::array<std::string, kStringTableSize>& table) {
  std::string text;
  for (int i = 0; i < marker.count; ++i) {
    const ParamChange& change = marker.changes[i];
    if (!text.empty()) text += ", ";
    const std::string& caption = table[ParamCaption(change.list)];
    text += caption.empty() ? ParamFields()[change.list].name : caption;
    // Appended piece by piece: GCC 12 at -O3 takes " " + a temporary for an overlapping copy
    // (-Wrestrict) and fails the optimised builds with warnings as errors.
    text += ' ';
    text += FormatParamValue(change.list, change.from);
    text += "->";
    text += FormatParamValue(change.list, change.to);
  }
  return text;
}

}  // namespace zelto
