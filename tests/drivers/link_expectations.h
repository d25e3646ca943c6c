// SPDX-License-Identifier: MIT
// What the link must do over a driver that cannot be used at all.
#pragma once

#include <gtest/gtest.h>

#include <array>

#include "core/link/usb_link.h"
#include "core/protocol/message_channel.h"

namespace zelto::testing {

// Every link operation reads as a driver failure, and none crashes.
inline void ExpectEveryLinkOperationFails(AdapterPort& driver) {
  UsbLink link(driver);
  EXPECT_EQ(link.Open(), kLinkDriverFailure);
  const std::uint8_t byte = 0;
  EXPECT_EQ(link.Write(&byte, 1), kLinkDriverFailure);
  std::array<std::uint8_t, kRingSize + 1> ring{};
  int w = 0;
  EXPECT_EQ(link.Read(ring.data(), 0, w, kRingSize), kLinkDriverFailure);
  EXPECT_EQ(link.Close(), kLinkDriverFailure);
}

}  // namespace zelto::testing
