#include "protocol/gest_msg.h"

namespace zelto {

void GestMsg::SendMessage(std::uint8_t code, const std::uint8_t* payload, std::int16_t count) {
  std::array<std::uint8_t, kMaxWireFrame> wire;
  const int length = BuildWireFrame(code, payload, count, wire);
  if (length == 0) return;
  if (link_.UsbOpen() != kLinkOk) return;
  if (link_.UsbWrite(wire.data(), static_cast<std::int16_t>(length)) != kLinkOk) link_.UsbClose();
}

bool GestMsg::AssembleFrame() {
  AppState& s = state_;
  auto& fb = s.FrameBuffer;
  // Positions outside the ring can only come from a corrupted state; start over rather than
  // index out of bounds.
  if (s.RxReadPos < 0 || s.RxReadPos >= kRingSize) s.RxReadPos = 0;
  if (s.AssemblyIndex < 0 || s.AssemblyIndex >= kFrameBufferSize) s.AssemblyIndex = 0;

  while (s.RxReadPos != s.RxWritePos) {
    const std::uint8_t b = s.RxRing[s.RxReadPos];
    if (s.AssemblyIndex == 0) {
      if (b == 0x01) {
        fb[0] = 0x01;
        s.AssemblyIndex = 1;
        s.EscapePending = false;
      }
    } else if (s.AssemblyIndex == 1) {
      if (b == 0x02) {
        fb[1] = 0x02;
        s.AssemblyIndex = 2;
      } else if (b != 0x01) {
        s.AssemblyIndex = 0;
      }
    } else if (!s.EscapePending) {
      // From index 73 on bytes are dropped, but framing is still followed so the end is found.
      if (s.AssemblyIndex < 73) {
        fb[s.AssemblyIndex] = b;
        ++s.AssemblyIndex;
      }
      if (b == 0x01) s.EscapePending = true;
    } else {
      switch (b) {
        case 0x01:
          s.EscapePending = false;
          break;
        case 0x02:
          fb[0] = 0x01;
          fb[1] = 0x02;
          s.AssemblyIndex = 2;
          s.EscapePending = false;
          break;
        case 0x03:
          // The read position stays on the 0x03; the next call skips it in the idle state.
          fb[s.AssemblyIndex] = 0x03;
          s.FrameLength = static_cast<std::int16_t>(s.AssemblyIndex + 1);
          s.AssemblyIndex = 0;
          s.EscapePending = false;
          return true;
        default:
          s.AssemblyIndex = 0;
          s.EscapePending = false;
          break;
      }
    }
    ++s.RxReadPos;
    if (s.RxReadPos >= kRingSize) s.RxReadPos = 0;
  }
  return false;
}

void GestMsg::PollReceive(FrameDispatch& dispatch) {
  if (link_.UsbOpen() != kLinkOk) return;
  if (link_.UsbRead(state_.RxRing.data(), state_.RxReadPos, state_.RxWritePos, kRingSize) !=
      kLinkOk) {
    link_.UsbClose();
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
