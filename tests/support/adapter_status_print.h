// SPDX-License-Identifier: MIT
// How an adapter status shows in a failed expectation and in a parameterised test's name.
#pragma once

#include <ostream>

#include "core/ports/adapter_port.h"

namespace zelto {
inline void PrintTo(const AdapterStatus& s, std::ostream* os) {
  *os << "status " << s.code << " (kind " << static_cast<int>(s.result) << ")";
}
}  // namespace zelto
