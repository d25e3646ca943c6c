// SPDX-License-Identifier: MIT
// The libftdi1 backend on emulated FTDI chips: the real libusb and libftdi1 calls, the
// chip's side answered at the usbdevfs level, the simulated programmer behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/duroz740.h"
#include "sim/wire_frame.h"
#include "tests/usbemu/ftdi_emulator.h"
#include "drivers/libftdi_driver.h"
#include "tests/support/adapter_status_print.h"

namespace zelto {
namespace {

using usbemu::ChipSpec;
using usbemu::EmulatedBus;
using Connection = std::unique_ptr<AdapterConnection>;

std::vector<std::uint8_t> Frame(std::uint8_t code) {
  sim::WireFrame f;
  EXPECT_TRUE(sim::EncodeFrame(code, nullptr, 0, f));
  return {f.bytes.begin(), f.bytes.begin() + static_cast<std::ptrdiff_t>(f.size)};
}

class LibftdiOnChip : public ::testing::Test {
 protected:
  std::unique_ptr<LibftdiDriver> NewDriver() {
    std::unique_ptr<FtdiBus> real = CreateLibftdiBus();
    EXPECT_NE(real, nullptr);
    return std::make_unique<LibftdiDriver>(std::move(real));
  }
  // The descriptions, as the link lists (a filter that asks for no serial number or location:
  // only the product strings go over the bus).
  static std::vector<std::string> List(LibftdiDriver& d) {
    std::vector<AdapterInfo> adapters;
    const AdapterFilter any;
    EXPECT_EQ(d.List(adapters, &any), AdapterStatus{});
    std::vector<std::string> out;
    for (const AdapterInfo& a : adapters) out.push_back(a.description);
    return out;
  }
  static Connection Open(LibftdiDriver& d, std::string_view description = "ZeltoProg") {
    Connection c;
    EXPECT_EQ(d.Open(AdapterKey::kDescription, description, 0, c), AdapterStatus{}) << description;
    return c;
  }
  // Collects decoded frames from the connection until `want` arrived or limit_ms passed.
  static std::vector<sim::DecodedFrame> ReadFrames(AdapterConnection& c, std::size_t want,
                                                   int limit_ms) {
    sim::FrameDecoder decoder;
    std::vector<sim::DecodedFrame> frames;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (frames.size() < want && std::chrono::steady_clock::now() < end) {
      std::uint32_t queued = 0;
      if (!c.Queue(queued).Ok()) break;
      std::vector<std::uint8_t> bytes(queued);
      std::uint32_t got = 0;
      if (queued > 0 && c.Read(bytes.data(), queued, got).Ok())
        for (std::uint32_t i = 0; i < got; ++i)
          if (decoder.Feed(bytes[i]) == sim::FrameDecoder::Result::kFrame)
            frames.push_back(decoder.frame());
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return frames;
  }

  EmulatedBus emu;
};

TEST_F(LibftdiOnChip, IdentifiesTheProgrammerThroughTheRealLibraries) {
  const int chip = emu.Plug(ChipSpec{}, [](sim::Adapter& a) { a.Attach<sim::Duroz740>(); });
  auto driver = NewDriver();
  EXPECT_EQ(List(*driver), std::vector<std::string>{"ZeltoProg"});
  Connection c = Open(*driver);
  ASSERT_NE(c, nullptr);
  std::vector<std::uint8_t> request = Frame(sim::kIdentificationRequest);
  std::uint32_t written = 0;
  ASSERT_EQ(c->Write(request.data(), static_cast<std::uint32_t>(request.size()), written),
            AdapterStatus{});
  EXPECT_EQ(written, request.size());
  const auto frames = ReadFrames(*c, 1, 1000);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].code, sim::kIdentificationReply);
  const usbemu::ChipCounters counters = emu.Counters(chip);
  EXPECT_EQ(counters.baud, 9600);
  EXPECT_EQ(counters.latency_ms, LibftdiDriver::kLatencyMs);
  EXPECT_EQ(c->Close(), AdapterStatus{});
}

}  // namespace
}  // namespace zelto

namespace zelto {
namespace {

TEST_F(LibftdiOnChip, UnplugFailsTheOpenLinkAndTheReplugIsFoundAfresh) {
  const int chip = emu.Plug(ChipSpec{}, [](sim::Adapter& a) { a.Attach<sim::Duroz740>(); });
  auto driver = NewDriver();
  Connection c = Open(*driver);
  ASSERT_NE(c, nullptr);
  emu.Unplug(chip);
  std::uint32_t queued = 0;
  EXPECT_NE(c->Queue(queued), AdapterStatus{});
  EXPECT_EQ(c->Close(), AdapterStatus{});
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(List(*driver).empty());
  emu.Replug(chip);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(List(*driver), std::vector<std::string>{"ZeltoProg"});
  c = Open(*driver);
  ASSERT_NE(c, nullptr);
  std::vector<std::uint8_t> request = Frame(sim::kIdentificationRequest);
  std::uint32_t written = 0;
  ASSERT_EQ(c->Write(request.data(), static_cast<std::uint32_t>(request.size()), written),
            AdapterStatus{});
  EXPECT_EQ(ReadFrames(*c, 1, 1000).size(), 1u);
}

}  // namespace
}  // namespace zelto

