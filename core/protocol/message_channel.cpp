// SPDX-License-Identifier: MIT
#include "core/protocol/message_channel.h"

namespace zelto {

void MessageChannel::SendMessage(std::uint8_t code, const std::uint8_t* payload, std::int16_t count) {
  std::array<std::uint8_t, kMaxWireFrame> wire;
  const int length = BuildWireFrame(code, payload, count, wire);
  if (length == 0) return;
  if (link_.Open() != kLinkOk) return;
  if (link_.Write(wire.data(), static_cast<std::int16_t>(length)) != kLinkOk) link_.Close();
}

bool MessageChannel::AssembleFrame() {
  AppState& s = state_;
  // Positions outside the ring can only come from a corrupted state; start over rather than
  // index out of bounds.
  if (s.RxReadPos < 0 || s.RxReadPos >= kRingSize) s.RxReadPos = 0;
  if (s.RxWritePos < 0 || s.RxWritePos >= kRingSize) s.RxWritePos = s.RxReadPos;
  if (s.AssemblyIndex < 0 || s.AssemblyIndex >= kFrameBufferSize) s.AssemblyIndex = 0;

  // The byte loop runs on local copies of the assembler state and writes them back once.
  // A store into the byte buffer may alias anything, so working on the state's own fields
  // would send each of them through memory on every byte, at several times the cost.
  const std::uint8_t* const ring = s.RxRing.data();
  std::uint8_t* const fb = s.FrameBuffer.data();
  const int write_pos = s.RxWritePos;
  int read_pos = s.RxReadPos;
  int index = s.AssemblyIndex;
  bool escape = s.EscapePending;
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
      s.FrameLength = static_cast<std::int16_t>(index + 1);
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

  s.RxReadPos = static_cast<std::int16_t>(read_pos);
  s.AssemblyIndex = static_cast<std::int16_t>(index);
  s.EscapePending = escape;
  return complete;
}

void MessageChannel::PollReceive(FrameDispatch& dispatch) {
  if (link_.Open() != kLinkOk) return;
  if (link_.Read(state_.RxRing.data(), state_.RxReadPos, state_.RxWritePos, kRingSize) !=
      kLinkOk) {
    link_.Close();
    return;
  }
  while (AssembleFrame()) {
    switch (state_.DispatchMode) {
      case 0:
        dispatch.HandleProgrammerFrame(state_.FrameBuffer, state_.FrameLength);
        break;
      case 1:
        dispatch.RadarHandleFrame(state_.FrameBuffer, state_.FrameLength);
        break;
      default:
        break;
    }
  }
}

}  // namespace zelto
