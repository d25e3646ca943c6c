// SPDX-License-Identifier: MIT
// The real bus under the libftdi1 backend: FtdiBus and FtdiLink over libftdi1 and libusb.
// The backend's adapter port over these two seams is libftdi_driver.cpp.
#include <ftdi.h>
#include <libusb.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/ports/diagnostics.h"
#include "core/ports/steady_clock.h"
#include "drivers/libftdi_driver.h"

namespace zelto {

// The codes the seam hands on are libusb's own.
static_assert(int{kLibusbIo} == int{LIBUSB_ERROR_IO});
static_assert(int{kLibusbInvalidParam} == int{LIBUSB_ERROR_INVALID_PARAM});
static_assert(int{kLibusbAccess} == int{LIBUSB_ERROR_ACCESS});
static_assert(int{kLibusbNoDevice} == int{LIBUSB_ERROR_NO_DEVICE});
static_assert(int{kLibusbNotFound} == int{LIBUSB_ERROR_NOT_FOUND});
static_assert(int{kLibusbBusy} == int{LIBUSB_ERROR_BUSY});
static_assert(int{kLibusbTimeout} == int{LIBUSB_ERROR_TIMEOUT});
static_assert(int{kLibusbOverflow} == int{LIBUSB_ERROR_OVERFLOW});
static_assert(int{kLibusbPipe} == int{LIBUSB_ERROR_PIPE});
static_assert(int{kLibusbInterrupted} == int{LIBUSB_ERROR_INTERRUPTED});
static_assert(int{kLibusbNoMem} == int{LIBUSB_ERROR_NO_MEM});
static_assert(int{kLibusbNotSupported} == int{LIBUSB_ERROR_NOT_SUPPORTED});

namespace {

// Where an adapter sits: bus, port path and address. A device plugged again, even into the
// same port, gets a new address, so it never inherits what was known of its predecessor.
struct UsbLocation {
  std::uint8_t bus = 0;
  std::uint8_t address = 0;
  std::array<std::uint8_t, 8> ports{};
  int depth = 0;
  bool operator<(const UsbLocation& o) const {
    return std::tie(bus, address, depth, ports) < std::tie(o.bus, o.address, o.depth, o.ports);
  }
  bool operator==(const UsbLocation& o) const {
    return bus == o.bus && address == o.address && depth == o.depth && ports == o.ports;
  }
};

UsbLocation LocationOf(libusb_device* device) {
  UsbLocation at;
  at.bus = libusb_get_bus_number(device);
  at.address = libusb_get_device_address(device);
  const int depth =
      libusb_get_port_numbers(device, at.ports.data(), static_cast<int>(at.ports.size()));
  at.depth = depth < 0 ? 0 : depth;
  return at;
}

// FTDI's vendor ID: every product ID under it is looked at, not only libftdi's standard
// list, so an adapter programmed with its own product ID is found too.
constexpr std::uint16_t kFtdiVendor = 0x0403;
// A description that could not be read is asked for again after this long, not on every
// scan: the strings come over the bus, and a scan runs up to 20 times a second.
constexpr std::int64_t kDescriptionRetryMs = 5000;

class RealLink : public FtdiLink {
 public:
  explicit RealLink(ftdi_context* context) : context_(context) {}
  ~RealLink() override {
    Close();
    ftdi_free(context_);
  }
  RealLink(const RealLink&) = delete;
  RealLink& operator=(const RealLink&) = delete;

