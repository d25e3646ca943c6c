// SPDX-License-Identifier: MIT
// MessageChannel: sending frames, the receive ring's frame assembler and dispatch of whole frames.
#pragma once

#include <array>
#include <cstdint>

#include "core/ports/app_state.h"
#include "core/link/usb_link.h"

namespace zelto {

using FrameBytes = std::array<std::uint8_t, kFrameBufferSize>;

constexpr int kMaxPayload = 73;
constexpr int kMaxWireFrame = 2 + 2 * kFrameBufferSize + 2;  // 156

// Who gets a completed frame; chosen per frame by DispatchMode.
class FrameDispatch {
 public:
  virtual ~FrameDispatch() = default;
  virtual void HandleProgrammerFrame(const FrameBytes& frame, std::int16_t length) = 0;
  virtual void RadarHandleFrame(const FrameBytes& frame, std::int16_t length) = 0;
};

// The checksum of a body being sent: the sum of body[0 .. length-1].
std::uint32_t BodyChecksum(const std::uint8_t* body, int length);
// The checksum a received frame should carry: the sum of frame[2 .. length-5], the bytes
// between its start pair and its checksum.
std::uint32_t ReceivedFrameChecksum(const std::uint8_t* frame, int length);

// The complete wire form of a message: start, stuffed body with checksum, end. Returns the
// number of bytes, or 0 when count lies outside 0..73.
int BuildWireFrame(std::uint8_t code, const std::uint8_t* payload, std::int16_t count,
                   std::array<std::uint8_t, kMaxWireFrame>& wire);

// The check every frame handler starts with: the carried checksum equals the sum of code and
// payload. False as well for a length no assembler can produce.
bool FrameCheck(const FrameBytes& frame, std::int16_t length);

class MessageChannel {
 public:
  MessageChannel(AppState& state, UsbLink& link) : state_(state), link_(link) {}

  // Sends nothing when count lies outside 0..73 or the programmer cannot be opened; closes
  // the link when the write fails.
  void SendMessage(std::uint8_t code, const std::uint8_t* payload, std::int16_t count);
  bool AssembleFrame();
  void PollReceive(FrameDispatch& dispatch);

 private:
  AppState& state_;
  UsbLink& link_;
};

}  // namespace zelto
