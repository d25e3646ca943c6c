// SPDX-License-Identifier: MIT
// A virtual USB bus behind the adapter port: any number of ZeltoProg adapters, each with a
// programmer that answers identification and relays frames to the device plugged into it.
// Time comes from the clock passed in; every call into the bus first catches up with it, so
// replies arrive when their time has come, with no timers and no threads.
//
// Faults are injected by name and counted per kind, so a long run can report what it
// survived.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/ports/adapter_port.h"
#include "core/ports/timer_port.h"
#include "sim/device.h"
#include "sim/wire_frame.h"

namespace zelto::sim {

class Duroz740;
class UsbBus;

// The port's calls, for failure injection and call counts: listing and opening, then a
// connection's.
enum class Call : int {
  kList,
  kOpen,
  kReset,
  kPurge,
  kWrite,
  kQueue,
  kSetTimeouts,
  kRead,
  kClose,
};
constexpr int kCallKinds = 9;
const char* CallName(Call call);

enum class Fault : int {
  kCallFailure,         // a call returned an injected error
  kShortWrite,          // a write took fewer bytes than asked
  kDescriptionFailure,  // an adapter was listed without its description
  kSecondAdapter,       // an adapter was plugged while another of its description was
  kUnplug,
  kReplug,
  kNoise,               // a burst of noise went into a receive stream
  kBadChecksum,         // a reply went out with a wrong checksum
  kSplitRead,           // a read returned less than asked and queued
  kMergedReply,         // a reply was held back to arrive together with later ones
  kSilence,             // a request went unanswered because the device was silent
  kOtherDevice,         // an identification named a device that is not a Duroz740
};
constexpr int kFaultKinds = 12;
const char* FaultName(Fault fault);

// For the `times` of an injected failure: until cleared.
constexpr int kUntilCleared = -1;

// A frame the programmer received from the host.
struct HostFrame {
  std::int64_t at_ms = 0;
  DecodedFrame frame;
};

class Adapter final : private ReplySink {
 public:
  Adapter(const Adapter&) = delete;
  Adapter& operator=(const Adapter&) = delete;
  ~Adapter();

  const std::string& Description() const { return description_; }
  const std::string& Serial() const { return serial_; }
  std::uint32_t Location() const { return location_; }
  bool Plugged() const { return plugged_; }
  bool IsOpen() const { return open_handle_ != 0; }

  // The device plugged into the adapter's socket; the adapter owns it.
  template <class D, class... Args>
  D& Attach(Args&&... args) {
    auto device = std::make_unique<D>(std::forward<Args>(args)...);
    D& ref = *device;
    Attach(std::move(device));
    return ref;
  }
  void Attach(std::unique_ptr<Device> device);
  // Pulls the device out (nothing answers any more) and hands it over, e.g. to attach it
  // again later with its state intact.
  std::unique_ptr<Device> Detach();
  Device* AttachedDevice() const { return device_.get(); }
  // The attached device when it is a Duroz740, else null.
  Duroz740* Sensor() const;

  // Called with each frame's code as the programmer receives it from the host, before the
  // device sees it: a test or a feeder can make the device fall silent or pull the adapter
  // at a given step. Setting the device silent here leaves this frame unanswered.
  void SetOnHostFrame(std::function<void(std::uint8_t code)> hook) { on_host_frame_ = std::move(hook); }

  // With link timing on, a frame takes its wire time at 9600 baud each way, and the chip
  // holds what it received until its latency timer runs out (16 ms after plugging in; the
  // driver may set it shorter): the figures a real adapter shows. Off: replies arrive at
  // once, as the tests of the logic want them.
  void SetLinkTiming(bool on) { link_timing_ = on; }
  int LatencyTimerMs() const { return latency_ms_; }
  static constexpr int kDefaultLatencyMs = 16;

  // Time from an identification request to the programmer's answer.
  void SetIdentifyDelayMs(int ms) { identify_delay_ms_ = ms < 0 ? 0 : ms; }

