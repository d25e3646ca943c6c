// SPDX-License-Identifier: MIT
// The open-source libftdi1 behind the adapter port, so that Linux users need no vendor
// driver. libftdi has no receive queue of its own to ask about, so each connection keeps one
// and fills it from the chip whenever the link asks how much is waiting.
//
// The few libftdi calls the driver makes go through FtdiBus / FtdiLink; the real ones wrap
// libftdi (CreateLibftdiBus), the tests put a scripted fake in their place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/ports/adapter_port.h"
#include "core/ports/timer_port.h"

namespace zelto {

// libusb's error codes as the seam hands them on (LIBUSB_ERROR_* of libusb.h, checked
// against it where the real bus is built), so that the driver's logic builds without libusb.
enum LibusbError : int {
  kLibusbIo = -1,
  kLibusbInvalidParam = -2,
  kLibusbAccess = -3,
  kLibusbNoDevice = -4,
  kLibusbNotFound = -5,
  kLibusbBusy = -6,
  kLibusbTimeout = -7,
  kLibusbOverflow = -8,
  kLibusbPipe = -9,
  kLibusbInterrupted = -10,
  kLibusbNoMem = -11,
  kLibusbNotSupported = -12,
};
// libftdi's answer from read and write calls when the context has no device open.
constexpr int kFtdiDeviceUnavailable = -666;
// FtdiBus::Scan: out of memory (ftdi_usb_find_all's code).
constexpr int kFtdiFindAllNoMemory = -3;

// One opened adapter. Results are libftdi's own: >= 0 success (a byte count for reads and
// writes), < 0 the library's error code for that call.
class FtdiLink {
 public:
  virtual ~FtdiLink() = default;
  // ftdi_usb_close: releases the interface; the kernel's serial driver stays detached until
  // the bus ends. The destructor closes too when this was not called.
  virtual int Close() = 0;
  virtual int Reset() = 0;        // ftdi_usb_reset
  virtual int FlushInput() = 0;   // ftdi_tciflush: what the chip received, not yet read
  virtual int FlushOutput() = 0;  // ftdi_tcoflush: what the chip has not yet sent
  virtual int SetLatencyTimer(int ms) = 0;
  virtual int SetBaudRate(int baud) = 0;
  virtual int SetLine8N1() = 0;
  // ftdi_read_data: returns after at most one latency period when nothing arrives; error
  // codes are libusb's.
  virtual int Read(std::uint8_t* buffer, int size) = 0;
  // ftdi_write_data with the given limit per transfer; 0 keeps libftdi's default.
  virtual int Write(const std::uint8_t* buffer, int size, int timeout_ms) = 0;
};

// The adapters on the bus: enumeration and opening.
class FtdiBus {
 public:
  virtual ~FtdiBus() = default;
  // Lists the devices of FTDI's vendor ID afresh, whatever their product ID; returns how
  // many, or < 0 (libftdi's codes: -3 out of memory, -5 no device list). Indices below
  // refer to the latest scan.
  virtual int Scan() = 0;
  // The adapter's product string (ftdi_usb_get_strings2 on a context with no device open);
  // < 0 when it cannot be read, typically for lack of permission.
  virtual int ReadDescription(int index, std::string& description) = 0;
  // The adapter's serial number string, the same way; < 0 when it cannot be read or the
  // adapter has none.
  virtual int ReadSerial(int index, std::string& serial) {
    (void)index;
    (void)serial;
    return -1;
  }
  // Where the adapter sits: the bus number in bits 8 and up, the port numbers from the root
  // hub down in the nibbles below (as the vendor library numbers locations); < 0 when
  // unknown.
  virtual int ReadLocation(int index, std::uint32_t& location) {
    (void)index;
    (void)location;
    return -1;
  }
  // Opens the adapter with the kernel's serial driver detached (ftdi_usb_open_dev); the real
  // bus gives the serial driver back when it ends. On failure returns null and sets error to
  // libftdi's code.
  virtual std::unique_ptr<FtdiLink> Open(int index, int& error) = 0;
  // Where the adapter sits, for messages ("bus 1 device 5"): the same text for the same
  // adapter until it is unplugged.
  virtual std::string Location(int index) { return "#" + std::to_string(index); }
  // The adapter's device node when our user may not read and write it, else empty.
  virtual std::string DeniedNode(int /*index*/) { return {}; }
};

// The diagnostics category of the USB backends' warnings.
inline constexpr char kUsbCategory[] = "zelto.usb";

// The real bus over libftdi1, or null when libusb cannot be started at all. Defined in
// libftdi_bus.cpp (target zelto_libftdi_bus, built with ZELTO_LIBFTDI).
std::unique_ptr<FtdiBus> CreateLibftdiBus();

// The port's status for a libusb error code, as ftdi_read_data hands them on.
AdapterStatus StatusFromLibusb(int code);

// A bounded byte queue over a buffer allocated once, so the poll path allocates nothing.
class ByteFifo {
 public:
  explicit ByteFifo(std::size_t capacity) : buffer_(capacity) {}
  std::size_t Size() const { return size_; }
  std::size_t Free() const { return buffer_.size() - size_; }
  // Appends as much as fits; returns how much that was.
  std::size_t Push(const std::uint8_t* data, std::size_t count);
  // Removes up to count bytes from the front into out; returns how many.
  std::size_t Pop(std::uint8_t* out, std::size_t count);
  void Clear() { head_ = size_ = 0; }

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

class LibftdiDriver : public AdapterPort {
 public:
  // Latency timer set at open: an empty poll then costs about this long instead of the
  // chip's default 16 ms.
  static constexpr int kLatencyMs = 2;
  static constexpr int kBaudRate = 9600;
  // Received bytes held per connection before it stops draining the chip (the chip and the
  // USB host then hold the rest).
  static constexpr std::size_t kFifoCapacity = 65536;
  // Longest a queue-status call keeps draining a chip that keeps receiving.
  static constexpr int kDrainBudgetMs = 3;
  // Longest description and serial number listed, as the vendor library lists them.
  static constexpr std::size_t kMaxDescription = 64;
  static constexpr std::size_t kMaxSerial = 16;

  // clock: what read timeouts are measured with; null uses the steady clock.
  explicit LibftdiDriver(std::unique_ptr<FtdiBus> bus, const Clock* clock = nullptr);
  ~LibftdiDriver() override;
  LibftdiDriver(const LibftdiDriver&) = delete;
  LibftdiDriver& operator=(const LibftdiDriver&) = delete;

  // One scan; the adapters whose description cannot be read are left out (and said why).
  // With a filter, a serial number or location is read only when the filter asks for it.
  AdapterStatus List(std::vector<AdapterInfo>& adapters,
                     const AdapterFilter* filter = nullptr) override;
  // Scans afresh and opens the first listed adapter with that description, serial number or
  // location that can be opened, then sets latency timer and line settings. A connection
  // owns its adapter and keeps the bus alive, so it may outlive the driver.
  AdapterStatus Open(AdapterKey key, std::string_view text, std::uint32_t location,
                     std::unique_ptr<AdapterConnection>& connection) override;

 private:
  class Connection;
  struct Listed {
    int index;  // in the bus's latest scan
    std::string description;
  };

  // Scans the bus into listed_: the adapters whose description could be read.
  AdapterStatus Enumerate();
  // Says once per adapter and reason why an adapter was passed over: the scan runs twenty
  // times a second.
  void WarnSkipped(int index, const char* what, int code);

  std::shared_ptr<FtdiBus> bus_;
  const Clock& clock_;
  std::vector<Listed> listed_;  // kept, so a scan reuses its storage
};

}  // namespace zelto
