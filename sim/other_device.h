// SPDX-License-Identifier: MIT
// A device of another kind than the radar sensor: the programmer identifies it, and it
// ignores everything relayed to it.
#pragma once

#include <string_view>

#include "sim/device.h"

namespace zelto::sim {

class OtherDevice : public Device {
 public:
  explicit OtherDevice(std::uint16_t id = 0x0202, std::string_view serial = "OD00000001",
                       std::uint16_t hw = 0x0100, std::uint16_t fw = 0x0100)
      : Device(MakeIdentity(id, serial, hw, fw)) {}

  void OnMessage(std::int64_t, const DecodedFrame&, ReplySink&) override { ++ignored_; }
  std::uint64_t IgnoredMessages() const { return ignored_; }

 private:
  std::uint64_t ignored_ = 0;
};

}  // namespace zelto::sim
