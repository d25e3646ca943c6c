// SPDX-License-Identifier: MIT
#include "drivers/libftdi_driver.h"

#include <algorithm>
#include <array>
#include <climits>
#include <string>
#include <utility>

#include "core/ports/diagnostics.h"
#include "core/ports/steady_clock.h"

namespace zelto {

namespace {

// Opening fails mostly because the adapter is held (by another program, or by the kernel's
// serial driver when it could not be detached) or because we lack permission: the vendor
// library calls all of that "not opened". A failed reset or baud rate during the open is a
// transfer that went wrong.
AdapterStatus StatusFromOpen(int code) {
  switch (code) {
    case -6:   // reset failed
    case -7:   // set baud rate failed
    case -9:   // device descriptor
    case -10:  // configuration descriptor
    case -12:  // current configuration
      return adapter_status::kIoError;
    default:
      return adapter_status::kInUse;
  }
}

AdapterStatus StatusFromWrite(int code) {
  return code == kFtdiDeviceUnavailable ? adapter_status::kInUse : adapter_status::kIoError;
}

AdapterStatus IoResult(int code) { return code < 0 ? adapter_status::kIoError : AdapterStatus{}; }

const Clock& DefaultClock() {
  static const SteadyClock steady;
  return steady;
}

}  // namespace

AdapterStatus StatusFromLibusb(int code) {
  if (code >= 0) return {};
  switch (code) {
    case kLibusbIo:
    case kLibusbTimeout:
    case kLibusbOverflow:
    case kLibusbPipe:
    case kLibusbInterrupted:
      return adapter_status::kIoError;
    case kLibusbInvalidParam:
      return adapter_status::kBadArgument;
    case kLibusbAccess:
    case kLibusbBusy:
      return adapter_status::kInUse;
    case kLibusbNoDevice:  // unplugged while open
    case kLibusbNotFound:
      return adapter_status::kNotFound;
    case kLibusbNoMem:
      return adapter_status::kNoResources;
    case kLibusbNotSupported:
      return adapter_status::kNotSupported;
    case kFtdiDeviceUnavailable:
      return adapter_status::kInUse;
    default:
      return adapter_status::kOther;
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
// One opened adapter: its link, the receive queue kept for it, and the timeouts the link set.

class LibftdiDriver::Connection final : public AdapterConnection {
 public:
  Connection(std::shared_ptr<FtdiBus> bus, const Clock& clock, std::unique_ptr<FtdiLink> link)
      : bus_(std::move(bus)), clock_(clock), link_(std::move(link)), fifo_(kFifoCapacity) {}
  // Gives the adapter back (and with it, once the bus ends, the kernel's serial driver).
  ~Connection() override {
    if (link_ != nullptr) link_->Close();
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  AdapterStatus Reset() override {
    if (link_ == nullptr) return adapter_status::kClosed;
    fifo_.Clear();
    return IoResult(link_->Reset());
  }
  AdapterStatus Purge() override {
    if (link_ == nullptr) return adapter_status::kClosed;
    // Bytes already drained into our queue count as received: they go too.
    fifo_.Clear();
    if (link_->FlushInput() < 0) return adapter_status::kIoError;
    return IoResult(link_->FlushOutput());
  }
  AdapterStatus Write(const std::uint8_t* data, std::uint32_t count,
                      std::uint32_t& written) override;
  AdapterStatus Queue(std::uint32_t& waiting) override;
  AdapterStatus SetTimeouts(std::uint32_t read_ms, std::uint32_t write_ms) override {
    if (link_ == nullptr) return adapter_status::kClosed;
    read_timeout_ms_ = read_ms;
    write_timeout_ms_ = write_ms;
    return {};
  }
  AdapterStatus Read(std::uint8_t* data, std::uint32_t count, std::uint32_t& got) override;
  AdapterStatus SetLatencyTimer(std::uint8_t ms) override {
    if (link_ == nullptr) return adapter_status::kClosed;
    return IoResult(link_->SetLatencyTimer(ms));
  }
  // libftdi frees the device even when libusb cannot release the interface of an adapter
  // that was unplugged: the connection is closed either way, and a caller told otherwise
  // would keep closing an adapter that is no longer held.
  AdapterStatus Close() override {
    if (link_ == nullptr) return adapter_status::kClosed;
    link_->Close();
    link_.reset();
    return {};
  }

 private:
  AdapterStatus Drain();

  // Declared first, so it ends last: the adapter is given back before the bus goes.
  std::shared_ptr<FtdiBus> bus_;
  const Clock& clock_;
  std::unique_ptr<FtdiLink> link_;  // null once closed
  ByteFifo fifo_;
  // Until the link sets them: a read returns what one look at the chip brings, a write uses
  // libftdi's own limit.
  std::uint32_t read_timeout_ms_ = 0;
  std::uint32_t write_timeout_ms_ = 0;
  std::array<std::uint8_t, 4096> scratch_{};
};

AdapterStatus LibftdiDriver::Connection::Write(const std::uint8_t* data, std::uint32_t count,
                                               std::uint32_t& written) {
  written = 0;
  if (link_ == nullptr) return adapter_status::kClosed;
  if (count == 0) return {};
  if (data == nullptr) return adapter_status::kBadArgument;
  const int size = static_cast<int>(std::min<std::uint32_t>(count, INT_MAX));
  const int timeout = static_cast<int>(std::min<std::uint32_t>(write_timeout_ms_, INT_MAX));
  const int result = link_->Write(data, size, timeout);
  if (result < 0) return StatusFromWrite(result);
  written = static_cast<std::uint32_t>(result);
  return {};
}

AdapterStatus LibftdiDriver::Connection::Drain() {
  // Each look at the chip returns within one latency period, but a chip that keeps
  // receiving always has more: the poll runs on the window's thread, so it stops after a
  // few milliseconds and takes the rest at the next poll.
  const std::int64_t start = clock_.NowMs();
  while (fifo_.Free() > 0) {
    const int want = static_cast<int>(std::min(scratch_.size(), fifo_.Free()));
    const int got = link_->Read(scratch_.data(), want);
    if (got == kLibusbTimeout) break;  // nothing came: not an error for a poll
    if (got < 0) return StatusFromLibusb(got);
    fifo_.Push(scratch_.data(), static_cast<std::size_t>(got));
    // A short answer means the chip had nothing more.
    if (got < want) break;
    if (clock_.NowMs() - start >= kDrainBudgetMs) break;
  }
  return {};
}

AdapterStatus LibftdiDriver::Connection::Queue(std::uint32_t& waiting) {
  if (link_ == nullptr) return adapter_status::kClosed;
  if (const AdapterStatus status = Drain(); !status.Ok()) return status;
  waiting = static_cast<std::uint32_t>(fifo_.Size());
  return {};
}

AdapterStatus LibftdiDriver::Connection::Read(std::uint8_t* data, std::uint32_t count,
                                              std::uint32_t& got) {
  got = 0;
  if (link_ == nullptr) return adapter_status::kClosed;
  if (count == 0) return {};
  if (data == nullptr) return adapter_status::kBadArgument;

  std::size_t done = fifo_.Pop(data, count);
  if (done < count) {
    // Wait for the rest until the read timeout; each look at the chip returns within one
    // latency period, so the clock is checked often enough.
    const std::int64_t deadline = clock_.NowMs() + read_timeout_ms_;
    for (;;) {
      const std::size_t left = count - done;
      const int want = static_cast<int>(std::min<std::size_t>(left, INT_MAX));
      int result = link_->Read(data + done, want);
      if (result == kLibusbTimeout) result = 0;
      if (result < 0) return StatusFromLibusb(result);
      done += static_cast<std::size_t>(result);
      if (done >= count || clock_.NowMs() >= deadline) break;
    }
  }
  // A timeout is not a failure: the caller gets the short count.
  got = static_cast<std::uint32_t>(done);
  return {};
}

// ---------------------------------------------------------------------------------------
// Listing and opening over FtdiBus.

LibftdiDriver::LibftdiDriver(std::unique_ptr<FtdiBus> bus, const Clock* clock)
    : bus_(std::move(bus)), clock_(clock != nullptr ? *clock : DefaultClock()) {}

LibftdiDriver::~LibftdiDriver() = default;

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

AdapterStatus LibftdiDriver::Enumerate() {
  listed_.clear();
  const int count = bus_->Scan();
  if (count < 0)
    return count == kFtdiFindAllNoMemory ? adapter_status::kNoResources : adapter_status::kIoError;
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
  return {};
}

AdapterStatus LibftdiDriver::List(std::vector<AdapterInfo>& adapters, const AdapterFilter* filter) {
  adapters.clear();
  if (const AdapterStatus status = Enumerate(); !status.Ok()) return status;
  const bool serial = filter == nullptr || !filter->serial.empty();
  const bool location = filter == nullptr || filter->location.has_value();
  for (const Listed& listed : listed_) {
    if (filter != nullptr && !filter->description.empty() &&
        listed.description != filter->description)
      continue;
    AdapterInfo a;
    a.has_description = true;
    a.description = listed.description;
    a.has_serial = serial && bus_->ReadSerial(listed.index, a.serial) >= 0;
    if (!a.has_serial) a.serial.clear();
    if (a.serial.size() > kMaxSerial) a.serial.resize(kMaxSerial);
    // Each field is read only while the adapter may still match, in this order.
    if (filter != nullptr && !filter->serial.empty() && (!a.has_serial || a.serial != filter->serial))
      continue;
    a.has_location = location && bus_->ReadLocation(listed.index, a.location) >= 0;
    if (!a.has_location) a.location = 0;
    if (filter != nullptr && !filter->Matches(a)) continue;
    adapters.push_back(std::move(a));
  }
  return {};
}

AdapterStatus LibftdiDriver::Open(AdapterKey key, std::string_view text, std::uint32_t location,
                                  std::unique_ptr<AdapterConnection>& connection) {
  // A name is compared up to where the vendor's call stops reading one: its end, or one
  // character past the longest description.
  const std::string_view wanted = text.substr(0, std::min(text.find('\0'), kMaxDescription + 1));

  // Always from a fresh scan: a listing may be older than a replug.
  if (const AdapterStatus status = Enumerate(); !status.Ok()) return status;

  AdapterStatus failure = adapter_status::kNotFound;
  for (const Listed& candidate : listed_) {
    if (key == AdapterKey::kLocation) {
      std::uint32_t at = 0;
      if (bus_->ReadLocation(candidate.index, at) < 0 || at != location) continue;
    } else if (key == AdapterKey::kDescription) {
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
      failure = adapter_status::kIoError;
      continue;
    }
    connection = std::make_unique<Connection>(bus_, clock_, std::move(link));
    return {};
  }
  return failure;
}

}  // namespace zelto
