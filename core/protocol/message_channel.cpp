// SPDX-License-Identifier: MIT
#include "core/protocol/message_channel.h"

namespace zelto {

void MessageChannel::SendMessage(std::uint8_t code, const std::uint8_t* payload, int count) {
  std::array<std::uint8_t, kMaxWireFrame> wire;
  const int length = BuildWireFrame(code, payload, count, wire);
  if (length == 0) return;
  if (link_.Open() != kLinkOk) return;
  if (link_.Write(wire.data(), length) != kLinkOk) link_.Close();
}

bool MessageChannel::AssembleFrame() {
  ReceiveRing& r = ring_;
  FrameAssembly& a = assembly_;
  // Positions outside the ring can only come from a corrupted state; start over rather than
  // index out of bounds.
  if (r.read_pos < 0 || r.read_pos >= kRingSize) r.read_pos = 0;
  if (r.write_pos < 0 || r.write_pos >= kRingSize) r.write_pos = r.read_pos;
  if (a.index < 0 || a.index >= kFrameBufferSize) a.index = 0;

  // The byte loop runs on local copies of the assembler state and writes them back once.
  // A store into the byte buffer may alias anything, so working on the fields themselves
  // would send each of them through memory on every byte, at several times the cost.
  const std::uint8_t* const ring = r.bytes.data();
  std::uint8_t* const fb = a.frame.data();
  const int write_pos = r.write_pos;
  int read_pos = r.read_pos;
  int index = a.index;
  bool escape = a.escape_pending;
  bool complete = false;

  while (read_pos != write_pos) {
    const std::uint8_t b = ring[read_pos];
    if (index == 0) {
      if (b == 0x01) {
        fb[0] = 0x01;
        index = 1;
        escape = false;
      }
    } else if (index == 1) {
      if (b == 0x02) {
        fb[1] = 0x02;
        index = 2;
      } else if (b != 0x01) {
        index = 0;
      }
    } else if (!escape) {
      // From index 73 on bytes are dropped, but framing is still followed so the end is found.
      if (index < 73) {
        fb[index] = b;
        ++index;
      }
      if (b == 0x01) escape = true;
    } else if (b == 0x03) {
      // The read position stays on the 0x03; the next call skips it in the idle state.
      fb[index] = 0x03;
      a.length = index + 1;
      index = 0;
      escape = false;
      complete = true;
      break;
    } else if (b == 0x01) {
      escape = false;
    } else if (b == 0x02) {
      fb[0] = 0x01;
      fb[1] = 0x02;
      index = 2;
      escape = false;
    } else {
      index = 0;
      escape = false;
    }
    ++read_pos;
    if (read_pos >= kRingSize) read_pos = 0;
  }

  r.read_pos = read_pos;
  a.index = index;
  a.escape_pending = escape;
  return complete;
}

void MessageChannel::PollReceive(FrameDispatch& dispatch) {
  if (link_.Open() != kLinkOk) return;
  if (link_.Read(ring_.bytes.data(), ring_.read_pos, ring_.write_pos, kRingSize) != kLinkOk) {
    link_.Close();
    return;
  }
  while (AssembleFrame()) dispatch.HandleFrame(assembly_.frame, assembly_.length);
}

}  // namespace zelto
