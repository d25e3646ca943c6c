// SPDX-License-Identifier: MIT
// The vendor-library backend, loaded for real through the dynamic loader: the stand-in
// libftd2xx.so built beside these tests takes the place of the vendor's library, and the USB
// link runs its cases through it.
#include "drivers/d2xx_dynamic.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "tests/drivers/link_expectations.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/protocol/message_channel.h"
#include "core/link/usb_link.h"
#include "drivers/driver_select.h"

namespace zelto {
namespace {

#if defined(_WIN32)
void* OpenShared(const char* library) {
  return reinterpret_cast<void*>(LoadLibraryA(library));
}
void* Symbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void CloseShared(void* library) {
  FreeLibrary(static_cast<HMODULE>(library));
}
// A missing file, and a library that loads but is not the D2XX library.
const char* const kUnusableLibraries[] = {"C:\\nonexistent\\ftd2xx.dll", "kernel32.dll"};
#else
void* OpenShared(const char* library) {
  return dlopen(library, RTLD_NOW | RTLD_LOCAL);
}
void* Symbol(void* library, const char* name) {
  return dlsym(library, name);
}
void CloseShared(void* library) {
  dlclose(library);
}
const char* const kUnusableLibraries[] = {"/nonexistent/libftd2xx.so", "libc.so.6"};
#endif

// The stand-in's scripting calls, looked up in the very copy of the library the driver uses
// (the loader hands out one copy per file).
class StandIn {
 public:
  explicit StandIn(const char* library) : handle_(OpenShared(library)) {
    if (handle_ == nullptr) return;
    Get(reset, "standin_reset");
    Get(add_device, "standin_add_device");
    Get(fail, "standin_fail");
    Get(fail_description, "standin_fail_description");
    Get(queue_rx, "standin_queue_rx");
    Get(limit_write, "standin_limit_write");
    Get(written_fn, "standin_written");
    Get(calls, "standin_calls");
    Get(open_devices, "standin_open_devices");
    Get(settings_fn, "standin_settings");
  }
  ~StandIn() {
    if (handle_ != nullptr) CloseShared(handle_);
  }
  bool Ready() const { return handle_ != nullptr && reset != nullptr && settings_fn != nullptr; }

  struct Settings {
    std::uint32_t purge, read_timeout, write_timeout, baud, bits, stop, parity;
  };
  Settings settings() const {
    Settings s{};
    settings_fn(&s.purge, &s.read_timeout, &s.write_timeout, &s.baud, &s.bits, &s.stop, &s.parity);
    return s;
  }
  std::vector<std::uint8_t> written() const {
    std::vector<std::uint8_t> out(6000);
    out.resize(written_fn(out.data(), static_cast<std::uint32_t>(out.size())));
    return out;
  }

  void (*reset)() = nullptr;
  void (*add_device)(const char*) = nullptr;
  void (*fail)(const char*, std::uint32_t) = nullptr;
  void (*fail_description)(std::uint32_t, std::uint32_t) = nullptr;
  void (*queue_rx)(const unsigned char*, std::uint32_t) = nullptr;
  void (*limit_write)(std::uint32_t) = nullptr;
  std::uint32_t (*calls)(const char*) = nullptr;
  std::uint32_t (*open_devices)() = nullptr;

 private:
  template <typename Fn>
  void Get(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(Symbol(handle_, name));
  }
  void* handle_;
  std::uint32_t (*written_fn)(unsigned char*, std::uint32_t) = nullptr;
  void (*settings_fn)(std::uint32_t*, std::uint32_t*, std::uint32_t*, std::uint32_t*,
                      std::uint32_t*, std::uint32_t*, std::uint32_t*) = nullptr;
};

class VendorLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(driver.Loaded()) << driver.LoadError();
    // Some other libftd2xx.so ahead of ours on the search path would show here.
    ASSERT_TRUE(standin.Ready()) << "the loader found a libftd2xx.so that is not the stand-in";
    standin.reset();
  }

  D2xxDynamic driver;  // by plain name, through the loader's search
  StandIn standin{DefaultD2xxLibraryName()};
  UsbLink link{driver};
};

struct OpenCase {
  const char* name;
  std::vector<const char*> devices;
  const char* failing_call;  // nullptr: none
  int unreadable_index;      // -1: none
  int expected;
};

TEST_F(VendorLibraryTest, OpenResultFollowsTheAttachedDevices) {
  const OpenCase cases[] = {
      {"one programmer", {"ZeltoProg"}, nullptr, -1, kLinkOk},
      // Only found when the index travels by value in the pointer argument.
      {"programmer second in the list", {"FT232R USB UART", "ZeltoProg"}, nullptr, -1, kLinkOk},
      {"no device", {}, nullptr, -1, kLinkNoProgrammer},
      {"other devices only", {"FT232R USB UART"}, nullptr, -1, kLinkNoProgrammer},
      {"two programmers", {"ZeltoProg", "ZeltoProg"}, nullptr, -1, kLinkManyProgrammers},
      {"second of two unreadable", {"ZeltoProg", "ZeltoProg"}, nullptr, 1, kLinkOk},
      {"listing fails", {"ZeltoProg"}, "FT_ListDevices", -1, kLinkDriverFailure},
      {"open fails", {"ZeltoProg"}, "FT_OpenEx", -1, kLinkDriverFailure},
      {"baud rate refused", {"ZeltoProg"}, "FT_SetBaudRate", -1, kLinkDriverFailure},
      {"data format refused", {"ZeltoProg"}, "FT_SetDataCharacteristics", -1, kLinkDriverFailure},
  };
  for (const OpenCase& c : cases) {
    SCOPED_TRACE(c.name);
    standin.reset();
    for (const char* d : c.devices) standin.add_device(d);
    if (c.failing_call != nullptr) standin.fail(c.failing_call, FT_IO_ERROR);
    if (c.unreadable_index >= 0) standin.fail_description(c.unreadable_index, FT_IO_ERROR);
    UsbLink l(driver);
    EXPECT_EQ(l.Open(), c.expected);
    EXPECT_EQ(l.IsOpen(), c.expected == kLinkOk);
    // A device whose line settings were refused is not left open behind the link's back.
    EXPECT_EQ(standin.open_devices(), c.expected == kLinkOk ? 1u : 0u);
  }
}

