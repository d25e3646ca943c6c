// SPDX-License-Identifier: MIT
#include "cli/session.h"

#include <algorithm>

#include "core/link/adapter_list.h"
#include "core/protocol/programmer_messages.h"
#include "core/protocol/radar_decoder.h"

namespace zelto::cli {

std::string OutcomeText(Outcome outcome) {
  switch (outcome) {
    case Outcome::kOk:
      return "ok";
    case Outcome::kNoProgrammer:
      return "no programmer found";
    case Outcome::kManyProgrammers:
      return "more than one programmer found (pick one with --adapter SERIAL; see zeltoctl list)";
    case Outcome::kDriverFailure:
      return "USB driver failure";
    case Outcome::kAdapterInUse:
      return "adapter in use: another program (a running zeltosoft?) holds the programmer open";
    case Outcome::kLinkLost:
      return "the programmer was unplugged or stopped working";
    case Outcome::kNoAnswer:
      return "no device answering";
    case Outcome::kNotDuroz740:
      return "the attached device is not a Duroz740";
    case Outcome::kBadReply:
      return "the sensor reported values outside their ranges";
    case Outcome::kInterrupted:
      return "interrupted";
  }
  return "?";
}

Session::Session(AdapterPort& driver, EventLoop& loop, SessionOptions options)
    : driver_(driver),
      loop_(loop),
      options_(std::move(options)),
      link_(driver),
      channel_(link_),
      poll_timer_(loop.CreateTimer()) {
  if (options_.tries < 1) options_.tries = 1;
  if (options_.poll_ms < 1) options_.poll_ms = 1;
  poll_timer_->SetInterval(options_.poll_ms);
  poll_timer_->SetOnTick([this] { Poll(); });
}

Session::~Session() {
  Close();
}

void Session::NoteAdapter() {
  const AdapterListing listing = ListAdapters(driver_);
  const ListedAdapter* programmer = nullptr;
  if (options_.adapter_location && options_.adapter_serial.empty()) {
    for (const ListedAdapter& a : listing.adapters)
      if (a.Programmer() && a.has_location && a.location == *options_.adapter_location)
        programmer = &a;
  } else {
    programmer = listing.FindProgrammer(options_.adapter_serial);
  }
  if (programmer == nullptr) return;
  adapter_description_ = programmer->description;
  adapter_serial_ = programmer->serial;
  adapter_location_ = programmer->location;
}

Outcome Session::Open() {
  if (opened_) return link_lost_ ? Outcome::kLinkLost : Outcome::kOk;
  link_.SelectSerial(options_.adapter_serial);
  link_.SelectLocation(options_.adapter_serial.empty() ? options_.adapter_location : std::nullopt);
  // Listed before opening: some drivers cannot read the strings of an adapter held open.
  NoteAdapter();
  switch (link_.Open()) {
    case kLinkOk:
      break;
    case kLinkNoProgrammer:
      return Outcome::kNoProgrammer;
    case kLinkManyProgrammers:
      return Outcome::kManyProgrammers;
    default:
      return link_.LastOpenStatus().result == AdapterResult::kInUse ? Outcome::kAdapterInUse
                                                            : Outcome::kDriverFailure;
  }
  opened_ = true;
  poll_timer_->SetEnabled(true);
  return Outcome::kOk;
}

void Session::Poll() {
  if (!opened_) return;
  // The receive poll would reopen a closed link by itself; here a closed link means the
  // programmer went away under the command, and that ends it.
  if (!link_lost_ && !link_.IsOpen()) link_lost_ = true;
  if (!link_lost_) {
    channel_.PollReceive(*this);
    if (!link_.IsOpen()) link_lost_ = true;
  }
  CheckPending();
}

bool Session::Start(Pending request) {
  if (pending_.active) return false;
  request.active = true;
  pending_ = std::move(request);
  if (!opened_) {
    FinishPending(Outcome::kNoProgrammer);
    return true;
  }
  SendPending();
  return true;
}

void Session::SendPending() {
  if (link_lost_ || !link_.IsOpen()) {
    link_lost_ = true;
    FinishPending(Outcome::kLinkLost);
    return;
  }
  --pending_.tries_left;
  pending_.deadline_ms = loop_.NowMs() + pending_.timeout_ms;
  channel_.SendMessage(pending_.code, pending_.count > 0 ? pending_.payload.data() : nullptr,
                   pending_.count);
  if (!link_.IsOpen()) {
    link_lost_ = true;
    FinishPending(Outcome::kLinkLost);
  }
}

void Session::CheckPending() {
  if (!pending_.active) return;
  if (link_lost_) {
    FinishPending(Outcome::kLinkLost);
  } else if (pending_.answered()) {
    FinishPending(pending_.result ? pending_.result() : Outcome::kOk);
  } else if (loop_.NowMs() >= pending_.deadline_ms) {
    if (pending_.tries_left > 0)
      SendPending();
    else
      FinishPending(Outcome::kNoAnswer);
  }
}

void Session::FinishPending(Outcome outcome) {
  // Cleared before the call: `done` may well start the next request.
  Done done = std::move(pending_.done);
  pending_ = Pending{};
  if (done) done(outcome);
}

bool Session::StartIdentify(int timeout_ms, int tries, Done done) {
  if (pending_.active) return false;
  identified_ = false;
  identity_.Forget();
  Pending p;
  p.code = IdentificationRequest;
  p.answered = [this] { return identified_; };
  p.result = [this] {
    return identity_.IsDuroz740() ? Outcome::kOk : Outcome::kNotDuroz740;
  };
  p.tries_left = std::max(1, tries);
  p.timeout_ms = timeout_ms;
  p.done = std::move(done);
  return Start(std::move(p));
}

bool Session::StartReadParams(Done done) {
  if (pending_.active) return false;
  params_received_ = false;
  Pending p;
  p.code = ReadParamsRequest;
  p.answered = [this] { return params_received_; };
  p.result = [this] { return last_reply_.AllValid() ? Outcome::kOk : Outcome::kBadReply; };
  p.tries_left = options_.tries;
  p.timeout_ms = options_.reply_timeout_ms;
  p.done = std::move(done);
  return Start(std::move(p));
}

bool Session::StartWriteParams(const RadarParams& params, Done done) {
  if (pending_.active) return false;
  write_acked_ = false;
  Pending p;
  p.code = WriteParamsRequest;
  p.count = EncodeParamsWrite(params, HasHeight(), p.payload);
  p.answered = [this] { return write_acked_; };
  p.tries_left = options_.tries;
  p.timeout_ms = options_.reply_timeout_ms;
  p.done = std::move(done);
  return Start(std::move(p));
}

void Session::HandleFrame(const FrameBytes& frame, int length) {
  const RadarMessage m = DecodeRadarFrame(frame, length, HasHeight());
  switch (m.kind) {
    case RadarMessageKind::kIdentification:
      StoreIdentity(identity_, m.identity);
      identified_ = true;
      break;
    case RadarMessageKind::kParameters:
      last_reply_ = m.params;
      params_received_ = true;
      break;
    case RadarMessageKind::kWriteAck:
      write_acked_ = true;
      break;
    case RadarMessageKind::kReportModeAck:
      mode_acked_ = true;
      break;
    case RadarMessageKind::kSignal:
      if (m.signal.is_reading && on_signal_)
        on_signal_(SignalSample{loop_.NowMs(), m.signal.level, m.signal.detected});
      break;
    case RadarMessageKind::kNone:
      break;
  }
}

Outcome Session::Exchange(std::uint8_t code, const std::uint8_t* payload, int count,
                          const std::function<bool()>& answered, int tries, int timeout_ms,
                          bool interruptible) {
  if (!opened_) return Outcome::kNoProgrammer;
  for (int attempt = 0; attempt < tries; ++attempt) {
    if (link_lost_ || !link_.IsOpen()) {
      link_lost_ = true;
      return Outcome::kLinkLost;
    }
    channel_.SendMessage(code, payload, count);
    if (!link_.IsOpen()) {
      link_lost_ = true;
      return Outcome::kLinkLost;
    }
    const Wait w =
        loop_.RunUntil([&] { return answered() || link_lost_; }, timeout_ms, interruptible);
    if (link_lost_) return Outcome::kLinkLost;
    if (w == Wait::kDone) return Outcome::kOk;
    if (w == Wait::kInterrupted) return Outcome::kInterrupted;
  }
  return Outcome::kNoAnswer;
}

Outcome Session::IdentifyOnce(int timeout_ms) {
  identified_ = false;
  identity_.Forget();
  const Outcome o = Exchange(
      IdentificationRequest, nullptr, 0, [this] { return identified_; }, 1, timeout_ms);
  if (o != Outcome::kOk) return o;
  return identity_.IsDuroz740() ? Outcome::kOk : Outcome::kNotDuroz740;
}

Outcome Session::Identify() {
  Outcome o = Outcome::kNoAnswer;
  for (int attempt = 0; attempt < options_.tries; ++attempt) {
    o = IdentifyOnce(options_.reply_timeout_ms);
    if (o != Outcome::kNoAnswer) break;
  }
  return o;
}

Outcome Session::ReadParams(ParamsDecode& reply) {
  params_received_ = false;
  const Outcome o = Exchange(
      ReadParamsRequest, nullptr, 0, [this] { return params_received_; }, options_.tries,
      options_.reply_timeout_ms);
  if (o != Outcome::kOk) return o;
  reply = last_reply_;
  return reply.AllValid() ? Outcome::kOk : Outcome::kBadReply;
}

Outcome Session::WriteParams(const RadarParams& params) {
  std::array<std::uint8_t, kParamCount> payload{};
  const int count = EncodeParamsWrite(params, HasHeight(), payload);
  write_acked_ = false;
  return Exchange(
      WriteParamsRequest, payload.data(), count,
      [this] { return write_acked_; }, options_.tries, options_.reply_timeout_ms);
}

Outcome Session::SetReportMode(std::uint8_t mode) {
  return SendReportMode(mode, options_.tries, options_.reply_timeout_ms);
}

Outcome Session::SendReportMode(std::uint8_t mode, int tries, int timeout_ms) {
  // Counted as on before the request goes out: a lost acknowledgement must not leave the
  // sensor streaming after we are gone.
  if (mode != 0) report_mode_on_ = true;
  mode_acked_ = false;
  const Outcome o = Exchange(
      ReportModeRequest, &mode, 1, [this] { return mode_acked_; }, tries, timeout_ms, mode != 0);
  if (mode == 0 && o == Outcome::kOk) report_mode_on_ = false;
  return o;
}

void Session::Close() {
  pending_ = Pending{};
  if (!opened_) return;
  // A sensor gone silent gets one request with a short wait: the command ends within
  // seconds, and a sensor that was only slow is still told to stop.
  if (report_mode_on_ && !link_lost_) {
    if (sensor_gone_)
      SendReportMode(0, 1, std::min(options_.reply_timeout_ms, 1000));
    else
      SetReportMode(0);
  }
  report_mode_on_ = false;
  poll_timer_->SetEnabled(false);
  // An unplug has closed the handle already; a second close would hand the driver a handle
  // it may have given to someone else.
  if (link_.IsOpen()) link_.Close();
  opened_ = false;
}

}  // namespace zelto::cli
