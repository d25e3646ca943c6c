// SPDX-License-Identifier: MIT
// The programs' command line: help and version answer without a window system, an unknown
// option is an error, and Qt's standard options pass through to QApplication.
#include "apps/command_line.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace zelto::qt {
namespace {

using Action = CommandLine::Action;

const std::array<ProgramOption, 2> kDemoOptions{{
    {"walk", "FOLDER", "walk and quit"},
    {"no-adapter", nullptr, "empty bench"},
}};

CommandLine Parse(std::vector<const char*> args, std::span<const ProgramOption> options = {}) {
  args.insert(args.begin(), "zeltosoft");
  return ParseCommandLine(static_cast<int>(args.size()), args.data(), options);
}

struct Row {
  const char* name;
  std::vector<const char*> args;
  bool demo;  // with the demo's own options
  Action action;
  const char* error_part = "";
};

void PrintTo(const Row& row, std::ostream* os) {
  *os << row.name;
}

class CommandLineRows : public testing::TestWithParam<Row> {};

TEST_P(CommandLineRows, Parses) {
  const Row& row = GetParam();
  const CommandLine line =
      row.demo ? Parse(row.args, kDemoOptions) : Parse(row.args, std::span<const ProgramOption>{});
  EXPECT_EQ(line.action, row.action) << line.error;
  EXPECT_NE(line.error.find(row.error_part), std::string::npos) << line.error;
}

const Row kRows[] = {
    {"Nothing", {}, false, Action::Run},
    {"Help", {"--help"}, false, Action::Help},
    {"ShortHelp", {"-h"}, false, Action::Help},
    {"Version", {"--version"}, false, Action::Version},
    {"HelpAfterQtOption", {"-style", "Fusion", "--help"}, false, Action::Help},
    // Qt's options, with one dash or two, the value apart or after "=".
    {"QtPlatform", {"-platform", "offscreen"}, false, Action::Run},
    {"QtTwoDashes", {"--platform", "offscreen"}, false, Action::Run},
    {"QtStyleEquals", {"-style=Fusion"}, false, Action::Run},
    {"QtSwitches", {"-reverse", "-display", ":1", "-widgetcount"}, false, Action::Run},
    // A value that looks like an option belongs to the option before it.
    {"QtValueLikeOption", {"-qwindowtitle", "--help"}, false, Action::Run},
    {"Unknown", {"--frobnicate"}, false, Action::Error, "unknown option '--frobnicate'"},
    {"UnknownSingleDash", {"-x"}, false, Action::Error, "unknown option '-x'"},
    {"Positional", {"file.prm"}, false, Action::Error, "unexpected argument 'file.prm'"},
    {"LoneDash", {"-"}, false, Action::Error, "unexpected argument '-'"},
    {"QtValueMissing", {"-platform"}, false, Action::Error, "needs a value"},
    {"QtSwitchWithValue", {"-reverse=yes"}, false, Action::Error, "takes no value"},
    // The demo's options exist for the demo only.
    {"DemoOptionOnRealProgram", {"--no-adapter"}, false, Action::Error, "unknown option"},
    {"DemoWalk", {"--walk", "/tmp/shots", "-platform", "offscreen"}, true, Action::Run},
    {"DemoWalkEquals", {"--walk=/tmp/shots"}, true, Action::Run},
    {"DemoWalkWithoutFolder", {"--walk"}, true, Action::Error, "'--walk' needs a value"},
    {"DemoSwitchWithValue", {"--no-adapter=1"}, true, Action::Error, "takes no value"},
    {"DemoOptionsNeedTwoDashes", {"-walk", "x"}, true, Action::Error, "unknown option '-walk'"},
};

INSTANTIATE_TEST_SUITE_P(Arguments, CommandLineRows, testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLine, KeepsTheDemoOptionValues) {
  const CommandLine line = Parse({"--no-adapter", "--walk", "shots dir"}, kDemoOptions);
  ASSERT_EQ(line.action, Action::Run);
  EXPECT_TRUE(line.Has("no-adapter"));
  ASSERT_TRUE(line.Has("walk"));
  EXPECT_EQ(line.values.at("walk"), "shots dir");
}

// help2man builds the manual page from these texts: the usage line first, options indented,
// the version on the first line of --version.
TEST(CommandLine, TextsHaveTheShapeHelp2manReads) {
  const std::string help = HelpText("zeltosoft-demo", "Does things.", kDemoOptions);
  EXPECT_EQ(help.rfind("Usage: zeltosoft-demo [OPTION]...", 0), 0u);
  EXPECT_NE(help.find("\n  --walk FOLDER "), std::string::npos);
  EXPECT_NE(help.find("\n  -h, --help "), std::string::npos);
  EXPECT_NE(help.find("\n  -v, --version "), std::string::npos);
  EXPECT_NE(help.find("zeltosoft/ZeltoSoft.prm"), std::string::npos);
  const std::string version = VersionText("zeltosoft", "1.0.0+git3.gabc1234");
  EXPECT_EQ(version.substr(0, version.find('\n')), "zeltosoft 1.0.0+git3.gabc1234");
}

}  // namespace
}  // namespace zelto::qt
