// SPDX-License-Identifier: MIT
#include "core/protocol/radar_params.h"

#include <charconv>
#include <cmath>

#include "core/text/text_id.h"

namespace zelto {

namespace {

constexpr std::array<ParamField, kParamCount> kFields{{
    {kSensitivity, "sensitivity", 1, 9, 1, 9},
    {kRelayTime, "relay", 1, 9, 1, 9},
    {kReactionSpeed, "speed", 0, 2, 0, 3},
    {kMainsFilter, "filter", 0, 2, 0, 3},
    {kHighTrafficMode, "traffic", 0, 1, 0, 2},
    {kHeight, "height", 0, 2, 0, 3},
}};

constexpr std::array<int, kParamCount> kWindowEntries{9, 9, 3, 3, 2, 3};

constexpr double kFilterHz[] = {0, 50, 60};
constexpr double kHeightM[] = {2.3, 2.9, 3.5};

}  // namespace

const std::array<ParamField, kParamCount>& ParamFields() {
  return kFields;
}

const ParamField* FindParamField(std::string_view name) {
  for (const ParamField& f : kFields)
    if (name == f.name) return &f;
  return nullptr;
}

std::uint8_t WireFromPosition(ParamList list, int position) {
  return static_cast<std::uint8_t>(position + kFields[list].first);
}

int PositionFromWire(ParamList list, std::uint8_t wire) {
  return static_cast<int>(wire) - kFields[list].first;
}

int EncodeParamsWrite(const RadarParams& params, bool has_height,
                      std::array<std::uint8_t, kParamCount>& payload) {
  payload = params.wire;
  return has_height ? kParamCount : kParamCount - 1;
}

ParamsDecode DecodeParamsReply(const std::uint8_t* payload, bool has_height,
                               const std::array<int, kParamCount>& entries) {
  ParamsDecode d;
  for (const ParamField& f : kFields) {
    const std::uint8_t value = payload[f.list];
    d.raw[f.list] = value;
    const int position = PositionFromWire(f.list, value);
    bool ok = position >= 0 && position < entries[f.list];
    std::uint8_t taken = value;
    if (f.list == kHeight && !has_height) {
      // Older firmware has no height: byte 5 is not the sensor's to give.
      ok = true;
      taken = 0;
    }
    d.valid[f.list] = ok;
    d.params.wire[f.list] = ok ? taken : d.params.wire[f.list];
    if (!ok && d.first_invalid == kParamCount) d.first_invalid = f.list;
  }
  return d;
}

ParamsDecode DecodeParamsReply(const std::uint8_t* payload, bool has_height) {
  return DecodeParamsReply(payload, has_height, kWindowEntries);
}

double ParamNumber(ParamList list, std::uint8_t wire) {
  switch (list) {
    case kRelayTime:
      return wire * 0.5;
    case kMainsFilter:
      return wire < 3 ? kFilterHz[wire] : wire;
    case kHeight:
      return wire < 3 ? kHeightM[wire] : wire;
    default:
      return wire;
  }
}

std::string FormatParamValue(ParamList list, std::uint8_t wire) {
  const double number = ParamNumber(list, wire);
  // Shortest text that reads back as the same number; always '.' whatever the locale.
  char text[32];
  const auto result = std::to_chars(text, text + sizeof(text), number);
  return std::string(text, result.ptr);
}

std::optional<std::uint8_t> WireFromNumber(ParamList list, double number) {
  if (!std::isfinite(number)) return std::nullopt;
  const ParamField& f = kFields[list];
  for (int w = f.min; w <= f.max; ++w)
    if (std::fabs(ParamNumber(list, static_cast<std::uint8_t>(w)) - number) < 1e-6)
      return static_cast<std::uint8_t>(w);
  return std::nullopt;
}

std::optional<std::uint8_t> ParseParamValue(ParamList list, std::string_view text) {
  double number = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, number);
  if (text.empty() || result.ec != std::errc() || result.ptr != end) return std::nullopt;
  return WireFromNumber(list, number);
}

Text::Id ParamCaption(ParamList list) {
  static constexpr Text::Id kCaptions[kParamCount] = {
      Text::kSensitivityCaption, Text::kRelayTimeCaption,       Text::kReactionSpeedCaption,
      Text::kMainsFilterCaption, Text::kHighTrafficModeCaption, Text::kHeightCaption};
  return kCaptions[list];
}

std::string ParamValueText(ParamList list, std::uint8_t wire,
                           const std::array<std::string, kStringTableSize>& table) {
  switch (list) {
    case kReactionSpeed:
      static constexpr Text::Id kSpeeds[] = {Text::kSpeedSlow, Text::kSpeedNormal,
                                             Text::kSpeedFast};
      return wire <= 2 ? table[kSpeeds[wire]] : std::string();
    case kMainsFilter:
      return wire == 0 ? table[Text::kFilterOff] : std::string();
    case kHighTrafficMode:
      return wire == 0 ? table[Text::kOff] : (wire == 1 ? table[Text::kOn] : std::string());
    case kHeight:
      static constexpr Text::Id kHeights[] = {Text::kHeight230, Text::kHeight290, Text::kHeight350};
      return wire <= 2 ? table[kHeights[wire]] : std::string();
    default:
      return std::string();
  }
}

}  // namespace zelto
