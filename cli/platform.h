// SPDX-License-Identifier: MIT
// What zeltoctl needs of the operating system and does differently on POSIX and Windows:
// its own folder, file names, durable appends, and the console. Text inside the program is
// UTF-8 everywhere; Windows' wide calls are made only here, at the boundary.
#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zelto::cli {

// The calendar time of `t` in UTC or in the local time zone, by the thread-safe calls
// (gmtime_r and localtime_r on POSIX, gmtime_s and localtime_s on Windows).
std::tm CalendarTime(std::time_t t, bool utc);

// The folder of the running executable; empty when the system will not say.
std::filesystem::path ExecutableFolder();

// The folder for the data zeltoctl keeps for its user (the record database): ZeltoSoft under
// %LOCALAPPDATA% on Windows (read as the wide variable: a user name may hold any character),
// zeltosoft under $XDG_DATA_HOME (when it is an absolute path) or ~/.local/share elsewhere.
// Empty when the environment names no such place.
std::filesystem::path UserDataFolder();

// A file name given as UTF-8 (the command line, a message) as a path, and back. On Windows
// a std::string path would be read in the ANSI code page and lose every other character.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string PathToUtf8(const std::filesystem::path& path);

// The program's arguments as UTF-8. POSIX hands them over as they are; Windows is asked for
// its wide command line, since argv there is in the ANSI code page.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Whether stdout is a terminal that moves the cursor on the usual escape sequences (on
// Windows, a console that was switched to take them).
bool StdoutIsTerminal();

// Makes the console show what the program writes as UTF-8.
void UseUtf8Console();

// Routes Windows' console events to `on_signal`: Ctrl-C and Ctrl-Break as SIGINT, closing the
// console window, logging off and shutting down as a hang-up (SIGHUP's number), as a closed
// terminal is on POSIX. `on_signal` runs on
// a thread of its own and must only raise a flag; for the closing events the program is given
// the time Windows allows to finish on its own before it is ended. A second Ctrl-C ends the
// program at once. Does nothing on POSIX, where signals reach the program by themselves.
void RouteConsoleEvents(void (*on_signal)(int signal_number));

// Whether `path` (UTF-8) opens for appending, created when missing; false with the system's
// reason in `error`.
bool CanAppend(const std::string& path, std::string& error);

// Appends to `path` (UTF-8; created when missing) the text that `make` returns, told whether
// the file was empty, with one write, and has it on the disk before returning: fsync on
// POSIX, FlushFileBuffers on Windows. False with the system's reason in `error`.
bool AppendDurably(const std::string& path, const std::function<std::string(bool was_empty)>& make,
                   std::string& error);

}  // namespace zelto::cli
