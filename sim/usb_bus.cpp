// SPDX-License-Identifier: MIT
#include "sim/usb_bus.h"

#include <algorithm>
#include <cstring>

#include "sim/duroz740.h"

namespace zelto::sim {

namespace {

// A driver keeps this much of what the device sends while nobody reads; the rest is lost.
constexpr std::size_t kRxCapacity = 65536;
// Descriptions and serial numbers are listed with at most this many characters.
constexpr std::size_t kMaxDescription = 64;
// Logs are cut back by half when they reach this, so a long run stays bounded: a demo left
// running for days keeps the last few minutes of host frames (about 400 KB) and bytes, which
// is all any reader of the log looks at.
constexpr std::size_t kMaxLoggedFrames = 4096;
constexpr std::size_t kMaxLoggedBytes = 1 << 20;

// Makes room for `incoming` more entries without the log passing `limit`.
template <class T>
void KeepBounded(std::vector<T>& log, std::size_t limit, std::size_t incoming = 1) {
  if (log.size() + incoming <= limit) return;
  const std::size_t keep = std::min(log.size(), incoming >= limit / 2 ? 0 : limit / 2);
  log.erase(log.begin(), log.end() - static_cast<std::ptrdiff_t>(keep));
}

}  // namespace

const char* CallName(Call call) {
  static constexpr const char* kNames[kCallKinds] = {
      "List", "Open", "Reset", "Purge", "Write", "Queue", "SetTimeouts", "Read", "Close"};
  const int i = static_cast<int>(call);
  return i >= 0 && i < kCallKinds ? kNames[i] : "?";
}

const char* FaultName(Fault fault) {
  static constexpr const char* kNames[kFaultKinds] = {
      "call failure", "short write", "description failure", "second adapter",
      "unplug", "replug", "noise", "bad checksum", "split read", "merged reply",
      "silence", "other device"};
  const int i = static_cast<int>(fault);
  return i >= 0 && i < kFaultKinds ? kNames[i] : "?";
}

// ---------------------------------------------------------------------------------------
// Adapter: the programmer and the driver's queues for one USB device.

Adapter::Adapter(UsbBus& bus, std::string description, std::string serial,
                 std::uint32_t seed)
    : bus_(bus), description_(std::move(description)), serial_(std::move(serial)), rng_(seed) {
  host_frames_.reserve(256);
  raw_written_.reserve(4096);
}

Adapter::~Adapter() = default;

void Adapter::Attach(std::unique_ptr<Device> device) { device_ = std::move(device); }

std::unique_ptr<Device> Adapter::Detach() { return std::move(device_); }

Duroz740* Adapter::Sensor() const { return dynamic_cast<Duroz740*>(device_.get()); }

void Adapter::InsertNoise(const std::uint8_t* bytes, std::size_t count) {
  bus_.Update();
  if (!IsOpen() || bytes == nullptr || count == 0) return;
  Receive(bytes, count);
  bus_.Count(Fault::kNoise);
}

void Adapter::InsertRandomNoise(std::size_t count) {
  std::array<std::uint8_t, 64> chunk{};
  bus_.Update();
  if (!IsOpen() || count == 0) return;
  for (std::size_t done = 0; done < count;) {
    const std::size_t n = std::min(chunk.size(), count - done);
    for (std::size_t i = 0; i < n; ++i) chunk[i] = static_cast<std::uint8_t>(rng_());
    Receive(chunk.data(), n);
    done += n;
  }
  bus_.Count(Fault::kNoise);
}

void Adapter::ClearLog() {
  host_frames_.clear();
  raw_written_.clear();
  rejected_host_frames_ = 0;
}

void Adapter::Update(std::int64_t now_ms) {
  if (device_ != nullptr) device_->Advance(now_ms, *this);
  while (!pending_.empty() && pending_.front().at_ms <= now_ms) {
    // A driver that is not open is not listening: what arrives then is lost.
    if (IsOpen()) Receive(pending_.front().wire.bytes.data(), pending_.front().wire.size);
    pending_.pop_front();
  }
}

void Adapter::Receive(const std::uint8_t* bytes, std::size_t count) {
  const std::size_t room = kRxCapacity - std::min(kRxCapacity, rx_.size());
  const std::size_t n = std::min(room, count);
  rx_.insert(rx_.end(), bytes, bytes + n);
  overflow_bytes_ += count - n;
}

void Adapter::DropStreams() {
  pending_.clear();
  rx_.clear();
  decoder_.Reset();
}

namespace {
// Milliseconds `bytes` take on the wire at 9600 baud, 10 bits a byte, rounded up.
std::int64_t WireMs(std::size_t bytes) {
  return (static_cast<std::int64_t>(bytes) * 10 * 1000 + 9599) / 9600;
}
}  // namespace

void Adapter::HostBytes(std::int64_t now_ms, const std::uint8_t* bytes, std::size_t count) {
  KeepBounded(raw_written_, kMaxLoggedBytes, count);
  raw_written_.insert(raw_written_.end(), bytes, bytes + count);
  for (std::size_t i = 0; i < count; ++i) {
    switch (decoder_.Feed(bytes[i])) {
      case FrameDecoder::Result::kFrame:
        OnHostFrame(link_timing_ ? now_ms + WireMs(i + 1) : now_ms, decoder_.frame());
        break;
      case FrameDecoder::Result::kBadChecksum:
      case FrameDecoder::Result::kMalformed:
        ++rejected_host_frames_;
        break;
      case FrameDecoder::Result::kNone:
        break;
    }
  }
}

void Adapter::OnHostFrame(std::int64_t now_ms, const DecodedFrame& frame) {
  KeepBounded(host_frames_, kMaxLoggedFrames);
  host_frames_.push_back(HostFrame{now_ms, frame});
  if (on_host_frame_) on_host_frame_(frame.code);
  if (device_ == nullptr) return;
  if (device_->Silent()) {
    bus_.Count(Fault::kSilence);
    return;
  }
  if (frame.code != kIdentificationRequest) {
    device_->OnMessage(now_ms, frame, *this);
    return;
  }
  // The programmer answers identification itself, from what the device told it.
  const DeviceIdentity& id = device_->Identity();
  std::array<std::uint8_t, 16> reply{};
  reply[0] = static_cast<std::uint8_t>(id.id >> 8);
  reply[1] = static_cast<std::uint8_t>(id.id & 0xFF);
  std::memcpy(&reply[2], id.serial.data(), id.serial.size());
  reply[12] = static_cast<std::uint8_t>(id.hw >> 8);
  reply[13] = static_cast<std::uint8_t>(id.hw & 0xFF);
  reply[14] = static_cast<std::uint8_t>(id.fw >> 8);
  reply[15] = static_cast<std::uint8_t>(id.fw & 0xFF);
  if (id.id != Duroz740::kId) bus_.Count(Fault::kOtherDevice);
  Send(now_ms + identify_delay_ms_, kIdentificationReply, reply.data(), reply.size());
}

void Adapter::Send(std::int64_t at_ms, std::uint8_t code, const std::uint8_t* payload,
                   std::size_t count) {
  if (!plugged_) return;
  Pending p{at_ms, {}};
  std::uint16_t checksum = BodySum(code, payload, count);
  if (corrupt_replies_ > 0) {
    --corrupt_replies_;
    ++checksum;
    bus_.Count(Fault::kBadChecksum);
  }
  if (!EncodeFrame(code, payload, count, checksum, p.wire)) return;
  if (link_timing_) {
    // Over the wire, then held in the chip until its latency timer runs out.
    const std::int64_t arrived = at_ms + WireMs(p.wire.size);
    const std::int64_t l = latency_ms_;
    p.at_ms = (arrived + l - 1) / l * l;
  }
  if (merge_window_ms_ > 0) {
    const std::int64_t w = merge_window_ms_;
    const std::int64_t held = (at_ms + w - 1) / w * w;
    if (held != at_ms) bus_.Count(Fault::kMergedReply);
    p.at_ms = held;
  }
  // Keep arrival order; equal times keep the order they were sent in.
  auto pos = std::upper_bound(pending_.begin(), pending_.end(), p.at_ms,
                              [](std::int64_t t, const Pending& q) { return t < q.at_ms; });
  pending_.insert(pos, p);
}

// ---------------------------------------------------------------------------------------
// UsbBus: the driver calls.

UsbBus::UsbBus(const Clock& clock) : clock_(clock) {}

UsbBus::~UsbBus() = default;

Adapter& UsbBus::Plug(std::string description, std::string serial) {
  Update();
  const std::size_t n = adapters_.size();
  if (serial.empty()) serial = "ZP" + std::to_string(100000 + n);
  adapters_.push_back(std::unique_ptr<Adapter>(
      new Adapter(*this, std::move(description), std::move(serial),
                  static_cast<std::uint32_t>(0x2E51u + n))));
  Adapter& a = *adapters_.back();
  a.plugged_ = true;
  a.link_timing_ = link_timing_;
  // Port numbers on a hub behind bus 1, as the vendor library numbers locations.
  a.location_ = 0x0111 + static_cast<std::uint32_t>(n);
  for (const auto& other : adapters_)
    if (other.get() != &a && other->plugged_ && other->description_ == a.description_) {
      Count(Fault::kSecondAdapter);
      break;
    }
  return a;
}

void UsbBus::Unplug(Adapter& adapter) {
  Update();
  if (!adapter.plugged_) return;
  adapter.plugged_ = false;
  for (OpenHandle& h : handles_)
    if (h.adapter == &adapter) h.alive = false;
  adapter.open_handle_ = 0;
  adapter.DropStreams();
  Count(Fault::kUnplug);
}

void UsbBus::Replug(Adapter& adapter) {
  Update();
  if (adapter.plugged_) return;
  adapter.plugged_ = true;
  // Powered up again: the chip starts from its default.
  adapter.latency_ms_ = Adapter::kDefaultLatencyMs;
  Count(Fault::kReplug);
}

void UsbBus::SetLinkTiming(bool on) {
  link_timing_ = on;
  for (auto& a : adapters_) a->link_timing_ = on;
}

void UsbBus::FailCall(Call call, int times, AdapterStatus status) {
  const int i = static_cast<int>(call);
  if (i < 0 || i >= kCallKinds) return;
  injections_[i] = Injection{times, status};
}

void UsbBus::ClearCallFailure(Call call) { FailCall(call, 0); }

void UsbBus::ClearCallFailures() { injections_.fill(Injection{}); }

void UsbBus::ShortWrite(std::uint32_t missing, int times) {
  short_write_missing_ = missing;
  short_writes_ = times;
}

void UsbBus::Update() {
  const std::int64_t now = clock_.NowMs();
  for (auto& a : adapters_) a->Update(now);
}

bool UsbBus::Begin(Call call, AdapterStatus& status) {
  const int i = static_cast<int>(call);
  ++calls_[i];
  Update();
  Injection& inj = injections_[i];
  if (inj.remaining == 0) return false;
  if (inj.remaining > 0) --inj.remaining;
  ++failed_calls_[i];
  Count(Fault::kCallFailure);
  status = inj.status;
  return true;
}

AdapterStatus UsbBus::Resolve(std::uint64_t handle, Adapter*& adapter) {
  for (const OpenHandle& h : handles_) {
    if (h.value != handle) continue;
    // A connection whose device went away fails as a driver fails I/O on a vanished device.
    if (!h.alive) return adapter_status::kIoError;
    adapter = h.adapter;
    return {};
  }
  return adapter_status::kClosed;
}

AdapterStatus UsbBus::BeginOnHandle(Call call, std::uint64_t handle, Adapter*& adapter) {
  AdapterStatus status;
  if (Begin(call, status)) return status;
  return Resolve(handle, adapter);
}

// What the port hands out: a handle into the bus, which does the work.
class UsbBus::Connection final : public AdapterConnection {
 public:
  Connection(UsbBus& bus, std::uint64_t handle) : bus_(bus), handle_(handle) {}
  ~Connection() override {
    if (!close_asked_) bus_.Close(handle_);
  }
  AdapterStatus Reset() override { return bus_.Reset(handle_); }
  AdapterStatus Purge() override { return bus_.Purge(handle_); }
  AdapterStatus Write(const std::uint8_t* data, std::uint32_t count,
                      std::uint32_t& written) override {
    return bus_.Write(handle_, data, count, written);
  }
  AdapterStatus Queue(std::uint32_t& waiting) override { return bus_.Queue(handle_, waiting); }
  AdapterStatus SetTimeouts(std::uint32_t read_ms, std::uint32_t write_ms) override {
    return bus_.SetTimeouts(handle_, read_ms, write_ms);
  }
  AdapterStatus Read(std::uint8_t* data, std::uint32_t count, std::uint32_t& got) override {
    return bus_.Read(handle_, data, count, got);
  }
  AdapterStatus SetLatencyTimer(std::uint8_t ms) override {
    return bus_.SetLatencyTimer(handle_, ms);
  }
  AdapterStatus Close() override {
    close_asked_ = true;
    return bus_.Close(handle_);
  }

