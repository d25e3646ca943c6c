// SPDX-License-Identifier: MIT
// The Duroz740's six parameters, in the one order used by messages, the radar logic and the
// window, and the identification values that tell a Duroz740 and its firmware apart.
#pragma once

#include <cstdint>

namespace zelto {

constexpr int kParamCount = 6;

constexpr std::int32_t kDuroz740Id = 257;  // 0x0101
constexpr std::int32_t kHeightFirmware = 0x0200;

enum ParamList : int {
  kSensitivity = 0,
  kRelayTime = 1,
  kReactionSpeed = 2,
  kMainsFilter = 3,
  kHighTrafficMode = 4,
  kHeight = 5,
};

}  // namespace zelto
