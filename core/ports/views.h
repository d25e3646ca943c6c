// SPDX-License-Identifier: MIT
// The window ports: what the program logic needs of its windows. The Qt windows implement
// them; the tests use plain recording fakes. Texts cross these ports as 8-bit Windows-1252;
// the windows convert them at their own boundary and show them as plain text.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ports/param_list.h"

namespace zelto {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

constexpr Rgb kGreen{0, 128, 0};
constexpr Rgb kDarkRed{192, 0, 0};

enum class MainMenu { kExit, kLanguage, kItalian, kEnglish };

// MainWindow, the main window.
class MainView {
 public:
  virtual ~MainView() = default;
  virtual void SetLabelVer(const std::string& text) = 0;
  virtual void SetMenuCaption(MainMenu menu, const std::string& text) = 0;
  virtual void SetStatusProg(const std::string& text) = 0;
  virtual void SetStatusProgColour(Rgb colour) = 0;
  virtual void SetStatusDevice(const std::string& text) = 0;
  virtual void SetStatusDeviceColour(Rgb colour) = 0;
  virtual void ShowWindow() = 0;
  virtual void HideWindow() = 0;
  // The window goes away for good; no event comes back from it afterwards.
  virtual void Unload() = 0;
  // AboutBox: shown modally; returns when the user has closed it. The timers keep running
  // meanwhile.
  virtual void ShowAbout() = 0;
  virtual bool AboutShown() const = 0;
  // The one message box of the program: error icon, a single OK, returns after OK.
  virtual void ShowFatalMessage(const std::string& text, const std::string& title) = 0;
};

enum class RadarLabel {
  kSensitivityCaption,
  kRelayTimeCaption,
  kReactionSpeedCaption,
  kMainsFilterCaption,
  kHighTrafficModeCaption,
  kHeightCaption,
  kParametersFrame,
  kSignalCaption,
  kHeightValue,
};

// Events the radar window reports to the logic.
class RadarEvents {
 public:
  virtual ~RadarEvents() = default;
  // MenuFileExit or the close box.
  virtual void OnRadarCloseRequested() = 0;
  // The list's popup opens.
  virtual void OnListDropDown(ParamList list) = 0;
  // The user chose an item (mouse or keyboard); never raised for a change the program made.
  virtual void OnListClick(ParamList list, int index) = 0;
};

// RadarWindow, the radar window. The logic says what to show in the sensor's terms; where it
// goes and how big it is are the window's business.
class RadarView {
 public:
  virtual ~RadarView() = default;
  virtual void SetCaption(const std::string& text) = 0;
  virtual void SetMenuFileExitCaption(const std::string& text) = 0;
  virtual void SetLabelText(RadarLabel label, const std::string& text) = 0;
  virtual void SetListItems(ParamList list, const std::vector<std::string>& items) = 0;
  // Sets the selection without raising OnListClick.
  virtual void SetListIndex(ParamList list, int index) = 0;
  // The line that names the sensor answering (or says that none does).
  virtual void ShowIdentification(const std::string& text) = 0;
  // The signal level and the held peak as numbers; nothing shows before there is one.
  virtual void ShowLevel(std::optional<int> level) = 0;
  virtual void ShowHeldPeak(std::optional<int> peak) = 0;
  // At each signal report: the level on the bar and whether the sensor detects.
  virtual void ShowSignal(int level, bool detected) = 0;
  // The area the sensor watches at a sensitivity of 1 to 9.
  virtual void ShowDetectionArea(int sensitivity) = 0;
  virtual void ShowWindow() = 0;
  // The window goes away for good; no event comes back from it afterwards.
  virtual void Unload() = 0;
};

// What the logic needs of the windowing system as a whole.
class Ui {
 public:
  virtual ~Ui() = default;
  virtual MainView& Main() = 0;
  virtual std::unique_ptr<RadarView> CreateRadarView(RadarEvents& events) = 0;
  // The user's decimal separator, for the relay-time items ("," or ".").
  virtual std::string DecimalSeparator() const = 0;
  // The main window is gone: the program ends once the current handler returns.
  virtual void Quit() = 0;
};

}  // namespace zelto
