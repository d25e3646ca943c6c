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
constexpr std::int16_t kRadarOpenDelayMs = 3000;
}  // namespace

std::string FormatVersionLabel(const ProgramVersion& version) {
  return "Ver " + std::to_string(version.major) + "." + std::to_string(version.minor) +
         std::to_string(version.revision);
}

Program::Program(AppState& state, D2xxPort& driver, TimerFactory& timers, Ui& ui,
                 ProgramConfig config)
    : state_(state),
      timers_(timers),
      ui_(ui),
      config_(std::move(config)),
      link_(state, driver),
      channel_(state, link_),
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
  ReadParameterFile(ParameterRead(), state_.LanguageIndex);
  if (!ApplyLanguage()) return;
  supervision_timer_->SetInterval(kFirstStatusIntervalMs);
  supervision_timer_->SetEnabled(true);
  ResetDeviceIdentity();
  state_.FirstStatusTick = true;
  poll_timer_->SetInterval(kPollIntervalMs);
  poll_timer_->SetEnabled(true);
  state_.ExitOnRadarClose = false;
  ReturnToMainWindow();
}

bool Program::ApplyLanguage() {
  if (!LoadStringTable(config_.folder / kStringTableFile, state_.LanguageIndex,
                       state_.StringTable)) {
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
  WriteParameterFile(ParameterWrite(), state_.LanguageIndex);
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
  state_.LanguageIndex = 0;
  ApplyLanguage();
}

void Program::OnEnglishChosen() {
  if (ended_) return;
  state_.LanguageIndex = 1;
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
  if (state_.DispatchMode != 0) return;
  link_.Close();
  const LinkResult status = link_.Open();
  state_.ProgrammerStatus = status;
  ShowProgrammerStatus(status);
  if (state_.RadarOpenDelay > 0)
    state_.RadarOpenDelay =
        static_cast<std::int16_t>(state_.RadarOpenDelay - supervision_timer_->Interval());
  supervision_timer_->SetEnabled(false);
  supervision_timer_->SetInterval(kStatusIntervalMs);
  supervision_timer_->SetEnabled(true);
  if (state_.FirstStatusTick)
    state_.FirstStatusTick = false;
  else
    ShowDeviceStatus();
  if (ended_) return;
  if (state_.DispatchMode == 0) {
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
  if (state_.DeviceId == 0) {
    view.SetStatusDevice(Entry(Text::kNoDeviceAnswering));
    view.SetStatusDeviceColour(kDarkRed);
    return;
  }
  if (state_.DeviceId == kDuroz740Id) {
    view.SetStatusDevice(Entry(Text::kSensorConnected) + "  " + Entry(Text::kDuroz740));
    view.SetStatusDeviceColour(kGreen);
    if (state_.RadarOpenDelay >= 1) return;
    OpenRadarWindow();
    // A window that lost its sensor during its own load has already handed back.
    if (radar_ != nullptr) view.HideWindow();
    return;
  }
  view.SetStatusDevice(Entry(Text::kUnsupportedDevice));
  view.SetStatusDeviceColour(kDarkRed);
}

void Program::ResetDeviceIdentity() {
  state_.DeviceId = 0;
  state_.DeviceSerial.clear();
  state_.DeviceHwVersion = 0;
  state_.DeviceFwVersion = 0;
}

void Program::ReturnToMainWindow() {
  if (state_.ExitOnRadarClose) {
    UnloadMain();
    return;
  }
  MainView& view = ui_.Main();
  view.ShowWindow();
  view.SetStatusProg("");
  view.SetStatusDevice("");
  state_.RadarOpenDelay = kRadarOpenDelayMs;
  state_.DispatchMode = 0;
}

void Program::OpenRadarWindow() {
  DisposeRetired();
  radar_ = std::make_unique<RadarWindowLogic>(*this, state_, channel_, timers_,
                                              ui_.CreateRadarView(*this), ui_.DecimalSeparator());
  radar_->Load();
  if (radar_ != nullptr) radar_->View().ShowWindow();
}

void Program::RadarWindowUnloaded() {
  // The window's logic may still be on the call stack (its own timer or close event): keep
  // it alive until the next event from outside.
  retired_ = std::move(radar_);
  ReturnToMainWindow();
}

void Program::DisposeRetired() {
  retired_.reset();
}

void Program::HandleProgrammerFrame(const FrameBytes& frame, std::int16_t length) {
  zelto::HandleProgrammerFrame(state_, frame, length);
}

void Program::RadarHandleFrame(const FrameBytes& frame, std::int16_t length) {
  zelto::RadarHandleFrame(state_, radar_.get(), frame, length);
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
