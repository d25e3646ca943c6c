// The part both programs share: the windows, the Qt timers and the program logic on a given
// driver, run until the main window is unloaded.
#pragma once

#include <functional>

#include "shell/program.h"
#include "usb/d2xx_port.h"

namespace zelto::qt {

class QtUi;

// The executable's folder (where StringTable.txt and ZeltoSoft.prm live) and the version the
// build was configured with.
ProgramConfig ConfigForThisExecutable();

// Needs a QApplication. `started` runs after the program's load, before the event loop, when
// the load did not already end the program. Returns the event loop's exit code.
int RunProgram(D2xxPort& driver, const std::function<void(QtUi&, Program&)>& started = {});

}  // namespace zelto::qt
