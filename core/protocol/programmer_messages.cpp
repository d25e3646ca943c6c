// SPDX-License-Identifier: MIT
#include "core/protocol/programmer_messages.h"

#include <cstdio>

namespace zelto {

bool DecodeIdentity(const FrameBytes& frame, int length, DeviceIdentity& identity) {
  if (length < kIdentificationReplyLength) return false;
  identity.id = frame[3] * 256 + frame[4];
  for (std::size_t i = 0; i < identity.serial.size(); ++i)
    identity.serial[i] = static_cast<char>(frame[5 + i]);
  identity.hw_version = frame[15] * 256 + frame[16];
  identity.fw_version = frame[17] * 256 + frame[18];
  return true;
}

Identification StoreIdentity(SensorIdentity& sensor, const FrameBytes& frame, int length) {
  DeviceIdentity identity;
  if (!DecodeIdentity(frame, length, identity)) return Identification::kIgnored;
  return StoreIdentity(sensor, identity);
}

Identification StoreIdentity(SensorIdentity& sensor, const DeviceIdentity& identity) {
  sensor.id = identity.id;
  sensor.serial.assign(identity.serial.data(), identity.serial.size());
  sensor.hw_version = identity.hw_version;
  sensor.fw_version = identity.fw_version;
  if (!sensor.IsDuroz740()) return Identification::kOtherDevice;
  const bool same = sensor.last_duroz740_serial == sensor.serial &&
                    sensor.last_duroz740_fw == sensor.fw_version;
  sensor.last_duroz740_fw = sensor.fw_version;
  // Ten characters stay in the string's own buffer: no allocation in the receive poll.
  sensor.last_duroz740_serial = sensor.serial;
  return same ? Identification::kSameDuroz740 : Identification::kNewDuroz740;
}

Identification HandleProgrammerFrame(SensorIdentity& sensor, const FrameBytes& frame, int length) {
  if (!FrameCheck(frame, length)) return Identification::kIgnored;
  if (frame[2] != IdentificationReply) return Identification::kIgnored;
  return StoreIdentity(sensor, frame, length);
}

std::string FormatVersion(int version) {
  // Integer division truncates toward zero as the version words are meant to be read; the
  // modulo keeps the sign of a (never expected) negative word out of the hex digits.
  const int high = version / 256;
  const int low = version % 256;
  char text[24];
  std::snprintf(text, sizeof text, "%X%02X", static_cast<unsigned>(high),
                static_cast<unsigned>(low < 0 ? low + 256 : low));
  return text;
}

}  // namespace zelto
