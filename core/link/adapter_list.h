// SPDX-License-Identifier: MIT
// The one listing of the adapters through the driver port: how many devices the driver
// sees, each one's description, serial number and location, and which of them are
// ZeltoProg programmers. The link counts programmers with it before every open (without
// allocating: it runs inside the receive poll); zeltoctl lists, picks and counts with it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/ports/d2xx_port.h"

namespace zelto {

inline constexpr char kProgrammerDescription[] = "ZeltoProg";
constexpr int kDescriptionBufferSize = 100;

// How many devices the driver sees (FT_LIST_NUMBER_ONLY).
FT_STATUS CountAdapters(D2xxPort& driver, std::uint32_t& count);

// The description of the device at `index` as the driver lists it, read into `text` (at
// least kDescriptionBufferSize + 1 bytes); false when the driver cannot read it. The driver
// leaves "<text>\0" in a buffer it may fill to the end without a terminator: `description`
// is bounded either way.
bool ReadAdapterDescription(D2xxPort& driver, std::uint32_t index, char* text,
                            std::string_view& description);
// The serial number of the device at `index`, in `text` (kDescriptionBufferSize + 1 bytes,
// terminated); false when the driver cannot read it.
bool ReadAdapterSerial(D2xxPort& driver, std::uint32_t index, char* text);
bool ReadAdapterLocation(D2xxPort& driver, std::uint32_t index, std::uint32_t& location);

constexpr bool IsProgrammer(std::string_view description) {
  return description == kProgrammerDescription;
}

struct ListedAdapter {
  std::uint32_t index = 0;
  bool has_description = false, has_serial = false, has_location = false;
  std::string description, serial;
  std::uint32_t location = 0;
  bool Programmer() const { return has_description && IsProgrammer(description); }
};

struct AdapterListing {
  FT_STATUS status = FT_OK;  // of the count; when not FT_OK, nothing is listed
  std::vector<ListedAdapter> adapters;
  int Programmers() const;
  // The first programmer, or the one with that serial number; null when there is none.
  const ListedAdapter* FindProgrammer(std::string_view serial) const;
};

// Every device with its description, serial number and location.
AdapterListing ListAdapters(D2xxPort& driver);

}  // namespace zelto
