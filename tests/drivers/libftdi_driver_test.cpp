// SPDX-License-Identifier: MIT
// The libftdi1 backend's own logic over scripted libftdi calls, on a virtual clock: the
// receive queue it keeps, purge and reset, read timeouts, enumeration that survives
// unreadable adapters, opening, handles and the mapping of libftdi/libusb errors.
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

class LibftdiDriverTest : public ::testing::Test {
 protected:
  LibftdiDriverTest() {
    auto owned = std::make_unique<FakeBus>(clock);
    bus = owned.get();
    driver = std::make_unique<LibftdiDriver>(std::move(owned), &clock);
  }

  FT_HANDLE Open() {
    FT_HANDLE h = nullptr;
    char wanted[] = "ZeltoProg";
    EXPECT_EQ(driver->OpenEx(wanted, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    return h;
  }
  std::vector<std::uint8_t> ReadAll(FT_HANDLE h, std::uint32_t n) {
    std::vector<std::uint8_t> out(n);
    std::uint32_t got = 0;
    EXPECT_EQ(driver->Read(h, out.data(), n, &got), FT_OK);
    out.resize(got);
    return out;
  }
  std::uint32_t Queued(FT_HANDLE h) {
    std::uint32_t n = 0;
    EXPECT_EQ(driver->GetQueueStatus(h, &n), FT_OK);
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

  std::uint32_t count = 0;
  ASSERT_EQ(driver->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
  ASSERT_EQ(count, 3u);
  const std::string expected[] = {"ZeltoProg", "FT232R USB UART", std::string(64, 'x')};
  for (std::uintptr_t i = 0; i < 3; ++i) {
    char text[100];
    ASSERT_EQ(driver->ListDevices(reinterpret_cast<void*>(i), text,
                                  FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION),
              FT_OK);
    EXPECT_EQ(std::string(text), expected[i]);
  }
  char text[100];
  EXPECT_EQ(driver->ListDevices(reinterpret_cast<void*>(std::uintptr_t{3}), text,
                                FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION),
            FT_DEVICE_NOT_FOUND);
}

TEST_F(LibftdiDriverTest, OpenTriesEveryMatchingAdapterAndSetsItUp) {
  bus->Attach("ZeltoProg").open_error = -5;  // claimed by another program
  bus->Attach("FT232R USB UART");
  FakeAdapter& second = bus->Attach("ZeltoProg");

  FT_HANDLE h = Open();
  ASSERT_NE(h, nullptr);
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
  for (int i = 0; i < 40; ++i) {
    std::uint32_t count = 0;
    ASSERT_EQ(driver->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    FT_HANDLE h = nullptr;
    char wanted[] = "ZeltoProg";
    EXPECT_NE(driver->OpenEx(wanted, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
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
  FT_HANDLE h = nullptr;
  char wanted[] = "ZeltoProg";
  EXPECT_NE(driver->OpenEx(wanted, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
  EXPECT_NE(driver->OpenEx(wanted, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
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
    FT_STATUS expected;
  };
  const Row rows[] = {
      {"no such adapter", "FT232R USB UART", 0, nullptr, FT_DEVICE_NOT_FOUND},
      {"no permission", "ZeltoProg", -4, nullptr, FT_DEVICE_NOT_OPENED},
      {"kernel driver not detached", "ZeltoProg", -11, nullptr, FT_DEVICE_NOT_OPENED},
      {"reset during open failed", "ZeltoProg", -6, nullptr, FT_IO_ERROR},
      {"latency timer refused", "ZeltoProg", 0, "latency", FT_IO_ERROR},
      {"line settings refused", "ZeltoProg", 0, "line8n1", FT_IO_ERROR},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::VirtualClock c;
    auto owned = std::make_unique<FakeBus>(c);
    FakeAdapter& a = owned->Attach(row.description);
    a.open_error = row.open_error;
    if (row.failing_call != nullptr) a.chip->fail[row.failing_call] = -1;
    LibftdiDriver d(std::move(owned), &c);
    FT_HANDLE h = reinterpret_cast<FT_HANDLE>(std::uintptr_t{0x1234});
    char wanted[] = "ZeltoProg";
    EXPECT_EQ(d.OpenEx(wanted, FT_OPEN_BY_DESCRIPTION, &h), row.expected);
    EXPECT_EQ(h, reinterpret_cast<FT_HANDLE>(std::uintptr_t{0x1234}));
    EXPECT_FALSE(a.chip->open);  // an adapter set up halfway is given back
  }
}

TEST_F(LibftdiDriverTest, QueueStatusCountsWhatTheChipHasReceivedInOrder) {
  FakeAdapter& a = bus->Attach("ZeltoProg");
  FT_HANDLE h = Open();
  EXPECT_EQ(Queued(h), 0u);
  a.chip->Receive(Bytes(0, 10));
  EXPECT_EQ(Queued(h), 10u);
  a.chip->Receive(Bytes(10, 5));
  EXPECT_EQ(ReadAll(h, 4), Bytes(0, 4));
  EXPECT_EQ(Queued(h), 11u);
  EXPECT_EQ(ReadAll(h, 11), Bytes(4, 11));
  EXPECT_EQ(Queued(h), 0u);
}

TEST_F(LibftdiDriverTest, QueueStatusDrainsForAFewMillisecondsAndLosesNothing) {
  FakeAdapter& a = bus->Attach("ZeltoProg");
  FT_HANDLE h = Open();
  a.chip->busy_read_ms = kFakeLatencyMs;
  constexpr int kBytes = 40000;
  a.chip->Receive(Bytes(0, kBytes));
  const std::int64_t before = clock.NowMs();
  const std::uint32_t first = Queued(h);
  EXPECT_LE(clock.NowMs() - before, LibftdiDriver::kDrainBudgetMs + kFakeLatencyMs)
      << "the window's thread is not held while the chip has more";
  EXPECT_GT(first, 0u);
  EXPECT_LT(first, static_cast<std::uint32_t>(kBytes));
  std::uint32_t queued = first;
  for (int poll = 0; poll < 100 && queued < kBytes; ++poll) queued = Queued(h);
  EXPECT_EQ(ReadAll(h, kBytes), Bytes(0, kBytes)) << "later polls take the rest, in order";
}

TEST_F(LibftdiDriverTest, PurgeMaskSelectsTheFlushes) {
  struct Row {
    std::uint32_t mask;
    bool flush_in, flush_out;
  };
  const Row rows[] = {{0, false, false},
                      {FT_PURGE_RX, true, false},
                      {FT_PURGE_TX, false, true},
                      {FT_PURGE_RX | FT_PURGE_TX, true, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mask);
    bus->adapters.clear();
    FakeAdapter& a = bus->Attach("ZeltoProg");
    FT_HANDLE h = Open();
    a.chip->Receive(Bytes(0, 5));
    ASSERT_EQ(Queued(h), 5u);      // now in the driver's queue
    a.chip->Receive(Bytes(5, 2));  // still on the chip
    a.chip->log.clear();
    ASSERT_EQ(driver->Purge(h, row.mask), FT_OK);
    EXPECT_EQ(a.chip->Called("flush_in"), row.flush_in);
    EXPECT_EQ(a.chip->Called("flush_out"), row.flush_out);
    EXPECT_EQ(Queued(h), row.flush_in ? 0u : 7u);
    driver->Close(h);
  }
}

TEST_F(LibftdiDriverTest, ResetEmptiesTheQueue) {
  FakeAdapter& a = bus->Attach("ZeltoProg");
  FT_HANDLE h = Open();
  a.chip->Receive(Bytes(0, 5));
  ASSERT_EQ(Queued(h), 5u);
  ASSERT_EQ(driver->ResetDevice(h), FT_OK);
  EXPECT_TRUE(a.chip->Called("reset"));
  EXPECT_EQ(Queued(h), 0u);
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
    FT_HANDLE h = Open();
    ASSERT_EQ(driver->SetTimeouts(h, row.timeout_ms, 0), FT_OK);
    a.chip->Receive(Bytes(0, 3));
    const std::int64_t start = clock.NowMs();
    if (row.late_at_ms >= 0) a.chip->arrivals.push_back({start + row.late_at_ms, Bytes(3, 7)});
    EXPECT_EQ(ReadAll(h, 10), Bytes(0, static_cast<int>(row.expected_bytes)));
    const std::int64_t took = clock.NowMs() - start;
    EXPECT_GE(took, row.min_ms);
    EXPECT_LE(took, row.max_ms);
    driver->Close(h);
  }
}

TEST_F(LibftdiDriverTest, ReadErrorsMapToStatuses) {
  const std::pair<int, FT_STATUS> rows[] = {
      {LIBUSB_ERROR_NO_DEVICE, FT_DEVICE_NOT_FOUND},  // unplugged
      {LIBUSB_ERROR_IO, FT_IO_ERROR},
      {LIBUSB_ERROR_PIPE, FT_IO_ERROR},
      {LIBUSB_ERROR_OVERFLOW, FT_IO_ERROR},
      {LIBUSB_ERROR_ACCESS, FT_DEVICE_NOT_OPENED},
      {LIBUSB_ERROR_NO_MEM, FT_INSUFFICIENT_RESOURCES},
      {LIBUSB_ERROR_OTHER, FT_OTHER_ERROR},
      {-666, FT_DEVICE_NOT_OPENED},   // libftdi: no device open on the context
      {LIBUSB_ERROR_TIMEOUT, FT_OK},  // nothing came: an empty poll, not a failure
  };
  FakeAdapter& a = bus->Attach("ZeltoProg");
  FT_HANDLE h = Open();
  for (const auto& [code, expected] : rows) {
    SCOPED_TRACE(code);
    a.chip->fail["read"] = code;
    std::uint32_t n = 99;
    EXPECT_EQ(driver->GetQueueStatus(h, &n), expected);
    if (expected == FT_OK) {
      EXPECT_EQ(n, 0u);
    }
    std::uint8_t buffer[4];
    std::uint32_t got = 0;
    EXPECT_EQ(driver->Read(h, buffer, sizeof(buffer), &got), expected);
  }
}

TEST_F(LibftdiDriverTest, OtherFailuresMapToStatuses) {
  FakeAdapter& a = bus->Attach("ZeltoProg");
  FT_HANDLE h = Open();
  std::uint8_t byte = 0x55;
  std::uint32_t written = 0;
  a.chip->fail["write"] = -666;
  EXPECT_EQ(driver->Write(h, &byte, 1, &written), FT_DEVICE_NOT_OPENED);
  a.chip->fail["write"] = -1;
  EXPECT_EQ(driver->Write(h, &byte, 1, &written), FT_IO_ERROR);
  a.chip->fail["flush_out"] = -1;
  EXPECT_EQ(driver->Purge(h, FT_PURGE_TX), FT_IO_ERROR);
  a.chip->fail["reset"] = -2;
  EXPECT_EQ(driver->ResetDevice(h), FT_IO_ERROR);
  for (int scan_error : {-5, -6}) {
    bus->scan_error = scan_error;
    std::uint32_t count = 0;
    EXPECT_EQ(driver->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_IO_ERROR);
  }
  bus->scan_error = -3;
  std::uint32_t count = 0;
  EXPECT_EQ(driver->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_INSUFFICIENT_RESOURCES);
}

TEST_F(LibftdiDriverTest, WriteUsesTheWriteTimeoutAndReportsShortWrites) {
  FakeAdapter& a = bus->Attach("ZeltoProg");
  FT_HANDLE h = Open();
  std::vector<std::uint8_t> data = Bytes(1, 7);
  std::uint32_t written = 0;
  ASSERT_EQ(driver->SetTimeouts(h, 5000, 250), FT_OK);
  ASSERT_EQ(driver->Write(h, data.data(), 7, &written), FT_OK);
  EXPECT_EQ(written, 7u);
  EXPECT_EQ(a.chip->last_write_timeout, 250);
  ASSERT_EQ(driver->SetTimeouts(h, 5000, 0), FT_OK);
  a.chip->write_limit = 4;
  ASSERT_EQ(driver->Write(h, data.data(), 7, &written), FT_OK);
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(a.chip->last_write_timeout, 0);  // libftdi's own limit
}

TEST_F(LibftdiDriverTest, HandlesAreNeverReused) {
  // Held here: the bus, and the adapters on it, go with the driver at the end.
  std::shared_ptr<FakeChip> chip = bus->Attach("ZeltoProg").chip;
  std::uint32_t n = 0;
  EXPECT_EQ(driver->Close(nullptr), FT_INVALID_HANDLE);  // the link's handle at start-up
  FT_HANDLE first = Open();
  ASSERT_EQ(driver->Close(first), FT_OK);
  EXPECT_FALSE(chip->open);
  FT_HANDLE second = Open();
  EXPECT_NE(second, first);
  // The link may close its old handle again: it must not reach the new device.
  EXPECT_EQ(driver->Close(first), FT_INVALID_HANDLE);
  EXPECT_EQ(driver->GetQueueStatus(first, &n), FT_INVALID_HANDLE);
  EXPECT_TRUE(chip->open);
  driver.reset();  // going away gives the adapter back
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
