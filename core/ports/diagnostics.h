// SPDX-License-Identifier: MIT
// Warnings and informational lines from the core, each with a category ("zelto.usb",
// "zelto.driver", ...). Nothing is printed until a program installs a sink: the windowed
// program routes them to QLoggingCategory, a command-line program to standard error, and the
// tests can collect them. The core never talks to a terminal itself.
#pragma once

#include <functional>
#include <string_view>

namespace zelto {

enum class DiagLevel { Info, Warning };

using DiagSink =
    std::function<void(DiagLevel level, std::string_view category, std::string_view message)>;

// Replaces the process-wide sink; an empty function makes the core quiet again.
void SetDiagSink(DiagSink sink);

void DiagInfo(std::string_view category, std::string_view message);
void DiagWarning(std::string_view category, std::string_view message);

// A warning given once per run for the same key (an adapter's location and the reason, say),
// so that a fault seen by a 20 Hz scan is reported once, not twenty times a second. Returns
// whether it was passed on.
bool DiagWarningOnce(std::string_view category, std::string_view key, std::string_view message);

// Forgets the keys DiagWarningOnce has seen (tests; a new run of the command-line tool).
void ResetDiagOnce();

}  // namespace zelto
