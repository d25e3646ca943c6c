// SPDX-License-Identifier: MIT
// The libftdi1 backend's own logic over scripted libftdi calls, on a virtual clock: the
// receive queue it keeps, purge and reset, read timeouts, listing that survives unreadable
// adapters, opening, connections and the mapping of libftdi/libusb errors.
#include "drivers/libftdi_driver.h"

#include <gtest/gtest.h>
#include <libusb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "core/ports/steady_clock.h"
#include "core/protocol/message_channel.h"
#include "sim/virtual_clock.h"
#include "tests/support/diag_capture.h"
#include "tests/drivers/fake_ftdi.h"
#include "core/link/usb_link.h"

namespace zelto {
namespace {

using testing::FakeAdapter;
using testing::FakeBus;
using testing::FakeChip;
using testing::kFakeLatencyMs;

std::vector<std::uint8_t> Bytes(int from, int count) {
  std::vector<std::uint8_t> v(static_cast<std::size_t>(count));
  std::iota(v.begin(), v.end(), static_cast<std::uint8_t>(from));
  return v;
}

using Connection = std::unique_ptr<AdapterConnection>;

class LibftdiDriverTest : public ::testing::Test {
 protected:
  LibftdiDriverTest() {
    auto owned = std::make_unique<FakeBus>(clock);
    bus = owned.get();
    driver = std::make_unique<LibftdiDriver>(std::move(owned), &clock);
  }

  Connection Open() {
    Connection c;
    EXPECT_EQ(driver->Open(AdapterKey::kDescription, "ZeltoProg", 0, c), AdapterStatus{});
    return c;
  }
  static std::vector<std::uint8_t> ReadAll(AdapterConnection& c, std::uint32_t n) {
    std::vector<std::uint8_t> out(n);
    std::uint32_t got = 0;
    EXPECT_EQ(c.Read(out.data(), n, got), AdapterStatus{});
    out.resize(got);
    return out;
  }
  static std::uint32_t Queued(AdapterConnection& c) {
    std::uint32_t n = 0;
    EXPECT_EQ(c.Queue(n), AdapterStatus{});
    return n;
  }

  sim::VirtualClock clock;
  FakeBus* bus = nullptr;
  std::unique_ptr<LibftdiDriver> driver;
};

TEST_F(LibftdiDriverTest, ListsTheAdaptersWhoseDescriptionCanBeRead) {
  bus->Attach("ZeltoProg");
  bus->Attach("someone else's").description_error = -4;  // libusb_open refused
  bus->Attach("FT232R USB UART");
  bus->Attach(std::string(70, 'x'));

  std::vector<AdapterInfo> listed;
  ASSERT_EQ(driver->List(listed), AdapterStatus{});
  ASSERT_EQ(listed.size(), 3u);
  const std::string expected[] = {"ZeltoProg", "FT232R USB UART", std::string(64, 'x')};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(listed[i].has_description);
    EXPECT_EQ(listed[i].description, expected[i]);
    EXPECT_FALSE(listed[i].has_serial);  // the bus has neither to tell
    EXPECT_FALSE(listed[i].has_location);
  }
}

TEST_F(LibftdiDriverTest, OpenTriesEveryMatchingAdapterAndSetsItUp) {
  bus->Attach("ZeltoProg").open_error = -5;  // claimed by another program
  bus->Attach("FT232R USB UART");
  FakeAdapter& second = bus->Attach("ZeltoProg");

  Connection c = Open();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(bus->opened, (std::vector<int>{0, 2}));
  EXPECT_EQ(second.chip->log, (std::vector<std::string>{"latency", "baud", "line8n1"}));
  // Short, so an empty poll costs a millisecond or two rather than the chip's default 16.
  EXPECT_GE(second.chip->latency, 1);
  EXPECT_LE(second.chip->latency, 2);
  EXPECT_EQ(second.chip->baud, 9600);
}

TEST_F(LibftdiDriverTest, SaysOnceWhyEachAdapterIsPassedOver) {
  test::DiagCapture diag;
  bus->Attach("ZeltoProg").denied_node = "/dev/bus/usb/001/002";  // no udev rule yet
  bus->Attach("ZeltoProg").open_error = -5;                       // held by another program
  FakeAdapter& third = bus->Attach("ZeltoProg");
  third.description_error = -4;
  bus->adapters[0].description_error = -4;

  // The supervision opens and scans twenty times a second for as long as nothing opens.
  std::vector<AdapterInfo> listed;
  Connection c;
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(driver->List(listed), AdapterStatus{});
    EXPECT_NE(driver->Open(AdapterKey::kDescription, "ZeltoProg", 0, c), AdapterStatus{});
  }
  const std::vector<std::string> warnings = diag.Warnings();
  ASSERT_EQ(warnings.size(), 3u) << ::testing::PrintToString(warnings);
  // The first start's usual fault names the cure.
  EXPECT_NE(warnings[0].find("bus 1 device 2"), std::string::npos);
  EXPECT_NE(warnings[0].find("permission denied on /dev/bus/usb/001/002"), std::string::npos);
  EXPECT_NE(warnings[0].find("60-zeltoprog.rules"), std::string::npos);
  EXPECT_NE(warnings[1].find("bus 1 device 4 skipped: its product string cannot be read"),
            std::string::npos);
  EXPECT_NE(warnings[2].find("bus 1 device 3 skipped: it cannot be opened (libftdi error -5)"),
            std::string::npos);
  for (const std::string& w : warnings) EXPECT_EQ(w.rfind("zelto.usb: ", 0), 0u) << w;