namespace zelto {
namespace {

TEST_F(LibftdiOnChip, QueueStatusStaysShortWhileBytesKeepArriving) {
  const int chip = emu.Plug(ChipSpec{});
  auto driver = NewDriver();
  Connection c = Open(*driver);
  ASSERT_NE(c, nullptr);
  // About two seconds of bytes on a 9600 baud line: the chip receives one every millisecond
  // or so and hands a few to every bulk transfer.
  constexpr std::size_t kBytes = 2000;
  emu.WithModel(chip, [](sim::Adapter& a) { a.InsertRandomNoise(kBytes); });
  std::size_t received = 0;
  std::int64_t longest_ms = 0;
  std::vector<std::uint8_t> buffer(8192);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(3500);
  while (received < kBytes && std::chrono::steady_clock::now() < end) {
    const auto before = std::chrono::steady_clock::now();
    std::uint32_t queued = 0;
    ASSERT_EQ(c->Queue(queued), AdapterStatus{});
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - before)
                          .count();
    longest_ms = std::max<std::int64_t>(longest_ms, took);
    std::uint32_t got = 0;
    ASSERT_EQ(c->Read(buffer.data(), queued, got), AdapterStatus{});
    received += got;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the program's poll
  }
  RecordProperty("longest_queue_status_ms", static_cast<int>(longest_ms));
  EXPECT_EQ(received, kBytes) << "nothing lost between polls";
  // A few milliseconds of draining plus one transfer; the emulation's round trips add a
  // little on a loaded machine, but nowhere near the seconds of an unbounded drain.
  EXPECT_LE(longest_ms, 25);
}

TEST_F(LibftdiOnChip, StringsAreReadOncePerDeviceAndAgainAfterAReplug) {
  ChipSpec uart;
  uart.description = "FT232R USB UART";
  const int other = emu.Plug(uart);
  ChipSpec mute;
  mute.stall_strings = true;
  const int broken = emu.Plug(mute);
  const int chip = emu.Plug(ChipSpec{});
  auto driver = NewDriver();
  for (int i = 0; i < 20; ++i) {
    std::vector<std::string> listed = List(*driver);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{"FT232R USB UART", "ZeltoProg"}))
        << "a device whose strings stall is left out, the others listed";
  }
  // Languages, then the product string: two requests, once.
  EXPECT_EQ(emu.Counters(other).string_requests, 2u);
  EXPECT_EQ(emu.Counters(chip).string_requests, 2u);
  EXPECT_EQ(emu.Counters(other).opens, 1u);
  EXPECT_EQ(emu.Counters(broken).string_requests, 1u) << "a failure is not retried at once";
  // The same port, a new address: a different device as far as anyone can tell.
  emu.Unplug(other);
  emu.Replug(other);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  List(*driver);
  List(*driver);
  EXPECT_EQ(emu.Counters(other).string_requests, 4u);
}

TEST_F(LibftdiOnChip, UnreadableStringsAreAskedForAgainAfterAFewSeconds) {
  ChipSpec spec;
  spec.stall_strings = true;
  const int chip = emu.Plug(spec);
  auto driver = NewDriver();
  EXPECT_TRUE(List(*driver).empty());
  emu.StallStrings(chip, false);  // e.g. the permissions were fixed meanwhile
  EXPECT_TRUE(List(*driver).empty()) << "not asked again at once";
  EXPECT_EQ(emu.Counters(chip).string_requests, 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(5100));
  EXPECT_EQ(List(*driver), std::vector<std::string>{"ZeltoProg"});
}

TEST_F(LibftdiOnChip, SerialDriverIsDetachedOnceAndGivenBackWhereItWasTaken) {
  const int bound = emu.Plug(ChipSpec{});
  ChipSpec unbound_spec;
  unbound_spec.description = "ZeltoProg B";
  unbound_spec.kernel_driver_bound = false;
  const int unbound = emu.Plug(unbound_spec);
  {
    auto driver = NewDriver();
    for (const char* name : {"ZeltoProg", "ZeltoProg B"}) {
      for (int i = 0; i < 5; ++i) {
        Connection c = Open(*driver, name);
        ASSERT_NE(c, nullptr) << name;
        EXPECT_EQ(c->Close(), AdapterStatus{});
      }
    }
    EXPECT_EQ(emu.Counters(bound).detaches, 1u);
    EXPECT_EQ(emu.Counters(bound).attaches, 0u);
  }
  EXPECT_EQ(emu.Counters(bound).attaches, 1u) << "given back when the driver ends";
  EXPECT_TRUE(emu.Counters(bound).kernel_driver_bound);
  EXPECT_EQ(emu.Counters(unbound).attaches, 0u) << "never bound, so not bound at the end";
  EXPECT_FALSE(emu.Counters(unbound).kernel_driver_bound);
}

}  // namespace
}  // namespace zelto
