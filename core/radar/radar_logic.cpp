// SPDX-License-Identifier: MIT
#include "core/radar/radar_logic.h"

#include <string>
#include <utility>

#include "core/protocol/programmer_messages.h"
#include "core/protocol/radar_params.h"
#include "core/text/text_id.h"

namespace zelto {

namespace {

const char* const kHeightSuffix[] = {":  2.30 m", ":  2.90 m", ":  3.50 m"};
constexpr std::size_t kHeightSuffixLength = 9;

// A streaming sensor reports every 100 ms or so; this long without a report, while nothing
// else is amiss, means it has probably restarted and dropped its report mode.
constexpr int kSignalStallMs = 3000;

}  // namespace

std::vector<std::string> RelayTimeItems(const std::string& decimal_separator) {
  std::vector<std::string> items;
  for (int i = 1; i <= 9; ++i) {
    std::string text = std::to_string(i / 2);
    if (i % 2 != 0) text += decimal_separator + "5";
    items.push_back(std::move(text));
  }
  return items;
}

RadarWindowLogic::RadarWindowLogic(RadarHost& program, RadarConnection& connection,
                                   const StringTable& texts, MessageChannel& msg,
                                   TimerFactory& timers, std::unique_ptr<RadarView> view,
                                   std::string decimal_separator)
    : program_(program),
      connection_(connection),
      texts_(texts),
      channel_(msg),
      view_(std::move(view)),
      decimal_separator_(std::move(decimal_separator)),
      connection_timer_(timers.CreateTimer()),
      peak_hold_timer_(timers.CreateTimer()) {
  connection_timer_->SetInterval(kDesignPeakIntervalMs);
  connection_timer_->SetOnTick([this] { RadarConnTick(); });
  // The peak hold runs from the moment the window exists.
  peak_hold_timer_->SetOnTick([this] { PeakTick(); });
  peak_hold_timer_->SetInterval(kDesignPeakIntervalMs);
  peak_hold_timer_->SetEnabled(true);
}

RadarWindowLogic::~RadarWindowLogic() = default;

void RadarWindowLogic::Load() {
  const StringTable& table = texts_;
  view_->SetCaption(table[Text::kDuroz740]);
  view_->SetMenuFileExitCaption(table[Text::kExitMenu]);
  program_.RadarWindowLoading();
  view_->SetLabelText(RadarLabel::kSensitivityCaption, table[Text::kSensitivityCaption]);
  view_->SetLabelText(RadarLabel::kRelayTimeCaption, table[Text::kRelayTimeCaption]);
  view_->SetLabelText(RadarLabel::kReactionSpeedCaption, table[Text::kReactionSpeedCaption]);
  view_->SetLabelText(RadarLabel::kMainsFilterCaption, table[Text::kMainsFilterCaption]);
  view_->SetLabelText(RadarLabel::kHighTrafficModeCaption, table[Text::kHighTrafficModeCaption]);
  view_->SetLabelText(RadarLabel::kHeightCaption, table[Text::kHeightCaption]);
  view_->SetLabelText(RadarLabel::kParametersFrame, table[Text::kParametersCaption]);
  view_->SetLabelText(RadarLabel::kSignalCaption, table[Text::kSignalCaption]);
  view_->ShowLevel(level_);
  view_->ShowHeldPeak(peak_);

  FillList(kSensitivity, {"1", "2", "3", "4", "5", "6", "7", "8", "9"}, 4);
  FillList(kRelayTime, RelayTimeItems(decimal_separator_), 0);
  FillList(kReactionSpeed,
           {table[Text::kSpeedSlow], table[Text::kSpeedNormal], table[Text::kSpeedFast]}, 1);
  FillList(kMainsFilter, {table[Text::kFilterOff], "50 Hz", "60 Hz"}, 0);
  FillList(kHighTrafficMode, {table[Text::kOff], table[Text::kOn]}, 0);
  FillList(kHeight, {table[Text::kHeight230], table[Text::kHeight290], table[Text::kHeight350]}, 0);
  height_text_.reserve(table[Text::kHeightCaption].size() + kHeightSuffixLength);
  // Picks still waiting for this sensor (the window was lost before they were written) are
  // shown again, and written after the read.
  for (int i = 0; i < kParamCount; ++i) {
    const auto list = static_cast<ParamList>(i);
    if (connection_.picked[i])
      SetListIndex(list, PositionFromWire(list, connection_.picked_bytes[i]));
  }

  connection_timer_->SetInterval(kConnTickMs);
  connection_timer_->SetEnabled(true);
  std::int64_t now = 0;
  if (SignalHistory* history = program_.RecordingHistory(now))
    history->BeginSensor(connection_.identity.last_duroz740_serial, now);
  ReadSensorAgain(connection_);
  loading_ = true;
  RadarConnTick();
  loading_ = false;
  // The identity that made the main window open us is trusted, whichever link the load
  // run's requests went out on.
  connection_.link.ClearReopened();
  // A load run that already lost the sensor has handed back to the main window; the window
  // is gone and must not turn into one whose closing ends the program.
  if (!unloaded_) program_.RadarWindowLoaded();
}

void RadarWindowLogic::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  connection_timer_->SetEnabled(false);
  peak_hold_timer_->SetEnabled(false);
  const std::uint8_t stop[1] = {kReportModeStop};
  Send(ReportModeRequest, stop, 1);
  view_->Unload();
  // Last: this may end the program, and it retires this object (kept alive until the
  // current event has returned).
  program_.RadarWindowUnloaded(sensor_lost_);
}

