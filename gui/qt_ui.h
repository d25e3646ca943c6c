// SPDX-License-Identifier: MIT
// The windowing system as the program sees it: the main window, a new radar window on every
// opening, the user's decimal separator, and the end of the program.
#pragma once

#include <memory>
#include <string>

#include "gui/main_window.h"
#include "core/ports/views.h"

namespace zelto {
class Program;
}

namespace zelto::qt {

class HistoryWindow;

class QtUi : public Ui {
 public:
  // Needs the QApplication to exist.
  QtUi();
  ~QtUi() override;

  // Hands the main window's menu and close-box events to the program.
  void Connect(Program& program);

  MainWindow& Window() { return main_; }
  // The signal history window, created at its first opening; null before.
  HistoryWindow* History() const { return history_.get(); }
  void ShowHistory();
  // True once the program asked to end.
  bool QuitRequested() const { return quit_requested_; }

  MainView& Main() override { return main_; }
  std::unique_ptr<RadarView> CreateRadarView(RadarEvents& events) override;
  std::string DecimalSeparator() const override;
  void Quit() override;

 private:
  MainWindow main_;
  Program* program_ = nullptr;
  std::unique_ptr<HistoryWindow> history_;
  bool quit_requested_ = false;
};

}  // namespace zelto::qt
