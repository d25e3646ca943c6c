// SPDX-License-Identifier: MIT
// The adapter port: what the program needs of a USB adapter's driver, in the adapter's terms.
// It lists the adapters it sees (description, serial number, location) and opens one by
// one of those, handing back a connection that moves bytes, purges, resets, sets timeouts
// and closes. The USB link and zeltoctl's listings are written against this port only; the
// run-time loaded vendor library, libftdi1 and the simulated bench sit behind it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelto {

// What the program tells apart in a driver's answer.
enum class AdapterResult : std::uint8_t {
  kOk,
  kNotFound,      // no such adapter (any more)
  kInUse,         // it is there, but could not be opened: another program holds it
  kIoError,       // the transfer failed, e.g. the adapter was pulled
  kNotSupported,  // the driver lacks the call
  kOther,
};

struct AdapterStatus {
  AdapterResult result = AdapterResult::kOk;
  // The driver's own number for the answer, shown to the user in "USB driver failure
  // (status 4)"; 0 with kOk.
  std::uint32_t code = 0;
  bool Ok() const { return result == AdapterResult::kOk; }
  bool operator==(const AdapterStatus&) const = default;
};

// The failures a driver without numbers of its own reports, numbered as the program has always
// shown them (the vendor library's numbering), so a user's "status 4" means the same whichever
// driver is behind the port.
namespace adapter_status {
inline constexpr AdapterStatus kClosed{AdapterResult::kOther, 1};  // the connection is closed
inline constexpr AdapterStatus kNotFound{AdapterResult::kNotFound, 2};
inline constexpr AdapterStatus kInUse{AdapterResult::kInUse, 3};
inline constexpr AdapterStatus kIoError{AdapterResult::kIoError, 4};
inline constexpr AdapterStatus kNoResources{AdapterResult::kOther, 5};
inline constexpr AdapterStatus kBadArgument{AdapterResult::kOther, 6};
inline constexpr AdapterStatus kNotSupported{AdapterResult::kNotSupported, 17};
inline constexpr AdapterStatus kOther{AdapterResult::kOther, 18};
}  // namespace adapter_status

struct AdapterInfo {
  bool has_description = false, has_serial = false, has_location = false;
  std::string description, serial;  // 8-bit characters as the driver gives them
  std::uint32_t location = 0;
};

// Which adapters a listing wants. Empty fields match anything.
struct AdapterFilter {
  std::string_view description;
  std::string_view serial;
  std::optional<std::uint32_t> location;
  bool Matches(const AdapterInfo& a) const {
    return a.has_description && (description.empty() || a.description == description) &&
           (serial.empty() || (a.has_serial && a.serial == serial)) &&
           (!location || (a.has_location && a.location == *location));
  }
};

// How Open names the adapter it wants.
enum class AdapterKey : std::uint8_t { kDescription, kSerial, kLocation };

// One opened adapter. Destroying a connection that was never closed closes it.
class AdapterConnection {
 public:
  virtual ~AdapterConnection() = default;
  virtual AdapterStatus Reset() = 0;
  // Drops what was received and what waits to be sent.
  virtual AdapterStatus Purge() = 0;
  virtual AdapterStatus Write(const std::uint8_t* data, std::uint32_t count,
                              std::uint32_t& written) = 0;
  // How many received bytes wait to be read.
  virtual AdapterStatus Queue(std::uint32_t& waiting) = 0;
  virtual AdapterStatus SetTimeouts(std::uint32_t read_ms, std::uint32_t write_ms) = 0;
  virtual AdapterStatus Read(std::uint8_t* data, std::uint32_t count, std::uint32_t& got) = 0;
  // Optional: how long the adapter's chip holds received bytes before passing a short packet
  // on (16 ms by default). Without it the link works as before, only slower to hear replies.
  virtual AdapterStatus SetLatencyTimer(std::uint8_t ms) {
    (void)ms;
    return adapter_status::kNotSupported;
  }
  // May be asked again after a failure: a driver that failed a close may still hold the
  // adapter open.
  virtual AdapterStatus Close() = 0;
};

class AdapterPort {
 public:
  virtual ~AdapterPort() = default;
  // Every adapter the driver sees, in its order, into `adapters` (cleared first). With a
  // filter, only those that match it; a driver may then leave unread what the filter has
  // already decided against. An adapter whose description cannot be read matches no filter.
  // Not Ok when the driver cannot list at all; `adapters` is then empty.
  virtual AdapterStatus List(std::vector<AdapterInfo>& adapters,
                             const AdapterFilter* filter = nullptr) = 0;
  // Opens the adapter with that description or serial number (`text`) or at that location.
  // An adapter another program holds fails with kInUse.
  virtual AdapterStatus Open(AdapterKey key, std::string_view text, std::uint32_t location,
                             std::unique_ptr<AdapterConnection>& connection) = 0;
};

}  // namespace zelto
