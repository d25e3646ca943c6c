// SPDX-License-Identifier: MIT
#include "apps/command_line.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace zelto::qt {
namespace {

// What QGuiApplication, QApplication and the X11 platform plugin take from the command line,
// and whether the option is followed by a value. Qt reads them with one dash or two.
struct QtOption {
  std::string_view name;
  bool takes_value;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true},
    {"platformpluginpath", true},
    {"platformtheme", true},
    {"plugin", true},
    {"qwindowgeometry", true},
    {"geometry", true},
    {"qwindowtitle", true},
    {"title", true},
    {"qwindowicon", true},
    {"icon", true},
    {"session", true},
    {"style", true},
    {"stylesheet", true},
    {"display", true},
    {"name", true},
    {"visual", true},
    {"qmljsdebugger", true},
    {"reverse", false},
    {"widgetcount", false},
    {"testability", false},
    {"nograb", false},
    {"dograb", false},
    {"sync", false},
};

const QtOption* FindQtOption(std::string_view name) {
  for (const QtOption& option : kQtOptions)
    if (option.name == name) return &option;
  return nullptr;
}

const ProgramOption* FindOwn(std::string_view name, std::span<const ProgramOption> options) {
  for (const ProgramOption& option : options)
    if (name == option.name) return &option;
  return nullptr;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv,
                             std::span<const ProgramOption> options) {
  CommandLine line;
  auto fail = [&line](std::string why) {
    line.action = CommandLine::Action::Error;
    line.error = std::move(why);
    return line;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i] != nullptr ? argv[i] : "";
    if (arg == "-h" || arg == "--help") {
      line.action = CommandLine::Action::Help;
      return line;
    }
    if (arg == "-v" || arg == "--version") {
      line.action = CommandLine::Action::Version;
      return line;
    }
    if (arg.size() < 2 || arg[0] != '-')
      return fail("unexpected argument '" + std::string(arg) + "'");
    const bool two_dashes = arg[1] == '-';
    std::string_view name = arg.substr(two_dashes ? 2 : 1);
    std::string_view value;
    bool has_value = false;
    if (const auto equals = name.find('='); equals != std::string_view::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      has_value = true;
    }
    if (name.empty()) return fail("unknown option '" + std::string(arg) + "'");

    // The program's own options take two dashes, so that none can be read as a Qt option.
    if (two_dashes) {
      if (const ProgramOption* own = FindOwn(name, options)) {
        if (own->value_name == nullptr) {
          if (has_value) return fail("option '--" + std::string(name) + "' takes no value");
          line.values[own->name] = "";
          continue;
        }
        if (!has_value) {
          if (i + 1 >= argc) return fail("option '--" + std::string(name) + "' needs a value");
          value = argv[++i];
        }
        line.values[own->name] = std::string(value);
        continue;
      }
    }
    const QtOption* qt = FindQtOption(name);
    if (qt == nullptr) return fail("unknown option '" + std::string(arg) + "'");
    if (qt->takes_value && !has_value) {
      if (i + 1 >= argc) return fail("option '" + std::string(arg) + "' needs a value");
      ++i;  // QApplication reads the value itself
    } else if (!qt->takes_value && has_value) {
      return fail("option '-" + std::string(name) + "' takes no value");
    }
  }
  return line;
}

std::string UsageLine(const std::string& program) {
  return "Usage: " + program + " [OPTION]... [QT-OPTION]...";
}

std::string HelpText(const std::string& program, const std::string& description,
                     std::span<const ProgramOption> options) {
  std::string text = UsageLine(program) + "\n" + description + "\n\nOptions:\n";
  auto add = [&text](std::string left, const char* help) {
    text += "  " + left;
    text += left.size() < 24 ? std::string(24 - left.size(), ' ')
                             : std::string("\n") + std::string(26, ' ');
    text += help;
    text += '\n';
  };
  for (const ProgramOption& option : options) {
    std::string left = std::string("--") + option.name;
    if (option.value_name != nullptr) left += std::string(" ") + option.value_name;
    add(left, option.help);
  }
  add("-h, --help", "show this help and exit");
  add("-v, --version", "show the version and exit");
  text +=
      "\nQt's standard options are accepted too, among them -platform NAME, -style NAME,\n"
      "-display DISPLAY and -reverse.\n"
      "\nThe language is chosen in the Language menu and kept when the program ends: in\n"
      "ZeltoSoft.prm beside the program when it runs from where it was built or copied,\n"
      "and in $XDG_CONFIG_HOME/zeltosoft/ZeltoSoft.prm (~/.config/zeltosoft/) when it is\n"
      "installed.\n";
  return text;
}

std::string VersionText(const std::string& program, const std::string& version) {
  return program + " " + version +
         "\nCopyright (c) 2026 ZeltoSoft developers.\n"
         "Licence MIT: the software is provided as is, without warranty.\n";
}

int AnswerCommandLine(const CommandLine& line, const std::string& program,
                      const std::string& description, const std::string& version,
                      std::span<const ProgramOption> options) {
  switch (line.action) {
    case CommandLine::Action::Run:
      return -1;
    case CommandLine::Action::Help:
      std::fputs(HelpText(program, description, options).c_str(), stdout);
      return 0;
    case CommandLine::Action::Version:
      std::fputs(VersionText(program, version).c_str(), stdout);
      return 0;
    case CommandLine::Action::Error:
      std::fprintf(stderr, "%s: %s\n%s\nTry '%s --help' for more information.\n", program.c_str(),
                   line.error.c_str(), UsageLine(program).c_str(), program.c_str());
      return 2;
  }
  return 2;
}

}  // namespace zelto::qt
