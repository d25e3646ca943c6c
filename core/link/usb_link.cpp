// SPDX-License-Identifier: MIT
#include "core/link/usb_link.h"

#include <algorithm>
#include <cstdint>

#include "core/link/adapter_list.h"

namespace zelto {

UsbLink::UsbLink(AdapterPort& driver) : driver_(driver) {
  // Room for a few programmers, so that the listing in the receive poll finds it ready.
  matches_.reserve(4);
}

UsbLink::~UsbLink() = default;

LinkResult UsbLink::Open() {
  if (open_) return kLinkOk;

  AdapterFilter filter;
  filter.description = kProgrammerDescription;
  filter.serial = serial_;
  filter.location = location_;
  last_open_status_ = driver_.List(matches_, &filter);
  if (!last_open_status_.Ok()) return kLinkDriverFailure;
  if (matches_.empty()) return kLinkNoProgrammer;
  if (matches_.size() > 1) return kLinkManyProgrammers;

  CloseUnclosed();
  std::unique_ptr<AdapterConnection> opened;
  if (location_ && serial_.empty())
    last_open_status_ = driver_.Open(AdapterKey::kLocation, {}, *location_, opened);
  else if (serial_.empty())
    last_open_status_ = driver_.Open(AdapterKey::kDescription, kProgrammerDescription, 0, opened);
  else
    last_open_status_ = driver_.Open(AdapterKey::kSerial, serial_, 0, opened);
  if (!last_open_status_.Ok() || opened == nullptr) {
    if (last_open_status_.Ok()) last_open_status_ = adapter_status::kClosed;
    return kLinkDriverFailure;
  }
  current_ = nullptr;
  DropUnused();
  for (auto& slot : owned_)
    if (slot == nullptr) {
      slot = std::move(opened);
      current_ = slot.get();
      break;
    }
  Reset();  // a failed reset leaves a usable link
  // Optional: a driver without it leaves the chip's default.
  short_latency_ = current_->SetLatencyTimer(kShortLatencyMs).Ok();
  open_ = true;
  reopened_ = true;
  return kLinkOk;
}

LinkResult UsbLink::Close() {
  const bool was_open = open_;
  open_ = false;
  // Never opened: nothing to close.
  if (current_ == nullptr) return kLinkDriverFailure;
  const AdapterStatus status = current_->Close();
  if (status.Ok())
    ForgetUnclosed(current_);
  else if (was_open)
    RememberUnclosed(current_);  // whatever the driver says, it may still be open
  return status.Ok() ? kLinkOk : kLinkDriverFailure;
}

void UsbLink::RememberUnclosed(AdapterConnection* connection) {
  for (AdapterConnection* c : unclosed_)
    if (c == connection) return;
  for (AdapterConnection*& c : unclosed_)
    if (c == nullptr) {
      c = connection;
      return;
    }
  // All slots taken: the first is given up.
  std::move(unclosed_.begin() + 1, unclosed_.end(), unclosed_.begin());
  unclosed_.back() = connection;
  DropUnused();
}

void UsbLink::ForgetUnclosed(AdapterConnection* connection) {
  for (AdapterConnection*& c : unclosed_)
    if (c == connection) c = nullptr;
  DropUnused();
}

void UsbLink::CloseUnclosed() {
  for (AdapterConnection*& c : unclosed_) {
    if (c == nullptr) continue;
    // Kept until a close succeeds: a driver that fails a call may not have done anything.
    if (c->Close().Ok()) c = nullptr;
  }
  DropUnused();
}

void UsbLink::DropUnused() {
  for (auto& slot : owned_) {
    if (slot == nullptr || slot.get() == current_) continue;
    if (std::find(unclosed_.begin(), unclosed_.end(), slot.get()) == unclosed_.end()) slot.reset();
  }
}

LinkResult UsbLink::Reset() {
  if (current_ == nullptr) return kLinkDriverFailure;
  return current_->Reset().Ok() ? kLinkOk : kLinkDriverFailure;
}

LinkResult UsbLink::Write(const std::uint8_t* data, int length) {
  if (current_ == nullptr) return kLinkDriverFailure;
  if (!current_->Purge().Ok()) return kLinkDriverFailure;
  std::uint32_t written = 0;
  // The length is sign-extended to 32 bits, as the driver sees it.
  const auto count = static_cast<std::uint32_t>(static_cast<std::int32_t>(length));
  if (!current_->Write(data, count, written).Ok()) return kLinkDriverFailure;
  return written == count ? kLinkOk : kLinkDriverFailure;
}

LinkResult UsbLink::Read(std::uint8_t* ring, int r, int& w, int size) {
  if (current_ == nullptr) return kLinkDriverFailure;
  std::uint32_t waiting = 0;
  if (!current_->Queue(waiting).Ok()) return kLinkDriverFailure;
  if (!current_->SetTimeouts(5000, 0).Ok()) return kLinkDriverFailure;
  if (waiting == 0) return kLinkOk;

  std::uint32_t request = waiting > kStagingBufferSize ? kStagingBufferSize : waiting;
  const int free_space = r > w ? r - w - 1 : size - (w - r) - 1;
  if (free_space < 0) return kLinkOk;  // positions outside the ring: take nothing
  if (request > static_cast<std::uint32_t>(free_space))
    request = static_cast<std::uint32_t>(free_space);

  std::uint32_t got = 0;
  if (!current_->Read(staging_.data(), request, got).Ok()) return kLinkDriverFailure;
  // Never trust the driver's count beyond what was asked.
  if (got > request) got = request;
  int pos = w;
  for (std::uint32_t i = 0; i < got; ++i) {
    if (pos < 0 || pos >= size) pos = 0;
    ring[pos] = staging_[i];
    ++pos;
    if (pos >= size) pos = 0;
  }
  w = pos;
  return kLinkOk;
}

}  // namespace zelto