  // A new reason for an adapter already reported is news, and is said once more.
  third.description_error = 0;
  third.open_error = -5;
  EXPECT_NE(driver->Open(AdapterKey::kDescription, "ZeltoProg", 0, c), AdapterStatus{});
  EXPECT_NE(driver->Open(AdapterKey::kDescription, "ZeltoProg", 0, c), AdapterStatus{});
  ASSERT_EQ(diag.Warnings().size(), 4u);
  EXPECT_NE(diag.Warnings()[3].find("bus 1 device 4 skipped: it cannot be opened"),
            std::string::npos);
  EXPECT_TRUE(diag.Infos().empty());
}

TEST_F(LibftdiDriverTest, OpenFailuresBecomeStatuses) {
  struct Row {
    const char* name;
    const char* description;
    int open_error;
    const char* failing_call;
    AdapterStatus expected;
  };
  const Row rows[] = {
      {"no such adapter", "FT232R USB UART", 0, nullptr, adapter_status::kNotFound},
      {"no permission", "ZeltoProg", -4, nullptr, adapter_status::kInUse},
      {"kernel driver not detached", "ZeltoProg", -11, nullptr, adapter_status::kInUse},
      {"reset during open failed", "ZeltoProg", -6, nullptr, adapter_status::kIoError},
      {"latency timer refused", "ZeltoProg", 0, "latency", adapter_status::kIoError},
      {"line settings refused", "ZeltoProg", 0, "line8n1", adapter_status::kIoError},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::VirtualClock c;
    auto owned = std::make_unique<FakeBus>(c);
    FakeAdapter& a = owned->Attach(row.description);
    a.open_error = row.open_error;
    if (row.failing_call != nullptr) a.chip->fail[row.failing_call] = -1;
    LibftdiDriver d(std::move(owned), &c);
    Connection connection;
    EXPECT_EQ(d.Open(AdapterKey::kDescription, "ZeltoProg", 0, connection), row.expected);
    EXPECT_EQ(connection, nullptr);
    EXPECT_FALSE(a.chip->open);  // an adapter set up halfway is given back
  }
}

TEST_F(LibftdiDriverTest, QueueCountsWhatTheChipHasReceivedInOrder) {
  FakeAdapter& a = bus->Attach("ZeltoProg");
  Connection c = Open();
  EXPECT_EQ(Queued(*c), 0u);
  a.chip->Receive(Bytes(0, 10));
  EXPECT_EQ(Queued(*c), 10u);
  a.chip->Receive(Bytes(10, 5));
  EXPECT_EQ(ReadAll(*c, 4), Bytes(0, 4));
  EXPECT_EQ(Queued(*c), 11u);
  EXPECT_EQ(ReadAll(*c, 11), Bytes(4, 11));
  EXPECT_EQ(Queued(*c), 0u);
}

