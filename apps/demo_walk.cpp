// SPDX-License-Identifier: MIT
#include "apps/demo_walk.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMetaObject>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTextStream>
#include <QWidget>
#include <cstdio>
#include <utility>

#include "gui/history_window.h"

namespace zelto::qt {

namespace {

constexpr int kPollMs = 50;
constexpr qint64 kStepLimitMs = 20000;
// The sensitivity the walk picks: two items below the sensor's start value.
constexpr int kItemsDown = 2;

qint64 NowMs() {
  return QDateTime::currentMSecsSinceEpoch();
}

QWidget* TopLevel(const char* name) {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->objectName() == QLatin1String(name)) return widget;
  return nullptr;
}

template <class T>
T* Find(const char* window, const char* name) {
  QWidget* top = TopLevel(window);
  return top != nullptr ? top->findChild<T*>(QLatin1String(name)) : nullptr;
}

bool Visible(const char* window) {
  QWidget* top = TopLevel(window);
  return top != nullptr && top->isVisible();
}

void SendKey(QWidget* target, Qt::Key key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &press);
  QCoreApplication::sendEvent(target, &release);
}

}  // namespace

DemoWalk::DemoWalk(const QString& folder, std::function<void()> someone_walks_past)
    : folder_(folder), someone_walks_past_(std::move(someone_walks_past)) {
  poll_.setInterval(kPollMs);
  connect(&poll_, &QTimer::timeout, this, &DemoWalk::Poll);

  // The About box first: it must be closed again before the sensor's delay runs out, or the
  // radar window would wait for it.
  steps_.push_back({"main window shown", [] { return Visible("MainWindow"); },
                    [] {
                      if (auto* about = Find<QAction>("MainWindow", "AboutMenu"))
                        // Queued: the box runs its own event loop, which must not be nested
                        // inside this poll.
                        QTimer::singleShot(0, about, &QAction::trigger);
                    }});
  steps_.push_back({"About box open",
                    [] {
                      QWidget* box = QApplication::activeModalWidget();
                      return box != nullptr && box->objectName() == "AboutBox" && box->isVisible();
                    },
                    [this] {
                      QWidget* box = QApplication::activeModalWidget();
                      Shoot("1-about", box);
                      if (auto* ok = box->findChild<QPushButton*>("CommExitAbout")) ok->click();
                    }});
  steps_.push_back({"main window showing the sensor in green",
                    [] {
                      auto* device = Find<QLabel>("MainWindow", "LabelStatusDevice");
                      return device != nullptr && Visible("MainWindow") &&
                             !device->text().isEmpty() &&
                             device->palette().color(QPalette::WindowText) == QColor(0, 128, 0);
                    },
                    [this] { Shoot("2-main", TopLevel("MainWindow")); }});
  steps_.push_back({"radar window with signal reports",
                    [this] {
                      auto* level = Find<QLabel>("RadarWindow", "LevelValue");
                      if (level == nullptr || !Visible("RadarWindow") || level->text().isEmpty())
                        return false;
                      // Somebody walks by; the shot comes near the top of the signal.
                      if (hold_until_ms_ == 0) {
                        if (someone_walks_past_) someone_walks_past_();
                        hold_until_ms_ = NowMs() + 1500;
                      }
                      return NowMs() >= hold_until_ms_;
                    },
                    [this] {
                      hold_until_ms_ = 0;
                      Shoot("3-radar", TopLevel("RadarWindow"));
                      if (auto* list = Find<QComboBox>("RadarWindow", "SensitivityList"))
                        list->showPopup();
                    }});
  steps_.push_back({"sensitivity list open",
                    [] {
                      auto* list = Find<QComboBox>("RadarWindow", "SensitivityList");
                      return list != nullptr && list->view()->isVisible();
                    },
                    [this] {
                      auto* list = Find<QComboBox>("RadarWindow", "SensitivityList");
                      target_index_ = list->currentIndex() - kItemsDown;
                      if (target_index_ < 0) target_index_ = list->currentIndex() + kItemsDown;
                      Shoot("4-sensitivity-list", TopLevel("RadarWindow"));
                      // The user's keys in the open list: move, then Return to choose.
                      const Qt::Key key =
                          target_index_ < list->currentIndex() ? Qt::Key_Up : Qt::Key_Down;
                      for (int i = 0; i < kItemsDown; ++i) SendKey(list->view(), key);
                      SendKey(list->view(), Qt::Key_Return);
                    }});
  steps_.push_back({"sensor took the new sensitivity",
                    [this] {
                      auto* list = Find<QComboBox>("RadarWindow", "SensitivityList");
                      auto* area = Find<QWidget>("RadarWindow", "DetectionArea");
                      if (list == nullptr || area == nullptr || list->view()->isVisible())
                        return false;
                      // The list shows the value read back from the sensor, and the area has
                      // been redrawn for it; give the next reports a moment as well.
                      if (list->currentIndex() != target_index_) return false;
                      if (hold_until_ms_ == 0) hold_until_ms_ = NowMs() + 700;
                      return NowMs() >= hold_until_ms_;
                    },
                    [this] {
                      hold_until_ms_ = 0;
                      Shoot("5-sensitivity-changed", TopLevel("RadarWindow"));
                      // The signal history, from its menu entry.
                      if (auto* item = Find<QAction>("RadarWindow", "MenuHistory"))
                        item->trigger();
                    }});
  steps_.push_back({"signal history showing the walk and the change",
                    [this] {
                      if (!Visible("HistoryWindow")) return false;
                      if (hold_until_ms_ == 0) {
                        if (someone_walks_past_) someone_walks_past_();
                        hold_until_ms_ = NowMs() + 2500;
                      }
                      return NowMs() >= hold_until_ms_;
                    },
                    [this] {
                      hold_until_ms_ = 0;
                      auto* history = static_cast<HistoryWindow*>(TopLevel("HistoryWindow"));
                      Shoot("6-history", history);
                      if (!history->SavePng(folder_.absoluteFilePath("6-history-chart.png")) ||
                          !history->SaveCsv(folder_.absoluteFilePath("6-history.csv"))) {
                        Fail("the history window could not save its chart");
                        return;
                      }
                      history->close();
                      // The user closes the radar window: the program's normal end.
                      TopLevel("RadarWindow")->close();
                    }});
}

