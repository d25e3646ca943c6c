// SPDX-License-Identifier: MIT
// The whole program without its windows: the main window's logic, the USB link, the message
// layer and, while it is open, the radar window's logic. The Qt front end and the tests both
// drive it through the same entry points.
#pragma once

#include <filesystem>
#include <memory>
#include <utility>

#include "core/history/signal_history.h"
#include "core/link/usb_link.h"
#include "core/ports/param_list.h"
#include "core/ports/timer_port.h"
#include "core/ports/views.h"
#include "core/protocol/message_channel.h"
#include "core/protocol/sensor_identity.h"
#include "core/radar/radar_connection.h"
#include "core/radar/radar_host.h"
#include "core/text/parameter_file.h"
#include "core/text/string_table.h"
#include "core/text/text_id.h"

namespace zelto {

class RadarWindowLogic;

struct ProgramVersion {
  int major = 1, minor = 0, revision = 0;
};

struct ProgramConfig {
  ProgramConfig() = default;
  ProgramConfig(std::filesystem::path folder_in, ProgramVersion version_in,
                ParameterFileLocation parameter_file_in = {})
      : folder(std::move(folder_in)),
        version(version_in),
        parameter_file(std::move(parameter_file_in)) {}

  // The folder that holds StringTable.txt (the executable's folder).
  std::filesystem::path folder;
  ProgramVersion version;
  // Where ZeltoSoft.prm is read and written; an empty path means beside the string table.
  ParameterFileLocation parameter_file;
  // How long the main window waits, each time it is shown, before it opens the radar window
  // for a Duroz740 (counted down by its status ticks).
  int radar_open_delay_ms = 3000;
};

// "Ver " major "." minor revision, e.g. 1.0.0 -> "Ver 1.00", 1.2.13 -> "Ver 1.213".
std::string FormatVersionLabel(const ProgramVersion& version);

class Program : public FrameDispatch, public RadarHost, private RadarEvents {
 public:
  Program(AdapterPort& driver, TimerFactory& timers, Ui& ui, ProgramConfig config);
  ~Program() override;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // MainWindow's load handler. Afterwards Ended() tells whether a fatal string table ended
  // the program already.
  void Load();

  // MainWindow's events.
  void OnExitChosen();
  void OnMainCloseBox();  // behaves exactly as kExit
  void OnAboutChosen();
  void OnItalianChosen();
  void OnEnglishChosen();

  // True once the main window has been unloaded: the program is over.
  bool Ended() const { return ended_; }

  // Timer handlers, public so that a test can call a step directly.
  void SupervisionTick();  // SupervisionTimer
  void PollTick();         // PollTimer

  // FrameDispatch: to the main window's handler or, while the radar window is (being)
  // loaded, to the radar logic's.
  void HandleFrame(const FrameBytes& frame, int length) override;
  void HandleProgrammerFrame(const FrameBytes& frame, int length);
  void RadarHandleFrame(const FrameBytes& frame, int length);

  // Whether received frames go to the radar logic.
  bool RadarMode() const { return dispatch_ == Dispatch::kRadar; }
  // Whether closing the radar window ends the program (it was opened from the start with
  // its sensor) rather than bringing back the main window.
  bool ExitsOnRadarClose() const { return exit_on_radar_close_; }
  // Milliseconds before the main window may open the radar window for a Duroz740.
  int RadarOpenDelay() const { return radar_open_delay_; }
  // The language's texts, for the windows the front end draws itself.
  const StringTable& Texts() const { return texts_; }
  // Who answered the latest identification request (a test may stand in for the answer).
  SensorIdentity& Identity() { return identity_; }
  const SensorIdentity& Identity() const { return identity_; }
  // The radar logic's state across windows: picks, writes, what is awaited.
  RadarConnection& Connection() { return connection_; }
  UsbLink& Link() { return link_; }
  MessageChannel& Messages() { return channel_; }
  Timer& PollTimer() { return *poll_timer_; }
  Timer& SupervisionTimer() { return *supervision_timer_; }
  // The open radar window's logic, or nullptr.
  RadarWindowLogic* Radar() { return radar_.get(); }
  // The radar window's event sink, for the window that CreateRadarView made.
  RadarEvents& RadarWindowEvents() { return *this; }
  // The signal history outlives the radar window, so a short loss of the sensor keeps it.
  // It records only once a clock is given.
  SignalHistory& History() { return history_; }
  void SetHistoryClock(const Clock* clock) { history_clock_ = clock; }
  const Clock* HistoryClock() const { return history_clock_; }
  SignalHistory* RecordingHistory(std::int64_t& now_ms) override {
    if (history_clock_ == nullptr) return nullptr;
    now_ms = history_clock_->NowMs();
    return &history_;
  }

  // Shared procedures of the window flow.
  void ResetDeviceIdentity() override;
  void ReturnToMainWindow();
  void ShowProgrammerStatus(LinkResult status);
  void ShowDeviceStatus();
  // Called by the radar logic when it unloads its window (user close or lost sensor).
  void RadarWindowUnloaded(bool sensor_lost) override;
  void RadarWindowLoading() override { dispatch_ = Dispatch::kRadar; }
  void RadarWindowLoaded() override { exit_on_radar_close_ = true; }

 private:
  bool ApplyLanguage();
  void UnloadMain();
  void OpenRadarWindow();
  void DisposeRetired();
  const std::string& Entry(Text::Id id) const { return texts_[id]; }
  std::filesystem::path ParameterRead() const;
  std::filesystem::path ParameterWrite() const;

  // RadarEvents, forwarded to the open radar window.
  void OnRadarCloseRequested() override;
  void OnListDropDown(ParamList list) override;
  void OnListClick(ParamList list, int index) override;

  TimerFactory& timers_;
  Ui& ui_;
  ProgramConfig config_;
  StringTable texts_;
  UsbLink link_;
  MessageChannel channel_;
  SensorIdentity identity_;
  RadarConnection connection_{identity_, link_};
  enum class Dispatch { kProgrammer, kRadar };
  Dispatch dispatch_ = Dispatch::kProgrammer;
  bool exit_on_radar_close_ = false;
  int radar_open_delay_ = 0;
  // The first supervision tick shows only the programmer's status.
  bool first_status_tick_ = false;
  std::unique_ptr<Timer> poll_timer_;
  std::unique_ptr<Timer> supervision_timer_;
  std::unique_ptr<RadarWindowLogic> radar_;
  // A radar window that unloaded itself from inside one of its own handlers; destroyed at
  // the next entry from outside.
  std::unique_ptr<RadarWindowLogic> retired_;
  SignalHistory history_;
  const Clock* history_clock_ = nullptr;
  bool loaded_ = false;
  bool ended_ = false;
};

}  // namespace zelto
