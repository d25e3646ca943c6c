// SPDX-License-Identifier: MIT
// Routes the core's warnings and informational lines into Qt's logging, one QLoggingCategory
// per core category ("zelto.usb", ...). Warnings reach standard error by default; the info
// lines only when asked for, e.g. QT_LOGGING_RULES="zelto.*.info=true".
#pragma once

namespace zelto::qt {

// Safe before the QApplication exists; lasts for the rest of the process.
void RouteDiagnosticsToQtLogging();

}  // namespace zelto::qt