TEST_F(LibftdiDriverTest, QueueDrainsForAFewMillisecondsAndLosesNothing) {
  FakeAdapter& a = bus->Attach("ZeltoProg");
  Connection c = Open();
  a.chip->busy_read_ms = kFakeLatencyMs;
  constexpr int kBytes = 40000;
  a.chip->Receive(Bytes(0, kBytes));
  const std::int64_t before = clock.NowMs();
  const std::uint32_t first = Queued(*c);
  EXPECT_LE(clock.NowMs() - before, LibftdiDriver::kDrainBudgetMs + kFakeLatencyMs)
      << "the window's thread is not held while the chip has more";
  EXPECT_GT(first, 0u);
  EXPECT_LT(first, static_cast<std::uint32_t>(kBytes));
  std::uint32_t queued = first;
  for (int poll = 0; poll < 100 && queued < kBytes; ++poll) queued = Queued(*c);
  EXPECT_EQ(ReadAll(*c, kBytes), Bytes(0, kBytes)) << "later polls take the rest, in order";
}

TEST_F(LibftdiDriverTest, PurgeFlushesBothWaysAndEmptiesTheQueue) {
  struct Row {
    const char* failing_call;
    AdapterStatus expected;
    bool flush_out;  // asked of the chip
    std::uint32_t queued_after;
  };
  // What the driver had taken goes whatever the chip says; what the chip holds, with it.
  const Row rows[] = {{nullptr, {}, true, 0},
                      {"flush_in", adapter_status::kIoError, false, 2},
                      {"flush_out", adapter_status::kIoError, true, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.failing_call != nullptr ? row.failing_call : "none");
    bus->adapters.clear();
    FakeAdapter& a = bus->Attach("ZeltoProg");
    Connection c = Open();
    a.chip->Receive(Bytes(0, 5));
    ASSERT_EQ(Queued(*c), 5u);      // now in the driver's queue
    a.chip->Receive(Bytes(5, 2));  // still on the chip
    a.chip->log.clear();
    if (row.failing_call != nullptr) a.chip->fail[row.failing_call] = -1;
    EXPECT_EQ(c->Purge(), row.expected);
    EXPECT_TRUE(a.chip->Called("flush_in"));
    EXPECT_EQ(a.chip->Called("flush_out"), row.flush_out);
    EXPECT_EQ(Queued(*c), row.queued_after);
  }
}

TEST_F(LibftdiDriverTest, ResetEmptiesTheQueue) {
  FakeAdapter& a = bus->Attach("ZeltoProg");
  Connection c = Open();
  a.chip->Receive(Bytes(0, 5));
  ASSERT_EQ(Queued(*c), 5u);
  ASSERT_EQ(c->Reset(), AdapterStatus{});
  EXPECT_TRUE(a.chip->Called("reset"));
  EXPECT_EQ(Queued(*c), 0u);
}

TEST_F(LibftdiDriverTest, ReadWaitsUpToTheTimeoutAndReturnsTheShortCount) {
  struct Row {
    const char* name;
    std::uint32_t timeout_ms;
    std::int64_t late_at_ms;  // when 7 more bytes arrive; -1 never
    std::uint32_t expected_bytes;
    std::int64_t min_ms, max_ms;  // time the read took
  };
  const Row rows[] = {
      {"times out with what came", 5000, -1, 3, 5000, 5000 + kFakeLatencyMs},
      {"the rest arrives in time", 5000, 100, 10, 100, 100 + kFakeLatencyMs},
      {"the rest arrives too late", 50, 100, 3, 50, 50 + kFakeLatencyMs},
      {"no timeout: one look", 0, -1, 3, 0, kFakeLatencyMs},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    bus->adapters.clear();
    FakeAdapter& a = bus->Attach("ZeltoProg");
    Connection c = Open();
    ASSERT_EQ(c->SetTimeouts(row.timeout_ms, 0), AdapterStatus{});
    a.chip->Receive(Bytes(0, 3));
    const std::int64_t start = clock.NowMs();
    if (row.late_at_ms >= 0) a.chip->arrivals.push_back({start + row.late_at_ms, Bytes(3, 7)});
    EXPECT_EQ(ReadAll(*c, 10), Bytes(0, static_cast<int>(row.expected_bytes)));
    const std::int64_t took = clock.NowMs() - start;
    EXPECT_GE(took, row.min_ms);
    EXPECT_LE(took, row.max_ms);
  }
}

