// SPDX-License-Identifier: MIT
#include "drivers/libftdi_driver.h"

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
    case kLibusbIo:
    case kLibusbTimeout:
    case kLibusbOverflow:
    case kLibusbPipe:
    case kLibusbInterrupted:
      return FT_IO_ERROR;
    case kLibusbInvalidParam:
      return FT_INVALID_PARAMETER;
    case kLibusbAccess:
    case kLibusbBusy:
      return FT_DEVICE_NOT_OPENED;
    case kLibusbNoDevice:  // unplugged while open
    case kLibusbNotFound:
      return FT_DEVICE_NOT_FOUND;
    case kLibusbNoMem:
      return FT_INSUFFICIENT_RESOURCES;
    case kLibusbNotSupported:
      return FT_NOT_SUPPORTED;
    case kFtdiDeviceUnavailable:
      return FT_DEVICE_NOT_OPENED;
    default:
      return FT_OTHER_ERROR;
  }
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
  if (flags != FT_OPEN_BY_DESCRIPTION && flags != FT_OPEN_BY_SERIAL_NUMBER &&
      flags != FT_OPEN_BY_LOCATION)
    return FT_NOT_SUPPORTED;
  // By location the value travels in the pointer itself, as the vendor's call takes it.
  const bool by_location = flags == FT_OPEN_BY_LOCATION;
  const auto wanted_location = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(arg));
  const char* text = static_cast<const char*>(arg);
  std::string wanted = by_location ? std::string() : std::string(text, strnlen(text, kMaxDescription + 1));

  // Always from a fresh scan: the list kept for ListDevices may be older than a replug.
  const FT_STATUS listed = Enumerate();
  if (listed != FT_OK) return listed;

  FT_STATUS failure = FT_DEVICE_NOT_FOUND;
  for (const Listed& candidate : listed_) {
    if (by_location) {
      std::uint32_t location = 0;
      if (bus_->ReadLocation(candidate.index, location) < 0 || location != wanted_location) continue;
    } else if (flags == FT_OPEN_BY_DESCRIPTION) {
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

FT_STATUS LibftdiDriver::SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) {
  Device* device = Find(handle);
  if (device == nullptr) return FT_INVALID_HANDLE;
  return device->link->SetLatencyTimer(ms) < 0 ? FT_IO_ERROR : FT_OK;
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
    if (got == kLibusbTimeout) break;  // nothing came: not an error for a poll
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
      if (got == kLibusbTimeout) got = 0;
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

}  // namespace zelto
