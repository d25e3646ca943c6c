// SPDX-License-Identifier: MIT
// A recorded session turned into a scenario (scripts/usbtrace-to-scenario) and played to the
// libftdi backend through the emulated chip. The recording here is written by the test in
// umockdev's formats, with frames of the simulated sensor; a real one replaces it as is.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/wire_frame.h"
#include "tests/support/test_support.h"
#include "tests/usbemu/ftdi_emulator.h"
#include "drivers/libftdi_driver.h"
#include "tests/support/adapter_status_print.h"

namespace zelto::usbemu {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(std::uint8_t code, const Bytes& payload) {
  sim::WireFrame f;
  EXPECT_TRUE(sim::EncodeFrame(code, payload.data(), payload.size(), f));
  return {f.bytes.begin(), f.bytes.begin() + static_cast<std::ptrdiff_t>(f.size)};
}

std::string Hex(const Bytes& bytes) {
  std::string out;
  char two[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

// A completed URB as umockdev-record writes it.
std::string Reap(int type, int endpoint, int buffer_length, const Bytes& data, int actual) {
  return "USBDEVFS_REAPURBNDELAY 0 " + std::to_string(type) + " " + std::to_string(endpoint) +
         " 0 0 " + std::to_string(buffer_length) + " " + std::to_string(actual) + " 0 " +
         Hex(data) + "\n";
}

TEST(RecordedSession, ConvertedTraceGivesTheChipItsIdentityAndTheSensorItsBytes) {
  zelto::testing::TempFolder folder;
  const Bytes identity = Encode(
      sim::kIdentificationReply,
      {0x01, 0x01, 'Z', 'S', '7', '4', '0', '0', '0', '0', '0', '9', 0x01, 0x02, 0x02, 0x00});
  const Bytes params = Encode(sim::kParamsReply, {7, 2, 1, 0, 1, 2});
  const Bytes request = Encode(sim::kIdentificationRequest, {});
  Bytes stream;
  for (int i = 0; i < 2; ++i) {
    stream.insert(stream.end(), identity.begin(), identity.end());
    stream.insert(stream.end(), params.begin(), params.end());
  }
  ASSERT_GT(stream.size(), 62u);
  {
    std::ofstream device(folder.path() / "adapter.umockdev");
    device << "P: /devices/pci0000:00/0000:00:14.0/usb1/1-2\nN: bus/usb/001/005\n"
              "E: SUBSYSTEM=usb\nA: idVendor=0403\\n\nA: idProduct=6015\\n\n"
              "H: descriptors=12010002000000080304156000100102030109022000010100a02d\n";
    std::ofstream ioctl(folder.path() / "adapter.ioctl");
    ioctl << "@DEV /dev/bus/usb/001/005 (usbdevfs)\n";
    Bytes product = {0x80, 0x06, 0x02, 0x03, 0x09, 0x04, 0xFF, 0x00, 20, 3};
    for (char c : std::string("ZeltoProg")) product.insert(product.end(), {std::uint8_t(c), 0});
    ioctl << Reap(2, 0, 263, product, 20);
    ioctl << Reap(2, 0, 10, {0xC0, 0x05, 0, 0, 0, 0, 2, 0, 0x11, 0x60}, 2);
    ioctl << Reap(2, 0, 8, {0x40, 0x09, 2, 0, 0, 0, 0, 0}, 0);
    ioctl << Reap(3, 2, static_cast<int>(request.size()), request,
                  static_cast<int>(request.size()));
    // The sensor's frames twice over: a transfer of two packets, the first one full, each
    // starting with the chip's two status bytes; then one with nothing to say.
    Bytes first = {0x01, 0x60};
    first.insert(first.end(), stream.begin(), stream.begin() + 62);
    first.insert(first.end(), {0x01, 0x60});
    first.insert(first.end(), stream.begin() + 62, stream.end());
    ioctl << Reap(3, 129, 512, first, static_cast<int>(first.size()));
    ioctl << Reap(3, 129, 512, {0x01, 0x60}, 2);
  }
  const std::string scenario = (folder.path() / "session.scenario").string();
  const std::string command = std::string("python3 ") + ZELTO_TRACE_CONVERTER + " " +
                              (folder.path() / "adapter.umockdev").string() + " " +
                              (folder.path() / "adapter.ioctl").string() + " > " + scenario;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  Scenario s;
  std::string error;
  ASSERT_TRUE(LoadScenario(scenario, s, error)) << error;
  EXPECT_EQ(s.spec.vendor, 0x0403);
  EXPECT_EQ(s.spec.product, 0x6015);
  EXPECT_EQ(s.spec.description, "ZeltoProg");
  ASSERT_EQ(s.host.size(), 1u);
  EXPECT_EQ(s.host[0], request);
  Bytes sent;
  for (const Bytes& chunk : s.device) sent.insert(sent.end(), chunk.begin(), chunk.end());
  EXPECT_EQ(sent, stream) << "status bytes removed, packets joined in order";
  EXPECT_EQ(s.spec.vendor_in.at(VendorKey(0x05, 0, 0)), (Bytes{0x11, 0x60}));

  // The chip of the recording, and the sensor's bytes through it to the libftdi backend.
  EmulatedBus emu;
  const int chip = emu.Plug(s.spec);
  LibftdiDriver driver(CreateLibftdiBus());
  std::unique_ptr<AdapterConnection> c;
  ASSERT_EQ(driver.Open(AdapterKey::kDescription, "ZeltoProg", 0, c), AdapterStatus{});
  emu.WithModel(chip, [&](sim::Adapter& a) { a.InsertNoise(sent.data(), sent.size()); });
  Bytes received;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (received.size() < sent.size() && std::chrono::steady_clock::now() < end) {
    std::uint32_t queued = 0;
    ASSERT_EQ(c->Queue(queued), AdapterStatus{});
    Bytes chunk(queued);
    std::uint32_t got = 0;
    ASSERT_EQ(c->Read(chunk.data(), queued, got), AdapterStatus{});
    received.insert(received.end(), chunk.begin(), chunk.begin() + got);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(received, sent);
}

}  // namespace
}  // namespace zelto::usbemu
