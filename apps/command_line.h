// SPDX-License-Identifier: MIT
// The programs' command line, read before any window system is touched: --help and --version
// answer on a machine without a display, and an option nobody knows is an error instead of
// being dropped. Qt's own standard options (-platform, -style, -display, -reverse, ...) pass
// through to QApplication, which takes them out of argv itself.
#pragma once

#include <map>
#include <span>
#include <string>

namespace zelto::qt {

// A program's own option, "--name" or "--name VALUE" / "--name=VALUE".
struct ProgramOption {
  const char* name;        // without the dashes
  const char* value_name;  // null for a switch
  const char* help;
};

struct CommandLine {
  enum class Action { Run, Help, Version, Error };
  Action action = Action::Run;
  std::map<std::string, std::string> values;  // the program's options that were given
  std::string error;                          // for Action::Error, one line

  bool Has(const std::string& name) const { return values.count(name) != 0; }
};

CommandLine ParseCommandLine(int argc, const char* const* argv,
                             std::span<const ProgramOption> options = {});

// "Usage: zeltosoft [OPTION]... [QT-OPTION]..."
std::string UsageLine(const std::string& program);
// The whole --help text: usage, what the program does, its options, Qt's, where the language
// choice is kept. Shaped so that help2man can make the manual page from it.
std::string HelpText(const std::string& program, const std::string& description,
                     std::span<const ProgramOption> options);
// "zeltosoft 1.0.0+git42.g1a2b3c4" and the licence line.
std::string VersionText(const std::string& program, const std::string& version);

// Prints what the parse asks for and gives the exit code, or -1 when the program should run:
// help and version go to standard output (exit 0), an error and the usage line to standard
// error (exit 2).
int AnswerCommandLine(const CommandLine& line, const std::string& program,
                      const std::string& description, const std::string& version,
                      std::span<const ProgramOption> options = {});

}  // namespace zelto::qt
