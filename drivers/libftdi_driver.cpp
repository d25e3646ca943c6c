// SPDX-License-Identifier: MIT
#include "drivers/libftdi_driver.h"

#include <ftdi.h>
#include <libusb.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "core/ports/diagnostics.h"

namespace zelto {

namespace {

// libftdi's answer from read and write calls when the context has no device open.
constexpr int kFtdiDeviceUnavailable = -666;
// ftdi_usb_find_all: out of memory.
constexpr int kFtdiFindAllNoMemory = -3;

// Opening fails mostly because the adapter is held (by another program, or by the kernel's
// serial driver when it could not be detached) or because we lack permission: the vendor
// library calls all of that "not opened". A failed reset or baud rate during the open is a
// transfer that went wrong.
FT_STATUS StatusFromOpen(int code) {
  switch (code) {
    case -6:   // reset failed
    case -7:   // set baud rate failed
    case -9:   // device descriptor
    case -10:  // configuration descriptor
    case -12:  // current configuration
      return FT_IO_ERROR;
    default:
      return FT_DEVICE_NOT_OPENED;
  }
}

FT_STATUS StatusFromWrite(int code) {
  return code == kFtdiDeviceUnavailable ? FT_DEVICE_NOT_OPENED : FT_IO_ERROR;
}

}  // namespace

FT_STATUS StatusFromLibusb(int code) {
  if (code >= 0) return FT_OK;
  switch (code) {
    case LIBUSB_ERROR_IO:
    case LIBUSB_ERROR_TIMEOUT:
    case LIBUSB_ERROR_OVERFLOW:
    case LIBUSB_ERROR_PIPE:
    case LIBUSB_ERROR_INTERRUPTED:
      return FT_IO_ERROR;
    case LIBUSB_ERROR_INVALID_PARAM:
      return FT_INVALID_PARAMETER;
    case LIBUSB_ERROR_ACCESS:
    case LIBUSB_ERROR_BUSY:
      return FT_DEVICE_NOT_OPENED;
    case LIBUSB_ERROR_NO_DEVICE:  // unplugged while open
    case LIBUSB_ERROR_NOT_FOUND:
      return FT_DEVICE_NOT_FOUND;
    case LIBUSB_ERROR_NO_MEM:
      return FT_INSUFFICIENT_RESOURCES;
    case LIBUSB_ERROR_NOT_SUPPORTED:
      return FT_NOT_SUPPORTED;
    case kFtdiDeviceUnavailable:
      return FT_DEVICE_NOT_OPENED;
    default:
      return FT_OTHER_ERROR;
  }
}

std::int64_t SteadyClock::NowMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::size_t ByteFifo::Push(const std::uint8_t* data, std::size_t count) {
  const std::size_t n = std::min(count, Free());
  if (n == 0) return 0;
  std::size_t tail = (head_ + size_) % buffer_.size();
  for (std::size_t i = 0; i < n; ++i) {
    buffer_[tail] = data[i];
    if (++tail == buffer_.size()) tail = 0;
  }
  size_ += n;
  return n;
}

std::size_t ByteFifo::Pop(std::uint8_t* out, std::size_t count) {
  const std::size_t n = std::min(count, size_);
  for (std::size_t i = 0; i < n; ++i) {
    out[i] = buffer_[head_];
    if (++head_ == buffer_.size()) head_ = 0;
  }
  size_ -= n;
  if (size_ == 0) head_ = 0;
  return n;
}

// ---------------------------------------------------------------------------------------
// The driver logic over FtdiBus / FtdiLink.

struct LibftdiDriver::Device {
  explicit Device(std::unique_ptr<FtdiLink> l) : link(std::move(l)), fifo(kFifoCapacity) {}
  std::unique_ptr<FtdiLink> link;
  ByteFifo fifo;
  // Until the link sets them: a read returns what one look at the chip brings, a write uses
  // libftdi's own limit.
  std::uint32_t read_timeout_ms = 0;
  std::uint32_t write_timeout_ms = 0;
  std::array<std::uint8_t, 4096> scratch{};
};

LibftdiDriver::LibftdiDriver(std::unique_ptr<FtdiBus> bus, const Clock* clock)
    : bus_(std::move(bus)), clock_(clock != nullptr ? *clock : steady_) {}

LibftdiDriver::~LibftdiDriver() {
  // Give every adapter back (and with it the kernel's serial driver) before the bus goes.
  for (auto& [token, device] : devices_) device->link->Close();
  devices_.clear();
}

void LibftdiDriver::WarnSkipped(int index, const char* what, int code) {
  const std::string location = bus_->Location(index);
  const std::string denied = bus_->DeniedNode(index);
  std::string message = "FTDI device at " + location + " skipped: " + what;
  if (!denied.empty()) {
    // The usual first start on Linux: the rule that hands the adapter to the logged-in user
    // is not installed, or udev has not applied it yet.
    message += ": permission denied on " + denied +
               "; a ZeltoProg adapter needs the udev rule 60-zeltoprog.rules (see the README): "
               "install it, run 'udevadm control --reload-rules' and plug the adapter in again";
  } else {
    message += " (libftdi error " + std::to_string(code) + ")";
  }
  DiagWarningOnce(kUsbCategory, location, message);
}

LibftdiDriver::Device* LibftdiDriver::Find(FT_HANDLE handle) {
  auto it = devices_.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == devices_.end() ? nullptr : it->second.get();
}

FT_STATUS LibftdiDriver::Enumerate() {
  listed_.clear();
  listed_valid_ = false;
  const int count = bus_->Scan();
  if (count < 0) return count == kFtdiFindAllNoMemory ? FT_INSUFFICIENT_RESOURCES : FT_IO_ERROR;
  for (int i = 0; i < count; ++i) {
    std::string description;
    // An adapter we may not open (another user's, or no udev rule yet) must not hide the
    // others: it is simply left out.
    if (const int code = bus_->ReadDescription(i, description); code < 0) {
      WarnSkipped(i, "its product string cannot be read", code);
      continue;
    }
    if (description.size() > kMaxDescription) description.resize(kMaxDescription);
    listed_.push_back({i, std::move(description)});
  }
  listed_valid_ = true;
  return FT_OK;
}

FT_STATUS LibftdiDriver::ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
  if ((flags & FT_LIST_NUMBER_ONLY) != 0) {
    if (arg1 == nullptr) return FT_INVALID_PARAMETER;
    const FT_STATUS status = Enumerate();
    if (status != FT_OK) return status;
    *static_cast<std::uint32_t*>(arg1) = static_cast<std::uint32_t>(listed_.size());
    return FT_OK;
  }
  if ((flags & FT_LIST_BY_INDEX) != 0) {
    const std::uint32_t what = flags & ~FT_LIST_BY_INDEX;
    if (what != FT_OPEN_BY_DESCRIPTION && what != FT_OPEN_BY_SERIAL_NUMBER &&
        what != FT_OPEN_BY_LOCATION)
      return FT_NOT_SUPPORTED;
    if (arg2 == nullptr) return FT_INVALID_PARAMETER;
    if (!listed_valid_) {
      const FT_STATUS status = Enumerate();
      if (status != FT_OK) return status;
    }
    // The index travels in the pointer itself.
    const auto index = reinterpret_cast<std::uintptr_t>(arg1);
    if (index >= listed_.size()) return FT_DEVICE_NOT_FOUND;
    if (what == FT_OPEN_BY_LOCATION) {
      std::uint32_t location = 0;
      if (bus_->ReadLocation(listed_[index].index, location) < 0) return FT_OTHER_ERROR;
      *static_cast<std::uint32_t*>(arg2) = location;
      return FT_OK;
    }
    std::string serial;
    if (what == FT_OPEN_BY_SERIAL_NUMBER) {
      if (bus_->ReadSerial(listed_[index].index, serial) < 0) return FT_OTHER_ERROR;
      if (serial.size() > kMaxSerial) serial.resize(kMaxSerial);
    }
    const std::string& text =
        what == FT_OPEN_BY_SERIAL_NUMBER ? serial : listed_[index].description;
    char* out = static_cast<char*>(arg2);
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return FT_OK;
  }
  return FT_NOT_SUPPORTED;
}