  int Close() override {
    if (!open_) return 0;
    open_ = false;
    return ftdi_usb_close(context_);
  }
  int Reset() override {
    left_ = 0;
    return ftdi_usb_reset(context_);
  }
  // Not the older purge calls: their request values are the wrong way round for the chip.
  int FlushInput() override {
    left_ = 0;
    return ftdi_tciflush(context_);
  }
  int FlushOutput() override { return ftdi_tcoflush(context_); }
  int SetLatencyTimer(int ms) override {
    return ftdi_set_latency_timer(context_, static_cast<unsigned char>(ms));
  }
  int SetBaudRate(int baud) override { return ftdi_set_baudrate(context_, baud); }
  int SetLine8N1() override { return ftdi_set_line_property(context_, BITS_8, STOP_BIT_1, NONE); }
  // One bulk transfer per call. ftdi_read_data goes on transferring for as long as each
  // transfer brings a byte, so while the chip keeps receiving it returns only when the
  // buffer is full, which at our line speed can take seconds; one transfer ends within one
  // latency period. The chip starts each packet with two modem-status bytes, left out here.
  int Read(std::uint8_t* buffer, int size) override {
    if (size <= 0) return 0;
    if (left_ == 0) {
      int got = 0;
      const int result = libusb_bulk_transfer(
          context_->usb_dev, static_cast<unsigned char>(context_->out_ep), raw_.data(),
          static_cast<int>(raw_.size()), &got, context_->usb_read_timeout);
      if (result < 0 && !(result == LIBUSB_ERROR_TIMEOUT && got > 0)) return result;
      const int packet =
          context_->max_packet_size > 2 ? static_cast<int>(context_->max_packet_size) : 64;
      left_ = 0;
      first_ = 0;
      for (int at = 0; at < got; at += packet) {
        const int end = std::min(got, at + packet);
        for (int i = at + 2; i < end; ++i)
          raw_[static_cast<std::size_t>(left_++)] = raw_[static_cast<std::size_t>(i)];
      }
    }
    const int n = std::min(size, left_);
    std::memcpy(buffer, raw_.data() + first_, static_cast<std::size_t>(n));
    first_ += n;
    left_ -= n;
    return n;
  }
  int Write(const std::uint8_t* buffer, int size, int timeout_ms) override {
    // libftdi uses one write timeout for bulk writes and for control requests alike; the
    // caller's limit applies to this write only.
    const int saved = context_->usb_write_timeout;
    if (timeout_ms > 0) context_->usb_write_timeout = timeout_ms;
    const int written = ftdi_write_data(context_, buffer, size);
    context_->usb_write_timeout = saved;
    return written;
  }

 private:
  ftdi_context* context_;
  bool open_ = true;
  // Eight packets per transfer; what the caller did not take waits for the next call.
  std::array<std::uint8_t, 512> raw_{};
  int first_ = 0;
  int left_ = 0;
};

class RealBus : public FtdiBus {
 public:
  explicit RealBus(ftdi_context* scan) : scan_(scan) {}
  ~RealBus() override {
    GiveBackSerialDrivers();
    ReleaseFound();
    ftdi_free(scan_);
  }
  RealBus(const RealBus&) = delete;
  RealBus& operator=(const RealBus&) = delete;

  // Asking libusb for its device list reads nothing over the bus, so it is done on every
  // scan; only devices not seen before cost USB traffic (their strings, once).
  int Scan() override {
    ReleaseFound();
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(scan_->usb_ctx, &list);
    if (count < 0) return count == LIBUSB_ERROR_NO_MEM ? kFtdiFindAllNoMemory : -5;
    for (ssize_t i = 0; i < count; ++i) {
      libusb_device_descriptor descriptor{};
      if (libusb_get_device_descriptor(list[i], &descriptor) < 0) continue;
      if (descriptor.idVendor != kFtdiVendor) continue;
      found_.push_back(libusb_ref_device(list[i]));
    }
    libusb_free_device_list(list, 1);
    // Forget the devices that went away.
    std::set<UsbLocation> present;
    for (libusb_device* device : found_) present.insert(LocationOf(device));
    std::erase_if(descriptions_,
                  [&](const auto& entry) { return present.count(entry.first.first) == 0; });
    return static_cast<int>(found_.size());
  }

  int ReadSerial(int index, std::string& serial) override {
    const int result = ReadString(index, kSerial, serial);
    return result < 0 || serial.empty() ? -1 : 0;
  }

  int ReadLocation(int index, std::uint32_t& location) override {
    if (index < 0 || static_cast<std::size_t>(index) >= found_.size()) return -1;
    libusb_device* device = found_[static_cast<std::size_t>(index)];
    std::uint8_t ports[7] = {};
    const int depth = libusb_get_port_numbers(device, ports, sizeof(ports));
    if (depth < 0) return depth;
    location = static_cast<std::uint32_t>(libusb_get_bus_number(device)) << 8;
    for (int i = 0; i < depth && i < 2; ++i)
      location |= static_cast<std::uint32_t>(ports[i] & 0x0F) << (4 * (1 - i));
    return 0;
  }

  int ReadDescription(int index, std::string& description) override {
    return ReadString(index, kProduct, description);
  }

  std::string Location(int index) override {
    if (index < 0 || static_cast<std::size_t>(index) >= found_.size()) return "?";
    libusb_device* device = found_[static_cast<std::size_t>(index)];
    return "bus " + std::to_string(libusb_get_bus_number(device)) + " device " +
           std::to_string(libusb_get_device_address(device));
  }

  std::string DeniedNode(int index) override {
    if (index < 0 || static_cast<std::size_t>(index) >= found_.size()) return {};
    libusb_device* device = found_[static_cast<std::size_t>(index)];
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u",
                  static_cast<unsigned>(libusb_get_bus_number(device)),
                  static_cast<unsigned>(libusb_get_device_address(device)));
    return access(node, R_OK | W_OK) != 0 && errno == EACCES ? std::string(node) : std::string();
  }

