// SPDX-License-Identifier: MIT
// The part both programs share: the windows, the Qt timers and the program logic on a given
// driver, run until the main window is unloaded.
#pragma once

#include <filesystem>
#include <functional>

#include "core/program/program.h"
#include "core/ports/adapter_port.h"

namespace zelto::qt {

class QtUi;

// The demo's name in window titles.
inline constexpr char kDemoDisplayName[] = "Simulated demo";

// The executable's folder (where StringTable.txt lives), the version the build was configured
// with, and where the language is kept: beside the executable, or in the user's config folder
// when the program runs from the folder it was installed to.
ProgramConfig ConfigForThisExecutable();

// What the Windows installer leaves beside the programs it installed.
inline constexpr char kWindowsUninstaller[] = "Uninstall.exe";

// Whether program_folder is the folder this build installs the programs to, or (on Windows)
// one the installer installed them to.
bool RunsFromInstallFolder(const std::filesystem::path& program_folder);

// Needs a QApplication. `started` runs after the program's load, before the event loop, when
// the load did not already end the program. Returns the event loop's exit code.
int RunProgram(AdapterPort& driver, const std::function<void(QtUi&, Program&)>& started = {});

}  // namespace zelto::qt
