// SPDX-License-Identifier: MIT
#include "core/text/parameter_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/temp_folder.h"

namespace zelto {
namespace {

struct Row {
  const char* name;
  std::string contents;
  std::int16_t before;  // LanguageIndex before the read
  std::int16_t after;
};

void PrintTo(const Row& row, std::ostream* os) {
  *os << row.name;
}

class ParameterFileRows : public testing::TestWithParam<Row> {};

TEST_P(ParameterFileRows, ReadsTheLanguage) {
  std::int16_t language = GetParam().before;
  ParseParameterFile(GetParam().contents, language);
  EXPECT_EQ(language, GetParam().after);
}

#define HEADER "File configurazione ZeltoSoft"
const Row kRows[] = {
    {"AsWritten", "\"" HEADER "\"\r\n1\r\n", 7, 1},
    {"HeaderWithoutQuotes", HEADER "\r\n1\r\n", 7, 1},
    {"CommaSeparated", "\"" HEADER "\",1", 7, 1},
    {"LoneLf", HEADER "\n1\n", 7, 1},
    {"LoneCr", HEADER "\r1\r", 7, 1},
    {"BlanksAroundUnquotedFields", " \t" HEADER " \t\r\n  -3  \r\n", 7, -3},
    {"BlanksBeforeQuote", "  \"" HEADER "\"\r\n1", 7, 1},
    {"TextAfterClosingQuoteIgnored", "\"" HEADER "\" junk\r\n1", 7, 1},
    {"QuotedValue", "\"" HEADER "\"\r\n\"1\"", 7, 1},
    {"QuotedFieldKeepsComma", "\"" HEADER "\",\"1,5\"", 7, 7},
    {"AnyValueKept", HEADER "\r\n5\r\n", 0, 5},
    {"QuotedHeaderKeepsBlanks", "\" " HEADER "\"\r\n1", 7, 0},
    {"HeaderCaseMatters", "\"file configurazione zeltosoft\"\r\n1\r\n", 7, 0},
    {"UnclosedQuoteSwallowsTheRest", "\"" HEADER "\r\n1\r\n", 7, 0},
    {"EmptyFile", "", 7, 0},
    {"ValueMissing", "\"" HEADER "\"\r\n", 7, 0},
    {"ValueEmptyLine", "\"" HEADER "\"\r\n\r\n1\r\n", 7, 0},
    {"ValueNotANumber", HEADER "\r\nEnglish\r\n", 7, 7},
    {"ValueWithLetters", HEADER "\r\n1x\r\n", 7, 7},
    {"ValueAbove16Bits", HEADER "\r\n32768\r\n", 7, 7},
    {"ValueBelow16Bits", HEADER "\r\n-32769\r\n", 7, 7},
};
#undef HEADER

INSTANTIATE_TEST_SUITE_P(Fields, ParameterFileRows, testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

constexpr char kOld[] = "\"File configurazione ZeltoSoft\"\r\n1\r\n";

class ParameterFileOnDisk : public testing::Test {
 protected:
  test::TempFolder folder_;
  std::filesystem::path file_ = folder_.path() / kParameterFile;
  std::filesystem::path temp_ = folder_.path() / (std::string(kParameterFile) + ".tmp");
};

TEST_F(ParameterFileOnDisk, WriteThenReadGivesTheSameValue) {
  for (std::int16_t value : {0, 1, 5, -1, 32767, -32768}) {
    WriteParameterFile(file_, value);
    std::int16_t language = 99;
    ReadParameterFile(file_, language);
    EXPECT_EQ(language, value);
  }
  EXPECT_FALSE(std::filesystem::exists(temp_));
}

TEST_F(ParameterFileOnDisk, WritesTwoCrLfLinesReplacingTheOldContent) {
  WriteBytes(file_, "a much longer previous content that must not survive\r\n\r\n\r\n");
  WriteParameterFile(file_, -2);
  EXPECT_EQ(ReadBytes(file_), "\"File configurazione ZeltoSoft\"\r\n-2\r\n");
}

TEST_F(ParameterFileOnDisk, MissingFileGivesItalian) {
  std::int16_t language = 1;
  ReadParameterFile(file_, language);
  EXPECT_EQ(language, 0);
}

// Where no temporary file can be made beside it but the file itself may be written (a
// shared folder the user may not add to), the choice is still kept: in place.
TEST_F(ParameterFileOnDisk, TemporaryFileCannotBeCreatedWritesInPlace) {
  WriteBytes(file_, kOld);
  std::filesystem::create_directory(temp_);
  EXPECT_NO_THROW(WriteParameterFile(file_, 0));
  EXPECT_EQ(ReadBytes(file_), "\"File configurazione ZeltoSoft\"\r\n0\r\n");
  EXPECT_TRUE(std::filesystem::is_directory(temp_));  // not ours to remove
}

TEST_F(ParameterFileOnDisk, CreatesTheMissingFolder) {
  const std::filesystem::path nested = folder_.path() / "config" / "zeltosoft" / kParameterFile;
  WriteParameterFile(nested, 1);
  std::int16_t language = 0;
  ReadParameterFile(nested, language);
  EXPECT_EQ(language, 1);
}

// The other ways the write can fail leave the previous file whole and stay silent.

TEST_F(ParameterFileOnDisk, WritesFailAfterTheOpen) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  WriteBytes(file_, kOld);
  std::filesystem::create_symlink("/dev/full", temp_);  // opens fine, every write fails
  EXPECT_NO_THROW(WriteParameterFile(file_, 0));
  EXPECT_EQ(ReadBytes(file_), kOld);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(temp_)));
}

