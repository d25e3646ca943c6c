// SPDX-License-Identifier: MIT
#include "core/link/adapter_list.h"

#include <cstring>

namespace zelto {

namespace {

void* ByIndex(std::uint32_t index) {
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(index));
}

}  // namespace

FT_STATUS CountAdapters(D2xxPort& driver, std::uint32_t& count) {
  count = 0;
  char unused[1] = {0};
  return driver.ListDevices(&count, unused, FT_LIST_NUMBER_ONLY);
}

bool ReadAdapterDescription(D2xxPort& driver, std::uint32_t index, char* text,
                            std::string_view& description) {
  description = {};
  std::memset(text, ' ', kDescriptionBufferSize);
  text[kDescriptionBufferSize] = '\0';
  if (driver.ListDevices(ByIndex(index), text, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION) != FT_OK)
    return false;
  // The driver leaves "<text>\0" followed by the blanks we filled in: drop the blanks, then
  // the terminator.
  int len = kDescriptionBufferSize;
  while (len > 0 && text[len - 1] == ' ') --len;
  if (len > 0) --len;
  description = std::string_view(text, static_cast<std::size_t>(len));
  return true;
}

bool ReadAdapterSerial(D2xxPort& driver, std::uint32_t index, char* text) {
  std::memset(text, 0, kDescriptionBufferSize + 1);
  return driver.ListDevices(ByIndex(index), text, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) ==
         FT_OK;
}

bool ReadAdapterLocation(D2xxPort& driver, std::uint32_t index, std::uint32_t& location) {
  location = 0;
  if (driver.ListDevices(ByIndex(index), &location, FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION) ==
      FT_OK)
    return true;
  location = 0;
  return false;
}

int AdapterListing::Programmers() const {
  int programmers = 0;
  for (const ListedAdapter& a : adapters) programmers += a.Programmer() ? 1 : 0;
  return programmers;
}

const ListedAdapter* AdapterListing::FindProgrammer(std::string_view serial) const {
  for (const ListedAdapter& a : adapters)
    if (a.Programmer() && (serial.empty() || (a.has_serial && a.serial == serial))) return &a;
  return nullptr;
}

AdapterListing ListAdapters(D2xxPort& driver) {
  AdapterListing listing;
  std::uint32_t count = 0;
  listing.status = CountAdapters(driver, count);
  if (listing.status != FT_OK) return listing;
  char text[kDescriptionBufferSize + 1];
  for (std::uint32_t i = 0; i < count; ++i) {
    ListedAdapter a;
    a.index = i;
    std::string_view description;
    a.has_description = ReadAdapterDescription(driver, i, text, description);
    a.description = description;
    a.has_serial = ReadAdapterSerial(driver, i, text);
    if (a.has_serial) a.serial = text;
    a.has_location = ReadAdapterLocation(driver, i, a.location);
    listing.adapters.push_back(std::move(a));
  }
  return listing;
}

}  // namespace zelto