TEST_F(VendorLibraryTest, NamesTheFileItLoadedAndItsVersion) {
  // Found by plain name: the file is the stand-in's, wherever the loader found it.
  const std::string file = driver.LibraryFile();
  EXPECT_NE(file.find("standin-ftd2xx"), std::string::npos) << file;
  EXPECT_EQ(file.substr(file.size() - std::string(DefaultD2xxLibraryName()).size()),
            DefaultD2xxLibraryName());
  EXPECT_EQ(driver.LibraryVersion(), 0x00000917u);
  EXPECT_EQ(standin.calls("FT_GetLibraryVersion"), 1u);
}

TEST_F(VendorLibraryTest, OpenSetsLineTo9600Baud8N1AndResets) {
  standin.add_device("ZeltoProg");
  ASSERT_EQ(link.Open(), kLinkOk);
  const StandIn::Settings s = standin.settings();
  EXPECT_EQ(s.baud, 9600u);
  EXPECT_EQ(s.bits, 8u);
  EXPECT_EQ(s.stop, 0u);    // one stop bit
  EXPECT_EQ(s.parity, 0u);  // none
  EXPECT_EQ(standin.calls("FT_ResetDevice"), 1u);
  EXPECT_EQ(standin.calls("FT_SetLatencyTimer"), 1u);
  EXPECT_TRUE(link.ShortLatency());
}

TEST_F(VendorLibraryTest, WriteReadAndCloseGoThroughTheLibrary) {
  standin.add_device("ZeltoProg");
  ASSERT_EQ(link.Open(), kLinkOk);

  const std::vector<std::uint8_t> frame = {0x01, 0x02, 0x00, 0x00, 0x00, 0x01, 0x03};
  ASSERT_EQ(link.Write(frame.data(), static_cast<std::int16_t>(frame.size())), kLinkOk);
  EXPECT_EQ(standin.written(), frame);
  EXPECT_EQ(standin.settings().purge, FT_PURGE_RX | FT_PURGE_TX);

  const std::vector<std::uint8_t> reply = {0x01, 0x02, 0x01, 0x01, 0x01, 0x55, 0xAA, 0x01, 0x03};
  standin.queue_rx(reply.data(), static_cast<std::uint32_t>(reply.size()));
  std::array<std::uint8_t, kRingSize + 1> ring{};
  int w = 1995;  // the bytes wrap round the end of the ring
  ASSERT_EQ(link.Read(ring.data(), 10, w, kRingSize), kLinkOk);
  EXPECT_EQ(w, 4);
  for (std::size_t i = 0; i < reply.size(); ++i)
    EXPECT_EQ(ring[(1995 + i) % kRingSize], reply[i]) << "byte " << i;
  EXPECT_EQ(standin.settings().read_timeout, 5000u);
  EXPECT_EQ(standin.settings().write_timeout, 0u);

  standin.limit_write(3);
  EXPECT_EQ(link.Write(frame.data(), static_cast<std::int16_t>(frame.size())),
            kLinkDriverFailure);

  EXPECT_EQ(link.Close(), kLinkOk);
  EXPECT_EQ(standin.open_devices(), 0u);
}

TEST_F(VendorLibraryTest, LibraryWithoutLineSettingCallsStillOpens) {
  D2xxDynamic basic(ZELTO_STANDIN_BASIC_PATH);
  ASSERT_TRUE(basic.Loaded()) << basic.LoadError();
  StandIn basic_standin(ZELTO_STANDIN_BASIC_PATH);
  ASSERT_TRUE(basic_standin.Ready());
  basic_standin.reset();
  basic_standin.add_device("ZeltoProg");
  UsbLink l(basic);
  EXPECT_EQ(l.Open(), kLinkOk);
  EXPECT_EQ(basic_standin.settings().baud, 0u);
  // Nor the latency timer: the chip keeps its default, and the link works.
  EXPECT_FALSE(l.ShortLatency());
  // The two files are two libraries: the complete stand-in saw none of this.
  EXPECT_EQ(standin.calls("FT_OpenEx"), 0u);
}

TEST(VendorLibrary, UnusableLibraryReadsAsDriverFailure) {
  for (const char* library : kUnusableLibraries) {
    SCOPED_TRACE(library);
    D2xxDynamic driver{std::string(library)};
    EXPECT_FALSE(driver.Loaded());
    EXPECT_FALSE(driver.LoadError().empty());
    EXPECT_EQ(driver.LibraryFile(), "");
    EXPECT_FALSE(driver.LibraryVersion().has_value());
    testing::ExpectEveryLinkOperationFails(driver);
  }
}

TEST_F(VendorLibraryTest, SystemDriverPrefersTheVendorLibrary) {
  standin.add_device("ZeltoProg");
  std::string chosen;
  std::unique_ptr<AdapterPort> system = CreateSystemDriver(&chosen);
  EXPECT_EQ(chosen, kDriverNameVendor);
  UsbLink l(*system);
  EXPECT_EQ(l.Open(), kLinkOk);
  EXPECT_EQ(standin.calls("FT_OpenEx"), 1u);
}

}  // namespace
}  // namespace zelto
