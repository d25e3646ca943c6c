// SPDX-License-Identifier: MIT
// The parameter record shared by the radar window and zeltoctl: wire values, list positions,
// the write payload, the reply decoding, and the plain-number texts.
#include "core/protocol/radar_params.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/text/text_id.h"

namespace zelto {
namespace {

using Bytes = std::array<std::uint8_t, kParamCount>;

struct DecodeCase {
  const char* what;
  Bytes payload;
  bool has_height;
  int first_invalid;
  Bytes expected;  // the record after decoding (defaults where invalid)
};

TEST(RadarParams, DecodeTellsEachFieldAndWhereTheWindowStops) {
  const std::vector<DecodeCase> cases = {
      {"all in range", {9, 9, 2, 2, 1, 2}, true, kParamCount, {9, 9, 2, 2, 1, 2}},
      {"lowest values", {1, 1, 0, 0, 0, 0}, true, kParamCount, {1, 1, 0, 0, 0, 0}},
      {"sensitivity 0", {0, 3, 1, 1, 1, 1}, true, 0, {5, 3, 1, 1, 1, 1}},
      {"relay 10 after sensitivity 5", {5, 10, 1, 1, 1, 1}, true, 1, {5, 1, 1, 1, 1, 1}},
      {"speed 3", {5, 2, 3, 0, 0, 0}, true, 2, {5, 2, 1, 0, 0, 0}},
      {"traffic 2", {5, 2, 0, 0, 2, 0}, true, 4, {5, 2, 0, 0, 0, 0}},
      {"height 3 with height", {5, 2, 0, 0, 0, 3}, true, 5, {5, 2, 0, 0, 0, 0}},
      {"height byte ignored without height",
       {5, 2, 0, 0, 0, 7},
       false,
       kParamCount,
       {5, 2, 0, 0, 0, 0}},
      {"two bad fields: the first counts", {5, 0, 9, 0, 0, 0}, true, 1, {5, 1, 1, 0, 0, 0}},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.what);
    const ParamsDecode d = DecodeParamsReply(c.payload.data(), c.has_height);
    EXPECT_EQ(d.first_invalid, c.first_invalid);
    EXPECT_EQ(d.AllValid(), c.first_invalid == kParamCount);
    EXPECT_EQ(d.params.wire, c.expected);
    EXPECT_EQ(d.raw, c.payload);
    for (int i = 0; i < kParamCount; ++i) {
      // Validity is per field, not only up to the first bad one.
      const bool in_range =
          c.payload[i] >= ParamFields()[i].min && c.payload[i] <= ParamFields()[i].max;
      EXPECT_EQ(d.valid[i], in_range || (i == kHeight && !c.has_height)) << i;
    }
  }
}

TEST(RadarParams, ShorterListsNarrowTheAcceptedRange) {
  // The window passes the entry counts its lists hold; a list cut to 2 entries refuses 2.
  const Bytes payload{5, 2, 2, 0, 0, 0};
  EXPECT_TRUE(DecodeParamsReply(payload.data(), true).AllValid());
  const ParamsDecode d = DecodeParamsReply(payload.data(), true, {9, 9, 2, 3, 2, 3});
  EXPECT_EQ(d.first_invalid, kReactionSpeed);
}

TEST(RadarParams, ListPositionsMatchTheWindowsLists) {
  for (const ParamField& f : ParamFields()) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(f.max - f.min + 1, f.entries);
    for (int position = 0; position < f.entries; ++position) {
      const std::uint8_t wire = WireFromPosition(f.list, position);
      EXPECT_GE(wire, f.min);
      EXPECT_LE(wire, f.max);
      EXPECT_EQ(PositionFromWire(f.list, wire), position);
    }
  }
  // Sensitivity and relay time travel as position + 1, the others as the position itself.
  EXPECT_EQ(WireFromPosition(kSensitivity, 4), 5);
  EXPECT_EQ(WireFromPosition(kRelayTime, 0), 1);
  EXPECT_EQ(WireFromPosition(kReactionSpeed, 1), 1);
  EXPECT_EQ(PositionFromWire(kSensitivity, 0), -1);
}

