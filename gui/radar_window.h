// SPDX-License-Identifier: MIT
// RadarWindow: the radar window. Parameter lists in a frame, the live signal column and the
// detection-area picture, a status bar with the sensor's identification. It shows what the
// radar logic tells it and reports the user's list and close events back.
#pragma once

#include <QComboBox>
#include <QMainWindow>
#include <array>
#include <functional>

#include "core/ports/views.h"

class QAction;
class QGroupBox;
class QLabel;
class QStatusBar;

namespace zelto::qt {

class AreaCanvas;
class LedIndicator;
class SignalBar;

// A drop-down list that tells when its list drops open (the user's DropDown). The mouse
// wheel changes it only while its list is open or once the user has put the focus on it
// (click, Tab, Shift+Tab, access key): a wheel turned over the frame on the way elsewhere,
// or over the list the window focused by itself when it opened, must not become a choice
// that is written to the sensor.
class ParamCombo : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> on_drop_down;
  void showPopup() override;

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  static bool IsUsersFocus(Qt::FocusReason reason);
  bool focused_by_user_ = false;
};

class RadarWindow : public QMainWindow, public RadarView {
 public:
  explicit RadarWindow(RadarEvents& events, QWidget* parent = nullptr);
  ~RadarWindow() override;

  bool Unloaded() const { return unloaded_; }
  ParamCombo* List(ParamList list) const { return lists_[list]; }
  QLabel* Label(RadarLabel label) const;
  AreaCanvas* Canvas() const { return picture_area_; }
  LedIndicator* Led() const { return led_; }
  SignalBar* Bar() const { return bar_; }
  QAction* MenuHistory() const { return menu_history_; }

  // The signal history's menu entry beside MenuFileExit, also reached by Ctrl+H.
  void AddHistoryItem(const QString& caption, std::function<void()> open);
  // Names for screen readers of the controls that have no caption of their own: the LED,
  // the bar, the two level labels, the area picture and the status bar.
  void SetAccessibleNames(const QString& led, const QString& bar, const QString& level,
                          const QString& peak, const QString& area, const QString& status);

  // RadarView
  void SetCaption(const std::string& text) override;
  void SetMenuFileExitCaption(const std::string& text) override;
  void SetLabelText(RadarLabel label, const std::string& text) override;
  void SetListItems(ParamList list, const std::vector<std::string>& items) override;
  void SetListIndex(ParamList list, int index) override;
  void ShowIdentification(const std::string& text) override;
  void ShowLevel(std::optional<int> level) override;
  void ShowHeldPeak(std::optional<int> peak) override;
  void ShowSignal(int level, bool detected) override;
  void ShowDetectionArea(int sensitivity) override;
  void ShowWindow() override;
  void Unload() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildFrame();
  void BuildSignalColumn(QWidget* client);

  RadarEvents& events_;
  QWidget* client_;
  QGroupBox* frame_param_;
  std::array<ParamCombo*, kParamCount> lists_{};
  QLabel* prm_sensitivity_;
  QLabel* par_ton_rele_;
  QLabel* par_vel_;
  QLabel* par_filter_;
  QLabel* par_high_trafic_;
  QLabel* par_height_;
  QLabel* label_height_;
  QLabel* label_signal_;
  QLabel* value_alarm_;
  QLabel* value_alarm_peak_;
  AreaCanvas* picture_area_;
  LedIndicator* led_;
  SignalBar* bar_;
  QStatusBar* status_bar_;
  QLabel* identification_panel_;
  QAction* menu_file_exit_;
  QAction* menu_history_ = nullptr;
  bool unloaded_ = false;
};

}  // namespace zelto::qt
