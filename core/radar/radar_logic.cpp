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

RadarWindowLogic::RadarWindowLogic(RadarHost& program, AppState& state, MessageChannel& msg,
                                   TimerFactory& timers, std::unique_ptr<RadarView> view,
                                   std::string decimal_separator)
    : program_(program),
      state_(state),
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
  const auto& table = state_.StringTable;
  view_->SetCaption(table[Text::kDuroz740]);
  view_->SetMenuFileExitCaption(table[Text::kExitMenu]);
  state_.DispatchMode = 1;
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
    if (state_.ParamPicked[i]) SetListIndex(list, PositionFromWire(list, state_.PickedParams[i]));
  }

  connection_timer_->SetInterval(kConnTickMs);
  connection_timer_->SetEnabled(true);
  std::int64_t now = 0;
  if (SignalHistory* history = program_.RecordingHistory(now))
    history->BeginSensor(state_.LastDuroz740Serial, now);
  ReadSensorAgain(state_);
  loading_ = true;
  RadarConnTick();
  loading_ = false;
  // The identity that made the main window open us is trusted, whichever link the load
  // run's requests went out on.
  state_.LinkReopened = false;
  // A load run that already lost the sensor has handed back to the main window; the window
  // is gone and must not turn into one whose closing ends the program.
  if (!unloaded_) state_.ExitOnRadarClose = true;
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
  program_.RadarWindowUnloaded();
}

void RadarWindowLogic::Send(std::uint8_t code, const std::uint8_t* payload, std::int16_t count) {
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
  return state_.ParamPicked[list] ? state_.PickedParams[list] : state_.SensorParams[list];
}

bool RadarWindowLogic::SensorKnown() {
  AppState& s = state_;
  // A link that failed and is (or is about to be) opened again may lead to a sensor that
  // restarted, or to another adapter with another sensor: until an identification reply has
  // come over the new link, the identity from before counts for nothing.
  if (!loading_ && (!s.LinkOpen || s.LinkReopened)) {
    if (s.DeviceId != 0) program_.ResetDeviceIdentity();
    return false;
  }
  return s.DeviceId == kDuroz740Id;
}

bool RadarWindowLogic::RadarParamsChanged() const {
  // Only a pick of the user's can differ from the sensor: whatever else the lists show (the
  // window's first selections, a field the last reply could not fill) is never written.
  bool changed = false;
  for (int i = 0; i < kParamCount; ++i) {
    const auto list = static_cast<ParamList>(i);
    if (WriteByte(list) != state_.SensorParams[i] && !state_.ListOpen[i]) changed = true;
  }
  return changed;
}

void RadarWindowLogic::RadarConnTick() {
  AppState& s = state_;
  std::uint8_t payload[11] = {};
  if (SensorKnown()) {
    if (s.ReadParamsPending) {
      Send(ReadParamsRequest, payload, 0);
    } else if (RadarParamsChanged()) {
      RadarParams params;
      for (int i = 0; i < kParamCount; ++i) params.wire[i] = WriteByte(static_cast<ParamList>(i));
      const int count = EncodeParamsWrite(params, HasHeight(s.DeviceFwVersion), s.WrittenParams);
      s.WrittenCount = static_cast<std::int16_t>(count);
      last_write_ = params;
      Send(WriteParamsRequest, s.WrittenParams.data(), s.WrittenCount);
    }
  }
  // Asked again: a failed send above closed the link, and this one would open a new one.
  if (SensorKnown() && s.ReportModePending) {
    payload[0] = kReportModeSignal;
    Send(ReportModeRequest, payload, 1);
  }

  const int interval = connection_timer_->Interval();
  // The signal is expected only from a sensor the last check found, over the link it was
  // found on, with its report mode acknowledged.
  if (s.ReportModePending || s.IdMissCount != 0 || !s.LinkOpen || s.LinkReopened) {
    s.SignalQuietRuns = 0;
  } else if (s.SignalQuietRuns < 32767 &&
             ++s.SignalQuietRuns >= kSignalStallMs / (interval > 0 ? interval : 1)) {
    // Read and asked for its signal as a sensor found again; a pick waiting for it stays.
    ReadSensorAgain(s);
  }
  const int q = interval > 0 ? 500 / interval : 0;
  if (s.IdCheckTicks < q) {
    ++s.IdCheckTicks;
    return;
  }

  if (s.DeviceId == kDuroz740Id) {
    s.IdMissCount = 0;
    view_->ShowIdentification(s.DeviceSerial + " - " +
                                               "HW: " + FormatVersion(s.DeviceHwVersion) + " - " +
                                               "FW: " + FormatVersion(s.DeviceFwVersion));
  } else {
    if (s.IdMissCount < 32767) ++s.IdMissCount;
    s.SensorMissed = true;
    if (s.IdMissCount >= 3)
      view_->ShowIdentification(s.StringTable[Text::kNoDeviceAnswering]);
  }
  if (s.IdMissCount >= 6 && !unloaded_) {
    s.ExitOnRadarClose = false;
    Unload();
  }

  // Runs even when the window has just gone: the answer then reaches the main window.
  program_.ResetDeviceIdentity();
  Send(IdentificationRequest, payload, 0);
  s.IdCheckTicks = 0;
}

