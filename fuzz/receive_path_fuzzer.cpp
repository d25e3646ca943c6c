// SPDX-License-Identifier: MIT
// The whole receive path under arbitrary input: bytes reach the USB link through a driver
// whose reads hand them out in chunks the input chooses, go into the ring, are assembled and
// dispatched in whichever mode the program is in, and land in the radar state, the lists and
// the displays behind them. The program itself is the real one (main window logic, radar
// window logic, timers on a virtual clock); only the windows are recording fakes.
//
// The input is a setup byte followed by operations, read front to back (missing bytes read
// as zero). fuzz/make_seeds.py writes seeds in this format; keep the two in step.
//
//   setup: bits 0-1 sensor firmware (0x0200, 0x01FF, 0x0000, or two more bytes),
//          bit 2 open the radar window at once (otherwise the main window supervises),
//          bit 3 start with a second programmer listed,
//          bit 4 start the ring positions at 8 x (next byte), so the wrap comes early.
//   op % 9:
//     0 raw:     n, then n bytes into the driver's receive queue
//     1 frame:   code selector, length selector, payload bytes; a well-framed message
//     2 poll:    read limit (0: none), then one receive poll
//     3 advance: t, the clock moves 10 t + 1 ms and every timer due on the way ticks
//     4 user:    list and action, maybe an index: drop-down, click; 0xFC and up: close
//     5 fault:   the next driver call of a kind fails, a short write, a second programmer,
//                a failing description, an unplugged programmer, lost received bytes
//     6 tick:    one run of the radar window's connection or peak timer, or of supervision
//     7 direct:  the last stored frame to a handler with a length from the input
//     8 quiet:   nothing (lets the input skip a byte)
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/radar/radar_logic.h"
#include "core/program/program.h"
#include "sim/virtual_clock.h"
#include "sim/wire_frame.h"
#include "tests/support/fakes.h"
#include "tests/support/test_support.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace zelto;

// The input, read front to back; once it is used up every read gives zero.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// One or two programmers behind a driver that hands out the fuzzer's bytes.
class FuzzPort : public AdapterPort {
 public:
  std::deque<std::uint8_t> rx;
  std::uint32_t read_limit = 0;              // 0: a read takes all it asks for
  std::array<AdapterStatus, 9> fail_next{};  // per call kind, one-shot; Ok: no failure
  bool second_programmer = false;
  bool description_fails = false;
  bool unplugged = false;
  bool short_write_next = false;

  enum Kind { kList, kOpen, kReset, kPurge, kWrite, kQueue, kTimeouts, kRead, kClose };

  AdapterStatus List(std::vector<AdapterInfo>& adapters, const AdapterFilter* filter) override {
    adapters.clear();
    if (AdapterStatus s = Fail(kList); !s.Ok()) return s;
    const int count = unplugged ? 0 : (second_programmer ? 2 : 1);
    for (int i = 0; i < count; ++i) {
      AdapterInfo a;
      a.has_description = !(i == 0 && description_fails);
      if (a.has_description) a.description = "ZeltoProg";
      if (filter == nullptr || filter->Matches(a)) adapters.push_back(a);
    }
    return {};
  }
  AdapterStatus Open(AdapterKey, std::string_view, std::uint32_t,
                     std::unique_ptr<AdapterConnection>& connection) override {
    if (AdapterStatus s = Fail(kOpen); !s.Ok()) return s;
    if (unplugged) return adapter_status::kNotFound;
    connection = std::make_unique<Connection>(*this);
    return {};
  }

 private:
  class Connection final : public AdapterConnection {
   public:
    explicit Connection(FuzzPort& port) : p_(port) {}
    AdapterStatus Reset() override { return p_.Io(kReset); }
    AdapterStatus Purge() override {
      if (AdapterStatus s = p_.Io(kPurge); !s.Ok()) return s;
      p_.rx.clear();
      return {};
    }
    AdapterStatus Write(const std::uint8_t*, std::uint32_t n, std::uint32_t& written) override {
      if (AdapterStatus s = p_.Io(kWrite); !s.Ok()) return s;
      written = p_.short_write_next && n > 0 ? n - 1 : n;
      p_.short_write_next = false;
      return {};
    }
    AdapterStatus Queue(std::uint32_t& waiting) override {
      if (AdapterStatus s = p_.Io(kQueue); !s.Ok()) return s;
      waiting = static_cast<std::uint32_t>(p_.rx.size());
      return {};
    }
    AdapterStatus SetTimeouts(std::uint32_t, std::uint32_t) override { return p_.Io(kTimeouts); }
    AdapterStatus Read(std::uint8_t* out, std::uint32_t n, std::uint32_t& got) override {
      if (AdapterStatus s = p_.Io(kRead); !s.Ok()) return s;
      std::uint32_t take = n < p_.rx.size() ? n : static_cast<std::uint32_t>(p_.rx.size());
      if (p_.read_limit != 0 && take > p_.read_limit) take = p_.read_limit;
      for (std::uint32_t i = 0; i < take; ++i) {
        out[i] = p_.rx.front();
        p_.rx.pop_front();
      }
      got = take;
      return {};
    }
    AdapterStatus Close() override { return p_.Fail(kClose); }

