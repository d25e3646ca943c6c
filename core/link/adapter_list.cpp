// SPDX-License-Identifier: MIT
#include "core/link/adapter_list.h"

namespace zelto {

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

AdapterListing ListAdapters(AdapterPort& driver) {
  AdapterListing listing;
  std::vector<AdapterInfo> found;
  listing.status = driver.List(found);
  if (!listing.status.Ok()) return listing;
  listing.adapters.reserve(found.size());
  for (AdapterInfo& a : found) {
    ListedAdapter listed;
    static_cast<AdapterInfo&>(listed) = std::move(a);
    listed.index = static_cast<std::uint32_t>(listing.adapters.size());
    listing.adapters.push_back(std::move(listed));
  }
  return listing;
}

}  // namespace zelto