  // Faults of this adapter.
  // Another program holds the adapter open: opening it fails as in use.
  void SetHeldElsewhere(bool held) { held_elsewhere_ = held; }
  // The adapter's strings cannot be read (typically for lack of permission): it is listed
  // with neither description, serial number nor location.
  void FailDescription(bool fail) { fail_description_ = fail; }
  // Puts bytes into the receive stream now, behind what has already arrived. Lost, and not
  // counted, when the adapter is not open.
  void InsertNoise(const std::uint8_t* bytes, std::size_t count);
  void InsertRandomNoise(std::size_t count);
  // The next `count` replies carry a wrong checksum.
  void CorruptNextReplies(int count = 1) { corrupt_replies_ = count; }
  // A read returns at most max_bytes (0: no limit), so replies come apart across reads.
  void LimitReadSize(std::uint32_t max_bytes) { read_limit_ = max_bytes; }
  // Replies reach the driver only at multiples of window_ms (0: at once), so the ones due
  // within one window come in together.
  void MergeReplies(int window_ms) { merge_window_ms_ = window_ms < 0 ? 0 : window_ms; }

  // Observation, as of the last call into the bus or UsbBus::Update().
  const std::vector<HostFrame>& HostFrames() const { return host_frames_; }
  const std::vector<std::uint8_t>& RawWritten() const { return raw_written_; }
  // Host frames dropped for a wrong checksum or a broken layout.
  std::uint64_t RejectedHostFrames() const { return rejected_host_frames_; }
  void ClearLog();
  std::size_t QueuedBytes() const { return rx_.size(); }
  std::size_t PendingReplies() const { return pending_.size(); }
  // Bytes lost because the driver's receive buffer was full.
  std::uint64_t OverflowBytes() const { return overflow_bytes_; }
  bool TimeoutsSet() const { return timeouts_set_; }
  std::uint32_t ReadTimeoutMs() const { return read_timeout_ms_; }
  std::uint32_t WriteTimeoutMs() const { return write_timeout_ms_; }
  std::uint64_t Opens() const { return opens_; }
  std::uint64_t Resets() const { return resets_; }

 private:
  friend class UsbBus;
  Adapter(UsbBus& bus, std::string description, std::string serial, std::uint32_t seed);

  struct Pending {
    std::int64_t at_ms;
    WireFrame wire;
  };

  void Update(std::int64_t now_ms);
  void HostBytes(std::int64_t now_ms, const std::uint8_t* bytes, std::size_t count);
  void OnHostFrame(std::int64_t now_ms, const DecodedFrame& frame);
  void Send(std::int64_t at_ms, std::uint8_t code, const std::uint8_t* payload,
            std::size_t count) override;
  void Receive(const std::uint8_t* bytes, std::size_t count);
  void DropStreams();

  UsbBus& bus_;
  std::string description_;
  std::string serial_;
  std::uint32_t location_ = 0;
  bool held_elsewhere_ = false;
  bool plugged_ = false;
  std::uint64_t open_handle_ = 0;
  std::unique_ptr<Device> device_;
  int identify_delay_ms_ = 20;
  bool link_timing_ = false;
  int latency_ms_ = kDefaultLatencyMs;
  std::function<void(std::uint8_t)> on_host_frame_;

  FrameDecoder decoder_;
  std::deque<Pending> pending_;   // replies on their way, by arrival time
  std::deque<std::uint8_t> rx_;   // what the driver has received and not yet handed out

  bool fail_description_ = false;
  int corrupt_replies_ = 0;
  std::uint32_t read_limit_ = 0;
  int merge_window_ms_ = 0;
  std::mt19937 rng_;

  std::vector<HostFrame> host_frames_;
  std::vector<std::uint8_t> raw_written_;
  std::uint64_t rejected_host_frames_ = 0;
  std::uint64_t overflow_bytes_ = 0;
  bool timeouts_set_ = false;
  std::uint32_t read_timeout_ms_ = 0;
  std::uint32_t write_timeout_ms_ = 0;
  std::uint64_t opens_ = 0;
  std::uint64_t resets_ = 0;
};

class UsbBus : public AdapterPort {
 public:
  explicit UsbBus(const Clock& clock);
  ~UsbBus() override;
  UsbBus(const UsbBus&) = delete;
  UsbBus& operator=(const UsbBus&) = delete;