void RadarWindowLogic::Send(std::uint8_t code, const std::uint8_t* payload, int count) {
  channel_.SendMessage(code, payload, count);
}

void RadarWindowLogic::FillList(ParamList list, std::vector<std::string> items, int selected) {
  items_[list] = std::move(items);
  view_->SetListItems(list, items_[list]);
  SetListIndex(list, selected);
}

void RadarWindowLogic::SetListIndex(ParamList list, int index) {
  index_[list] = index;
  view_->SetListIndex(list, index);
}

std::uint8_t RadarWindowLogic::WriteByte(ParamList list) const {
  const RadarConnection& c = connection_;
  return c.picked[list] ? c.picked_bytes[list] : c.sensor_bytes[list];
}

bool RadarWindowLogic::SensorKnown() {
  const RadarConnection& c = connection_;
  // A link that failed and is (or is about to be) opened again may lead to a sensor that
  // restarted, or to another adapter with another sensor: until an identification reply has
  // come over the new link, the identity from before counts for nothing.
  if (!loading_ && (!c.link.IsOpen() || c.link.Reopened())) {
    if (c.identity.id != 0) program_.ResetDeviceIdentity();
    return false;
  }
  return c.identity.IsDuroz740();
}

bool RadarWindowLogic::RadarParamsChanged() const {
  // Only a pick of the user's can differ from the sensor: whatever else the lists show (the
  // window's first selections, a field the last reply could not fill) is never written.
  bool changed = false;
  for (int i = 0; i < kParamCount; ++i) {
    const auto list = static_cast<ParamList>(i);
    if (WriteByte(list) != connection_.sensor_bytes[i] && !connection_.list_open[i]) changed = true;
  }
  return changed;
}

