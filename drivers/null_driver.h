// SPDX-License-Identifier: MIT
// The driver of last resort: used when neither the vendor library nor libftdi1 can be
// started. Every call fails, so the link reports a driver failure and the main window says
// so, instead of the program refusing to start.
#pragma once

#include "core/ports/d2xx_port.h"

namespace zelto {

class NullDriver : public D2xxPort {
 public:
  explicit NullDriver(FT_STATUS failure = FT_OTHER_ERROR) : failure_(failure) {}

  FT_STATUS ListDevices(void*, void*, std::uint32_t) override { return failure_; }
  FT_STATUS OpenEx(void*, std::uint32_t, FT_HANDLE*) override { return failure_; }
  FT_STATUS ResetDevice(FT_HANDLE) override { return failure_; }
  FT_STATUS Purge(FT_HANDLE, std::uint32_t) override { return failure_; }
  FT_STATUS Write(FT_HANDLE, void*, std::uint32_t, std::uint32_t*) override { return failure_; }
  FT_STATUS GetQueueStatus(FT_HANDLE, std::uint32_t*) override { return failure_; }
  FT_STATUS SetTimeouts(FT_HANDLE, std::uint32_t, std::uint32_t) override { return failure_; }
  FT_STATUS Read(FT_HANDLE, void*, std::uint32_t, std::uint32_t*) override { return failure_; }
  FT_STATUS Close(FT_HANDLE) override { return failure_; }

 private:
  FT_STATUS failure_;
};

}  // namespace zelto