 private:
  UsbBus& bus_;
  const std::uint64_t handle_;
  bool close_asked_ = false;
};

AdapterStatus UsbBus::List(std::vector<AdapterInfo>& adapters, const AdapterFilter* filter) {
  adapters.clear();
  AdapterStatus status;
  if (Begin(Call::kList, status)) return status;
  for (const auto& a : adapters_) {
    if (!a->plugged_) continue;
    AdapterInfo info;
    if (a->fail_description_) {
      Count(Fault::kDescriptionFailure);
    } else {
      info.has_description = info.has_serial = info.has_location = true;
      info.description = a->description_.substr(0, kMaxDescription);
      info.serial = a->serial_.substr(0, kMaxDescription);
      info.location = a->location_;
    }
    if (filter == nullptr || filter->Matches(info)) adapters.push_back(std::move(info));
  }
  return {};
}

AdapterStatus UsbBus::Open(AdapterKey key, std::string_view text, std::uint32_t location,
                           std::unique_ptr<AdapterConnection>& connection) {
  AdapterStatus status;
  if (Begin(Call::kOpen, status)) return status;
  for (auto& a : adapters_) {
    const bool named = key == AdapterKey::kLocation      ? a->location_ == location
                       : key == AdapterKey::kDescription ? a->description_ == text
                                                         : a->serial_ == text;
    if (!a->plugged_ || a->IsOpen() || !named) continue;
    if (a->held_elsewhere_) return adapter_status::kInUse;
    const std::uint64_t value = next_handle_;
    next_handle_ += 0x10;
    handles_.push_back(OpenHandle{value, a.get(), true});
    a->open_handle_ = value;
    a->rx_.clear();
    a->decoder_.Reset();
    ++a->opens_;
    connection = std::make_unique<Connection>(*this, value);
    return {};
  }
  return adapter_status::kNotFound;
}

AdapterStatus UsbBus::Reset(std::uint64_t handle) {
  Adapter* a = nullptr;
  if (const AdapterStatus status = BeginOnHandle(Call::kReset, handle, a); !status.Ok())
    return status;
  a->rx_.clear();
  a->decoder_.Reset();
  ++a->resets_;
  return {};
}

AdapterStatus UsbBus::Purge(std::uint64_t handle) {
  Adapter* a = nullptr;
  if (const AdapterStatus status = BeginOnHandle(Call::kPurge, handle, a); !status.Ok())
    return status;
  // Writes reach the programmer at once, so there is never a transmit queue to discard.
  a->rx_.clear();
  return {};
}

AdapterStatus UsbBus::Write(std::uint64_t handle, const std::uint8_t* data, std::uint32_t count,
                            std::uint32_t& written) {
  Adapter* a = nullptr;
  if (const AdapterStatus status = BeginOnHandle(Call::kWrite, handle, a); !status.Ok())
    return status;
  if (data == nullptr && count > 0) return adapter_status::kBadArgument;
  std::uint32_t n = count;
  if (short_writes_ != 0 && n > 0) {
    if (short_writes_ > 0) --short_writes_;
    n = n > short_write_missing_ ? n - short_write_missing_ : 0;
    Count(Fault::kShortWrite);
  }
  a->HostBytes(clock_.NowMs(), data, n);
  written = n;
  return {};
}

AdapterStatus UsbBus::Queue(std::uint64_t handle, std::uint32_t& waiting) {
  Adapter* a = nullptr;
  if (const AdapterStatus status = BeginOnHandle(Call::kQueue, handle, a); !status.Ok())
    return status;
  waiting = static_cast<std::uint32_t>(a->rx_.size());
  return {};
}

AdapterStatus UsbBus::SetTimeouts(std::uint64_t handle, std::uint32_t read_ms,
                                  std::uint32_t write_ms) {
  Adapter* a = nullptr;
  if (const AdapterStatus status = BeginOnHandle(Call::kSetTimeouts, handle, a); !status.Ok())
    return status;
  a->timeouts_set_ = true;
  a->read_timeout_ms_ = read_ms;
  a->write_timeout_ms_ = write_ms;
  return {};
}

AdapterStatus UsbBus::Read(std::uint64_t handle, std::uint8_t* data, std::uint32_t count,
                           std::uint32_t& got) {
  Adapter* a = nullptr;
  if (const AdapterStatus status = BeginOnHandle(Call::kRead, handle, a); !status.Ok())
    return status;
  if (data == nullptr && count > 0) return adapter_status::kBadArgument;
  // Never waits: hands out what is there, as a read of queued bytes does.
  std::size_t n = std::min<std::size_t>(count, a->rx_.size());
  if (a->read_limit_ > 0 && n > a->read_limit_) {
    n = a->read_limit_;
    Count(Fault::kSplitRead);
  }
  std::copy_n(a->rx_.begin(), n, data);
  a->rx_.erase(a->rx_.begin(), a->rx_.begin() + static_cast<std::ptrdiff_t>(n));
  got = static_cast<std::uint32_t>(n);
  return {};
}

AdapterStatus UsbBus::SetLatencyTimer(std::uint64_t handle, std::uint8_t ms) {
  ++latency_calls_;
  if (!latency_supported_) return adapter_status::kNotSupported;
  Update();
  Adapter* a = nullptr;
  if (const AdapterStatus status = Resolve(handle, a); !status.Ok()) return status;
  if (ms < 1) return adapter_status::kBadArgument;
  a->latency_ms_ = ms;
  return {};
}

AdapterStatus UsbBus::Close(std::uint64_t handle) {
  AdapterStatus status;
  if (Begin(Call::kClose, status)) return status;
  auto it = std::find_if(handles_.begin(), handles_.end(),
                         [handle](const OpenHandle& h) { return h.value == handle; });
  if (it == handles_.end()) return adapter_status::kClosed;
  // Closing a connection whose device was unplugged still succeeds and frees it.
  if (it->alive) {
    it->adapter->open_handle_ = 0;
    it->adapter->rx_.clear();
    it->adapter->decoder_.Reset();
  }
  handles_.erase(it);
  return {};
}

}  // namespace zelto::sim
