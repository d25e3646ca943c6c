// SPDX-License-Identifier: MIT
#include "sim/wire_frame.h"

#include <algorithm>

namespace zelto::sim {

std::uint16_t BodySum(std::uint8_t code, const std::uint8_t* payload, std::size_t count) {
  // At most 74 bytes of 255 each: the sum never needs more than 16 bits.
  std::uint32_t sum = code;
  for (std::size_t i = 0; i < count; ++i) sum += payload[i];
  return static_cast<std::uint16_t>(sum);
}

bool EncodeFrame(std::uint8_t code, const std::uint8_t* payload, std::size_t count,
                 std::uint16_t checksum, WireFrame& out) {
  out.size = 0;
  if (count > kMaxPayload || (count > 0 && payload == nullptr)) return false;
  auto put = [&out](std::uint8_t b) { out.bytes[out.size++] = b; };
  auto put_body = [&put](std::uint8_t b) {
    put(b);
    if (b == 0x01) put(0x01);
  };
  put(0x01);
  put(0x02);
  put_body(code);
  for (std::size_t i = 0; i < count; ++i) put_body(payload[i]);
  put_body(static_cast<std::uint8_t>(checksum >> 8));
  put_body(static_cast<std::uint8_t>(checksum & 0xFF));
  put(0x01);
  put(0x03);
  return true;
}

FrameDecoder::Result FrameDecoder::Feed(std::uint8_t byte) {
  switch (state_) {
    case State::kHunt:
      if (byte == 0x01) state_ = State::kHuntEscape;
      return Result::kNone;
    case State::kHuntEscape:
      // 0x01 0x01 outside a frame is a stuffed byte of a frame we missed the start of.
      if (byte == 0x02) {
        state_ = State::kBody;
        length_ = 0;
        overflow_ = false;
      } else {
        state_ = State::kHunt;
      }
      return Result::kNone;
    case State::kBody:
      if (byte == 0x01) {
        state_ = State::kBodyEscape;
        return Result::kNone;
      }
      break;
    case State::kBodyEscape:
      if (byte == 0x03) {
        state_ = State::kHunt;
        return Finish();
      }
      if (byte == 0x02) {
        // A new start before the end: the unfinished frame is lost, the new one counts.
        state_ = State::kBody;
        length_ = 0;
        overflow_ = false;
        return Result::kMalformed;
      }
      if (byte != 0x01) {
        state_ = State::kHunt;
        return Result::kMalformed;
      }
      state_ = State::kBody;
      break;
  }
  if (length_ < kMaxBody)
    body_[length_++] = byte;
  else
    overflow_ = true;
  return Result::kNone;
}

FrameDecoder::Result FrameDecoder::Finish() {
  if (overflow_ || length_ < 3) return Result::kMalformed;
  const std::size_t count = length_ - 3;
  const std::uint16_t carried =
      static_cast<std::uint16_t>((body_[length_ - 2] << 8) | body_[length_ - 1]);
  if (carried != BodySum(body_[0], body_.data() + 1, count)) return Result::kBadChecksum;
  frame_.code = body_[0];
  frame_.count = count;
  std::copy_n(body_.begin() + 1, count, frame_.payload.begin());
  return Result::kFrame;
}

}  // namespace zelto::sim
