// SPDX-License-Identifier: MIT
// UsbLink: the byte pipe to the ZeltoProg programmer through the adapter port. It owns the
// connection to the programmer while one is open.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/ports/adapter_port.h"

namespace zelto {

// Result of every link operation.
enum LinkResult : int {
  kLinkOk = 1,
  kLinkDriverFailure = 2,  // a driver status other than Ok, or a short write
  kLinkNoProgrammer = 3,   // Open only
  kLinkManyProgrammers = 4,  // Open only
};

constexpr int kStagingBufferSize = 5000;
// The adapter's latency timer once a link is open, in milliseconds: a reply of a few bytes
// is passed on almost at once instead of after up to 16 ms.
constexpr std::uint8_t kShortLatencyMs = 2;

class UsbLink {
 public:
  explicit UsbLink(AdapterPort& driver);
  ~UsbLink();
  UsbLink(const UsbLink&) = delete;
  UsbLink& operator=(const UsbLink&) = delete;

  LinkResult Open();
  LinkResult Close();
  LinkResult Reset();
  LinkResult Write(const std::uint8_t* data, int length);
  // Moves what the driver holds into the free part of the ring [0, size); r is the read
  // position, w the write position (updated).
  LinkResult Read(std::uint8_t* ring, int r, int& w, int size);

  // With a serial number selected, only the programmer that carries it counts, and it is
  // opened by that serial number, so one of several adapters can be used. Empty: any.
  void SelectSerial(std::string serial) { serial_ = std::move(serial); }
  const std::string& SelectedSerial() const { return serial_; }
  // With a location selected (and no serial), only the programmer at that USB location
  // counts and it is opened there: two programmers with the same serial number, or none,
  // are told apart by where they are plugged in.
  void SelectLocation(std::optional<std::uint32_t> location) { location_ = location; }
  // The driver's status from the last listing or opening Open made (Ok after a successful
  // open): tells a busy adapter from a missing driver.
  AdapterStatus LastOpenStatus() const { return last_open_status_; }
  // Whether the last open set the adapter's latency timer short (a driver without the call
  // leaves the chip's 16 ms, which adds up to that much to every reply).
  bool ShortLatency() const { return short_latency_; }
  bool IsOpen() const { return open_; }
  // Set by every successful open, cleared by whoever reads the sensor again over the new
  // connection. In radar mode the link is reopened only after it failed, perhaps because the
  // programmer was unplugged and the sensor lost its power.
  bool Reopened() const { return reopened_; }
  void ClearReopened() { reopened_ = false; }

 private:
  void RememberUnclosed(AdapterConnection* connection);
  void ForgetUnclosed(AdapterConnection* connection);
  void CloseUnclosed();
  // Destroys the connections that are neither the last opened nor waiting to be closed.
  void DropUnused();

  bool open_ = false;
  bool reopened_ = false;
  AdapterPort& driver_;
  std::array<std::uint8_t, kStagingBufferSize> staging_{};
  // The programmers that match, from the listing before each open (kept for its storage: the
  // reopen runs inside the receive poll).
  std::vector<AdapterInfo> matches_;
  // The connection opened last. It stays after a close, which may be asked again: a driver
  // that failed a close may not have done anything.
  AdapterConnection* current_ = nullptr;
  // Connections that were open and whose close failed. The driver may still hold the
  // programmer open through one of them, and then no open by description succeeds; each is
  // closed again before every open until a close succeeds. A few slots suffice: one is added
  // per failed close of an open link.
  std::array<AdapterConnection*, 4> unclosed_{};
  // Owns current_ and the unclosed ones.
  std::array<std::unique_ptr<AdapterConnection>, 5> owned_;
  std::string serial_;
  std::optional<std::uint32_t> location_;
  AdapterStatus last_open_status_;
  bool short_latency_ = false;
};

}  // namespace zelto
