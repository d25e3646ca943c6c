// SPDX-License-Identifier: MIT
// The one listing of the adapters through the adapter port, numbered in the driver's order,
// and which of them are ZeltoProg programmers. zeltoctl lists, picks and counts with it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/ports/adapter_port.h"

namespace zelto {

inline constexpr char kProgrammerDescription[] = "ZeltoProg";

constexpr bool IsProgrammer(std::string_view description) {
  return description == kProgrammerDescription;
}

struct ListedAdapter : AdapterInfo {
  std::uint32_t index = 0;
  bool Programmer() const { return has_description && IsProgrammer(description); }
};

struct AdapterListing {
  AdapterStatus status;  // of the listing; when not Ok, nothing is listed
  std::vector<ListedAdapter> adapters;
  int Programmers() const;
  // The first programmer, or the one with that serial number; null when there is none.
  const ListedAdapter* FindProgrammer(std::string_view serial) const;
};

// Every adapter with its description, serial number and location.
AdapterListing ListAdapters(AdapterPort& driver);

}  // namespace zelto