FT_STATUS LibftdiDriver::OpenEx(void* arg, std::uint32_t flags, FT_HANDLE* handle) {
  if (arg == nullptr || handle == nullptr) return FT_INVALID_PARAMETER;
  if (flags != FT_OPEN_BY_DESCRIPTION && flags != FT_OPEN_BY_SERIAL_NUMBER) return FT_NOT_SUPPORTED;
  const char* text = static_cast<const char*>(arg);
  std::string wanted(text, strnlen(text, kMaxDescription + 1));

  // Always from a fresh scan: the list kept for ListDevices may be older than a replug.
  const FT_STATUS listed = Enumerate();
  if (listed != FT_OK) return listed;

  FT_STATUS failure = FT_DEVICE_NOT_FOUND;
  for (const Listed& candidate : listed_) {
    if (flags == FT_OPEN_BY_DESCRIPTION) {
      if (candidate.description != wanted) continue;
    } else {
      std::string serial;
      if (bus_->ReadSerial(candidate.index, serial) < 0 || serial != wanted) continue;
    }
    int error = 0;
    std::unique_ptr<FtdiLink> link = bus_->Open(candidate.index, error);
    if (link == nullptr) {
      // Held by someone else or not ours to open: the next one with that name may do.
      WarnSkipped(candidate.index, "it cannot be opened", error);
      failure = StatusFromOpen(error);
      continue;
    }
    if (link->SetLatencyTimer(kLatencyMs) < 0 || link->SetBaudRate(kBaudRate) < 0 ||
        link->SetLine8N1() < 0) {
      link->Close();
      failure = FT_IO_ERROR;
      continue;
    }
    const std::uintptr_t token = next_handle_++;
    devices_.emplace(token, std::make_unique<Device>(std::move(link)));
    *handle = reinterpret_cast<FT_HANDLE>(token);
    return FT_OK;
  }
  return failure;
}

