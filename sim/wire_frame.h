// SPDX-License-Identifier: MIT
// The bench's own reading of the wire format, kept apart from the program's so that the
// program is checked against a second, independent implementation.
//
// On the wire: 0x01 0x02, the body with every 0x01 doubled, 0x01 0x03. The body is the
// message code, 0 to 73 payload bytes and the big-endian sum of code and payload.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zelto::sim {

constexpr std::size_t kMaxPayload = 73;
constexpr std::size_t kMaxBody = 1 + kMaxPayload + 2;  // 76
constexpr std::size_t kMaxWire = 2 + 2 * kMaxBody + 2;  // 156

// Message codes the programmer and the sensor know.
enum MessageCode : std::uint8_t {
  kIdentificationRequest = 0x00,
  kIdentificationReply = 0x01,
  kReadParamsRequest = 0x02,
  kParamsReply = 0x03,
  kWriteParamsRequest = 0x04,
  kWriteParamsAck = 0x05,
  kReportModeRequest = 0x14,
  kReportModeAck = 0x15,
  kSignalReport = 0x17,
};

struct WireFrame {
  std::array<std::uint8_t, kMaxWire> bytes{};
  std::size_t size = 0;
};

// Sum of code and payload, the value a correct frame carries.
std::uint16_t BodySum(std::uint8_t code, const std::uint8_t* payload, std::size_t count);

// Frames a message with the given checksum (BodySum for a correct frame). Returns false and
// leaves out empty when count exceeds kMaxPayload.
bool EncodeFrame(std::uint8_t code, const std::uint8_t* payload, std::size_t count,
                 std::uint16_t checksum, WireFrame& out);
inline bool EncodeFrame(std::uint8_t code, const std::uint8_t* payload, std::size_t count,
                        WireFrame& out) {
  return EncodeFrame(code, payload, count, BodySum(code, payload, count), out);
}

struct DecodedFrame {
  std::uint8_t code = 0;
  std::array<std::uint8_t, kMaxPayload> payload{};
  std::size_t count = 0;
};

// Byte-at-a-time decoder with all its state in the object, so a stream can arrive in any
// pieces. It resynchronises on every start sequence, also one inside an unfinished frame.
class FrameDecoder {
 public:
  enum class Result {
    kNone,         // byte taken, no frame ended
    kFrame,        // a good frame ended; see frame()
    kBadChecksum,  // a frame ended whose checksum is wrong
    kMalformed,    // a frame was abandoned: too long, too short, or a stray 0x01 pair
  };

  Result Feed(std::uint8_t byte);
  const DecodedFrame& frame() const { return frame_; }
  void Reset() { state_ = State::kHunt; length_ = 0; }

 private:
  enum class State { kHunt, kHuntEscape, kBody, kBodyEscape };
  Result Finish();

  State state_ = State::kHunt;
  std::array<std::uint8_t, kMaxBody> body_{};
  std::size_t length_ = 0;
  bool overflow_ = false;
  DecodedFrame frame_;
};

}  // namespace zelto::sim