void RadarWindowLogic::RadarConnTick() {
  RadarConnection& c = connection_;
  const SensorIdentity& sensor = c.identity;
  std::uint8_t payload[11] = {};
  if (SensorKnown()) {
    if (c.read_params_pending) {
      Send(ReadParamsRequest, payload, 0);
    } else if (RadarParamsChanged()) {
      RadarParams params;
      for (int i = 0; i < kParamCount; ++i) params.wire[i] = WriteByte(static_cast<ParamList>(i));
      c.written_count = EncodeParamsWrite(params, HasHeight(sensor.fw_version), c.written_bytes);
      last_write_ = params;
      Send(WriteParamsRequest, c.written_bytes.data(), c.written_count);
    }
  }
  // Asked again: a failed send above closed the link, and this one would open a new one.
  if (SensorKnown() && c.report_mode_pending) {
    payload[0] = kReportModeSignal;
    Send(ReportModeRequest, payload, 1);
  }

  const int interval = connection_timer_->Interval();
  // The signal is expected only from a sensor the last check found, over the link it was
  // found on, with its report mode acknowledged.
  // The count is reset whenever it reaches the stall, so it stays small.
  if (c.report_mode_pending || c.id_miss_count != 0 || !c.link.IsOpen() || c.link.Reopened()) {
    c.signal_quiet_runs = 0;
  } else if (++c.signal_quiet_runs >= kSignalStallMs / (interval > 0 ? interval : 1)) {
    // Read and asked for its signal as a sensor found again; a pick waiting for it stays.
    ReadSensorAgain(c);
  }
  const int q = interval > 0 ? 500 / interval : 0;
  if (c.id_check_ticks < q) {
    ++c.id_check_ticks;
    return;
  }

  if (sensor.IsDuroz740()) {
    c.id_miss_count = 0;
    view_->ShowIdentification(sensor.serial + " - " + "HW: " + FormatVersion(sensor.hw_version) +
                              " - " + "FW: " + FormatVersion(sensor.fw_version));
  } else {
    // The window unloads at the sixth miss in a row, so the count stays small.
    ++c.id_miss_count;
    c.sensor_missed = true;
    if (c.id_miss_count >= 3) view_->ShowIdentification(texts_[Text::kNoDeviceAnswering]);
  }
  if (c.id_miss_count >= 6 && !unloaded_) {
    // Lost: back to the main window, which looks for a sensor again, rather than the end.
    sensor_lost_ = true;
    Unload();
  }

  // Runs even when the window has just gone: the answer then reaches the main window.
  program_.ResetDeviceIdentity();
  Send(IdentificationRequest, payload, 0);
  c.id_check_ticks = 0;
}

void ReadSensorAgain(RadarConnection& connection) {
  connection.read_params_pending = true;
  connection.report_mode_pending = true;
  connection.signal_quiet_runs = 0;
  connection.sensor_missed = false;
  connection.link.ClearReopened();
}

void RadarHandleFrame(RadarConnection& connection, RadarWindowLogic* window,
                      const FrameBytes& frame, int length) {
  RadarConnection& c = connection;
  // Whether the sensor has a height is judged by the firmware of the Duroz740 identified
  // last: the identity itself is cleared before every identification request, and a reply
  // arriving in that gap must not reset a height the user never touched.
  const RadarMessage m =
      DecodeRadarFrame(frame, length, HasHeight(c.identity.last_duroz740_fw));
  switch (m.kind) {
    case RadarMessageKind::kIdentification: {
      // Another sensor in the socket, or ours back after missed checks or over a reopened
      // link (pulled and put back, or the programmer unplugged: either way it may have
      // restarted without its report mode). Its parameters are read and its signal asked for
      // before the next run can write.
      const Identification found = StoreIdentity(c.identity, m.identity);
      // Picks not yet written were made for the sensor seen before.
      if (found == Identification::kNewDuroz740) c.picked.fill(false);
      if (found == Identification::kNewDuroz740 && window != nullptr) window->StartPeakAfresh();
      if (found == Identification::kNewDuroz740 ||
          (found == Identification::kSameDuroz740 && (c.sensor_missed || c.link.Reopened())))
        ReadSensorAgain(c);
      break;
    }
    case RadarMessageKind::kParameters: {
      for (int i = 0; i < m.param_count; ++i) {
        c.sensor_bytes[i] = m.params.raw[i];
        // The sensor already holds what was picked: nothing is left to write.
        if (c.picked[i] && c.picked_bytes[i] == c.sensor_bytes[i]) c.picked[i] = false;
      }
      if (window != nullptr) window->RadarApplyParams(m.params);
      c.read_params_pending = false;
      break;
    }
    case RadarMessageKind::kWriteAck:
      // The sensor has answered the picks the last write carried; the read that follows
      // shows what it kept. A pick made after that write went out is still to be written.
      if (window != nullptr) window->OnWriteAcked();
      for (int i = 0; i < c.written_count && i < kParamCount; ++i)
        if (c.picked[i] && c.picked_bytes[i] == c.written_bytes[i]) c.picked[i] = false;
      c.read_params_pending = true;
      break;
    case RadarMessageKind::kReportModeAck:
      c.report_mode_pending = false;
      c.signal_quiet_runs = 0;
      break;
    case RadarMessageKind::kSignal:
      c.signal_quiet_runs = 0;
      if (m.signal.is_reading && window != nullptr) window->DisplaySignal(m.signal);
      break;
    case RadarMessageKind::kNone:
      break;
  }
}