TEST_F(LibftdiDriverTest, ReadErrorsMapToStatuses) {
  const std::pair<int, AdapterStatus> rows[] = {
      {LIBUSB_ERROR_NO_DEVICE, adapter_status::kNotFound},  // unplugged
      {LIBUSB_ERROR_IO, adapter_status::kIoError},
      {LIBUSB_ERROR_PIPE, adapter_status::kIoError},
      {LIBUSB_ERROR_OVERFLOW, adapter_status::kIoError},
      {LIBUSB_ERROR_ACCESS, adapter_status::kInUse},
      {LIBUSB_ERROR_NO_MEM, adapter_status::kNoResources},
      {LIBUSB_ERROR_OTHER, adapter_status::kOther},
      {-666, adapter_status::kInUse},  // libftdi: no device open on the context
      {LIBUSB_ERROR_TIMEOUT, {}},      // nothing came: an empty poll, not a failure
  };
  FakeAdapter& a = bus->Attach("ZeltoProg");
  Connection c = Open();
  for (const auto& [code, expected] : rows) {
    SCOPED_TRACE(code);
    a.chip->fail["read"] = code;
    std::uint32_t n = 99;
    EXPECT_EQ(c->Queue(n), expected);
    if (expected.Ok()) {
      EXPECT_EQ(n, 0u);
    }
    std::uint8_t buffer[4];
    std::uint32_t got = 0;
    EXPECT_EQ(c->Read(buffer, sizeof(buffer), got), expected);
  }
}

TEST_F(LibftdiDriverTest, OtherFailuresMapToStatuses) {
  FakeAdapter& a = bus->Attach("ZeltoProg");
  Connection c = Open();
  std::uint8_t byte = 0x55;
  std::uint32_t written = 0;
  a.chip->fail["write"] = -666;
  EXPECT_EQ(c->Write(&byte, 1, written), adapter_status::kInUse);
  a.chip->fail["write"] = -1;
  EXPECT_EQ(c->Write(&byte, 1, written), adapter_status::kIoError);
  a.chip->fail["reset"] = -2;
  EXPECT_EQ(c->Reset(), adapter_status::kIoError);
  a.chip->fail["latency"] = -1;
  EXPECT_EQ(c->SetLatencyTimer(16), adapter_status::kIoError);
  std::vector<AdapterInfo> listed;
  for (int scan_error : {-5, -6}) {
    bus->scan_error = scan_error;
    EXPECT_EQ(driver->List(listed), adapter_status::kIoError);
  }
  bus->scan_error = -3;
  EXPECT_EQ(driver->List(listed), adapter_status::kNoResources);
  EXPECT_TRUE(listed.empty());
}

TEST_F(LibftdiDriverTest, WriteUsesTheWriteTimeoutAndReportsShortWrites) {
  FakeAdapter& a = bus->Attach("ZeltoProg");
  Connection c = Open();
  std::vector<std::uint8_t> data = Bytes(1, 7);
  std::uint32_t written = 0;
  ASSERT_EQ(c->SetTimeouts(5000, 250), AdapterStatus{});
  ASSERT_EQ(c->Write(data.data(), 7, written), AdapterStatus{});
  EXPECT_EQ(written, 7u);
  EXPECT_EQ(a.chip->last_write_timeout, 250);
  ASSERT_EQ(c->SetTimeouts(5000, 0), AdapterStatus{});
  a.chip->write_limit = 4;
  ASSERT_EQ(c->Write(data.data(), 7, written), AdapterStatus{});
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(a.chip->last_write_timeout, 0);  // libftdi's own limit
}

