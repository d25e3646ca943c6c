// SPDX-License-Identifier: MIT
#include "core/protocol/programmer_messages.h"

#include <cstdio>

namespace zelto {

bool DecodeIdentity(const FrameBytes& frame, std::int16_t length, DeviceIdentity& identity) {
  if (length < kIdentificationReplyLength) return false;
  identity.id = frame[3] * 256 + frame[4];
  for (std::size_t i = 0; i < identity.serial.size(); ++i)
    identity.serial[i] = static_cast<char>(frame[5 + i]);
  identity.hw_version = frame[15] * 256 + frame[16];
  identity.fw_version = frame[17] * 256 + frame[18];
  return true;
}

Identification StoreIdentity(AppState& state, const FrameBytes& frame, std::int16_t length) {
  DeviceIdentity identity;
  if (!DecodeIdentity(frame, length, identity)) return Identification::kIgnored;
  return StoreIdentity(state, identity);
}

Identification StoreIdentity(AppState& state, const DeviceIdentity& identity) {
  state.DeviceId = identity.id;
  state.DeviceSerial.assign(identity.serial.data(), identity.serial.size());
  state.DeviceHwVersion = identity.hw_version;
  state.DeviceFwVersion = identity.fw_version;
  if (state.DeviceId != kDuroz740Id) return Identification::kOtherDevice;
  const bool same = state.LastDuroz740Serial == state.DeviceSerial &&
                    state.LastDuroz740FwVersion == state.DeviceFwVersion;
  state.LastDuroz740FwVersion = state.DeviceFwVersion;
  // Ten characters stay in the string's own buffer: no allocation in the receive poll.
  state.LastDuroz740Serial = state.DeviceSerial;
  if (same) return Identification::kSameDuroz740;
  // Picks not yet written were made for the sensor seen before.
  state.ParamPicked.fill(false);
  return Identification::kNewDuroz740;
}

void HandleProgrammerFrame(AppState& state, const FrameBytes& frame, std::int16_t length) {
  if (!FrameCheck(frame, length)) return;
  if (frame[2] != IdentificationReply) return;
  StoreIdentity(state, frame, length);
}

std::string FormatVersion(const std::int32_t& version) {
  // Integer division truncates toward zero as the version words are meant to be read; the
  // modulo keeps the sign of a (never expected) negative word out of the hex digits.
  const std::int32_t high = version / 256;
  const std::int32_t low = version % 256;
  char text[24];
  std::snprintf(text, sizeof text, "%X%02X", static_cast<unsigned>(high),
                static_cast<unsigned>(low < 0 ? low + 256 : low));
  return text;
}

}  // namespace zelto
