// SPDX-License-Identifier: MIT
#include "core/text/string_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/text/text_id.h"
#include "tests/support/diag_capture.h"
#include "tests/support/temp_folder.h"

namespace zelto {
namespace {

using Table = std::array<std::string, 201>;

// Every entry starts as "old<n>", so a test sees both what a load gave and what it kept.
Table OldTable() {
  Table table;
  for (std::size_t i = 0; i < table.size(); ++i) table[i] = "old" + std::to_string(i);
  return table;
}

struct Row {
  const char* name;
  std::string contents;
  std::int16_t language;
  bool ok;
  std::map<int, std::string> changed;  // entries that differ from OldTable() afterwards
};

void PrintTo(const Row& row, std::ostream* os) {
  *os << row.name;
}

class StringTableRows : public testing::TestWithParam<Row> {};

TEST_P(StringTableRows, LoadsOrFailsAsTheFileSays) {
  const Row& row = GetParam();
  Table table = OldTable();
  EXPECT_EQ(ParseStringTable(row.contents, row.language, table), row.ok);
  Table expected = OldTable();
  for (const auto& [entry, text] : row.changed) expected[entry] = text;
  for (std::size_t i = 0; i < table.size(); ++i) EXPECT_EQ(table[i], expected[i]) << "entry " << i;
}

// Fatal rows keep the whole table: a failed load changes nothing.
const Row kRows[] = {
    {"ItalianLine", "#STRING 11\r\n&Esci\r\n&Exit\r\n", 0, true, {{11, "&Esci"}}},
    {"EnglishLine", "#STRING 11\r\n&Esci\r\n&Exit\r\n", 1, true, {{11, "&Exit"}}},
    {"ThirdLineForLanguage2", "#STRING 3\r\na\r\nb\r\nc\r\n", 2, true, {{3, "c"}}},
    {"NoLineForLanguage5", "#STRING 3\r\na\r\nb\r\n", 5, true, {}},
    {"NegativeLanguageMatchesNothing", "#STRING 3\r\na\r\nb\r\n", -1, true, {}},
    {"EmptyFile", "", 0, true, {}},
    {"LoneCrEndsALine", "#STRING 4\rit\ren", 1, true, {{4, "en"}}},
    {"LoneLfStaysInTheText", "#STRING 4\r\nit\nstill it\r\nen", 0, true, {{4, "it\nstill it"}}},
    {"CrCrLfIsTwoLines", "#STRING 4\r\r\nit", 1, true, {{4, "it"}}},
    {"LastLineWithoutEnd", "#STRING 4\r\nit\r\nen", 1, true, {{4, "en"}}},
    {"FinalCrLfAddsNoEmptyLine", "#STRING 4\r\nit\r\n", 1, true, {}},
    {"FinalCrAddsNoEmptyLine", "#STRING 4\rit\r", 1, true, {}},
    {"EmptyLineIsAText", "#STRING 4\r\n\r\nit\r\n", 0, true, {{4, ""}}},
    {"EmptyLineShiftsLanguages", "#STRING 4\r\n\r\nit\r\n", 1, true, {{4, "it"}}},
    {"NothingTrimmed", "#STRING 4\r\n  a b \t\r\n", 0, true, {{4, "  a b \t"}}},
    {"LinesBeforeFirstHeaderAreEntry0",
     "pre it\r\npre en\r\n#STRING 4\r\nx",
     1,
     true,
     {{0, "pre en"}}},
    {"LfOnlyFileWithoutHeaderIsOneLine", "a\nb\nc", 0, true, {{0, "a\nb\nc"}}},
    {"NumberRightAfterHeader", "#STRING11\r\nx", 0, true, {{11, "x"}}},
    {"BlanksAroundNumber", "#STRING  \t 11 \t\r\nx", 0, true, {{11, "x"}}},
    {"LeadingZerosAndPlus", "#STRING 007\r\nx\r\n#STRING +8\r\ny", 0, true, {{7, "x"}, {8, "y"}}},
    {"Above200Is200", "#STRING 250\r\nx", 0, true, {{200, "x"}}},
    {"LargestNumberIs200", "#STRING 32767\r\nx", 0, true, {{200, "x"}}},
    {"LaterHeaderWins", "#STRING 5\r\na\r\n#STRING 5\r\nb", 0, true, {{5, "b"}}},
    {"TwoNumbersAbove200", "#STRING 201\r\na\r\n#STRING 999\r\nb", 0, true, {{200, "b"}}},
    {"LowerCaseHeaderIsText", "#STRING 5\r\n#string 6\r\n", 0, true, {{5, "#string 6"}}},
    {"NegativeEntryWithoutSelectedLine", "#STRING -1\r\nit\r\n", 1, true, {}},
    {"NegativeEntryWithoutTextLines", "#STRING -32768\r\n#STRING 5\r\nx", 0, true, {{5, "x"}}},
    {"NegativeEntryWithSelectedLine", "#STRING 5\r\nx\r\n#STRING -1\r\nit\r\n", 0, false, {}},
    {"HeaderOnly", "#STRING 5\r\nx\r\n#STRING\r\n", 0, false, {}},
    {"HeaderWithLetters", "#STRING abc", 0, false, {}},
    {"NumberThenLetters", "#STRING 1a", 0, false, {}},
    {"TwoNumbers", "#STRING 1 2", 0, false, {}},
    {"Above32767", "#STRING 32768", 0, false, {}},
    {"BelowMinus32768", "#STRING -32769", 0, false, {}},
    {"HugeNumber", "#STRING 99999999999999999999", 0, false, {}},
    {"SignOnly", "#STRING -", 0, false, {}},
    {"TwoSigns", "#STRING +-1", 0, false, {}},
    {"LfOnlyFileStartingWithHeader", "#STRING 5\nit\nen\n", 0, false, {}},
};

INSTANTIATE_TEST_SUITE_P(Rules, StringTableRows, testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Text lines under one header are counted in a 16-bit counter: 32767 of them are fine, one
// more is fatal; a new header starts counting again.
TEST(StringTable, TextLineCounterLimit) {
  std::string lines;
  for (int i = 0; i < 32767; ++i) lines += "line" + std::to_string(i) + "\r\n";
  Table table = OldTable();
  ASSERT_TRUE(ParseStringTable("#STRING 9\r\n" + lines, 32766, table));
  EXPECT_EQ(table[9], "line32766");
  ASSERT_TRUE(ParseStringTable("#STRING 9\r\n" + lines + "#STRING 8\r\n" + lines, 3, table));
  EXPECT_EQ(table[8], "line3");
  EXPECT_FALSE(ParseStringTable("#STRING 9\r\n" + lines + "one too many", 0, table));
  EXPECT_FALSE(ParseStringTable(lines + "one too many", 0, table));  // entry 0 counts too
}

// A language switch reloads the file; entries the new language lacks keep the old language's
// text.
TEST(StringTable, EntriesKeepTextAcrossLoads) {
  const std::string file = "#STRING 11\r\n&Esci\r\n&Exit\r\n#STRING 12\r\n";
  Table table{};
  ASSERT_TRUE(ParseStringTable(file + "\r\n&Language", 1, table));
  ASSERT_TRUE(ParseStringTable("#STRING 11\r\n&Esci", 0, table));
  EXPECT_EQ(table[Text::kExitMenu], "&Esci");
  EXPECT_EQ(table[Text::kLanguageMenu], "&Language");
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(StringTable, LoadReadsTheFileAsBytes) {
  test::TempFolder folder;
  const auto path = folder.path() / kStringTableFile;
  // A Ctrl-Z or a NUL is ordinary text: the file is read in binary, not as DOS text.
  const char bytes[] = "#STRING 57\r\nSensibilit\xE0\x1A\0x\r\nSensitivity";
  const char italian[] = "Sensibilit\xE0\x1A\0x";
  WriteFile(path, std::string(bytes, sizeof bytes - 1));
  Table table{};
  ASSERT_TRUE(LoadStringTable(path, 0, table));
  EXPECT_EQ(table[Text::kSensitivityCaption], std::string(italian, sizeof italian - 1));
}

TEST(StringTable, LoadFailsWhenTheFileCannotBeRead) {
  test::TempFolder folder;
  Table table = OldTable();
  EXPECT_FALSE(LoadStringTable(folder.path() / kStringTableFile, 0, table));
  EXPECT_FALSE(LoadStringTable(folder.path(), 0, table));  // a folder opens but cannot be read
  EXPECT_EQ(table, OldTable());
}

// The message box says only that the file is missing, also for one that is there but broken;
// standard error says where and why.
TEST(StringTable, FatalLoadNamesTheFileAndTheLine) {
  test::TempFolder folder;
  const std::filesystem::path path = folder.path() / kStringTableFile;
  struct Row {
    std::string contents;
    std::int16_t language;
    std::string where;  // expected after the path
  };
  const Row rows[] = {
      {"#STRING 11\r\n&Esci\r\n&Exit\r\n#STRING eleven\r\nx\r\n", 0,
       ":4: the entry number is not a 16-bit decimal number"},
      {"#STRING 1\r\nuno\r\n#STRING -1\r\n\r\nmeno uno\r\n", 0,
       ":4: a text of the chosen language under a negative entry number"},
      // Line feeds alone do not end lines: the whole file is line 1.
      {"#STRING 11\n&Esci\n", 0, ":1: the entry number is not a 16-bit decimal number"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.where);
    test::DiagCapture diag;
    WriteFile(path, row.contents);
    Table table = OldTable();
    EXPECT_FALSE(LoadStringTable(path, row.language, table));
    EXPECT_EQ(diag.Warnings(),
              std::vector<std::string>{"zelto.strings: " + path.string() + row.where});
  }
  test::DiagCapture diag;
  std::filesystem::remove(path);
  Table table = OldTable();
  EXPECT_FALSE(LoadStringTable(path, 0, table));
  EXPECT_EQ(diag.Warnings(),
            std::vector<std::string>{"zelto.strings: " + path.string() + ": cannot be read"});
  // A good file says nothing.
  WriteFile(path, "#STRING 11\r\n&Esci\r\n");
  diag.lines.clear();
  EXPECT_TRUE(LoadStringTable(path, 0, table));
  EXPECT_TRUE(diag.lines.empty());
}

// Each menu's entries must have different access keys in each language, or Alt+key only
// reaches the first of them.
TEST(StringTable, ShippedMenusHaveDistinctAccessKeys) {
  const std::filesystem::path shipped =
      std::filesystem::path(ZELTO_SOURCE_DIR) / "data" / kStringTableFile;
  auto key = [](const std::string& caption) {
    const auto amp = caption.find('&');
    return amp == std::string::npos || amp + 1 >= caption.size()
               ? '\0'
               : static_cast<char>(std::tolower(static_cast<unsigned char>(caption[amp + 1])));
  };
  const std::vector<std::vector<int>> menus = {{11, 12}, {13, 14}};  // menu bar, Language menu
  for (std::int16_t language : {0, 1}) {
    Table table{};
    ASSERT_TRUE(LoadStringTable(shipped, language, table));
    for (const auto& menu : menus) {
      std::set<char> keys;
      for (int entry : menu) {
        const char k = key(table[entry]);
        EXPECT_NE(k, '\0') << "entry " << entry << " has no access key";
        EXPECT_TRUE(keys.insert(k).second) << "language " << language << ": entry " << entry
                                           << " \"" << table[entry] << "\" repeats an access key";
      }
    }
  }
}

TEST(StringTable, ShippedFileHasEveryUsedEntryInBothLanguages) {
  const std::filesystem::path shipped =
      std::filesystem::path(ZELTO_SOURCE_DIR) / "data" / kStringTableFile;
  const int used[] = {0,  1,  11, 12, 13, 14, 20, 21, 22, 23, 30, 31, 32, 33, 50,
                      51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64};
  Table italian{}, english{};
  ASSERT_TRUE(LoadStringTable(shipped, 0, italian));
  ASSERT_TRUE(LoadStringTable(shipped, 1, english));
  for (int entry : used) {
    EXPECT_FALSE(italian[entry].empty()) << "Italian entry " << entry;
    EXPECT_FALSE(english[entry].empty()) << "English entry " << entry;
  }
  EXPECT_EQ(italian[11], "&Esci");
  EXPECT_EQ(english[11], "&Exit");
  EXPECT_EQ(italian[33], "Duroz740");
  EXPECT_EQ(italian[57], "Sensibilit\xE0");  // Windows-1252: one byte for the accent
}

}  // namespace
}  // namespace zelto
