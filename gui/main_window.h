// SPDX-License-Identifier: MIT
// MainWindow: the main window. It shows the product name, the version and the state of the
// programmer and of the device, and hands its menu and close-box events to the program.
#pragma once

#include <QMainWindow>
#include <functional>

#include "core/ports/views.h"

class QAction;
class QLabel;
class QMenu;

namespace zelto::qt {

class AboutBox;

class MainWindow : public QMainWindow, public MainView {
 public:
  // Where the window's events go; empty handlers are ignored.
  struct Handlers {
    std::function<void()> exit_chosen;
    std::function<void()> close_box;
    std::function<void()> about_chosen;
    std::function<void()> italian_chosen;
    std::function<void()> english_chosen;
  };

  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  void SetHandlers(Handlers handlers) { handlers_ = std::move(handlers); }
  bool Unloaded() const { return unloaded_; }
  // The About box while it is open, else nullptr.
  AboutBox* About() const { return about_; }

  // MainView
  void SetLabelVer(const std::string& text) override;
  void SetMenuCaption(MainMenu menu, const std::string& text) override;
  void SetStatusProg(const std::string& text) override;
  void SetStatusProgColour(Rgb colour) override;
  void SetStatusDevice(const std::string& text) override;
  void SetStatusDeviceColour(Rgb colour) override;
  void ShowWindow() override;
  void HideWindow() override;
  void Unload() override;
  void ShowAbout() override;
  bool AboutShown() const override;
  void ShowFatalMessage(const std::string& text, const std::string& title) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Raise(const std::function<void()>& handler);

  Handlers handlers_;
  QLabel* label_status_device_;
  QLabel* label_status_prog_;
  QLabel* label_ver_;
  QLabel* label_name_;
  QLabel* image1_;
  QAction* exit_menu_;
  QMenu* language_menu_;
  QAction* italian_menu_;
  QAction* english_menu_;
  QAction* about_menu_;
  AboutBox* about_ = nullptr;
  bool unloaded_ = false;
  bool placed_ = false;
};

}  // namespace zelto::qt
