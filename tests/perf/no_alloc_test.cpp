// SPDX-License-Identifier: MIT
// The receive poll allocates nothing: this executable replaces the global allocation
// functions with counting ones and runs the whole program on the simulated bench, counting
// every allocation made inside the 50 ms poll, with frames arriving in programmer mode and in
// radar mode. The simulated driver itself is left out of the count: it stands in for the
// vendor's library, not for our code.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <ostream>
#include <string>

#include "core/program/program.h"
#include "core/protocol/programmer_messages.h"
#include "core/radar/radar_logic.h"
#include "core/text/string_table.h"
#include "core/text/text_id.h"
#include "sim/duroz740.h"
#include "sim/other_device.h"
#include "sim/usb_bus.h"
#include "sim/virtual_clock.h"
#include "tests/support/fakes.h"
#include "tests/support/test_support.h"

namespace {

std::atomic<bool> g_counting{false};
std::atomic<std::uint64_t> g_allocations{0};

void* Allocate(std::size_t size) {
  if (g_counting.load(std::memory_order_relaxed))
    g_allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}

void* AllocateAligned(std::size_t size, std::align_val_t align) {
  if (g_counting.load(std::memory_order_relaxed))
    g_allocations.fetch_add(1, std::memory_order_relaxed);
  const auto a = static_cast<std::size_t>(align);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = (size + a - 1) / a * a;
  return std::aligned_alloc(a, rounded == 0 ? a : rounded);
}

void* OrThrow(void* p) {
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

// Counts allocations while alive.
class CountAllocations {
 public:
  CountAllocations() : before_(g_allocations.load()) { g_counting = true; }
  ~CountAllocations() { g_counting = false; }
  std::uint64_t Count() const { return g_allocations.load() - before_; }

 private:
  std::uint64_t before_;
};

// Stops counting for the scope of a driver call.
class NotCounted {
 public:
  NotCounted() : was_(g_counting.exchange(false)) {}
  ~NotCounted() { g_counting = was_; }

 private:
  bool was_;
};

}  // namespace

// These replacements hand out malloc'ed memory and give it back with free. g++ at -O2 sees a
// delete expression reach free() through them and takes it for a mismatch; here it is the
// intended pairing.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) { return OrThrow(Allocate(size)); }
void* operator new[](std::size_t size) { return OrThrow(Allocate(size)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new(std::size_t size, std::align_val_t a) { return OrThrow(AllocateAligned(size, a)); }
void* operator new[](std::size_t size, std::align_val_t a) {
  return OrThrow(AllocateAligned(size, a));
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, a);
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, a);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }

namespace zelto {
namespace {

using namespace zelto::testing;

// The simulated bus behind the adapter port, with its own work kept out of the count and the
// bytes it hands out tallied.
class UncountedConnection : public AdapterConnection {
 public:
  UncountedConnection(std::unique_ptr<AdapterConnection> inner, std::uint64_t& bytes_read)
      : inner_(std::move(inner)), bytes_read_(bytes_read) {}
  ~UncountedConnection() override {
    NotCounted n;
    inner_.reset();
  }
  AdapterStatus Reset() override {
    NotCounted n;
    return inner_->Reset();
  }
  AdapterStatus Purge() override {
    NotCounted n;
    return inner_->Purge();
  }
  AdapterStatus Write(const std::uint8_t* d, std::uint32_t c, std::uint32_t& w) override {
    NotCounted n;
    return inner_->Write(d, c, w);
  }
  AdapterStatus Queue(std::uint32_t& q) override {
    NotCounted n;
    return inner_->Queue(q);
  }
  AdapterStatus SetTimeouts(std::uint32_t r, std::uint32_t w) override {
    NotCounted n;
    return inner_->SetTimeouts(r, w);
  }
  AdapterStatus Read(std::uint8_t* d, std::uint32_t c, std::uint32_t& got) override {
    NotCounted n;
    const AdapterStatus status = inner_->Read(d, c, got);
    if (status.Ok()) bytes_read_ += got;
    return status;
  }
  AdapterStatus SetLatencyTimer(std::uint8_t ms) override {
    NotCounted n;
    return inner_->SetLatencyTimer(ms);
  }
  AdapterStatus Close() override {
    NotCounted n;
    return inner_->Close();
  }

