// SPDX-License-Identifier: MIT
// The message catalogue, the identification reply and version texts.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/protocol/message_channel.h"
#include "core/ports/param_list.h"
#include "core/protocol/sensor_identity.h"

namespace zelto {

// Message codes: the first body byte of every frame.
enum MessageCode : std::uint8_t {
  IdentificationRequest = 0x00,
  IdentificationReply = 0x01,
  ReadParamsRequest = 0x02,
  ParamsReply = 0x03,
  WriteParamsRequest = 0x04,
  WriteParamsAck = 0x05,
  ReportModeRequest = 0x14,
  ReportModeAck = 0x15,
  SignalReport = 0x17,
};

// Report modes carried by ReportModeRequest.
constexpr std::uint8_t kReportModeStop = 0;
constexpr std::uint8_t kReportModeSignal = 2;

// Stored length of an IdentificationReply: framing, code, 16 payload bytes, checksum.
constexpr int kIdentificationReplyLength = 23;

// What an identification reply told, measured against the Duroz740 seen last.
enum class Identification {
  kIgnored,       // too short to hold the fields: nothing was stored
  kOtherDevice,   // a device that is not a Duroz740
  kSameDuroz740,  // the Duroz740 seen last: same serial number and firmware
  kNewDuroz740,   // a Duroz740 with another serial number or firmware than the last one
};

// The identity fields of an IdentificationReply.
struct DeviceIdentity {
  std::int32_t id = 0;
  std::array<char, 10> serial{};
  std::int32_t hw_version = 0;
  std::int32_t fw_version = 0;
};
// Reads the fields; false for a reply too short to hold them.
bool DecodeIdentity(const FrameBytes& frame, int length, DeviceIdentity& identity);
// Copies a decoded identity into the sensor's identity and remembers a Duroz740's serial
// number and firmware. A new Duroz740 is the caller's cue to drop picks made for the last.
Identification StoreIdentity(SensorIdentity& sensor, const DeviceIdentity& identity);

// Copies the identity fields of an IdentificationReply into the sensor's identity and
// remembers a Duroz740's serial number and firmware. A reply shorter than the fields is
// ignored, so nothing is ever read from bytes an earlier frame left in the buffer; a longer
// one (a firmware that appends a byte) keeps the fields at their places.
Identification StoreIdentity(SensorIdentity& sensor, const FrameBytes& frame, int length);

// The programmer-mode frame handler: only the identification reply matters here. kIgnored
// for any other frame.
Identification HandleProgrammerFrame(SensorIdentity& sensor, const FrameBytes& frame, int length);

// High byte in hexadecimal without leading zeros, then the low byte as two hex digits:
// 0x0102 -> "102", 0x0200 -> "200", 0 -> "000".
std::string FormatVersion(int version);

}  // namespace zelto
