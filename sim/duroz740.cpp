#include "sim/duroz740.h"

#include <algorithm>

namespace zelto::sim {

namespace {

// Reports that would only pile up in a driver buffer nobody reads are not made: after a
// longer gap the stream resumes at the present.
constexpr std::int64_t kMaxBacklogMs = 10000;

// About one walk in 125 reports, about every 12 s at the usual rate.
constexpr std::uint32_t kWalkChancePerMille = 8;

}  // namespace

Duroz740::Duroz740(std::string_view serial, std::uint16_t hw, std::uint16_t fw,
                   std::uint32_t seed)
    : Device(MakeIdentity(kId, serial, hw, fw)), rng_(seed) {}

int Duroz740::ParamCount() const {
  return Identity().fw >= kHeightFirmware ? kMaxParams : kMaxParams - 1;
}

void Duroz740::RefuseValue(int param, std::uint8_t value) {
  if (value < 32) refused_[Index(param)] |= 1u << value;
}

void Duroz740::RefuseAllValues(int param) { refused_[Index(param)] = ~0u; }

void Duroz740::ClearRefusals() { refused_.fill(0); }

void Duroz740::ReplyOtherValue(int param, std::uint8_t value) {
  other_value_[Index(param)] = value;
}

void Duroz740::ClearOtherValues() { other_value_.fill(-1); }

void Duroz740::Restart() {
  mode_ = 0;
  walk_length_ = 0;
  ++restarts_;
}

std::uint16_t Duroz740::ThresholdFor(int sensitivity) {
  const int s = std::clamp(sensitivity, 1, 9);
  return static_cast<std::uint16_t>(1000 + (9 - s) * 1000);
}

void Duroz740::WalkPast(std::uint16_t peak, int duration_ms) {
  walk_length_ = std::max(2, duration_ms / report_period_ms_);
  walk_step_ = 0;
  walk_peak_ = peak;
}

void Duroz740::OnMessage(std::int64_t now_ms, const DecodedFrame& message, ReplySink& out) {
  Advance(now_ms, out);
  const std::int64_t at = now_ms + ReplyDelayMs();
  switch (message.code) {
    case kReadParamsRequest: {
      std::array<std::uint8_t, kMaxParams> reply{};
      for (int i = 0; i < kMaxParams; ++i)
        reply[i] = other_value_[i] >= 0 ? static_cast<std::uint8_t>(other_value_[i]) : params_[i];
      ++counters_.reads;
      out.Send(at, kParamsReply, reply.data(), static_cast<std::size_t>(ParamCount()));
      return;
    }
    case kWriteParamsRequest: {
      // Takes what it can of the values given; a short write changes only the first ones.
      // The acknowledgement carries one bit per value it did not take.
      std::uint8_t refused_mask = 0;
      const std::size_t n = std::min<std::size_t>(message.count, ParamCount());
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t v = message.payload[i];
        // The value it already holds is never refused: there is nothing to change.
        const bool refused = v != params_[i] && (v < kMin[i] || v > kMax[i] ||
                                                 (v < 32 && (refused_[i] >> v & 1u) != 0));
        if (refused) {
          refused_mask |= static_cast<std::uint8_t>(1u << i);
          ++counters_.refused_values;
        } else {
          params_[i] = v;
        }
      }
      ++counters_.writes;
      out.Send(at, kWriteParamsAck, &refused_mask, 1);
      return;
    }
    case kReportModeRequest: {
      if (message.count < 1) {
        ++counters_.unknown;
        return;
      }
      const std::uint8_t mode = message.payload[0];
      if (mode == 2 && mode_ != 2) next_report_ms_ = now_ms + report_period_ms_;
      mode_ = mode;
      ++counters_.mode_requests;
      out.Send(at, kReportModeAck, &mode, 1);
      return;
    }
    default:
      ++counters_.unknown;
      return;
  }
}

void Duroz740::Advance(std::int64_t now_ms, ReplySink& out) {
  if (mode_ != 2) return;
  if (now_ms - next_report_ms_ > kMaxBacklogMs) {
    const std::int64_t skipped = (now_ms - next_report_ms_ - kMaxBacklogMs) / report_period_ms_ + 1;
    next_report_ms_ += skipped * report_period_ms_;
  }
  for (; next_report_ms_ <= now_ms; next_report_ms_ += report_period_ms_) {
    if (Silent()) continue;
    NextLevel();
    const std::uint8_t report[4] = {2, static_cast<std::uint8_t>(last_level_ >> 8),
                                    static_cast<std::uint8_t>(last_level_ & 0xFF),
                                    static_cast<std::uint8_t>(last_status_ ? 1 : 0)};
    ++counters_.reports;
    out.Send(next_report_ms_, kSignalReport, report, sizeof report);
  }
}

void Duroz740::NextLevel() {
  // A quiet room: a few hundred counts of noise.
  std::uint32_t level = 120 + rng_() % 360;
  if (walk_length_ == 0 && rng_() % 1000 < kWalkChancePerMille) {
    walk_length_ = 15 + static_cast<int>(rng_() % 26);  // 1.5 to 4 s
    walk_step_ = 0;
    walk_peak_ = 2500 + rng_() % 13500;
  }
  if (walk_length_ > 0) {
    // Rises and falls as a parabola over the walk, in integers so every build agrees.
    const std::uint64_t k = static_cast<std::uint64_t>(walk_step_) + 1;
    const std::uint64_t n = static_cast<std::uint64_t>(walk_length_) + 1;
    level += static_cast<std::uint32_t>(walk_peak_ * 4 * k * (n - k) / (n * n));
    if (++walk_step_ >= walk_length_) walk_length_ = 0;
  }
  last_level_ = static_cast<std::uint16_t>(std::min<std::uint32_t>(level, 0xFFFF));
  last_status_ = last_level_ > Threshold();
}

}  // namespace zelto::sim
