// SPDX-License-Identifier: MIT
// MessageChannel: sending frames, the receive ring's frame assembler and dispatch of whole frames.
#pragma once

#include <array>
#include <cstdint>

#include "core/link/usb_link.h"

namespace zelto {

constexpr int kRingSize = 2000;  // ring indices 0..1999 are used
constexpr int kFrameBufferSize = 76;

using FrameBytes = std::array<std::uint8_t, kFrameBufferSize>;

constexpr int kMaxPayload = 73;
constexpr int kMaxWireFrame = 2 + 2 * kFrameBufferSize + 2;  // 156

// Who gets each completed frame.
class FrameDispatch {
 public:
  virtual ~FrameDispatch() = default;
  virtual void HandleFrame(const FrameBytes& frame, int length) = 0;
};

// The checksum of a body being sent: the sum of body[0 .. length-1].
std::uint32_t BodyChecksum(const std::uint8_t* body, int length);
// The checksum a received frame should carry: the sum of frame[2 .. length-5], the bytes
// between its start pair and its checksum.
std::uint32_t ReceivedFrameChecksum(const std::uint8_t* frame, int length);

// The complete wire form of a message: start, stuffed body with checksum, end. Returns the
// number of bytes, or 0 when count lies outside 0..73.
int BuildWireFrame(std::uint8_t code, const std::uint8_t* payload, int count,
                   std::array<std::uint8_t, kMaxWireFrame>& wire);

// The check every frame handler starts with: the carried checksum equals the sum of code and
// payload. False as well for a length no assembler can produce.
bool FrameCheck(const FrameBytes& frame, int length);

// The bytes received and not yet taken into a frame. The ring has one element more than it
// uses; the link writes at write_pos, the assembler reads at read_pos.
struct ReceiveRing {
  std::array<std::uint8_t, kRingSize + 1> bytes{};
  int write_pos = 0;
  int read_pos = 0;
};

// The frame being put together from the ring, unstuffed; length is that of the last one
// completed.
struct FrameAssembly {
  FrameBytes frame{};
  int length = 0;
  int index = 0;
  bool escape_pending = false;
};

class MessageChannel {
 public:
  explicit MessageChannel(UsbLink& link) : link_(link) {}

  // Sends nothing when count lies outside 0..73 or the programmer cannot be opened; closes
  // the link when the write fails.
  void SendMessage(std::uint8_t code, const std::uint8_t* payload, int count);
  // Takes bytes from the ring until a frame is complete (true: it is in Assembly()).
  bool AssembleFrame();
  // Reads what the link holds into the ring and hands every completed frame to dispatch.
  void PollReceive(FrameDispatch& dispatch);

  ReceiveRing& Ring() { return ring_; }
  const ReceiveRing& Ring() const { return ring_; }
  FrameAssembly& Assembly() { return assembly_; }
  const FrameAssembly& Assembly() const { return assembly_; }

 private:
  UsbLink& link_;
  ReceiveRing ring_;
  FrameAssembly assembly_;
};

}  // namespace zelto
