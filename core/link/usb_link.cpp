// SPDX-License-Identifier: MIT
#include "core/link/usb_link.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace zelto {

LinkResult UsbLink::Open() {
  if (state_.LinkOpen) return kLinkOk;

  std::uint32_t count = 0;
  last_open_status_ = CountAdapters(driver_, count);
  if (last_open_status_ != FT_OK) return kLinkDriverFailure;

  int matches = 0;
  // One byte more than the driver may use, so that a driver that fills the whole buffer
  // without a terminator still leaves us a bounded string.
  char text[kDescriptionBufferSize + 1];
  for (std::uint32_t index = 0; index < count; ++index) {
    std::string_view description;
    // An unreadable device neither counts nor stops the scan.
    if (!ReadAdapterDescription(driver_, index, text, description)) continue;
    if (IsProgrammer(description) && SerialMatches(index) && LocationMatches(index)) ++matches;
  }
  if (matches == 0) return kLinkNoProgrammer;
  if (matches > 1) return kLinkManyProgrammers;

  CloseUnclosed();
  char wanted[] = "ZeltoProg";
  FT_HANDLE handle = nullptr;
  if (location_ && serial_.empty())
    // The location travels in the pointer itself, as the vendor's call takes it.
    last_open_status_ = driver_.OpenEx(reinterpret_cast<void*>(static_cast<std::uintptr_t>(*location_)),
                                       FT_OPEN_BY_LOCATION, &handle);
  else if (serial_.empty())
    last_open_status_ = driver_.OpenEx(wanted, FT_OPEN_BY_DESCRIPTION, &handle);
  else
    last_open_status_ = driver_.OpenEx(serial_.data(), FT_OPEN_BY_SERIAL_NUMBER, &handle);
  if (last_open_status_ != FT_OK) return kLinkDriverFailure;
  // A value the driver hands out again no longer names an old, unclosed handle.
  ForgetUnclosed(handle);
  state_.DeviceHandle = handle;
  Reset();  // a failed reset leaves a usable link
  // Optional: a driver without it leaves the chip's default.
  short_latency_ = driver_.SetLatencyTimer(handle, kShortLatencyMs) == FT_OK;
  state_.LinkOpen = true;
  state_.LinkReopened = true;
  return kLinkOk;
}

bool UsbLink::SerialMatches(std::uint32_t index) {
  if (serial_.empty()) return true;
  char serial[kDescriptionBufferSize + 1];
  return ReadAdapterSerial(driver_, index, serial) && serial_ == serial;
}

bool UsbLink::LocationMatches(std::uint32_t index) {
  if (!location_) return true;
  std::uint32_t location = 0;
  return ReadAdapterLocation(driver_, index, location) && location == *location_;
}

LinkResult UsbLink::Close() {
  const bool was_open = state_.LinkOpen;
  state_.LinkOpen = false;
  const FT_STATUS status = driver_.Close(state_.DeviceHandle);
  if (status == FT_OK)
    ForgetUnclosed(state_.DeviceHandle);
  else if (was_open)
    RememberUnclosed(state_.DeviceHandle);  // whatever the driver says, it may still be open
  return status == FT_OK ? kLinkOk : kLinkDriverFailure;
}

void UsbLink::RememberUnclosed(FT_HANDLE handle) {
  for (FT_HANDLE h : unclosed_)
    if (h == handle) return;
  for (FT_HANDLE& h : unclosed_)
    if (h == nullptr) {
      h = handle;
      return;
    }
  // All slots taken: the first is given up.
  std::move(unclosed_.begin() + 1, unclosed_.end(), unclosed_.begin());
  unclosed_.back() = handle;
}

void UsbLink::ForgetUnclosed(FT_HANDLE handle) {
  for (FT_HANDLE& h : unclosed_)
    if (h == handle) h = nullptr;
}

void UsbLink::CloseUnclosed() {
  for (FT_HANDLE& h : unclosed_) {
    if (h == nullptr) continue;
    // Kept until a close succeeds: a driver that fails a call may not have done anything.
    if (driver_.Close(h) == FT_OK) h = nullptr;
  }
}

LinkResult UsbLink::Reset() {
  return driver_.ResetDevice(state_.DeviceHandle) == FT_OK ? kLinkOk : kLinkDriverFailure;
}

LinkResult UsbLink::Write(const std::uint8_t* data, int length) {
  if (driver_.Purge(state_.DeviceHandle, FT_PURGE_RX | FT_PURGE_TX) != FT_OK)
    return kLinkDriverFailure;
  std::uint32_t written = 0;
  // The length is sign-extended to 32 bits, as the driver sees it.
  const auto count = static_cast<std::uint32_t>(static_cast<std::int32_t>(length));
  if (driver_.Write(state_.DeviceHandle, const_cast<std::uint8_t*>(data), count, &written) != FT_OK)
    return kLinkDriverFailure;
  return written == count ? kLinkOk : kLinkDriverFailure;
}

LinkResult UsbLink::Read(std::uint8_t* ring, int r, int& w, int size) {
  std::uint32_t waiting = 0;
  if (driver_.GetQueueStatus(state_.DeviceHandle, &waiting) != FT_OK) return kLinkDriverFailure;
  if (driver_.SetTimeouts(state_.DeviceHandle, 5000, 0) != FT_OK) return kLinkDriverFailure;
  if (waiting == 0) return kLinkOk;

  std::uint32_t request = waiting > kStagingBufferSize ? kStagingBufferSize : waiting;
  const int free_space = r > w ? r - w - 1 : size - (w - r) - 1;
  if (free_space < 0) return kLinkOk;  // positions outside the ring: take nothing
  if (request > static_cast<std::uint32_t>(free_space))
    request = static_cast<std::uint32_t>(free_space);

  std::uint32_t got = 0;
  if (driver_.Read(state_.DeviceHandle, staging_.data(), request, &got) != FT_OK)
    return kLinkDriverFailure;
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
