// SPDX-License-Identifier: MIT
#include "cli/record_store.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>

#include "cli/platform.h"

namespace zelto::cli {

std::string NewRecordId() {
  // random_device reads the system's source (getrandom, /dev/urandom, the CPU's generator);
  // a fresh one per id, so that ids made in two processes at the same moment differ.
  std::random_device source;
  std::string id;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof(part), "%08x", static_cast<unsigned>(source()));
    id += part;
  }
  return id;
}

std::string DefaultRecordStorePath() {
  const std::filesystem::path folder = UserDataFolder();
  return folder.empty() ? std::string() : PathToUtf8(folder / "records.sqlite");
}

bool IsPostgresLocation(const std::string& location) {
  return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

nlohmann::json StoredParams(const std::optional<RadarParams>& params) {
  if (!params) return nullptr;
  return nlohmann::json(params->wire);
}

std::optional<RadarParams> ParamsFromStored(const nlohmann::json& j) {
  if (!j.is_array() || j.size() != kParamCount) return std::nullopt;
  RadarParams p;
  for (std::size_t i = 0; i < kParamCount; ++i)
    if (const std::optional<std::uint8_t> wire = WireFromStored(j[i])) p.wire[i] = *wire;
  return p;
}

nlohmann::json StoredWire(const std::optional<std::uint8_t>& wire) {
  return wire ? nlohmann::json(*wire) : nlohmann::json(nullptr);
}

std::optional<std::uint8_t> WireFromStored(const nlohmann::json& j) {
  if (j.is_number_unsigned() && j.get<unsigned>() <= 255) return j.get<std::uint8_t>();
  return std::nullopt;
}

}  // namespace zelto::cli
