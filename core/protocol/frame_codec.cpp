// SPDX-License-Identifier: MIT
#include <cstdint>

#include "core/protocol/message_channel.h"

namespace zelto {

namespace {

std::uint32_t Sum(const std::uint8_t* bytes, int first, int last) {
  std::uint32_t sum = 0;
  for (int i = first; i <= last; ++i) sum += bytes[i];
  return sum;
}

}  // namespace

std::uint32_t BodyChecksum(const std::uint8_t* body, int length) {
  return Sum(body, 0, length - 1);
}

std::uint32_t ReceivedFrameChecksum(const std::uint8_t* frame, int length) {
  return Sum(frame, 2, length - 5);
}

int BuildWireFrame(std::uint8_t code, const std::uint8_t* payload, int count,
                   std::array<std::uint8_t, kMaxWireFrame>& wire) {
  // A longer payload would run past the end of the body; such a message is not sent at all.
  if (count < 0 || count > kMaxPayload) return 0;
  std::uint8_t body[kFrameBufferSize];
  body[0] = code;
  for (int i = 0; i < count; ++i) body[1 + i] = payload[i];
  int n = count + 1;
  const std::uint32_t sum = BodyChecksum(body, n);
  body[n] = static_cast<std::uint8_t>(sum / 256);
  body[n + 1] = static_cast<std::uint8_t>(sum % 256);
  n = count + 3;

  int out = 0;
  wire[out++] = 0x01;
  wire[out++] = 0x02;
  for (int i = 0; i < n; ++i) {
    wire[out++] = body[i];
    if (body[i] == 0x01) wire[out++] = 0x01;
  }
  wire[out++] = 0x01;
  wire[out++] = 0x03;
  return out;
}

bool FrameCheck(const FrameBytes& frame, int length) {
  if (length < 4 || length > kFrameBufferSize) return false;
  const std::uint32_t computed = ReceivedFrameChecksum(frame.data(), length);
  const std::uint32_t carried = frame[length - 4] * 256u + frame[length - 3];
  return computed == carried;
}

}  // namespace zelto
