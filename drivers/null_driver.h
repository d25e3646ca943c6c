// SPDX-License-Identifier: MIT
// The driver of last resort: used when neither the vendor library nor libftdi1 can be
// started. Listing and opening fail, so the link reports a driver failure and the main window
// says so, instead of the program refusing to start.
#pragma once

#include "core/ports/adapter_port.h"

namespace zelto {

class NullDriver : public AdapterPort {
 public:
  explicit NullDriver(AdapterStatus failure = adapter_status::kOther) : failure_(failure) {}

  AdapterStatus List(std::vector<AdapterInfo>& adapters, const AdapterFilter* = nullptr) override {
    adapters.clear();
    return failure_;
  }
  AdapterStatus Open(AdapterKey, std::string_view, std::uint32_t,
                     std::unique_ptr<AdapterConnection>&) override {
    return failure_;
  }

 private:
  AdapterStatus failure_;
};

}  // namespace zelto
