// SPDX-License-Identifier: MIT
// One conversation with the programmer and the Duroz740 behind it: open the link, identify,
// read and write the parameters, switch the report mode. Every request waits for its reply
// with a time limit and a number of tries; a link that fails in the middle ends the session
// (it is never quietly reopened), and report mode is set back to 0 when the session ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/event_loop.h"
#include "core/protocol/message_channel.h"
#include "core/protocol/radar_params.h"
#include "core/ports/param_list.h"
#include "core/protocol/sensor_identity.h"
#include "core/link/usb_link.h"

namespace zelto::cli {

struct SessionOptions {
  std::string adapter_serial;  // empty: the only ZeltoProg
  // With no serial: the programmer at this USB location (a station's slot whose programmer
  // shares its serial number with another, or has none).
  std::optional<std::uint32_t> adapter_location;
  int reply_timeout_ms = 2000;
  int tries = 3;
  int poll_ms = 10;
};

enum class Outcome {
  kOk,
  kNoProgrammer,
  kManyProgrammers,
  kDriverFailure,
  kAdapterInUse,
  kLinkLost,     // the programmer went away during the session
  kNoAnswer,     // the sensor did not answer within the tries
  kNotDuroz740,  // another kind of device answered
  kBadReply,     // a parameter reply with values outside their ranges
  kInterrupted,
};

// One line for the user, e.g. "more than one programmer found".
std::string OutcomeText(Outcome outcome);

struct SignalSample {
  std::int64_t at_ms;
  std::uint16_t level;
  bool detected;
};

class Session final : private FrameDispatch {
 public:
  Session(AdapterPort& driver, EventLoop& loop, SessionOptions options);
  // Sets report mode back to 0 if this session changed it, then closes the link.
  ~Session() override;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Outcome Open();
  // Asks who is attached; kOk only for a Duroz740 (other devices: kNotDuroz740, with the
  // identity still stored).
  Outcome Identify();
  // One identification request and a single wait, for watching the socket.
  Outcome IdentifyOnce(int timeout_ms);
  Outcome ReadParams(ParamsDecode& reply);
  Outcome WriteParams(const RadarParams& params);
  Outcome SetReportMode(std::uint8_t mode);
  // Sends mode 0 if report mode is on, waiting for the acknowledgement even when
  // interrupted; closes the link (a handle the link already closed is not closed again).
  void Close();
  // The sensor stopped answering: Close makes one short attempt to stop its reports instead
  // of the full tries.
  void GiveUpOnSensor() { sensor_gone_ = true; }

  // The same requests without waiting, for many sessions on one loop: each starts a request
  // and returns; `done` is called from the loop with the outcome once the reply came, the
  // tries ran out or the link was lost. One request at a time (false when one is pending).
  // The identification's tries each wait `timeout_ms`; the others use the session's options.
  using Done = std::function<void(Outcome)>;
  bool StartIdentify(int timeout_ms, int tries, Done done);
  // The reply is in LastParams() when done says kOk or kBadReply.
  bool StartReadParams(Done done);
  bool StartWriteParams(const RadarParams& params, Done done);
  bool Busy() const { return pending_.active; }
  // Forgets a pending request; its `done` is not called.
  void CancelPending() { pending_ = Pending{}; }
  const ParamsDecode& LastParams() const { return last_reply_; }

  // Called for each signal report while report mode is on.
  void OnSignal(std::function<void(const SignalSample&)> sink) { on_signal_ = std::move(sink); }

  // Who answered the latest identification request.
  const SensorIdentity& Identity() const { return identity_; }
  bool HasHeight() const { return zelto::HasHeight(identity_.fw_version); }
  bool LinkLost() const { return link_lost_; }
  // Whether the open link got the adapter's short latency timer.
  bool ShortLatency() const { return link_.ShortLatency(); }
  // The opened programmer's serial number, description and location, as the driver lists it.
  const std::string& AdapterSerial() const { return adapter_serial_; }
  const std::string& AdapterDescription() const { return adapter_description_; }
  std::uint32_t AdapterLocation() const { return adapter_location_; }
  EventLoop& Loop() { return loop_; }
  const SessionOptions& Options() const { return options_; }

 private:
  // Every frame is the sensor's talk (or the programmer's identification answer).
  void HandleFrame(const FrameBytes& frame, int length) override;
  void Poll();
  // Sends a request and waits for `answered`, up to `tries` times.
  Outcome Exchange(std::uint8_t code, const std::uint8_t* payload, int count,
                   const std::function<bool()>& answered, int tries, int timeout_ms,
                   bool interruptible = true);
  Outcome SendReportMode(std::uint8_t mode, int tries, int timeout_ms);
  void NoteAdapter();
  struct Pending {
    bool active = false;
    std::uint8_t code = 0;
    std::array<std::uint8_t, kParamCount> payload{};
    int count = 0;
    std::function<bool()> answered;
    std::function<Outcome()> result;  // the outcome once answered
    int tries_left = 0;
    int timeout_ms = 0;
    std::int64_t deadline_ms = 0;
    Done done;
  };
  bool Start(Pending request);
  void SendPending();
  void CheckPending();
  void FinishPending(Outcome outcome);
  Pending pending_;

  AdapterPort& driver_;
  EventLoop& loop_;
  SessionOptions options_;
  UsbLink link_;
  MessageChannel channel_;
  SensorIdentity identity_;
  std::unique_ptr<Timer> poll_timer_;
  bool opened_ = false;
  bool link_lost_ = false;
  bool identified_ = false;
  bool params_received_ = false;
  bool write_acked_ = false;
  bool mode_acked_ = false;
  bool report_mode_on_ = false;
  bool sensor_gone_ = false;
  ParamsDecode last_reply_;
  std::function<void(const SignalSample&)> on_signal_;
  std::string adapter_serial_;
  std::string adapter_description_;
  std::uint32_t adapter_location_ = 0;
};

}  // namespace zelto::cli
