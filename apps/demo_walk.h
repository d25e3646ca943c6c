// SPDX-License-Identifier: MIT
// The demo's walk through the windows: it does what a user would do (open the About box,
// watch the main window find the sensor, look at the radar window, pick another
// sensitivity in its list, close the window), takes a screenshot at each stop and ends the
// program through the radar window's close box. Used where nobody watches a display.
#pragma once

#include <QDir>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <vector>

namespace zelto::qt {

class DemoWalk : public QObject {
 public:
  // someone_walks_past: makes a person walk through the sensor's field, so the radar
  // window's screenshot shows a live signal rather than a quiet room.
  DemoWalk(const QString& folder, std::function<void()> someone_walks_past);

  void Start();
  // The screenshots taken so far.
  const QStringList& Shots() const { return shots_; }

 private:
  struct Step {
    const char* what;
    std::function<bool()> ready;  // polled until it holds
    std::function<void()> act;
  };

  void Poll();
  void Fail(const QString& why);
  void Shoot(const char* name, const QWidget* window);

  QDir folder_;
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  qint64 step_started_ms_ = 0;
  qint64 hold_until_ms_ = 0;
  int target_index_ = -1;
  QTimer poll_;
  QStringList shots_;
  std::function<void()> someone_walks_past_;
};

}  // namespace zelto::qt