FT_STATUS LibftdiDriver::ResetDevice(FT_HANDLE handle) {
  Device* device = Find(handle);
  if (device == nullptr) return FT_INVALID_HANDLE;
  device->fifo.Clear();
  return device->link->Reset() < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS LibftdiDriver::Purge(FT_HANDLE handle, std::uint32_t mask) {
  Device* device = Find(handle);
  if (device == nullptr) return FT_INVALID_HANDLE;
  if ((mask & FT_PURGE_RX) != 0) {
    // Bytes already drained into our queue count as received: they go too.
    device->fifo.Clear();
    if (device->link->FlushInput() < 0) return FT_IO_ERROR;
  }
  if ((mask & FT_PURGE_TX) != 0) {
    if (device->link->FlushOutput() < 0) return FT_IO_ERROR;
  }
  return FT_OK;
}

FT_STATUS LibftdiDriver::Write(FT_HANDLE handle, void* buffer, std::uint32_t bytes_to_write,
                               std::uint32_t* bytes_written) {
  if (bytes_written == nullptr) return FT_INVALID_PARAMETER;
  *bytes_written = 0;
  Device* device = Find(handle);
  if (device == nullptr) return FT_INVALID_HANDLE;
  if (bytes_to_write == 0) return FT_OK;
  if (buffer == nullptr) return FT_INVALID_PARAMETER;
  const int size = static_cast<int>(std::min<std::uint32_t>(bytes_to_write, INT_MAX));
  const int timeout = static_cast<int>(std::min<std::uint32_t>(device->write_timeout_ms, INT_MAX));
  const int written = device->link->Write(static_cast<const std::uint8_t*>(buffer), size, timeout);
  if (written < 0) return StatusFromWrite(written);
  *bytes_written = static_cast<std::uint32_t>(written);
  return FT_OK;
}

FT_STATUS LibftdiDriver::Drain(Device& device) {
  // Each look at the chip returns within one latency period, but a chip that keeps
  // receiving always has more: the poll runs on the window's thread, so it stops after a
  // few milliseconds and takes the rest at the next poll.
  const std::int64_t start = clock_.NowMs();
  while (device.fifo.Free() > 0) {
    const int want = static_cast<int>(std::min(device.scratch.size(), device.fifo.Free()));
    const int got = device.link->Read(device.scratch.data(), want);
    if (got == LIBUSB_ERROR_TIMEOUT) break;  // nothing came: not an error for a poll
    if (got < 0) return StatusFromLibusb(got);
    device.fifo.Push(device.scratch.data(), static_cast<std::size_t>(got));
    // A short answer means the chip had nothing more.
    if (got < want) break;
    if (clock_.NowMs() - start >= kDrainBudgetMs) break;
  }
  return FT_OK;
}

FT_STATUS LibftdiDriver::GetQueueStatus(FT_HANDLE handle, std::uint32_t* rx_bytes) {
  if (rx_bytes == nullptr) return FT_INVALID_PARAMETER;
  Device* device = Find(handle);
  if (device == nullptr) return FT_INVALID_HANDLE;
  const FT_STATUS status = Drain(*device);
  if (status != FT_OK) return status;
  *rx_bytes = static_cast<std::uint32_t>(device->fifo.Size());
  return FT_OK;
}

FT_STATUS LibftdiDriver::SetTimeouts(FT_HANDLE handle, std::uint32_t read_timeout_ms,
                                     std::uint32_t write_timeout_ms) {
  Device* device = Find(handle);
  if (device == nullptr) return FT_INVALID_HANDLE;
  device->read_timeout_ms = read_timeout_ms;
  device->write_timeout_ms = write_timeout_ms;
  return FT_OK;
}

FT_STATUS LibftdiDriver::Read(FT_HANDLE handle, void* buffer, std::uint32_t bytes_to_read,
                              std::uint32_t* bytes_returned) {
  if (bytes_returned == nullptr) return FT_INVALID_PARAMETER;
  *bytes_returned = 0;
  Device* device = Find(handle);
  if (device == nullptr) return FT_INVALID_HANDLE;
  if (bytes_to_read == 0) return FT_OK;
  if (buffer == nullptr) return FT_INVALID_PARAMETER;

  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t done = device->fifo.Pop(out, bytes_to_read);
  if (done < bytes_to_read) {
    // Wait for the rest until the read timeout; each look at the chip returns within one
    // latency period, so the clock is checked often enough.
    const std::int64_t deadline = clock_.NowMs() + device->read_timeout_ms;
    for (;;) {
      const std::size_t left = bytes_to_read - done;
      const int want = static_cast<int>(std::min<std::size_t>(left, INT_MAX));
      int got = device->link->Read(out + done, want);
      if (got == LIBUSB_ERROR_TIMEOUT) got = 0;
      if (got < 0) return StatusFromLibusb(got);
      done += static_cast<std::size_t>(got);
      if (done >= bytes_to_read || clock_.NowMs() >= deadline) break;
    }
  }
  // A timeout is not a failure: the caller gets the short count.
  *bytes_returned = static_cast<std::uint32_t>(done);
  return FT_OK;
}

FT_STATUS LibftdiDriver::Close(FT_HANDLE handle) {
  auto it = devices_.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == devices_.end()) return FT_INVALID_HANDLE;
  std::unique_ptr<Device> device = std::move(it->second);
  devices_.erase(it);
  // libftdi frees the device even when libusb cannot release the interface of an adapter
  // that was unplugged: the handle is gone either way, and a caller told otherwise would
  // keep closing a handle that no longer exists.
  device->link->Close();
  return FT_OK;
}

// ---------------------------------------------------------------------------------------
// The real bus over libftdi1.

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
