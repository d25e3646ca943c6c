// SPDX-License-Identifier: MIT
// The signal history of one sensor: every signal report (level, held peak, detection) and
// every parameter change the sensor acknowledged, in fixed-size rings, so that a walk test
// can be looked at afterwards and memory stays the same over a day of streaming.
//
// Two rings of reports: the recent ones as they came (enough for the shorter ranges and for
// saving them), and the whole session in time buckets whose width doubles whenever the ring
// is full. A stretch longer than kGapMs without a report is a gap: drawn as no line, saved
// as no rows.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/protocol/radar_params.h"
#include "core/ports/param_list.h"
#include "core/text/string_table.h"

namespace zelto {

struct HistorySample {
  std::int64_t at_ms = 0;
  std::uint16_t level = 0;
  std::uint16_t peak = 0;  // the held peak as the window showed it with this report
  bool detected = false;   // the LED
};

// Reports summed over a stretch of time (one bucket, or one column of a chart).
struct HistorySpan {
  std::uint16_t level_min = 0;
  std::uint16_t level_max = 0;
  std::uint16_t peak_max = 0;
  std::uint16_t reports = 0;  // saturates; 0: no report in this stretch
  bool detected = false;      // the LED was lit at some report in it
  bool covered = false;       // reports came here (or close enough on both sides)
};

struct ParamChange {
  ParamList list = kSensitivity;
  std::uint8_t from = 0;  // wire values
  std::uint8_t to = 0;
};

// A parameter write the sensor acknowledged, with the fields it changed.
struct HistoryMarker {
  std::int64_t at_ms = 0;
  std::array<ParamChange, kParamCount> changes{};
  int count = 0;
};

// The newest `capacity` items; pushing onto a full ring drops the oldest.
template <class T>
class FixedRing {
 public:
  explicit FixedRing(int capacity) : items_(static_cast<std::size_t>(capacity)) {}
  void Push(const T& item) {
    const int capacity = static_cast<int>(items_.size());
    items_[(head_ + size_) % capacity] = item;
    if (size_ < capacity) ++size_;
    else head_ = (head_ + 1) % capacity;
  }
  void Clear() { head_ = size_ = 0; }
  int Size() const { return size_; }
  // Oldest first.
  const T& operator[](int i) const { return items_[(head_ + i) % items_.size()]; }

 private:
  std::vector<T> items_;
  int head_ = 0;
  int size_ = 0;
};

class SignalHistory {
 public:
  static constexpr int kSampleCapacity = 8192;  // 13 min of reports at 10 per second
  static constexpr int kBucketCapacity = 2048;
  static constexpr std::int64_t kFirstBucketMs = 1000;
  static constexpr int kMarkerCapacity = 256;
  // Longer than this without a report is a gap (the sensor reports ten times a second).
  static constexpr std::int64_t kGapMs = 1000;
  // The same sensor back within this time continues its session; later, it starts anew.
  static constexpr std::int64_t kShortLossMs = 5 * 60 * 1000;

  SignalHistory();

  // The reports from now on come from the sensor with this serial number. Another serial,
  // or the same one after more than kShortLossMs without reports, starts a new session.
  void BeginSensor(const std::string& serial, std::int64_t now_ms);
  void AddReport(std::int64_t at_ms, std::uint16_t level, std::uint16_t peak, bool detected);
  // A write the sensor acknowledged: `before` as the sensor held it, `after` as written.
  // Fields beyond `fields` (5 without the height) are not compared. Nothing is kept when
  // nothing changed.
  void AddMarker(std::int64_t at_ms, const RadarParams& before, const RadarParams& after,
                 int fields);
  void Clear();

  const std::string& Serial() const { return serial_; }
  bool Empty() const { return samples_.Size() == 0; }
  std::int64_t SessionStartMs() const { return start_ms_; }
  std::int64_t LastReportMs() const { return last_ms_; }
  // Grows with every change; a view repaints only when it moved or time did.
  std::uint64_t Revision() const { return revision_; }

  // The recent reports, oldest first.
  int SampleCount() const { return samples_.Size(); }
  const HistorySample& Sample(int i) const { return samples_[i]; }
  // The whole session: bucket i covers [SessionStartMs() + i * BucketMs(), + BucketMs()).
  int BucketCount() const { return buckets_; }
  const HistorySpan& Bucket(int i) const { return bucket_ring_[i]; }
  std::int64_t BucketMs() const { return bucket_ms_; }
  // Markers, oldest first.
  int MarkerCount() const { return markers_.Size(); }
  const HistoryMarker& Marker(int i) const { return markers_[i]; }

  // [from_ms, to_ms) cut into `columns` equal columns, from the recent reports where they
  // reach back that far, else from the buckets. A column between two reports closer than
  // kGapMs is covered even when no report falls into it.
  void Columns(std::int64_t from_ms, std::int64_t to_ms, std::vector<HistorySpan>& out) const;

  // The rows a chart of [from_ms, to_ms] saves, in the columns of `zeltoctl monitor --csv`
  // (time_s,level,detected; time from the start of the session). Where the recent reports
  // no longer reach, one row per bucket with its highest level.
  std::string Csv(std::int64_t from_ms, std::int64_t to_ms) const;

 private:
  void AddToBuckets(const HistorySample& sample);
  void HalveBuckets();

  std::string serial_;
  std::int64_t start_ms_ = 0;
  std::int64_t last_ms_ = 0;
  std::uint64_t revision_ = 0;
  FixedRing<HistorySample> samples_{kSampleCapacity};
  std::vector<HistorySpan> bucket_ring_;
  int buckets_ = 0;
  std::int64_t bucket_ms_ = kFirstBucketMs;
  FixedRing<HistoryMarker> markers_{kMarkerCapacity};
};

// "Sensitivity 5->7, Relay ON time [s] 1->1.5" with the parameters' captions from the
// string table (57-62) and their plain numbers; 8-bit text like the table.
std::string MarkerText(const HistoryMarker& marker,
                       const std::array<std::string, kStringTableSize>& table);

}  // namespace zelto
