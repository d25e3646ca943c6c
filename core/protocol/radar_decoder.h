// SPDX-License-Identifier: MIT
// The one reading of a frame from the sensor: a received frame becomes a typed message. The
// radar window's logic and zeltoctl's session both take their frames through it and act on
// the message; neither looks at the frame's bytes itself. Pure: it reads the frame and
// changes nothing, and allocates nothing (it runs inside the receive poll).
#pragma once

#include <cstdint>

#include "core/protocol/message_channel.h"
#include "core/protocol/programmer_messages.h"
#include "core/protocol/radar_params.h"

namespace zelto {

enum class RadarMessageKind {
  kNone,            // a bad checksum, a frame too short for its fields, or nothing we read
  kIdentification,  // who is in the socket
  kParameters,      // the six (or five) parameters, each with its validity
  kWriteAck,        // the sensor has answered a parameter write
  kReportModeAck,   // the sensor has switched its report mode
  kSignal,          // a signal report; a reading when it carries the level
};

struct SignalReading {
  bool is_reading = false;  // a report of the signal level (type 2), long enough to hold it
  std::uint16_t level = 0;
  bool detected = false;
};

struct RadarMessage {
  RadarMessageKind kind = RadarMessageKind::kNone;
  DeviceIdentity identity;  // kIdentification
  ParamsDecode params;      // kParameters: the fields against the window's lists
  int param_count = 0;      // kParameters: how many fields the reply carries (5 or 6)
  SignalReading signal;     // kSignal
};

// has_height: whether the sensor that sent the frame has the installation height, which
// decides how long a parameters reply must be and whether its sixth byte counts.
RadarMessage DecodeRadarFrame(const FrameBytes& frame, int length, bool has_height);

}  // namespace zelto