  std::unique_ptr<FtdiLink> Open(int index, int& error) override {
    if (index < 0 || static_cast<std::size_t>(index) >= found_.size()) {
      error = -8;
      return nullptr;
    }
    libusb_device* device = found_[static_cast<std::size_t>(index)];
    const UsbLocation at = LocationOf(device);
    NoteSerialDriver(device, at);
    ftdi_context* context = ftdi_new();
    if (context == nullptr) {
      error = -8;
      return nullptr;
    }
    ftdi_set_interface(context, INTERFACE_A);
    // The kernel's serial driver is detached at the first open and stays detached while we
    // run: the link is closed and reopened twice a second while we look for a sensor, and
    // giving the adapter back each time would make its serial port come and go, with udev
    // events and other programs probing it in between. It is given back when we end.
    context->module_detach_mode = AUTO_DETACH_SIO_MODULE;
    const int result = ftdi_usb_open_dev(context, device);
    if (result < 0) {
      error = result;
      ftdi_free(context);
      return nullptr;
    }
    return std::make_unique<RealLink>(context);
  }

 private:
  // The two strings we read, each asked for on its own: an adapter without a serial number
  // string must still show its product string.
  enum StringKind { kProduct, kSerial };
  struct Description {
    int result = 0;
    std::string text;
    std::int64_t read_at_ms = 0;
  };

  // A device's string, from what was read before where that is known. The scan context
  // never has a device open, so a read opens and closes the adapter by itself.
  int ReadString(int index, StringKind kind, std::string& out) {
    if (index < 0 || static_cast<std::size_t>(index) >= found_.size()) return -1;
    libusb_device* device = found_[static_cast<std::size_t>(index)];
    const auto key = std::make_pair(LocationOf(device), kind);
    const std::int64_t now = clock_.NowMs();
    if (auto it = descriptions_.find(key); it != descriptions_.end()) {
      const Description& known = it->second;
      if (known.result >= 0 || now - known.read_at_ms < kDescriptionRetryMs) {
        out = known.text;
        return known.result;
      }
    }
    char text[128] = {};
    char* product = kind == kProduct ? text : nullptr;
    char* serial = kind == kSerial ? text : nullptr;
    int result =
        ftdi_usb_get_strings2(scan_, device, nullptr, 0, product, product ? sizeof(text) : 0,
                              serial, serial ? sizeof(text) : 0);
    text[sizeof(text) - 1] = '\0';
    if (result >= 0) result = 0;
    Description& stored = descriptions_[key];
    stored = Description{result, result >= 0 ? text : "", now};
    out = stored.text;
    return result;
  }

  void ReleaseFound() {
    for (libusb_device* device : found_) libusb_unref_device(device);
    found_.clear();
  }

  // Before the first open of a device: whether the kernel's serial driver holds it, so that
  // it is given back at the end only where it was taken.
  void NoteSerialDriver(libusb_device* device, const UsbLocation& at) {
    if (checked_.count(at) != 0) return;
    libusb_device_handle* handle = nullptr;
    if (libusb_open(device, &handle) < 0) return;
    checked_.insert(at);
    if (libusb_kernel_driver_active(handle, 0) == 1) taken_.push_back(at);
    libusb_close(handle);
  }

  // Best effort: a device that is gone, or that another program holds, stays as it is.
  void GiveBackSerialDrivers() {
    if (taken_.empty()) return;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(scan_->usb_ctx, &list);
    if (count < 0) return;
    for (ssize_t i = 0; i < count; ++i) {
      const UsbLocation at = LocationOf(list[i]);
      if (std::find(taken_.begin(), taken_.end(), at) == taken_.end()) continue;
      libusb_device_handle* handle = nullptr;
      if (libusb_open(list[i], &handle) < 0) continue;
      libusb_attach_kernel_driver(handle, 0);
      libusb_close(handle);
    }
    libusb_free_device_list(list, 1);
    taken_.clear();
  }

  ftdi_context* scan_;
  SteadyClock clock_;
  std::vector<libusb_device*> found_;  // referenced until the next scan
  // Strings per device and kind, kept while the device stays on the bus.
  std::map<std::pair<UsbLocation, StringKind>, Description> descriptions_;
  std::set<UsbLocation> checked_;
  std::vector<UsbLocation> taken_;  // devices whose serial driver we detached
};

}  // namespace

std::unique_ptr<FtdiBus> CreateLibftdiBus() {
  ftdi_context* scan = ftdi_new();  // null when libusb cannot start
  if (scan == nullptr) return nullptr;
  return std::make_unique<RealBus>(scan);
}

}  // namespace zelto
