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
#include "core/ports/app_state.h"
#include "core/ports/timer_port.h"
#include "core/ports/views.h"
#include "core/protocol/message_channel.h"
#include "core/radar/radar_host.h"
#include "core/text/parameter_file.h"
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
};

// "Ver " major "." minor revision, e.g. 1.0.0 -> "Ver 1.00", 1.2.13 -> "Ver 1.213".
std::string FormatVersionLabel(const ProgramVersion& version);

class Program : public FrameDispatch, public RadarHost, private RadarEvents {
 public:
  Program(AppState& state, D2xxPort& driver, TimerFactory& timers, Ui& ui, ProgramConfig config);
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

  // FrameDispatch.
  void HandleProgrammerFrame(const FrameBytes& frame, std::int16_t length) override;
  void RadarHandleFrame(const FrameBytes& frame, std::int16_t length) override;

  AppState& State() { return state_; }
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
  void RadarWindowUnloaded() override;

 private:
  bool ApplyLanguage();
  void UnloadMain();
  void OpenRadarWindow();
  void DisposeRetired();
  const std::string& Entry(Text::Id id) const { return state_.StringTable[id]; }
  std::filesystem::path ParameterRead() const;
  std::filesystem::path ParameterWrite() const;

  // RadarEvents, forwarded to the open radar window.
  void OnRadarCloseRequested() override;
  void OnListDropDown(ParamList list) override;
  void OnListClick(ParamList list, int index) override;

  AppState& state_;
  TimerFactory& timers_;
  Ui& ui_;
  ProgramConfig config_;
  UsbLink link_;
  MessageChannel channel_;
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
