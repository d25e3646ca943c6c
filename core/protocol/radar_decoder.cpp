// SPDX-License-Identifier: MIT
#include "core/protocol/radar_decoder.h"

namespace zelto {

RadarMessage DecodeRadarFrame(const FrameBytes& frame, int length, bool has_height) {
  RadarMessage m;
  if (!FrameCheck(frame, length)) return m;
  switch (frame[2]) {
    case IdentificationReply:
      if (DecodeIdentity(frame, length, m.identity)) m.kind = RadarMessageKind::kIdentification;
      break;
    case ParamsReply:
      // A reply too short for this sensor's fields is no message at all, rather than one
      // read from bytes an earlier frame left behind.
      if (length < (has_height ? kParamsReplyLength6 : kParamsReplyLength5)) break;
      m.kind = RadarMessageKind::kParameters;
      m.params = DecodeParamsReply(&frame[3], has_height);
      m.param_count = has_height ? kParamCount : kParamCount - 1;
      break;
    case WriteParamsAck:
      m.kind = RadarMessageKind::kWriteAck;
      break;
    case ReportModeAck:
      m.kind = RadarMessageKind::kReportModeAck;
      break;
    case SignalReport:
      // Any report shows the sensor is reporting; only type 2, whole, carries the level.
      m.kind = RadarMessageKind::kSignal;
      m.signal.is_reading = length >= kSignalReportLength && frame[3] == 2;
      if (!m.signal.is_reading) break;
      m.signal.level = static_cast<std::uint16_t>(frame[4] * 256 + frame[5]);
      m.signal.detected = frame[6] != 0;
      break;
    default:
      break;
  }
  return m;
}

}  // namespace zelto