void RadarWindowLogic::RadarHandleFrame(const FrameBytes& frame, int length) {
  zelto::RadarHandleFrame(connection_, this, frame, length);
}

void RadarWindowLogic::RadarApplyParams(const ParamsDecode& reply) {
  RadarConnection& c = connection_;
  // The fields apply in payload order up to the first one out of range.
  // A list whose pick is still to be written keeps showing the pick; what the sensor holds
  // is remembered all the same.
  const auto apply = [&](ParamList list) {
    const int sensor = PositionFromWire(list, reply.params.wire[list]);
    SetListIndex(list, c.picked[list] ? PositionFromWire(list, c.picked_bytes[list]) : sensor);
    c.last_params[list] = sensor;
  };
  for (int i = 0; i < kHeight; ++i) {
    if (i >= reply.first_invalid) return;
    const auto list = static_cast<ParamList>(i);
    apply(list);
    if (list == kSensitivity) DisplayArea(ListIndex(list) + 1);
  }
  if (!reply.valid[kHeight]) {
    SetListIndex(kHeight, 0);
    return;
  }
  apply(kHeight);
  DisplayHeight();
}

void RadarWindowLogic::DisplaySignal(const SignalReading& signal) {
  const int level = signal.level;
  level_ = level;
  view_->ShowLevel(level_);
  // A peak not shown (a peak tick came before any report) counts as 0.
  if (level > peak_.value_or(0)) {
    peak_ = level;
    view_->ShowHeldPeak(peak_);
    peak_hold_timer_->SetEnabled(false);
    peak_hold_timer_->SetInterval(kNewPeakIntervalMs);
    peak_hold_timer_->SetEnabled(true);
  }
  view_->ShowSignal(level, signal.detected);
  RecordSignal(level, signal.detected);
}

void RadarWindowLogic::RecordSignal(std::int32_t level, bool detected) {
  std::int64_t now = 0;
  SignalHistory* history = program_.RecordingHistory(now);
  if (history == nullptr) return;
  // Another sensor put in while the window stayed open has a history of its own.
  const std::string& serial = connection_.identity.last_duroz740_serial;
  if (history->Serial() != serial) history->BeginSensor(serial, now);
  history->AddReport(now, static_cast<std::uint16_t>(level),
                     static_cast<std::uint16_t>(peak_.value_or(0)), detected);
}

void RadarWindowLogic::OnWriteAcked() {
  std::int64_t now = 0;
  SignalHistory* history = program_.RecordingHistory(now);
  if (history == nullptr) return;
  RadarParams before;
  before.wire = connection_.sensor_bytes;
  history->AddMarker(now, before, last_write_, ParamCountFor(connection_.identity.last_duroz740_fw));
}

void RadarWindowLogic::StartPeakAfresh() {
  // As a window just opened shows them; the hold starts over with the new sensor's first
  // report.
  level_.reset();
  peak_ = 0;
  view_->ShowLevel(level_);
  view_->ShowHeldPeak(peak_);
  peak_hold_timer_->SetEnabled(false);
  peak_hold_timer_->SetInterval(kDesignPeakIntervalMs);
  peak_hold_timer_->SetEnabled(true);
}

void RadarWindowLogic::PeakTick() {
  peak_ = level_;
  view_->ShowHeldPeak(peak_);
}

void RadarWindowLogic::DisplayArea(int sensitivity) {
  view_->ShowDetectionArea(sensitivity);
}

void RadarWindowLogic::DisplayHeight() {
  // Runs inside the receive poll for every parameter reply: the text is put together in the
  // buffer that Load sized for it, not in a new string.
  height_text_ = texts_[Text::kHeightCaption];
  const int position = index_[kHeight];
  if (position >= 0 && position <= 2) height_text_ += kHeightSuffix[position];
  view_->SetLabelText(RadarLabel::kHeightValue, height_text_);
}

void RadarWindowLogic::OnListDropDown(ParamList list) {
  connection_.list_open[list] = true;
}

void RadarWindowLogic::OnListClick(ParamList list, int index) {
  if (index >= 0 && index < ListCount(list)) {
    index_[list] = index;
    connection_.picked[list] = true;
    connection_.picked_bytes[list] = WireFromPosition(list, index);
  }
  connection_.list_open[list] = false;
}

}  // namespace zelto