 private:
  std::unique_ptr<AdapterConnection> inner_;
  std::uint64_t& bytes_read_;
};

class UncountedDriver : public AdapterPort {
 public:
  explicit UncountedDriver(AdapterPort& inner) : inner_(inner) {}
  std::uint64_t bytes_read = 0;

  AdapterStatus List(std::vector<AdapterInfo>& adapters, const AdapterFilter* filter) override {
    NotCounted n;
    return inner_.List(adapters, filter);
  }
  AdapterStatus Open(AdapterKey key, std::string_view text, std::uint32_t location,
                     std::unique_ptr<AdapterConnection>& connection) override {
    NotCounted n;
    std::unique_ptr<AdapterConnection> inner;
    const AdapterStatus status = inner_.Open(key, text, location, inner);
    if (inner != nullptr)
      connection = std::make_unique<UncountedConnection>(std::move(inner), bytes_read);
    return status;
  }

 private:
  AdapterPort& inner_;
};

// A radar window stands in for a real one; its record keeps one string per label. Those are
// made before the polls start, so that the fake's own first store of a label does not count
// against the program.
class PreparedUi : public FakeUi {
 public:
  std::unique_ptr<RadarView> CreateRadarView(RadarEvents& events) override {
    auto view = FakeUi::CreateRadarView(events);
    RadarRecord& rec = *radars.back();
    for (int l = 0; l <= static_cast<int>(RadarLabel::kHeightValue); ++l)
      rec.labels[static_cast<RadarLabel>(l)].reserve(64);
    return view;
  }
};

struct World;

struct Row {
  const char* name;
  std::int16_t language;
  // Plugs what the bench holds.
  std::function<void(World&)> plug;
  // Runs once a second of virtual time, between polls: the user's and the room's doings.
  std::function<void(World&, std::int64_t second)> every_second;
  // How often the radar window opens; frames arrive in radar mode only when it does.
  std::size_t radar_openings;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

struct World {
  World() { std::filesystem::copy_file(ZELTO_STRING_TABLE_FILE, folder.path() / kStringTableFile); }

  void Start(std::int16_t language) {
    program = std::make_unique<Program>(driver, clock, ui,
                                        ProgramConfig{folder.path(), ProgramVersion{1, 0, 0}});
    program->Load();
    if (language == 1) program->OnEnglishChosen();
    // The poll as its timer runs it, counted.
    program->PollTimer().SetOnTick([this] { CountedPoll(); });
  }

  void CountedPoll() {
    const bool radar_mode = program->RadarMode();
    const std::uint64_t before = driver.bytes_read;
    {
      CountAllocations count;
      program->PollTick();
      allocations += count.Count();
    }
    ++polls;
    (!radar_mode ? bytes_in_programmer_mode : bytes_in_radar_mode) += driver.bytes_read - before;
  }

  sim::Duroz740* Sensor() { return bus.AdapterCount() > 0 ? bus.adapter(0).Sensor() : nullptr; }

  TempFolder folder;
  sim::VirtualClock clock;
  sim::UsbBus bus{clock};
  UncountedDriver driver{bus};
  PreparedUi ui;
  std::unique_ptr<Program> program;

