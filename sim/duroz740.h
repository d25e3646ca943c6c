// The simulated Duroz740 radar sensor behind the programmer: it keeps its parameters,
// acknowledges writes, and in report mode 2 streams signal reports of a quiet room that a
// person walks through now and then.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string_view>

#include "sim/device.h"

namespace zelto::sim {

class Duroz740 : public Device {
 public:
  static constexpr std::uint16_t kId = 257;
  static constexpr std::uint16_t kHeightFirmware = 0x0200;
  static constexpr int kMaxParams = 6;

  enum Param : int {
    kSensitivity = 0,  // 1..9
    kRelayTime = 1,    // half seconds, 1..9
    kSpeed = 2,        // 0..2
    kFilter = 3,       // 0..2
    kHighTraffic = 4,  // 0..1
    kHeight = 5,       // 0..2, firmware 0x0200 and later only
  };
  static constexpr std::array<std::uint8_t, kMaxParams> kMin{1, 1, 0, 0, 0, 0};
  static constexpr std::array<std::uint8_t, kMaxParams> kMax{9, 9, 2, 2, 1, 2};

  struct Counters {
    std::uint64_t reads = 0;           // ReadParamsRequest answered
    std::uint64_t writes = 0;          // WriteParamsRequest answered
    std::uint64_t refused_values = 0;  // values a write carried that were not taken
    std::uint64_t mode_requests = 0;   // ReportModeRequest answered
    std::uint64_t reports = 0;         // SignalReport sent
    std::uint64_t unknown = 0;         // messages of codes the sensor does not know
  };

  explicit Duroz740(std::string_view serial = "ZS74000001", std::uint16_t hw = 0x0102,
                    std::uint16_t fw = 0x0200, std::uint32_t seed = 740);

  // 6 with the installation height (firmware 0x0200 and later), else 5.
  int ParamCount() const;
  const std::array<std::uint8_t, kMaxParams>& Params() const { return params_; }
  std::uint8_t ParamValue(int param) const { return params_[Index(param)]; }
  // Sets a stored value directly, as if configured on the device itself.
  void SetParam(int param, std::uint8_t value) { params_[Index(param)] = value; }

  // The sensor keeps its own value when a write carries `value` for `param`.
  void RefuseValue(int param, std::uint8_t value);
  // The sensor keeps its own value whatever a write carries for `param`.
  void RefuseAllValues(int param);
  void ClearRefusals();
  // Parameter replies carry `value` for `param` instead of the stored one (which may be
  // outside the valid range, to exercise the program's checks).
  void ReplyOtherValue(int param, std::uint8_t value);
  void ClearOtherValues();

  // Starts again as after a power loss: the stored parameters stay, the report mode goes
  // back to 0 (no signal reports until the host asks again).
  void Restart();
  std::uint64_t Restarts() const { return restarts_; }

  std::uint8_t ReportMode() const { return mode_; }
  void SetReportPeriodMs(int ms) { report_period_ms_ = ms < 1 ? 1 : ms; }
  int ReportPeriodMs() const { return report_period_ms_; }
  // The level above which the status flag is set: higher sensitivity, lower threshold.
  static std::uint16_t ThresholdFor(int sensitivity);
  std::uint16_t Threshold() const { return ThresholdFor(params_[kSensitivity]); }
  // A person walks past, starting with the next report: the level rises to about `peak`
  // above the room's noise and falls back over `duration_ms`.
  void WalkPast(std::uint16_t peak, int duration_ms);
  std::uint16_t LastLevel() const { return last_level_; }
  bool LastStatus() const { return last_status_; }

  const Counters& counters() const { return counters_; }

  void OnMessage(std::int64_t now_ms, const DecodedFrame& message, ReplySink& out) override;
  void Advance(std::int64_t now_ms, ReplySink& out) override;

 private:
  static int Index(int param) { return param < 0 ? 0 : (param >= kMaxParams ? kMaxParams - 1 : param); }
  void NextLevel();

  std::array<std::uint8_t, kMaxParams> params_{5, 2, 1, 0, 0, 1};
  std::array<std::uint32_t, kMaxParams> refused_{};  // bit v: value v is refused
  std::array<std::int16_t, kMaxParams> other_value_{-1, -1, -1, -1, -1, -1};
  std::uint8_t mode_ = 0;
  int report_period_ms_ = 100;
  std::int64_t next_report_ms_ = 0;

  // The room: mt19937 is used raw (its sequence is fixed by the standard) so a seed gives
  // the same levels with every compiler and library.
  std::mt19937 rng_;
  int walk_length_ = 0;  // reports in the current walk, 0 when nobody is there
  int walk_step_ = 0;
  std::uint32_t walk_peak_ = 0;
  std::uint16_t last_level_ = 0;
  bool last_status_ = false;

  Counters counters_;
  std::uint64_t restarts_ = 0;
};

}  // namespace zelto::sim