   private:
    FuzzPort& p_;
  };

  AdapterStatus Fail(Kind kind) {
    const AdapterStatus s = fail_next[kind];
    fail_next[kind] = {};
    return s;
  }
  // Calls on an open connection also fail while the programmer is unplugged.
  AdapterStatus Io(Kind kind) {
    if (AdapterStatus s = Fail(kind); !s.Ok()) return s;
    return unplugged ? adapter_status::kIoError : AdapterStatus{};
  }
};

std::filesystem::path g_folder;

void RemoveFolder() {
  std::error_code ec;
  std::filesystem::remove_all(g_folder, ec);
}

constexpr std::uint8_t kCodes[] = {0x01, 0x03, 0x05, 0x15, 0x17, 0x00, 0x02, 0x04, 0x14, 0x06};

std::size_t NaturalLength(std::uint8_t code, bool short_params) {
  switch (code) {
    case 0x01:
      return 16;
    case 0x03:
      return short_params ? 5 : 6;
    case 0x17:
      return 4;
    case 0x05:
    case 0x15:
    case 0x14:
      return 1;
    default:
      return 0;
  }
}

void AddFrame(Input& in, FuzzPort& port) {
  const std::uint8_t selector = in.Byte();
  const std::uint8_t code = selector < 0xF0 ? kCodes[selector % sizeof kCodes] : in.Byte();
  const std::uint8_t length = in.Byte();
  // 0x00-0x5F: the usual length (an identification names a Duroz740); 0x60-0xBF: the usual
  // length with a wrong checksum; from 0xC0: any length up to the largest a frame can carry.
  std::size_t count = length < 0xC0 ? NaturalLength(code, (length & 1) != 0)
                                    : (length - 0xC0u) * sim::kMaxPayload / 0x3F;
  if (count > sim::kMaxPayload) count = sim::kMaxPayload;
  std::array<std::uint8_t, sim::kMaxPayload> payload{};
  std::size_t i = 0;
  if (code == 0x01 && length < 0x60 && count == 16) {
    payload[0] = 0x01;
    payload[1] = 0x01;
    i = 2;
  }
  for (; i < count; ++i) payload[i] = in.Byte();
  std::uint16_t checksum = sim::BodySum(code, payload.data(), count);
  if (length >= 0x60 && length < 0xC0) ++checksum;
  sim::WireFrame wire;
  if (!sim::EncodeFrame(code, payload.data(), count, checksum, wire)) return;
  port.rx.insert(port.rx.end(), wire.bytes.begin(), wire.bytes.begin() + wire.size);
}

void UserAction(Input& in, Program& program) {
  const std::uint8_t b = in.Byte();
  RadarEvents& events = program.RadarWindowEvents();
  // Closing by the user ends the program, so it is kept rare.
  if (b >= 0xFC) {
    events.OnRadarCloseRequested();
    return;
  }
  const auto list = static_cast<ParamList>(b % kParamCount);
  switch ((b / kParamCount) % 4) {
    case 0:
      events.OnListDropDown(list);
      break;
    case 1:
      events.OnListClick(list, static_cast<std::int8_t>(in.Byte()));
      break;
    case 2:
      events.OnListDropDown(list);
      events.OnListClick(list, in.Byte() % 10);
      break;
    default:
      events.OnListClick(list, in.Byte() % 10);
      break;
  }
}

void Fault(Input& in, FuzzPort& port) {
  const std::uint8_t b = in.Byte();
  if (b < 9 * 16) {
    // Any failure kind, with any driver number.
    port.fail_next[b % 9] = AdapterStatus{static_cast<AdapterResult>(1 + (b / 9) % 5),
                                          static_cast<std::uint32_t>(1 + (b / 9) % 18)};
  } else if (b < 0xA0) {
    port.short_write_next = true;
  } else if (b < 0xB0) {
    port.second_programmer = !port.second_programmer;
  } else if (b < 0xC0) {
    port.description_fails = !port.description_fails;
  } else if (b < 0xD0) {
    port.unplugged = !port.unplugged;
  } else {
    port.rx.clear();
  }
}

// The identification reply of a Duroz740 as the assembler leaves it in its buffer.
FrameBytes Duroz740Identification(int fw, int& length) {
  const testing::Bytes payload = testing::IdPayload(kDuroz740Id, "0000000001", 0x0102, fw);
  FrameBytes frame{};
  int n = 0;
  frame[n++] = 0x01;
  frame[n++] = 0x02;
  frame[n++] = IdentificationReply;
  for (std::uint8_t b : payload) frame[n++] = b;
  const std::uint32_t sum = BodyChecksum(frame.data() + 2, n - 2);
  frame[n++] = static_cast<std::uint8_t>(sum / 256);
  frame[n++] = static_cast<std::uint8_t>(sum % 256);
  frame[n++] = 0x01;
  frame[n++] = 0x03;
  length = n;
  return frame;
}