TEST(RadarParams, WriteCarriesHeightOnlyFromFirmware0200) {
  RadarParams p;
  p.wire = {7, 3, 2, 1, 1, 2};
  std::array<std::uint8_t, kParamCount> payload{};
  EXPECT_EQ(EncodeParamsWrite(p, HasHeight(0x0200), payload), 6);
  EXPECT_EQ(payload, p.wire);
  EXPECT_EQ(EncodeParamsWrite(p, HasHeight(0x01FF), payload), 5);
  EXPECT_EQ(std::vector<std::uint8_t>(payload.begin(), payload.begin() + 5),
            std::vector<std::uint8_t>({7, 3, 2, 1, 1}));
  EXPECT_EQ(ParamCountFor(0x01FF), 5);
  EXPECT_EQ(ParamCountFor(0x0200), 6);
}

TEST(RadarParams, PlainNumbersReadAndWriteTheSameValue) {
  struct Case {
    const char* name;
    const char* text;
    int wire;  // -1: refused
  };
  const std::vector<Case> cases = {
      {"sensitivity", "1", 1},  {"sensitivity", "9", 9},   {"sensitivity", "10", -1},
      {"sensitivity", "0", -1}, {"sensitivity", " 5", -1}, {"sensitivity", "5x", -1},
      {"relay", "1.5", 3},      {"relay", "0.5", 1},       {"relay", "4.5", 9},
      {"relay", "1,5", -1},     {"relay", "0.25", -1},     {"relay", "5", -1},
      {"relay", "1.50", 3},     {"speed", "2", 2},         {"speed", "", -1},
      {"filter", "0", 0},       {"filter", "50", 1},       {"filter", "60", 2},
      {"filter", "1", -1},      {"traffic", "1", 1},       {"traffic", "2", -1},
      {"height", "2.3", 0},     {"height", "2.90", 1},     {"height", "3.5", 2},
      {"height", "0", -1},      {"relay", "nan", -1},      {"relay", "inf", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.text);
    const ParamField* f = FindParamField(c.name);
    ASSERT_NE(f, nullptr);
    const auto wire = ParseParamValue(f->list, c.text);
    if (c.wire < 0) {
      EXPECT_FALSE(wire.has_value());
    } else {
      ASSERT_TRUE(wire.has_value());
      EXPECT_EQ(*wire, c.wire);
    }
  }
  // Every value's text reads back as that value.
  for (const ParamField& f : ParamFields())
    for (int w = f.min; w <= f.max; ++w)
      EXPECT_EQ(ParseParamValue(f.list, FormatParamValue(f.list, static_cast<std::uint8_t>(w))), w)
          << f.name << " " << w;
  EXPECT_EQ(FormatParamValue(kRelayTime, 3), "1.5");
  EXPECT_EQ(FormatParamValue(kRelayTime, 2), "1");
  EXPECT_EQ(FormatParamValue(kHeight, 1), "2.9");
  EXPECT_EQ(FindParamField("Sensitivity"), nullptr);
}

TEST(RadarParams, WordsComeFromTheStringTable) {
  std::array<std::string, kStringTableSize> table{};
  table[Text::kOn] = "On";
  table[Text::kOff] = "Off";
  table[Text::kFilterOff] = "None";
  table[Text::kSpeedSlow] = "Slow";
  table[Text::kSpeedFast] = "Fast";
  table[Text::kHeight350] = "3.50 m";
  EXPECT_EQ(ParamValueText(kReactionSpeed, 2, table), "Fast");
  EXPECT_EQ(ParamValueText(kReactionSpeed, 0, table), "Slow");
  EXPECT_EQ(ParamValueText(kMainsFilter, 0, table), "None");
  EXPECT_EQ(ParamValueText(kMainsFilter, 1, table), "");  // "50 Hz" is no table text
  EXPECT_EQ(ParamValueText(kHighTrafficMode, 1, table), "On");
  EXPECT_EQ(ParamValueText(kHighTrafficMode, 0, table), "Off");
  EXPECT_EQ(ParamValueText(kHeight, 2, table), "3.50 m");
  EXPECT_EQ(ParamValueText(kSensitivity, 3, table), "");
}

}  // namespace
}  // namespace zelto
