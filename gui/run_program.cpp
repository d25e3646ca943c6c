// SPDX-License-Identifier: MIT
#include "gui/run_program.h"

#include <QApplication>
#include <cstdlib>
#include <system_error>

#include "gui/qt_timer.h"
#include "gui/qt_ui.h"
#include "zelto_version.h"

namespace zelto::qt {

bool RunsFromInstallFolder(const std::filesystem::path& program_folder) {
  std::error_code ec;
#ifdef _WIN32
  // The installer lets the user choose the folder, and leaves its uninstaller there: such a
  // folder (Program Files, written by administrators only) is an installed one.
  if (std::filesystem::is_regular_file(program_folder / kWindowsUninstaller, ec)) return true;
#endif
#ifdef ZELTO_INSTALL_FOLDER
  // Compared as files, not as text: links and "/usr/lib/../lib" name the same folder.
  return std::filesystem::equivalent(program_folder, std::filesystem::path(ZELTO_INSTALL_FOLDER),
                                     ec) &&
         !ec;
#else
  (void)program_folder;
  return false;
#endif
}

ProgramConfig ConfigForThisExecutable() {
  ProgramConfig config;
  config.folder = std::filesystem::path(QCoreApplication::applicationDirPath().toStdU16String());
  config.version = ProgramVersion{ZELTO_VERSION_MAJOR, ZELTO_VERSION_MINOR, ZELTO_VERSION_PATCH};
#if defined(_WIN32)
  // Windows keeps a user's settings under %APPDATA%; read through Qt, which hands over the
  // wide value, so a user name in any script survives.
  config.parameter_file = LocateParameterFileIn(
      config.folder, RunsFromInstallFolder(config.folder),
      std::filesystem::path(qEnvironmentVariable("APPDATA").toStdU16String()));
#else
  config.parameter_file = LocateParameterFile(config.folder, RunsFromInstallFolder(config.folder),
                                              std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
#endif
  return config;
}

int RunProgram(AdapterPort& driver, const std::function<void(QtUi&, Program&)>& started) {
  // Declared in this order so the program goes first: it still owns timers and perhaps a
  // radar window when it is destroyed.
  QtTimerFactory timers;
  QtUi ui;
  QtClock clock;
  Program program(driver, timers, ui, ConfigForThisExecutable());
  program.SetHistoryClock(&clock);
  ui.Connect(program);
  program.Load();
  // A missing string table ends the program inside Load, before any event loop.
  if (program.Ended()) return 0;
  if (started) started(ui, program);
  return QApplication::exec();
}

}  // namespace zelto::qt