void ReadSensorAgain(AppState& state) {
  state.ReadParamsPending = true;
  state.ReportModePending = true;
  state.SignalQuietRuns = 0;
  state.SensorMissed = false;
  state.LinkReopened = false;
}

void RadarHandleFrame(AppState& state, RadarWindowLogic* window, const FrameBytes& frame,
                      std::int16_t length) {
  // Whether the sensor has a height is judged by the firmware of the Duroz740 identified
  // last: the identity itself is cleared before every identification request, and a reply
  // arriving in that gap must not reset a height the user never touched.
  const RadarMessage m = DecodeRadarFrame(frame, length, HasHeight(state.LastDuroz740FwVersion));
  switch (m.kind) {
    case RadarMessageKind::kIdentification: {
      // Another sensor in the socket, or ours back after missed checks or over a reopened
      // link (pulled and put back, or the programmer unplugged: either way it may have
      // restarted without its report mode). Its parameters are read and its signal asked for
      // before the next run can write.
      const Identification found = StoreIdentity(state, m.identity);
      if (found == Identification::kNewDuroz740 && window != nullptr) window->StartPeakAfresh();
      if (found == Identification::kNewDuroz740 ||
          (found == Identification::kSameDuroz740 && (state.SensorMissed || state.LinkReopened)))
        ReadSensorAgain(state);
      break;
    }
    case RadarMessageKind::kParameters: {
      for (int i = 0; i < m.param_count; ++i) {
        state.SensorParams[i] = m.params.raw[i];
        // The sensor already holds what was picked: nothing is left to write.
        if (state.ParamPicked[i] && state.PickedParams[i] == state.SensorParams[i])
          state.ParamPicked[i] = false;
      }
      if (window != nullptr) window->RadarApplyParams(m.params);
      state.ReadParamsPending = false;
      break;
    }
    case RadarMessageKind::kWriteAck:
      // The sensor has answered the picks the last write carried; the read that follows
      // shows what it kept. A pick made after that write went out is still to be written.
      if (window != nullptr) window->OnWriteAcked();
      for (int i = 0; i < state.WrittenCount && i < kParamCount; ++i)
        if (state.ParamPicked[i] && state.PickedParams[i] == state.WrittenParams[i])
          state.ParamPicked[i] = false;
      state.ReadParamsPending = true;
      break;
    case RadarMessageKind::kReportModeAck:
      state.ReportModePending = false;
      state.SignalQuietRuns = 0;
      break;
    case RadarMessageKind::kSignal:
      state.SignalQuietRuns = 0;
      if (m.signal.is_reading && window != nullptr) window->DisplaySignal(m.signal);
      break;
    case RadarMessageKind::kNone:
      break;
  }
}

void RadarWindowLogic::RadarHandleFrame(const FrameBytes& frame, std::int16_t length) {
  zelto::RadarHandleFrame(state_, this, frame, length);
}

void RadarWindowLogic::RadarApplyParams(const ParamsDecode& reply) {
  AppState& s = state_;
  // The fields apply in payload order up to the first one out of range.
  // A list whose pick is still to be written keeps showing the pick; what the sensor holds
  // is remembered all the same.
  const auto apply = [&](ParamList list) {
    const int sensor = PositionFromWire(list, reply.params.wire[list]);
    SetListIndex(list, s.ParamPicked[list] ? PositionFromWire(list, s.PickedParams[list]) : sensor);
    s.LastParams[list] = static_cast<std::int16_t>(sensor);
  };
  for (int i = 0; i < kHeight; ++i) {
    if (i >= reply.first_invalid) return;
    const auto list = static_cast<ParamList>(i);
    apply(list);
    if (list == kSensitivity) DisplayArea(static_cast<std::int16_t>(ListIndex(list) + 1));
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
  if (history->Serial() != state_.LastDuroz740Serial)
    history->BeginSensor(state_.LastDuroz740Serial, now);
  history->AddReport(now, static_cast<std::uint16_t>(level),
                     static_cast<std::uint16_t>(peak_.value_or(0)), detected);
}

void RadarWindowLogic::OnWriteAcked() {
  std::int64_t now = 0;
  SignalHistory* history = program_.RecordingHistory(now);
  if (history == nullptr) return;
  RadarParams before;
  before.wire = state_.SensorParams;
  history->AddMarker(now, before, last_write_, ParamCountFor(state_.LastDuroz740FwVersion));
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

void RadarWindowLogic::DisplayArea(std::int16_t sensitivity) {
  view_->ShowDetectionArea(sensitivity);
}

void RadarWindowLogic::DisplayHeight() {
  // Runs inside the receive poll for every parameter reply: the text is put together in the
  // buffer that Load sized for it, not in a new string.
  height_text_ = state_.StringTable[Text::kHeightCaption];
  const int position = index_[kHeight];
  if (position >= 0 && position <= 2) height_text_ += kHeightSuffix[position];
  view_->SetLabelText(RadarLabel::kHeightValue, height_text_);
}

void RadarWindowLogic::OnListDropDown(ParamList list) {
  state_.ListOpen[list] = true;
}

void RadarWindowLogic::OnListClick(ParamList list, int index) {
  if (index >= 0 && index < ListCount(list)) {
    index_[list] = index;
    state_.ParamPicked[list] = true;
    state_.PickedParams[list] = WireFromPosition(list, index);
  }
  state_.ListOpen[list] = false;
}

}  // namespace zelto
