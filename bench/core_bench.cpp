// SPDX-License-Identifier: MIT
// The hot paths of the program: the frame assembler over the receive ring, one whole receive
// poll in radar mode, sending one parameter write, and loading the shipped string table.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "bench/memory_driver.h"
#include "core/protocol/message_channel.h"
#include "core/protocol/programmer_messages.h"
#include "core/radar/radar_logic.h"
#include "core/program/program.h"
#include "core/text/string_table.h"
#include "sim/virtual_clock.h"
#include "tests/support/fakes.h"

namespace zelto::bench {
namespace {

using Bytes = std::vector<std::uint8_t>;

void AppendWire(Bytes& out, std::uint8_t code, const Bytes& payload) {
  std::array<std::uint8_t, kMaxWireFrame> wire{};
  const int n = BuildWireFrame(code, payload.data(), static_cast<std::int16_t>(payload.size()), wire);
  out.insert(out.end(), wire.begin(), wire.begin() + n);
}

Bytes IdentificationPayload() {
  // Duroz740 (0x0101), serial, hardware 0x0102, firmware 0x0200.
  return {0x01, 0x01, 'Z', 'S', '7', '4', '0', '0', '0', '0', '0', '1', 0x01, 0x02, 0x02, 0x00};
}

// What the programmer sends while the radar window is open: mostly signal reports, now and
// then a parameter reply, an identification reply and an acknowledgement. Levels wander so
// that some bytes need stuffing and the peak moves. Whole frames only, at most max_bytes.
Bytes RadarTraffic(std::size_t max_bytes, int* frame_count = nullptr) {
  Bytes out;
  int frames = 0;
  for (int i = 0;; ++i) {
    Bytes frame;
    switch (i % 12) {
      case 8:
        AppendWire(frame, ParamsReply, {5, 2, 1, 0, 0, 1});
        break;
      case 9:
        AppendWire(frame, IdentificationReply, IdentificationPayload());
        break;
      case 10:
        AppendWire(frame, ReportModeAck, {});
        break;
      default: {
        const int level = (i * 613 + 257) % 9000;
        AppendWire(frame, SignalReport,
                   {2, static_cast<std::uint8_t>(level >> 8), static_cast<std::uint8_t>(level & 0xFF),
                    static_cast<std::uint8_t>(level > 4000 ? 1 : 0)});
        break;
      }
    }
    if (out.size() + frame.size() > max_bytes) break;
    out.insert(out.end(), frame.begin(), frame.end());
    ++frames;
  }
  if (frame_count != nullptr) *frame_count = frames;
  return out;
}

// Frames whose every payload byte is 0x01: twice the wire bytes for the same body, the
// assembler's slowest input.
Bytes StuffedTraffic(std::size_t max_bytes, int* frame_count = nullptr) {
  Bytes out;
  int frames = 0;
  for (;;) {
    Bytes frame;
    AppendWire(frame, 0x01, Bytes(16, 0x01));
    if (out.size() + frame.size() > max_bytes) break;
    out.insert(out.end(), frame.begin(), frame.end());
    ++frames;
  }
  if (frame_count != nullptr) *frame_count = frames;
  return out;
}

// The ring holds one byte less than its size.
constexpr std::size_t kRingCapacity = kRingSize - 1;

// Arg 0: radar traffic; arg 1: stuffing on every payload byte. The bytes start late in the
// ring so every pass crosses the wrap point.
void BM_AssembleFrame(benchmark::State& st) {
  int frames = 0;
  const Bytes bytes = st.range(0) == 0 ? RadarTraffic(kRingCapacity, &frames)
                                       : StuffedTraffic(kRingCapacity, &frames);
  MemoryDriver driver;
  UsbLink link(driver);
  MessageChannel msg(link);
  ReceiveRing& ring = msg.Ring();
  constexpr int kStart = 1500;
  for (std::size_t i = 0; i < bytes.size(); ++i) ring.bytes[(kStart + i) % kRingSize] = bytes[i];
  const auto end = static_cast<int>((kStart + bytes.size()) % kRingSize);

  int assembled = 0;
  for (auto _ : st) {
    ring.read_pos = kStart;
    ring.write_pos = end;
    while (msg.AssembleFrame()) {
      benchmark::DoNotOptimize(msg.Assembly().frame.data());
      ++assembled;
    }
    benchmark::ClobberMemory();
  }
  if (assembled != frames * static_cast<int>(st.iterations()))
    st.SkipWithError("the assembler lost frames");
  const auto n = static_cast<double>(bytes.size());
  st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations()) *
                       static_cast<std::int64_t>(bytes.size()));
  st.counters["frames"] = frames;
  // The inverted byte rate: seconds per byte, which the console shows as e.g. "1.4ns".
  st.counters["time_per_byte"] = benchmark::Counter(
      n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AssembleFrame)->Arg(0)->Arg(1);

// The whole program on a memory driver and a virtual clock, brought into radar mode the way a
// user gets there: the programmer answers every request with a Duroz740 identification
// until the radar window opens.
class RadarModeWorld {
 public:
  RadarModeWorld() {
    folder_ = std::filesystem::temp_directory_path() /
              ("zelto-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    std::filesystem::copy_file(ZELTO_STRING_TABLE_FILE, folder_ / kStringTableFile,
                               std::filesystem::copy_options::overwrite_existing);
    Bytes answer;
    AppendWire(answer, IdentificationReply, IdentificationPayload());
    driver_.SetAnswer(answer.data(), answer.size());
    program_ = std::make_unique<Program>(driver_, clock_, ui_,
                                         ProgramConfig{folder_, ProgramVersion{}});
    program_->Load();
    // The first supervision tick comes at 1.5 s and the window opens once 3 s have run
    // down.
    clock_.AdvanceBy(3100);
    driver_.SetAnswer(nullptr, 0);
    driver_.ClearQueue();
  }
  ~RadarModeWorld() {
    program_.reset();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

  bool InRadarMode() const { return program_->RadarMode() && program_->Radar() != nullptr; }

  std::filesystem::path folder_;
  sim::VirtualClock clock_;
  MemoryDriver driver_;
  testing::FakeUi ui_;
  std::unique_ptr<Program> program_;
};

// One receive poll that finds a full ring's worth of frames waiting in the driver, each
// dispatched to the open radar window's logic.
void BM_PollReceive_RadarMode(benchmark::State& st) {
  RadarModeWorld world;
  if (!world.InRadarMode()) {
    st.SkipWithError("the radar window did not open");
    return;
  }
  int frames = 0;
  const Bytes bytes = RadarTraffic(kRingCapacity, &frames);
  world.driver_.Queue(bytes.data(), bytes.size());
  world.driver_.SetReplay(true);
  Program& program = *world.program_;
  MessageChannel& msg = program.Messages();

  const std::uint64_t read_before = world.driver_.BytesRead();
  for (auto _ : st) {
    msg.PollReceive(program);
    benchmark::ClobberMemory();
  }
  const std::uint64_t read = world.driver_.BytesRead() - read_before;
  if (read != bytes.size() * static_cast<std::uint64_t>(st.iterations()))
    st.SkipWithError("a poll did not take every byte");
  if (world.ui_.LastRadar() == nullptr || world.ui_.LastRadar()->bar < 0)
    st.SkipWithError("no signal report reached the radar window");
  st.SetBytesProcessed(static_cast<std::int64_t>(read));
  st.counters["frames"] = frames;
  st.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_PollReceive_RadarMode)->Unit(benchmark::kMicrosecond);

// One WriteParamsRequest with six parameter bytes on an open link.
void BM_SendMessage_WriteParams(benchmark::State& st) {
  MemoryDriver driver;
  UsbLink link(driver);
  MessageChannel msg(link);
  if (link.Open() != kLinkOk) {
    st.SkipWithError("the memory driver did not open");
    return;
  }
  std::uint8_t payload[11] = {5, 2, 1, 0, 0, 1};
  for (auto _ : st) {
    msg.SendMessage(WriteParamsRequest, payload, 6);
    benchmark::ClobberMemory();
  }
  if (!link.IsOpen()) st.SkipWithError("a write closed the link");
  st.SetBytesProcessed(static_cast<std::int64_t>(driver.BytesWritten()));
}
BENCHMARK(BM_SendMessage_WriteParams);

// StringTable.txt as shipped, both languages.
void BM_LoadStringTable(benchmark::State& st) {
  const std::filesystem::path file = ZELTO_STRING_TABLE_FILE;
  std::array<std::string, kStringTableSize> table;
  const auto language = static_cast<std::int16_t>(st.range(0));
  for (auto _ : st) {
    if (!LoadStringTable(file, language, table)) {
      st.SkipWithError("the shipped string table did not load");
      break;
    }
    benchmark::DoNotOptimize(table.data());
  }
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (!ec)
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations()) *
                         static_cast<std::int64_t>(size));
}
BENCHMARK(BM_LoadStringTable)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace zelto::bench

BENCHMARK_MAIN();
