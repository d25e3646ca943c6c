// SPDX-License-Identifier: MIT
// Start-up timing, for bench/run. With ZELTO_EXIT_AFTER_SHOWN set, the program prints
// "shown_ms <n>" on standard output once the main window has been painted for the first
// time, n being the milliseconds since the process started, and then quits.
//
// The variable holds the launch instant in nanoseconds on the realtime clock (the script
// passes `date +%s%N`), or any small value such as 1 to take the process start time from the
// system: on Linux from /proc, which is only as fine as the kernel's clock tick (10 ms); on
// Windows from the process's creation time.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace zelto::qt {

class StartupProbe : public QObject {
 public:
  static void InstallIfAsked() {
    const char* value = std::getenv("ZELTO_EXIT_AFTER_SHOWN");
    if (value == nullptr || *value == '\0') return;
    auto* probe = new StartupProbe(std::strtoll(value, nullptr, 10));
    probe->setParent(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(probe);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Paint || done_) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window()->objectName() != QLatin1String("MainWindow"))
      return false;
    done_ = true;
    // Queued, so the window's first paint has finished when the time is taken.
    QMetaObject::invokeMethod(
        this,
        [this] {
          std::printf("shown_ms %.1f\n", MsSinceStart());
          std::fflush(stdout);
          QCoreApplication::quit();
        },
        Qt::QueuedConnection);
    return false;
  }

 private:
  explicit StartupProbe(long long launch_ns) : launch_ns_(launch_ns) {}

  double MsSinceStart() const {
    if (launch_ns_ > 1'000'000'000LL) {
      const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::chrono::system_clock::now().time_since_epoch());
      return static_cast<double>(now.count() - launch_ns_) / 1e6;
    }
#ifdef _WIN32
    // Both in 100 ns units since 1601, on the same (system) clock.
    FILETIME created{}, exited{}, kernel{}, user{}, now{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
    GetSystemTimePreciseAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) {
      return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(now) - ticks(created)) / 1e4;
#else
    // Field 22 of /proc/self/stat: start time in clock ticks after boot. The command name
    // in field 2 may hold blanks, so counting starts after its closing parenthesis.
    std::ifstream stat("/proc/self/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) return -1;
    const char* p = line.c_str() + close + 2;  // field 3
    for (int field = 3; field < 22 && *p != '\0'; ++field) {
      while (*p != '\0' && *p != ' ') ++p;
      if (*p == ' ') ++p;
    }
    const double start_s = std::strtod(p, nullptr) / static_cast<double>(sysconf(_SC_CLK_TCK));
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return (now.tv_sec + now.tv_nsec / 1e9 - start_s) * 1e3;
#endif
  }

  long long launch_ns_;
  bool done_ = false;
};

}  // namespace zelto::qt
