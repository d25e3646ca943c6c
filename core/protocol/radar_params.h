// SPDX-License-Identifier: MIT
// The six radar parameters as plain data: their names, ranges and wire values, the payload
// of a parameter write and the decoding of a parameter reply. Shared by the radar window
// (which keeps list positions on top) and the command-line tool (which keeps numbers).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/ports/param_list.h"
#include "core/text/string_table.h"
#include "core/text/text_id.h"

namespace zelto {

// The values as the sensor carries them, one byte per parameter in the order of ParamList:
// sensitivity 1..9, relay on-time in half seconds 1..9, reaction speed 0..2, mains-noise
// filter 0..2, high-traffic mode 0..1, installation height 0..2.
// Defaults: what the window shows before the sensor has answered.
// Shortest stored frames that carry what their handlers read.
constexpr int kParamsReplyLength5 = 12;  // framing + code + 5 bytes + checksum
constexpr int kParamsReplyLength6 = 13;
constexpr int kSignalReportLength = 11;

struct RadarParams {
  std::array<std::uint8_t, kParamCount> wire{5, 1, 1, 0, 0, 0};
  bool operator==(const RadarParams&) const = default;
};

struct ParamField {
  ParamList list;
  const char* name;  // the fixed English identifier ("sensitivity", "relay", ...)
  std::uint8_t min;  // wire range
  std::uint8_t max;
  std::uint8_t first;  // the wire value of the first list position
  int entries;         // list positions the window fills
};

const std::array<ParamField, kParamCount>& ParamFields();
// The field with that identifier, or null.
const ParamField* FindParamField(std::string_view name);

// Whether the sensor of this firmware has the installation height.
constexpr bool HasHeight(std::int32_t firmware) {
  return firmware >= kHeightFirmware;
}
constexpr int ParamCountFor(std::int32_t firmware) {
  return HasHeight(firmware) ? 6 : 5;
}

// List position <-> wire value (sensitivity and relay time are sent as position + 1).
std::uint8_t WireFromPosition(ParamList list, int position);
int PositionFromWire(ParamList list, std::uint8_t wire);

// Fills the payload of a WriteParamsRequest and returns its byte count: 6 with the height,
// 5 without.
int EncodeParamsWrite(const RadarParams& params, bool has_height,
                      std::array<std::uint8_t, kParamCount>& payload);

// A ParamsReply payload taken apart. A field is valid when its byte lies inside the range of
// its list (entries as the caller's lists hold them). The window applies the fields in order
// and stops at the first invalid one; `first_invalid` says where that is (kParamCount when
// all are valid). Without the height, the height field reads as valid 0 whatever byte 5 is.
struct ParamsDecode {
  RadarParams params;                           // the valid fields; the others keep the defaults
  std::array<std::uint8_t, kParamCount> raw{};  // the bytes as received
  std::array<bool, kParamCount> valid{};
  int first_invalid = kParamCount;
  bool AllValid() const { return first_invalid == kParamCount; }
};
ParamsDecode DecodeParamsReply(const std::uint8_t* payload, bool has_height,
                               const std::array<int, kParamCount>& entries);
// The same against the lists as the window fills them (9, 9, 3, 3, 2, 3 entries).
ParamsDecode DecodeParamsReply(const std::uint8_t* payload, bool has_height);

// The plain-number form of a value, independent of the locale: sensitivity "1".."9", relay
// in seconds "0.5".."4.5", speed "0".."2", filter in hertz "0" (off), "50", "60", traffic
// "0" or "1", height in metres "2.3", "2.9", "3.5".
std::string FormatParamValue(ParamList list, std::uint8_t wire);
// The number behind that text.
double ParamNumber(ParamList list, std::uint8_t wire);
// The wire value of a number in that form; nothing when it names no value of the field.
std::optional<std::uint8_t> WireFromNumber(ParamList list, double number);
// Text to wire value: a plain number, '.' as decimal point, no locale.
std::optional<std::uint8_t> ParseParamValue(ParamList list, std::string_view text);
// The string table entry of the list's caption in the radar window.
Text::Id ParamCaption(ParamList list);
// What the value means in words, from the string table (empty where the table has nothing).
std::string ParamValueText(ParamList list, std::uint8_t wire,
                           const std::array<std::string, kStringTableSize>& table);

}  // namespace zelto
