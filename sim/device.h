// SPDX-License-Identifier: MIT
// What the simulated programmer sees of the device plugged into it: an identity it reports
// on identification, and a receiver for the messages it relays.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim/wire_frame.h"

namespace zelto::sim {

struct DeviceIdentity {
  std::uint16_t id = 0;
  std::array<char, 10> serial{};  // exactly ten 8-bit characters; zero bytes are allowed
  std::uint16_t hw = 0;
  std::uint16_t fw = 0;
};

// Ten serial characters from text: cut at ten, padded with '0' on the right.
inline DeviceIdentity MakeIdentity(std::uint16_t id, std::string_view serial, std::uint16_t hw,
                                   std::uint16_t fw) {
  DeviceIdentity identity{id, {}, hw, fw};
  identity.serial.fill('0');
  for (std::size_t i = 0; i < identity.serial.size() && i < serial.size(); ++i)
    identity.serial[i] = serial[i];
  return identity;
}

// Where a device puts what it sends: a message and the time it reaches the programmer's
// USB side. The programmer frames it.
class ReplySink {
 public:
  virtual void Send(std::int64_t at_ms, std::uint8_t code, const std::uint8_t* payload,
                    std::size_t count) = 0;

 protected:
  ~ReplySink() = default;
};

class Device {
 public:
  explicit Device(const DeviceIdentity& identity) : identity_(identity) {}
  virtual ~Device() = default;
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  const DeviceIdentity& Identity() const { return identity_; }
  void SetIdentity(const DeviceIdentity& identity) { identity_ = identity; }

  // A silent device answers nothing, not even the programmer's identification, and streams
  // nothing, until it is made to talk again.
  void SetSilent(bool silent) { silent_ = silent; }
  bool Silent() const { return silent_; }

  // Time from a request to its answer at the programmer.
  void SetReplyDelayMs(int ms) { reply_delay_ms_ = ms < 0 ? 0 : ms; }
  int ReplyDelayMs() const { return reply_delay_ms_; }

  // A message the programmer relays at now_ms. Not called while the device is silent.
  virtual void OnMessage(std::int64_t now_ms, const DecodedFrame& message, ReplySink& out) = 0;
  // Unprompted traffic due up to now_ms. Called before every relayed message and whenever
  // the bus catches up with the clock, silent or not.
  virtual void Advance(std::int64_t now_ms, ReplySink& out) {
    (void)now_ms;
    (void)out;
  }

 private:
  DeviceIdentity identity_;
  bool silent_ = false;
  int reply_delay_ms_ = 10;
};

}  // namespace zelto::sim