  // Plugs in a new adapter; the reference stays valid as long as the bus. Without a serial
  // number the adapter gets one of its own ("ZP100000", "ZP100001", ...).
  Adapter& Plug(std::string description = "ZeltoProg", std::string serial = {});
  // The adapter disappears from the bus: its connection dies, whatever was on its way is
  // lost. Its device stays in its socket for a replug.
  void Unplug(Adapter& adapter);
  void Replug(Adapter& adapter);
  // Every adapter ever plugged, in plugging order, plugged or not.
  std::size_t AdapterCount() const { return adapters_.size(); }
  Adapter& adapter(std::size_t index) { return *adapters_.at(index); }

  // The next `times` calls of this kind fail with `status` and do nothing else.
  void FailCall(Call call, int times = 1, AdapterStatus status = adapter_status::kIoError);
  void ClearCallFailure(Call call);
  void ClearCallFailures();
  // The next `times` writes report and pass on `missing` bytes fewer than asked.
  void ShortWrite(std::uint32_t missing = 1, int times = 1);

  std::uint64_t FaultCount(Fault fault) const { return faults_[static_cast<int>(fault)]; }
  std::uint64_t CallCount(Call call) const { return calls_[static_cast<int>(call)]; }
  std::uint64_t FailedCallCount(Call call) const { return failed_calls_[static_cast<int>(call)]; }

  // Catches every adapter up with the clock, as each call does first.
  void Update();

  // Plugged adapters in plugging order; descriptions and serial numbers of at most 64
  // characters, as a driver hands them out.
  AdapterStatus List(std::vector<AdapterInfo>& adapters,
                     const AdapterFilter* filter = nullptr) override;
  // The first plugged adapter with that name or location that is not open already.
  AdapterStatus Open(AdapterKey key, std::string_view text, std::uint32_t location,
                     std::unique_ptr<AdapterConnection>& connection) override;

  std::uint64_t LatencyTimerCalls() const { return latency_calls_; }
  // Off: the driver lacks the latency timer call (not supported), as an older library
  // does, and every chip keeps its 16 ms.
  void SetLatencyTimerSupported(bool on) { latency_supported_ = on; }
  // Link timing for every adapter, those plugged later too.
  void SetLinkTiming(bool on);

 private:
  friend class Adapter;
  class Connection;

  struct OpenHandle {
    std::uint64_t value;
    Adapter* adapter;
    bool alive;  // false once the adapter was unplugged under it
  };
  struct Injection {
    int remaining = 0;  // kUntilCleared or a count
    AdapterStatus status = adapter_status::kIoError;
  };

  // Counts the call, catches up with the clock and applies an injected failure; true when
  // the call must fail with `status`.
  bool Begin(Call call, AdapterStatus& status);
  // Begin, then the adapter behind an open connection, or why there is none.
  AdapterStatus BeginOnHandle(Call call, std::uint64_t handle, Adapter*& adapter);
  AdapterStatus Resolve(std::uint64_t handle, Adapter*& adapter);
  // The connection's calls.
  AdapterStatus Reset(std::uint64_t handle);
  AdapterStatus Purge(std::uint64_t handle);
  AdapterStatus Write(std::uint64_t handle, const std::uint8_t* data, std::uint32_t count,
                      std::uint32_t& written);
  AdapterStatus Queue(std::uint64_t handle, std::uint32_t& waiting);
  AdapterStatus SetTimeouts(std::uint64_t handle, std::uint32_t read_ms, std::uint32_t write_ms);
  AdapterStatus Read(std::uint64_t handle, std::uint8_t* data, std::uint32_t count,
                     std::uint32_t& got);
  AdapterStatus SetLatencyTimer(std::uint64_t handle, std::uint8_t ms);
  AdapterStatus Close(std::uint64_t handle);
  void Count(Fault fault) { ++faults_[static_cast<int>(fault)]; }

  const Clock& clock_;
  std::vector<std::unique_ptr<Adapter>> adapters_;
  std::vector<OpenHandle> handles_;
  std::uint64_t next_handle_ = 0x7E10;

  std::array<Injection, kCallKinds> injections_{};
  std::uint32_t short_write_missing_ = 1;
  int short_writes_ = 0;

  std::array<std::uint64_t, kFaultKinds> faults_{};
  std::array<std::uint64_t, kCallKinds> calls_{};
  std::array<std::uint64_t, kCallKinds> failed_calls_{};
  std::uint64_t latency_calls_ = 0;
  bool latency_supported_ = true;
  bool link_timing_ = false;
};

}  // namespace zelto::sim
