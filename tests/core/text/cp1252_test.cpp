// SPDX-License-Identifier: MIT
#include "core/text/cp1252.h"

#include <gtest/gtest.h>

#include <string>

namespace zelto {
namespace {

TEST(Cp1252, BytesToUtf8) {
  const struct {
    char byte;
    const char* utf8;
  } rows[] = {
      {'A', "A"},         {'\x7F', "\x7F"},   {'\x80', "\u20AC"}, {'\x81', "\u0081"},
      {'\x8D', "\u008D"}, {'\x8F', "\u008F"}, {'\x90', "\u0090"}, {'\x9D', "\u009D"},
      {'\x8A', "\u0160"}, {'\x99', "\u2122"}, {'\x9F', "\u0178"}, {'\xA0', "\u00A0"},
      {'\xE0', "\u00E0"}, {'\xE8', "\u00E8"}, {'\xFF', "\u00FF"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Cp1252ToUtf8(std::string(1, row.byte)), row.utf8)
        << "byte " << static_cast<int>(static_cast<unsigned char>(row.byte));
  }
  EXPECT_EQ(Cp1252ToUtf8("Sensibilit\xE0"), "Sensibilit\u00E0");
}

// No byte is lost or merged: each of the 256 becomes one code point and comes back.
TEST(Cp1252, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string utf8 = Cp1252ToUtf8(all);
  int code_points = 0;
  for (char c : utf8) code_points += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  EXPECT_EQ(code_points, 256);
  EXPECT_EQ(Utf8ToCp1252(utf8), all);
}

TEST(Cp1252, Utf8WithoutAByteBecomesQuestionMark) {
  const struct {
    const char* utf8;
    const char* cp1252;
  } rows[] = {
      {"\u00C0 \u20AC \u2019", "\xC0 \x80 \x92"},
      {"\u65E5\u672C", "??"},        // no Windows-1252 byte
      {"\U0001F600", "?"},           // four-byte sequence
      {"\u0080", "?"},               // C1 code point whose byte means the euro sign
      {"a\x80z", "a?z"},             // stray continuation byte
      {"a\xC3", "a?"},               // cut short at the end
      {"\xE2\x82z", "??z"},          // cut short before another character
      {"\xC0\xAF", "??"},            // overlong '/', two bytes
      {"\xE0\x80\xAF", "???"},       // overlong '/', three bytes
      {"\xED\xA0\x80", "???"},       // surrogate
      {"\xF4\x90\x80\x80", "????"},  // beyond U+10FFFF
  };
  for (const auto& row : rows) EXPECT_EQ(Utf8ToCp1252(row.utf8), row.cp1252) << row.utf8;
}

}  // namespace
}  // namespace zelto