TEST_F(LibftdiDriverTest, AClosedConnectionReachesNoLaterOne) {
  std::shared_ptr<FakeChip> chip = bus->Attach("ZeltoProg").chip;
  Connection first = Open();
  ASSERT_EQ(first->Close(), AdapterStatus{});
  EXPECT_FALSE(chip->open);
  Connection second = Open();
  // The link may close its old connection again: it must not reach the new one.
  std::uint32_t n = 0;
  EXPECT_EQ(first->Close(), adapter_status::kClosed);
  EXPECT_EQ(first->Queue(n), adapter_status::kClosed);
  first.reset();
  EXPECT_TRUE(chip->open);
  // The connection owns its adapter, and the bus stays while it does.
  driver.reset();
  EXPECT_TRUE(chip->open);
  EXPECT_EQ(second->Queue(n), AdapterStatus{});
  second.reset();  // never closed: going away gives the adapter back
  EXPECT_FALSE(chip->open);
}

TEST_F(LibftdiDriverTest, LinkRunsOverTheDriver) {
  FakeAdapter& a = bus->Attach("ZeltoProg");
  bus->Attach("ZeltoProg").description_error = -4;  // another user's programmer
  UsbLink link(*driver);
  ASSERT_EQ(link.Open(), kLinkOk);
  EXPECT_TRUE(a.chip->Called("reset"));

  a.chip->Receive({0xEE, 0xEE});  // stale bytes, discarded by the write's purge
  const std::vector<std::uint8_t> frame = {0x01, 0x02, 0x00, 0x00, 0x00, 0x01, 0x03};
  ASSERT_EQ(link.Write(frame.data(), static_cast<std::int16_t>(frame.size())), kLinkOk);
  EXPECT_EQ(a.chip->written, frame);

  a.chip->Receive(Bytes(0x40, 9));
  std::array<std::uint8_t, kRingSize + 1> ring{};
  int w = 0;
  ASSERT_EQ(link.Read(ring.data(), 0, w, kRingSize), kLinkOk);
  ASSERT_EQ(w, 9);
  EXPECT_EQ(std::vector<std::uint8_t>(ring.begin(), ring.begin() + 9), Bytes(0x40, 9));

  a.chip->fail["read"] = LIBUSB_ERROR_NO_DEVICE;  // unplugged
  EXPECT_EQ(link.Read(ring.data(), 0, w, kRingSize), kLinkDriverFailure);
}

TEST(ByteFifo, KeepsOrderAcrossTheEndOfItsBuffer) {
  ByteFifo fifo(8);
  const std::vector<std::uint8_t> in = Bytes(1, 12);
  std::vector<std::uint8_t> out(12);
  EXPECT_EQ(fifo.Push(in.data(), 6), 6u);
  EXPECT_EQ(fifo.Pop(out.data(), 4), 4u);
  EXPECT_EQ(fifo.Push(in.data() + 6, 6), 6u);  // wraps
  EXPECT_EQ(fifo.Push(in.data(), 1), 0u);      // full
  EXPECT_EQ(fifo.Pop(out.data() + 4, 12), 8u);
  EXPECT_EQ(out, in);
}

// Needs a ZeltoProg on the bus that this user may open; run with ZELTO_REAL_ADAPTER=1.
TEST(RealAdapter, OpensAndPollsThroughLibftdi) {
  const char* flag = std::getenv("ZELTO_REAL_ADAPTER");
  if (flag == nullptr || std::string(flag) != "1") GTEST_SKIP() << "set ZELTO_REAL_ADAPTER=1";
  std::unique_ptr<FtdiBus> bus = CreateLibftdiBus();
  ASSERT_NE(bus, nullptr) << "libusb could not start";
  LibftdiDriver driver(std::move(bus));
  UsbLink link(driver);
  ASSERT_EQ(link.Open(), kLinkOk);
  SteadyClock clock;
  std::array<std::uint8_t, kRingSize + 1> ring{};
  int w = 0;
  constexpr int kPolls = 20;
  const std::int64_t start = clock.NowMs();
  for (int i = 0; i < kPolls; ++i) ASSERT_EQ(link.Read(ring.data(), w, w, kRingSize), kLinkOk);
  const std::int64_t per_poll = (clock.NowMs() - start) / kPolls;
  RecordProperty("poll_ms", static_cast<int>(per_poll));
  EXPECT_LE(per_poll, 5) << "an empty poll should cost about one latency period";
  EXPECT_EQ(link.Close(), kLinkOk);
}

}  // namespace
}  // namespace zelto
