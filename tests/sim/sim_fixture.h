// SPDX-License-Identifier: MIT
// A host's-eye view of the bench for the tests: open the adapter through the adapter port,
// send messages, collect and decode what comes back.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sim/duroz740.h"
#include "sim/usb_bus.h"
#include "sim/virtual_clock.h"
#include "sim/wire_frame.h"
#include "tests/support/adapter_status_print.h"

namespace zelto::sim::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes PayloadOf(const DecodedFrame& f) {
  return Bytes(f.payload.begin(), f.payload.begin() + static_cast<std::ptrdiff_t>(f.count));
}

struct Received {
  DecodedFrame frame;
  std::int64_t at_ms;  // when the host read it
};

class BenchTest : public ::testing::Test {
 public:
  BenchTest() : bus(clock) {}

  // One ZeltoProg adapter with a Duroz740 on `fw`, opened.
  Duroz740& SensorBench(std::uint16_t fw = 0x0200) {
    Adapter& a = bus.Plug();
    Duroz740& s = a.Attach<Duroz740>("ZS74000001", 0x0102, fw);
    Open();
    return s;
  }

  void Open(const char* description = "ZeltoProg") {
    link.reset();
    ASSERT_TRUE(bus.Open(AdapterKey::kDescription, description, 0, link).Ok());
    ASSERT_NE(link, nullptr);
  }

  AdapterStatus SendRaw(const Bytes& wire, std::uint32_t* written = nullptr) {
    std::uint32_t n = 0;
    const AdapterStatus st = link->Write(wire.data(), static_cast<std::uint32_t>(wire.size()), n);
    if (written != nullptr) *written = n;
    return st;
  }

  AdapterStatus Send(std::uint8_t code, const Bytes& payload = {}) {
    WireFrame f;
    EXPECT_TRUE(EncodeFrame(code, payload.data(), payload.size(), f));
    return SendRaw(Bytes(f.bytes.begin(), f.bytes.begin() + static_cast<std::ptrdiff_t>(f.size)));
  }

  // Everything queued now, read in one go as the host does.
  Bytes ReadQueued() {
    std::uint32_t queued = 0;
    EXPECT_TRUE(link->Queue(queued).Ok());
    Bytes buf(queued);
    std::uint32_t got = 0;
    EXPECT_TRUE(link->Read(buf.data(), queued, got).Ok());
    buf.resize(got);
    return buf;
  }

  // Reads what is queued and decodes it, keeping the decoder between calls.
  std::vector<Received> Poll() {
    std::vector<Received> out;
    for (std::uint8_t b : ReadQueued())
      if (decoder.Feed(b) == FrameDecoder::Result::kFrame) out.push_back({decoder.frame(), clock.NowMs()});
    return out;
  }

  // Polls every `step_ms` for `ms`, collecting frames.
  std::vector<Received> PollFor(std::int64_t ms, std::int64_t step_ms = 10) {
    std::vector<Received> out;
    for (std::int64_t t = 0; t < ms; t += step_ms) {
      clock.AdvanceBy(step_ms);
      for (const Received& r : Poll()) out.push_back(r);
    }
    return out;
  }

  VirtualClock clock;
  UsbBus bus;
  std::unique_ptr<AdapterConnection> link;
  FrameDecoder decoder;
};

}  // namespace zelto::sim::testing