  std::uint64_t allocations = 0;
  std::uint64_t polls = 0;
  std::uint64_t bytes_in_programmer_mode = 0;
  std::uint64_t bytes_in_radar_mode = 0;
};

void PlugSensor(World& w, std::uint16_t fw) {
  w.bus.Plug().Attach<sim::Duroz740>("ZS74000001", 0x0102, fw);
}

// The user picks another item in a list, as the radar window reports it.
void Pick(World& w, ParamList list, int index) {
  if (w.program->Radar() == nullptr) return;
  RadarEvents& events = w.program->RadarWindowEvents();
  events.OnListDropDown(list);
  events.OnListClick(list, index);
}

// Every few seconds the user changes a parameter, so writes are acknowledged and parameter
// replies arrive inside polls; now and then someone walks past the sensor.
void UserAtWork(World& w, std::int64_t second) {
  if (second % 4 == 0) Pick(w, kSensitivity, static_cast<int>(second / 4 % 9));
  if (second % 4 == 2) Pick(w, kHeight, static_cast<int>(second / 4 % 3));
  if (second % 7 == 0 && w.Sensor() != nullptr) w.Sensor()->WalkPast(12000, 2000);
}

const Row kRows[] = {
    {"SensorWithHeightItalian", 0, [](World& w) { PlugSensor(w, 0x0200); }, UserAtWork, 1},
    {"SensorWithHeightEnglish", 1, [](World& w) { PlugSensor(w, 0x0200); }, UserAtWork, 1},
    {"SensorWithoutHeight", 1, [](World& w) { PlugSensor(w, 0x0100); }, UserAtWork, 1},
    // Replies come apart across reads and together in one, with noise and bad checksums in
    // between: every path of the assembler and the frame check.
    {"SplitMergedNoisyStream", 0,
     [](World& w) {
       PlugSensor(w, 0x0200);
       w.bus.adapter(0).LimitReadSize(7);
       w.bus.adapter(0).MergeReplies(170);
     },
     [](World& w, std::int64_t second) {
       UserAtWork(w, second);
       sim::Adapter& a = w.bus.adapter(0);
       a.InsertRandomNoise(23);
       if (second % 3 == 0) a.CorruptNextReplies(2);
     },
     1},
    // The sensor falls silent: the radar window closes, the main window takes over, and the
    // window opens again once the sensor answers.
    {"SensorLostAndFound", 0, [](World& w) { PlugSensor(w, 0x0200); },
     [](World& w, std::int64_t second) {
       UserAtWork(w, second);
       if (w.Sensor() != nullptr) w.Sensor()->SetSilent(second >= 8 && second < 14);
     },
     2},
    // Another kind of device: the program stays in programmer mode for good.
    {"OtherDevice", 0, [](World& w) { w.bus.Plug().Attach<sim::OtherDevice>(); },
     [](World&, std::int64_t) {}, 0},
};

class PollPath : public ::testing::TestWithParam<Row> {};

TEST_P(PollPath, AllocatesNothingWhileFramesArrive) {
  const Row& row = GetParam();
  World w;
  row.plug(w);
  w.Start(row.language);
  ASSERT_FALSE(w.program->Ended());
  constexpr std::int64_t kRunSeconds = 30;
  for (std::int64_t second = 1; second <= kRunSeconds; ++second) {
    w.clock.AdvanceBy(1000);
    row.every_second(w, second);
  }

  EXPECT_EQ(w.allocations, 0u) << "allocations in " << w.polls << " polls";
  EXPECT_EQ(w.polls, static_cast<std::uint64_t>(kRunSeconds * 1000 / 50));
  // Identification replies come in programmer mode before any radar window opens.
  EXPECT_GT(w.bytes_in_programmer_mode, 0u);
  EXPECT_EQ(w.ui.radars.size(), row.radar_openings);
  if (row.radar_openings > 0) {
    EXPECT_GT(w.bytes_in_radar_mode, 0u);
    // The radar window got signal reports and parameter replies, not only a stream of bytes.
    ASSERT_NE(w.ui.LastRadar(), nullptr);
    EXPECT_GE(w.ui.LastRadar()->bar, 0);
    EXPECT_FALSE(w.ui.LastRadar()->labels[RadarLabel::kHeightValue].empty());
    ASSERT_NE(w.Sensor(), nullptr);
    EXPECT_GT(w.Sensor()->counters().writes, 0u);
  } else {
    EXPECT_EQ(w.bytes_in_radar_mode, 0u);
    EXPECT_EQ(w.ui.main.rec.status_device, w.program->Texts().Entries()[Text::kUnsupportedDevice]);
  }
}

INSTANTIATE_TEST_SUITE_P(Bench, PollPath, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           return std::string(info.param.name);
                         });

// The counter itself: a test that passes because nothing was counted would prove nothing.
std::string* volatile g_escape = nullptr;

TEST(CountingAllocator, CountsWhatTheProgramAllocates) {
  std::uint64_t counted = 0;
  {
    CountAllocations count;
    // Through a volatile, so the compiler cannot drop the allocation as unused.
    g_escape = new std::string(40, 'x');
    counted = count.Count();
  }
  delete g_escape;
  EXPECT_EQ(counted, 2u);  // the string object and its long buffer
}

}  // namespace
}  // namespace zelto