TEST_F(ParameterFileOnDisk, ReadOnlyFolder) {
  WriteBytes(file_, kOld);
  std::filesystem::permissions(
      folder_.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  if (std::ofstream(folder_.path() / "probe").is_open()) {
    GTEST_SKIP() << "this user may write into a read-only folder (root)";
  }
  // The file itself is still writable: rewritten in place.
  EXPECT_NO_THROW(WriteParameterFile(file_, 0));
  EXPECT_EQ(ReadBytes(file_), "\"File configurazione ZeltoSoft\"\r\n0\r\n");
  // With the file write-protected as well, nothing changes.
  std::filesystem::permissions(file_, std::filesystem::perms::owner_read);
  EXPECT_NO_THROW(WriteParameterFile(file_, 1));
  EXPECT_EQ(ReadBytes(file_), "\"File configurazione ZeltoSoft\"\r\n0\r\n");
}

TEST_F(ParameterFileOnDisk, TargetCannotBeReplaced) {
  std::filesystem::create_directories(file_ / "inside");  // a folder in the file's place
  EXPECT_NO_THROW(WriteParameterFile(file_, 1));
  EXPECT_TRUE(std::filesystem::is_directory(file_ / "inside"));
  EXPECT_FALSE(std::filesystem::exists(temp_));
}

// Which file a program reads and writes, by where it runs and what the environment holds.
TEST_F(ParameterFileOnDisk, LocationFollowsWhereTheProgramRuns) {
  const std::filesystem::path program = folder_.path() / "lib" / "zeltosoft";
  const std::filesystem::path beside = program / kParameterFile;
  const std::filesystem::path home = folder_.path() / "home";
  const std::string xdg = (folder_.path() / "xdg").string();
  const std::filesystem::path in_home = home / ".config" / "zeltosoft" / kParameterFile;
  const std::filesystem::path in_xdg = std::filesystem::path(xdg) / "zeltosoft" / kParameterFile;
  struct Row {
    const char* name;
    bool installed;
    const char* xdg_config_home;
    const char* home;
    bool user_has_file;  // at the expected write place
    std::filesystem::path read, write;
  };
  const std::string home_text = home.string();
  const Row rows[] = {
      // A build tree or a copy carried around: beside the program, whatever the environment.
      {"NotInstalled", false, xdg.c_str(), home_text.c_str(), true, beside, beside},
      // Installed: the user's own file once there is one; until then the one beside the
      // program (a default put there by whoever installed it) is read.
      {"InstalledFirstRun", true, nullptr, home_text.c_str(), false, beside, in_home},
      {"InstalledLaterRuns", true, nullptr, home_text.c_str(), true, in_home, in_home},
      {"XdgConfigHome", true, xdg.c_str(), home_text.c_str(), true, in_xdg, in_xdg},
      // A relative XDG_CONFIG_HOME is invalid and ignored.
      {"RelativeXdgIgnored", true, "relative/dir", home_text.c_str(), false, beside, in_home},
      {"EmptyXdgIgnored", true, "", home_text.c_str(), true, in_home, in_home},
      // Nowhere of the user's own: the program's folder as before.
      {"NoHome", true, nullptr, nullptr, false, beside, beside},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove_all(home);
    std::filesystem::remove_all(xdg);
    if (row.user_has_file) WriteParameterFile(row.write, 1);
    const ParameterFileLocation location =
        LocateParameterFile(program, row.installed, row.xdg_config_home, row.home);
    EXPECT_EQ(location.read, row.read);
    EXPECT_EQ(location.write, row.write);
  }
}

}  // namespace
}  // namespace zelto