void DemoWalk::Start() {
  if (!folder_.mkpath(".")) {
    Fail("cannot create " + folder_.path());
    return;
  }
  step_started_ms_ = NowMs();
  poll_.start();
}

void DemoWalk::Poll() {
  if (next_ >= steps_.size()) {
    // Every stop is done; the program should have ended through the radar window's close.
    if (NowMs() - step_started_ms_ > 5000) Fail("the program did not end after the walk");
    return;
  }
  Step& step = steps_[next_];
  if (step.ready()) {
    ++next_;
    step_started_ms_ = NowMs();
    step.act();
    return;
  }
  if (NowMs() - step_started_ms_ > kStepLimitMs)
    Fail(QStringLiteral("timed out waiting for: %1").arg(QLatin1String(step.what)));
}

void DemoWalk::Fail(const QString& why) {
  poll_.stop();
  std::fprintf(stderr, "demo walk: %s\n", qPrintable(why));
  // Queued: exit() does nothing while no event loop runs, and Start runs before it does.
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
}

void DemoWalk::Shoot(const char* name, const QWidget* window) {
  if (window == nullptr) {
    Fail(QStringLiteral("no window for %1").arg(QLatin1String(name)));
    return;
  }
  // What changed since the last paint must be on the screen before it is read back.
  QCoreApplication::processEvents();
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->isVisible()) top->repaint();
  // The screen as the user sees it around the window, popups included; a platform that
  // cannot read the screen (Wayland) gets the window's own rendering instead.
  QRect area = window->frameGeometry();
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->isVisible() && top != window && (top->windowFlags() & Qt::Popup) == Qt::Popup)
      area = area.united(top->frameGeometry());
  area.adjust(-6, -6, 6, 6);
  QPixmap shot;
  if (QScreen* screen = window->screen())
    shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
  if (shot.isNull() || shot.width() <= 1) shot = const_cast<QWidget*>(window)->grab();
  const QString path = folder_.absoluteFilePath(QLatin1String(name) + ".png");
  if (!shot.save(path, "PNG")) {
    Fail("cannot write " + path);
    return;
  }
  // Beside the picture, the texts it shows (title, the menu bar's menus, then every visible
  // label, the status bar's among them, in UTF-8): a script checks what a screenshot says
  // without reading pixels.
  QFile text(folder_.absoluteFilePath(QLatin1String(name) + ".txt"));
  if (!text.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    Fail("cannot write " + text.fileName());
    return;
  }
  QTextStream out(&text);
  out << window->windowTitle() << '\n';
  if (const auto* bar = window->findChild<QMenuBar*>())
    for (const QAction* menu : bar->actions()) out << menu->text() << '\n';
  for (const QLabel* label : window->findChildren<QLabel*>())
    if (label->isVisible() && !label->text().isEmpty()) out << label->text() << '\n';
  shots_.append(path);
  std::printf("%s\n", qPrintable(path));
  std::fflush(stdout);
}

}  // namespace zelto::qt
