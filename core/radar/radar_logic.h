// SPDX-License-Identifier: MIT
// The radar window's logic: its load and unload, the connection procedure that reads,
// writes and watches the Duroz740, the decoding of the sensor's frames and the displays.
// One object per opening of the window; the connection state itself (RadarConnection) lives
// for the whole run.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/protocol/message_channel.h"
#include "core/protocol/radar_decoder.h"
#include "core/radar/radar_connection.h"
#include "core/radar/radar_host.h"
#include "core/protocol/radar_params.h"
#include "core/ports/param_list.h"
#include "core/ports/timer_port.h"
#include "core/ports/views.h"
#include "core/text/string_table.h"

namespace zelto {

// The radar window's pacing.
constexpr int kDesignPeakIntervalMs = 4980;
constexpr int kNewPeakIntervalMs = 2000;
constexpr int kConnTickMs = 100;

// The relay-time items: i x 0.5 s for i = 1..9 with the user's decimal separator, without
// trailing zeros ("0,5", "1", "1,5" ...).
std::vector<std::string> RelayTimeItems(const std::string& decimal_separator);

class RadarWindowLogic {
 public:
  RadarWindowLogic(RadarHost& program, RadarConnection& connection, const StringTable& texts,
                   MessageChannel& msg, TimerFactory& timers, std::unique_ptr<RadarView> view,
                   std::string decimal_separator);
  ~RadarWindowLogic();

  void Load();
  // Sends the stop request and hands back to the main window (or ends the program).
  void Unload();
  bool Unloaded() const { return unloaded_; }

  void RadarConnTick();
  bool RadarParamsChanged() const;
  void RadarHandleFrame(const FrameBytes& frame, int length);
  void RadarApplyParams(const ParamsDecode& reply);
  void DisplaySignal(const SignalReading& signal);
  void PeakTick();
  void DisplayArea(int sensitivity);
  void DisplayHeight();

  // The sensor acknowledged the last write: a marker in the signal history.
  void OnWriteAcked();
  // Another sensor (serial number or firmware) identified itself while the window stayed
  // open: the level and the held peak shown were the last sensor's.
  void StartPeakAfresh();

  void OnListDropDown(ParamList list);
  void OnListClick(ParamList list, int index);

  int ListIndex(ParamList list) const { return index_[list]; }
  int ListCount(ParamList list) const { return static_cast<int>(items_[list].size()); }
  const std::vector<std::string>& ListItems(ParamList list) const { return items_[list]; }
  std::optional<int> Level() const { return level_; }
  std::optional<int> HeldPeak() const { return peak_; }
  Timer& ConnectionTimer() { return *connection_timer_; }
  Timer& PeakHoldTimer() { return *peak_hold_timer_; }
  RadarView& View() { return *view_; }

 private:
  void FillList(ParamList list, std::vector<std::string> items, int selected);
  // What a write carries for the list: the user's pick, else the sensor's own byte.
  std::uint8_t WriteByte(ParamList list) const;
  // The Duroz740 answered the latest identification request over the link still open.
  bool SensorKnown();
  void SetListIndex(ParamList list, int index);
  void Send(std::uint8_t code, const std::uint8_t* payload, int count);
  void RecordSignal(std::int32_t level, bool detected);

  RadarHost& program_;
  RadarConnection& connection_;
  const StringTable& texts_;
  MessageChannel& channel_;
  std::unique_ptr<RadarView> view_;
  std::string decimal_separator_;
  std::unique_ptr<Timer> connection_timer_;
  std::unique_ptr<Timer> peak_hold_timer_;
  // What the window's lists hold and show; the window itself only mirrors it.
  std::array<std::vector<std::string>, kParamCount> items_;
  std::array<int, kParamCount> index_{};
  // Nothing shown until the first report; the peak a new window or sensor starts from is 0.
  std::optional<int> level_;
  std::optional<int> peak_ = 0;
  std::string height_text_;
  bool unloaded_ = false;
  bool loading_ = false;
  // The window unloads itself because the sensor stopped answering.
  bool sensor_lost_ = false;
  // What the last write carried, for the history's marker when the sensor acknowledges it.
  RadarParams last_write_;
};

// Sets up reading the sensor's parameters and asking for its signal, before anything can be
// written to it; picks waiting for it are written after the read.
void ReadSensorAgain(RadarConnection& connection);

// The radar-mode frame handler. Without an open window only the identity and the flags can
// change.
void RadarHandleFrame(RadarConnection& connection, RadarWindowLogic* window,
                      const FrameBytes& frame, int length);

}  // namespace zelto