void CheckState(Program& program) {
  const ReceiveRing& ring = program.Messages().Ring();
  const FrameAssembly& assembly = program.Messages().Assembly();
  const RadarConnection& connection = program.Connection();
  FUZZ_CHECK(ring.read_pos >= 0 && ring.read_pos < kRingSize);
  FUZZ_CHECK(ring.write_pos >= 0 && ring.write_pos < kRingSize);
  FUZZ_CHECK(assembly.index >= 0 && assembly.index <= 73);
  FUZZ_CHECK(assembly.length >= 0 && assembly.length <= 74);
  FUZZ_CHECK(connection.id_miss_count >= 0 && connection.id_check_ticks >= 0);
  if (program.Ended()) return;
  RadarWindowLogic* radar = program.Radar();
  FUZZ_CHECK((radar != nullptr) == program.RadarMode());
  // Closing a window that is no longer there must never end the program.
  if (radar == nullptr) {
    FUZZ_CHECK(!program.ExitsOnRadarClose());
    return;
  }
  static constexpr int kCounts[kParamCount] = {9, 9, 3, 3, 2, 3};
  for (int p = 0; p < kParamCount; ++p) {
    const auto list = static_cast<ParamList>(p);
    FUZZ_CHECK(radar->ListCount(list) == kCounts[p]);
    FUZZ_CHECK(radar->ListIndex(list) >= 0 && radar->ListIndex(list) < kCounts[p]);
    FUZZ_CHECK(connection.last_params[p] >= 0 && connection.last_params[p] < kCounts[p]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The program reads its string table from its folder; one small table serves every run.
  char templ[] = "/tmp/zelto-fuzz-XXXXXX";
  if (::mkdtemp(templ) == nullptr) std::abort();
  g_folder = templ;
  std::atexit(RemoveFolder);
  std::ofstream out(g_folder / "StringTable.txt", std::ios::binary);
  for (int n = 0; n <= 64; ++n) out << "#STRING " << n << "\r\nI" << n << "\r\nE" << n << "\r\n";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t setup = in.Byte();

  sim::VirtualClock clock;
  FuzzPort port;
  port.second_programmer = (setup & 0x08) != 0;
  testing::FakeUi ui;
  Program program(port, clock, ui, ProgramConfig{g_folder, {1, 0, 0}});
  program.Load();
  FUZZ_CHECK(!program.Ended());

  if ((setup & 0x10) != 0) {
    ReceiveRing& ring = program.Messages().Ring();
    ring.read_pos = ring.write_pos = in.Byte() * 8 % kRingSize;
  }
  if ((setup & 0x04) != 0) {
    // As the supervision does once a Duroz740 has answered and the hold-off has run out.
    static constexpr std::int32_t kFirmware[] = {0x0200, 0x01FF, 0x0000};
    const int pick = setup & 0x03;
    const std::int32_t fw = pick < 3 ? kFirmware[pick] : in.Byte() * 256 + in.Byte();
    // The hold-off runs out at the fourth supervision tick, at 3 s; the answer comes after.
    clock.AdvanceBy(3000);
    int length = 0;
    const FrameBytes answer = Duroz740Identification(fw, length);
    program.HandleProgrammerFrame(answer, length);
    program.ShowDeviceStatus();
  }
  CheckState(program);

  for (int ops = 0; ops < 4000 && !in.Empty() && !program.Ended(); ++ops) {
    switch (in.Byte() % 9) {
      case 0: {
        const std::uint8_t n = in.Byte();
        for (int i = 0; i < n; ++i) port.rx.push_back(in.Byte());
        break;
      }
      case 1:
        AddFrame(in, port);
        break;
      case 2:
        port.read_limit = in.Byte();
        program.PollTick();
        break;
      case 3:
        clock.AdvanceBy(10 * in.Byte() + 1);
        break;
      case 4:
        UserAction(in, program);
        break;
      case 5:
        Fault(in, port);
        break;
      case 6: {
        const std::uint8_t b = in.Byte();
        RadarWindowLogic* radar = program.Radar();
        if (radar == nullptr)
          program.SupervisionTick();
        else if (b & 1)
          radar->PeakTick();
        else
          radar->RadarConnTick();
        break;
      }
      case 7: {
        const std::uint8_t b = in.Byte();
        const int length = b % (kFrameBufferSize + 1);
        const FrameBytes& frame = program.Messages().Assembly().frame;
        if (b & 0x80)
          program.HandleProgrammerFrame(frame, length);
        else
          program.RadarHandleFrame(frame, length);
        break;
      }
      default:
        break;
    }
    CheckState(program);
  }
  return 0;
}
