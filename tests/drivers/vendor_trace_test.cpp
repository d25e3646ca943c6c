// SPDX-License-Identifier: MIT
// The calls the vendor backend makes into the vendor's library during one radar session,
// pinned: the stand-in logs every call with its arguments while a zeltoctl session on the
// virtual clock identifies the sensor, switches its reports on, watches someone walk past,
// reads and writes its parameters and closes. The log must match vendor_trace.txt line for
// line, so a change to how the program drives the library shows up as a diff.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "cli/event_loop.h"
#include "cli/session.h"
#include "drivers/d2xx_dynamic.h"
#include "sim/duroz740.h"
#include "sim/usb_bus.h"
#include "sim/virtual_clock.h"

namespace zelto {
namespace {

// The simulated programmer and sensor behind the stand-in's one device: its bytes cross
// between the stand-in and the simulated bus.
struct BenchBehind {
  explicit BenchBehind(sim::VirtualClock& c) : clock(c) {}
  sim::VirtualClock& clock;
  sim::UsbBus bus{clock};
  std::unique_ptr<AdapterConnection> link;
  void (*queue_rx)(const unsigned char*, std::uint32_t) = nullptr;

  static void OnWrite(void* self, const unsigned char* bytes, std::uint32_t count) {
    auto& b = *static_cast<BenchBehind*>(self);
    std::uint32_t written = 0;
    b.link->Write(bytes, count, written);
  }
  static void OnPoll(void* self) {
    auto& b = *static_cast<BenchBehind*>(self);
    std::uint32_t waiting = 0;
    if (!b.link->Queue(waiting).Ok() || waiting == 0) return;
    std::array<unsigned char, 4096> bytes{};
    std::uint32_t got = 0;
    b.link->Read(bytes.data(), std::min<std::uint32_t>(waiting, bytes.size()), got);
    b.queue_rx(bytes.data(), got);
  }
};

std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(VendorTrace, OneRadarSessionMakesTheRecordedCalls) {
  const std::filesystem::path log =
      std::filesystem::path(ZELTO_VENDOR_TRACE_OUT);
  std::filesystem::remove(log);

  void* standin = dlopen(ZELTO_STANDIN_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(standin, nullptr);
  auto reset = reinterpret_cast<void (*)()>(dlsym(standin, "standin_reset"));
  auto add_device = reinterpret_cast<void (*)(const char*)>(dlsym(standin, "standin_add_device"));
  auto wire = reinterpret_cast<void (*)(void (*)(void*, const unsigned char*, std::uint32_t),
                                        void (*)(void*), void*)>(dlsym(standin, "standin_wire"));
  sim::VirtualClock clock;
  BenchBehind behind(clock);
  behind.queue_rx = reinterpret_cast<void (*)(const unsigned char*, std::uint32_t)>(
      dlsym(standin, "standin_queue_rx"));
  ASSERT_TRUE(reset && add_device && wire && behind.queue_rx) << "not the stand-in";
  sim::Duroz740& sensor =
      behind.bus.Plug("ZeltoProg", "ZP100000").Attach<sim::Duroz740>("ZS74000001", 0x0102, 0x0200);
  ASSERT_TRUE(behind.bus.Open(AdapterKey::kDescription, "ZeltoProg", 0, behind.link).Ok());

  reset();
  add_device("FT232R USB UART");
  add_device("ZeltoProg");
  wire(&BenchBehind::OnWrite, &BenchBehind::OnPoll, &behind);
  setenv("ZELTO_STANDIN_CALLS", log.c_str(), 1);
  {
    D2xxDynamic driver(ZELTO_STANDIN_PATH);
    ASSERT_TRUE(driver.Loaded()) << driver.LoadError();
    cli::VirtualLoop loop(clock);
    cli::Session session(driver, loop, cli::SessionOptions{});
    ASSERT_EQ(session.Open(), cli::Outcome::kOk);
    ASSERT_EQ(session.Identify(), cli::Outcome::kOk);
    int reports = 0;
    session.OnSignal([&](const cli::SignalSample&) { ++reports; });
    ASSERT_EQ(session.SetReportMode(2), cli::Outcome::kOk);
    sensor.WalkPast(12000, 200);
    loop.RunUntil([] { return false; }, 500);
    EXPECT_GT(reports, 0);
    ParamsDecode reply;
    ASSERT_EQ(session.ReadParams(reply), cli::Outcome::kOk);
    RadarParams changed = reply.params;
    changed.wire[kSensitivity] = static_cast<std::uint8_t>(changed.wire[kSensitivity] % 9 + 1);
    ASSERT_EQ(session.WriteParams(changed), cli::Outcome::kOk);
    session.Close();
  }
  unsetenv("ZELTO_STANDIN_CALLS");
  reset();
  dlclose(standin);

  const std::string expected = FileText(ZELTO_VENDOR_TRACE_EXPECTED);
  const std::string actual = FileText(log);
  ASSERT_FALSE(actual.empty());
  EXPECT_TRUE(actual == expected) << "the vendor calls differ from " << ZELTO_VENDOR_TRACE_EXPECTED
                                  << "; this run's are in " << log.string();
}

}  // namespace
}  // namespace zelto
