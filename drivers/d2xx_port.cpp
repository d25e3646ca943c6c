// SPDX-License-Identifier: MIT
#include "drivers/d2xx_port.h"

#include <algorithm>
#include <cstring>

namespace zelto {

AdapterStatus FromD2xx(FT_STATUS status) {
  switch (status) {
    case FT_OK:
      return {AdapterResult::kOk, status};
    case FT_DEVICE_NOT_FOUND:
      return {AdapterResult::kNotFound, status};
    case FT_DEVICE_NOT_OPENED:
      return {AdapterResult::kInUse, status};
    case FT_IO_ERROR:
      return {AdapterResult::kIoError, status};
    case FT_NOT_SUPPORTED:
      return {AdapterResult::kNotSupported, status};
    default:
      return {AdapterResult::kOther, status};
  }
}

class D2xxPort::Connection final : public AdapterConnection {
 public:
  Connection(D2xxPort& port, FT_HANDLE handle) : port_(port), handle_(handle) {
    for (Connection*& c : port_.live_)
      if (c == nullptr) {
        c = this;
        break;
      }
  }
  ~Connection() override {
    if (!close_asked_ && !superseded_) port_.Close(handle_);
    for (Connection*& c : port_.live_)
      if (c == this) c = nullptr;
  }
  AdapterStatus Reset() override { return FromD2xx(port_.ResetDevice(handle_)); }
  AdapterStatus Purge() override {
    return FromD2xx(port_.Purge(handle_, FT_PURGE_RX | FT_PURGE_TX));
  }
  AdapterStatus Write(const std::uint8_t* data, std::uint32_t count,
                      std::uint32_t& written) override {
    return FromD2xx(port_.Write(handle_, const_cast<std::uint8_t*>(data), count, &written));
  }
  AdapterStatus Queue(std::uint32_t& waiting) override {
    return FromD2xx(port_.GetQueueStatus(handle_, &waiting));
  }
  AdapterStatus SetTimeouts(std::uint32_t read_ms, std::uint32_t write_ms) override {
    return FromD2xx(port_.SetTimeouts(handle_, read_ms, write_ms));
  }
  AdapterStatus Read(std::uint8_t* data, std::uint32_t count, std::uint32_t& got) override {
    return FromD2xx(port_.Read(handle_, data, count, &got));
  }
  AdapterStatus SetLatencyTimer(std::uint8_t ms) override {
    return FromD2xx(port_.SetLatencyTimer(handle_, ms));
  }
  AdapterStatus Close() override {
    // The driver handed the handle out again for a newer connection: this one is gone.
    if (superseded_) return {};
    close_asked_ = true;
    return FromD2xx(port_.Close(handle_));
  }

  FT_HANDLE Handle() const { return handle_; }
  void Supersede() { superseded_ = true; }

 private:
  D2xxPort& port_;
  FT_HANDLE handle_;
  bool close_asked_ = false;
  bool superseded_ = false;
};

D2xxPort::~D2xxPort() = default;

namespace {

constexpr int kTextBufferSize = 100;

void* ByIndex(std::uint32_t index) {
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(index));
}

// The driver leaves "<text>\0" in a buffer it may fill to the end without a terminator; the
// blanks filled in first bound it either way.
bool ReadDescription(D2xxPort& port, std::uint32_t index, std::string& description) {
  char text[kTextBufferSize + 1];
  std::memset(text, ' ', kTextBufferSize);
  text[kTextBufferSize] = '\0';
  if (port.ListDevices(ByIndex(index), text, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION) != FT_OK)
    return false;
  int len = kTextBufferSize;
  while (len > 0 && text[len - 1] == ' ') --len;
  if (len > 0) --len;
  description.assign(text, static_cast<std::size_t>(len));
  return true;
}

bool ReadSerial(D2xxPort& port, std::uint32_t index, std::string& serial) {
  char text[kTextBufferSize + 1] = {};
  if (port.ListDevices(ByIndex(index), text, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) != FT_OK)
    return false;
  serial = text;
  return true;
}

bool ReadLocation(D2xxPort& port, std::uint32_t index, std::uint32_t& location) {
  location = 0;
  if (port.ListDevices(ByIndex(index), &location, FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION) == FT_OK)
    return true;
  location = 0;
  return false;
}

}  // namespace

AdapterStatus D2xxPort::List(std::vector<AdapterInfo>& adapters, const AdapterFilter* filter) {
  adapters.clear();
  std::uint32_t count = 0;
  char unused[1] = {0};
  const FT_STATUS status = ListDevices(&count, unused, FT_LIST_NUMBER_ONLY);
  if (status != FT_OK) return FromD2xx(status);
  AdapterInfo a;
  for (std::uint32_t i = 0; i < count; ++i) {
    // Nothing of the adapter before it stays behind in what this one cannot read.
    a.description.clear();
    a.serial.clear();
    a.location = 0;
    a.has_description = ReadDescription(*this, i, a.description);
    if (filter == nullptr) {
      a.has_serial = ReadSerial(*this, i, a.serial);
      a.has_location = ReadLocation(*this, i, a.location);
      adapters.push_back(a);
      continue;
    }
    // Each field is read only while the adapter may still match, in this order.
    if (!a.has_description || (!filter->description.empty() && a.description != filter->description))
      continue;
    a.has_serial = !filter->serial.empty() && ReadSerial(*this, i, a.serial);
    if (!filter->serial.empty() && (!a.has_serial || a.serial != filter->serial)) continue;
    a.has_location = filter->location && ReadLocation(*this, i, a.location);
    if (filter->location && (!a.has_location || a.location != *filter->location)) continue;
    adapters.push_back(a);
  }
  return {};
}

AdapterStatus D2xxPort::Open(AdapterKey key, std::string_view text, std::uint32_t location,
                             std::unique_ptr<AdapterConnection>& connection) {
  FT_HANDLE handle = nullptr;
  FT_STATUS status;
  if (key == AdapterKey::kLocation) {
    status = OpenEx(ByIndex(location), FT_OPEN_BY_LOCATION, &handle);
  } else {
    // The driver reads a terminated string.
    char name[kTextBufferSize + 1] = {};
    text.copy(name, std::min<std::size_t>(text.size(), kTextBufferSize));
    status = OpenEx(name,
                    key == AdapterKey::kSerial ? FT_OPEN_BY_SERIAL_NUMBER : FT_OPEN_BY_DESCRIPTION,
                    &handle);
  }
  if (status != FT_OK) return FromD2xx(status);
  for (Connection* c : live_)
    if (c != nullptr && c->Handle() == handle) c->Supersede();
  connection = std::make_unique<Connection>(*this, handle);
  return {};
}

}  // namespace zelto
