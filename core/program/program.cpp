// SPDX-License-Identifier: MIT
#include "core/program/program.h"

#include <utility>

#include "core/protocol/programmer_messages.h"
#include "core/radar/radar_logic.h"
#include "core/text/parameter_file.h"
#include "core/text/string_table.h"
#include "core/text/text_id.h"

namespace zelto {

namespace {
constexpr int kPollIntervalMs = 50;
constexpr int kFirstStatusIntervalMs = 1500;
constexpr int kStatusIntervalMs = 500;
}  // namespace

std::string FormatVersionLabel(const ProgramVersion& version) {
  return "Ver " + std::to_string(version.major) + "." + std::to_string(version.minor) +
         std::to_string(version.revision);
}

Program::Program(AdapterPort& driver, TimerFactory& timers, Ui& ui, ProgramConfig config)
    : timers_(timers),
      ui_(ui),
      config_(std::move(config)),
      link_(driver),
      channel_(link_),
      poll_timer_(timers.CreateTimer()),
      supervision_timer_(timers.CreateTimer()) {
  // Design-time intervals; the load handler replaces both before either can tick.
  poll_timer_->SetInterval(360);
  supervision_timer_->SetInterval(720);
  poll_timer_->SetOnTick([this] { PollTick(); });
  supervision_timer_->SetOnTick([this] { SupervisionTick(); });
}

Program::~Program() = default;

std::filesystem::path Program::ParameterRead() const {
  const auto& path = config_.parameter_file.read;
  return path.empty() ? config_.folder / kParameterFile : path;
}

std::filesystem::path Program::ParameterWrite() const {
  const auto& path = config_.parameter_file.write;
  return path.empty() ? config_.folder / kParameterFile : path;
}

void Program::Load() {
  if (loaded_) return;
  loaded_ = true;
  MainView& view = ui_.Main();
  view.SetLabelVer(FormatVersionLabel(config_.version));
  std::int16_t language = 0;  // as the file holds it
  ReadParameterFile(ParameterRead(), language);
  texts_.SetLanguage(language);
  if (!ApplyLanguage()) return;
  supervision_timer_->SetInterval(kFirstStatusIntervalMs);
  supervision_timer_->SetEnabled(true);
  ResetDeviceIdentity();
  first_status_tick_ = true;
  poll_timer_->SetInterval(kPollIntervalMs);
  poll_timer_->SetEnabled(true);
  exit_on_radar_close_ = false;
  ReturnToMainWindow();
}

bool Program::ApplyLanguage() {
  if (!texts_.Load(config_.folder / kStringTableFile)) {
    // Nothing may happen behind the message box: no supervision tick may open the radar
    // window while the user reads it.
    poll_timer_->SetEnabled(false);
    supervision_timer_->SetEnabled(false);
    ui_.Main().ShowFatalMessage(kFatalStringTableMessage, kProgramTitle);
    UnloadMain();
    return false;
  }
  MainView& view = ui_.Main();
  view.SetMenuCaption(MainMenu::kExit, Entry(Text::kExitMenu));
  view.SetMenuCaption(MainMenu::kLanguage, Entry(Text::kLanguageMenu));
  view.SetMenuCaption(MainMenu::kItalian, Entry(Text::kItalianMenu));
  view.SetMenuCaption(MainMenu::kEnglish, Entry(Text::kEnglishMenu));
  return true;
}

void Program::UnloadMain() {
  if (ended_) return;
  ended_ = true;
  poll_timer_->SetEnabled(false);
  supervision_timer_->SetEnabled(false);
  link_.Close();
  WriteParameterFile(ParameterWrite(), static_cast<std::int16_t>(texts_.Language()));
  ui_.Main().Unload();
  ui_.Quit();
}

void Program::OnExitChosen() {
  DisposeRetired();
  UnloadMain();
}

void Program::OnMainCloseBox() {
  OnExitChosen();
}

void Program::OnAboutChosen() {
  if (ended_) return;
  DisposeRetired();
  ui_.Main().ShowAbout();
}

void Program::OnItalianChosen() {
  if (ended_) return;
  texts_.SetLanguage(0);
  ApplyLanguage();
}

void Program::OnEnglishChosen() {
  if (ended_) return;
  texts_.SetLanguage(1);
  ApplyLanguage();
}

void Program::PollTick() {
  if (ended_) return;
  DisposeRetired();
  channel_.PollReceive(*this);
}

void Program::SupervisionTick() {
  if (ended_) return;
  DisposeRetired();
  if (dispatch_ != Dispatch::kProgrammer) return;
  link_.Close();
  ShowProgrammerStatus(link_.Open());
  if (radar_open_delay_ > 0) radar_open_delay_ -= supervision_timer_->Interval();
  supervision_timer_->SetEnabled(false);
  supervision_timer_->SetInterval(kStatusIntervalMs);
  supervision_timer_->SetEnabled(true);
  if (first_status_tick_)
    first_status_tick_ = false;
  else
    ShowDeviceStatus();
  if (ended_) return;
  if (dispatch_ == Dispatch::kProgrammer) {
    ResetDeviceIdentity();
    channel_.SendMessage(IdentificationRequest, nullptr, 0);
  }
}

void Program::ShowProgrammerStatus(LinkResult status) {
  // One text and colour per result of Open.
  struct Shown {
    Text::Id entry;
    Rgb colour;
  };
  static constexpr Shown kShown[] = {{Text::kProgrammerConnected, kGreen},
                                     {Text::kDriverFailure, kDarkRed},
                                     {Text::kNoProgrammer, kDarkRed},
                                     {Text::kManyProgrammers, kDarkRed}};
  const Shown& shown = kShown[status - kLinkOk];
  ui_.Main().SetStatusProg(Entry(shown.entry));
  ui_.Main().SetStatusProgColour(shown.colour);
}

void Program::ShowDeviceStatus() {
  MainView& view = ui_.Main();
  if (link_.Open() != kLinkOk) {
    view.SetStatusDevice("");
    return;
  }
  if (view.AboutShown()) return;
  if (identity_.id == 0) {
    view.SetStatusDevice(Entry(Text::kNoDeviceAnswering));
    view.SetStatusDeviceColour(kDarkRed);
    return;
  }
  if (identity_.IsDuroz740()) {
    view.SetStatusDevice(Entry(Text::kSensorConnected) + "  " + Entry(Text::kDuroz740));
    view.SetStatusDeviceColour(kGreen);
    if (radar_open_delay_ >= 1) return;
    OpenRadarWindow();
    // A window that lost its sensor during its own load has already handed back.
    if (radar_ != nullptr) view.HideWindow();
    return;
  }
  view.SetStatusDevice(Entry(Text::kUnsupportedDevice));
  view.SetStatusDeviceColour(kDarkRed);
}

void Program::ResetDeviceIdentity() {
  identity_.Forget();
}

void Program::ReturnToMainWindow() {
  if (exit_on_radar_close_) {
    UnloadMain();
    return;
  }
  MainView& view = ui_.Main();
  view.ShowWindow();
  view.SetStatusProg("");
  view.SetStatusDevice("");
  radar_open_delay_ = config_.radar_open_delay_ms;
  dispatch_ = Dispatch::kProgrammer;
}

void Program::OpenRadarWindow() {
  DisposeRetired();
  radar_ = std::make_unique<RadarWindowLogic>(*this, connection_, texts_, channel_, timers_,
                                              ui_.CreateRadarView(*this), ui_.DecimalSeparator());
  radar_->Load();
  if (radar_ != nullptr) radar_->View().ShowWindow();
}

void Program::RadarWindowUnloaded(bool sensor_lost) {
  if (sensor_lost) exit_on_radar_close_ = false;
  // The window's logic may still be on the call stack (its own timer or close event): keep
  // it alive until the next event from outside.
  retired_ = std::move(radar_);
  ReturnToMainWindow();
}

void Program::DisposeRetired() {
  retired_.reset();
}

void Program::HandleFrame(const FrameBytes& frame, int length) {
  if (dispatch_ == Dispatch::kRadar)
    RadarHandleFrame(frame, length);
  else
    HandleProgrammerFrame(frame, length);
}

void Program::HandleProgrammerFrame(const FrameBytes& frame, int length) {
  // Picks not yet written were made for the sensor seen before.
  if (zelto::HandleProgrammerFrame(identity_, frame, length) == Identification::kNewDuroz740)
    connection_.picked.fill(false);
}

void Program::RadarHandleFrame(const FrameBytes& frame, int length) {
  zelto::RadarHandleFrame(connection_, radar_.get(), frame, length);
}

void Program::OnRadarCloseRequested() {
  if (radar_ != nullptr) radar_->Unload();
}

void Program::OnListDropDown(ParamList list) {
  if (radar_ != nullptr) radar_->OnListDropDown(list);
}

void Program::OnListClick(ParamList list, int index) {
  if (radar_ != nullptr) radar_->OnListClick(list, index);
}

}  // namespace zelto
