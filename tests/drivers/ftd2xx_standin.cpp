// SPDX-License-Identifier: MIT
// A stand-in for the vendor's D2XX library, built as libftd2xx.so (ftd2xx.dll on Windows) so
// that the tests load it through the dynamic loader exactly as the program loads the real
// one. It exports the driver calls with the vendor's argument shapes and calling convention
// and a few standin_* calls that script it.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#if defined(_WIN32)
#define STANDIN_EXPORT extern "C" __declspec(dllexport)
#define FT_CALL __stdcall
#else
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#define FT_CALL
#endif

namespace {

using Status = std::uint32_t;
constexpr Status kOk = 0;
constexpr Status kInvalidHandle = 1;
constexpr Status kDeviceNotFound = 2;
constexpr Status kInvalidParameter = 6;
constexpr std::uint32_t kListNumberOnly = 0x80000000u;
constexpr std::uint32_t kListByIndex = 0x40000000u;
constexpr std::uint32_t kOpenByDescription = 2;

struct Device {
  std::string description;
  bool open = false;
};

struct World {
  std::vector<Device> devices;
  std::map<std::string, Status> failing;          // call name -> status it answers
  std::map<std::uint32_t, Status> failing_index;  // description query per index
  std::map<std::string, std::uint32_t> calls;
  std::deque<unsigned char> rx;
  std::vector<unsigned char> written;
  std::uint32_t write_limit = UINT32_MAX;
  std::uint32_t last_purge = 0;
  std::uint32_t read_timeout = 0, write_timeout = 0;
  std::uint32_t baud = 0;
  unsigned char bits = 0, stop = 0xff, parity = 0xff;
};
World world;

// Counts the call and answers its scripted failure, if any.
Status Enter(const char* call) {
  ++world.calls[call];
  auto it = world.failing.find(call);
  return it == world.failing.end() ? kOk : it->second;
}

Device* FromHandle(void* handle) {
  for (Device& d : world.devices)
    if (&d == handle && d.open) return &d;
  return nullptr;
}

}  // namespace

// --- scripting ------------------------------------------------------------------------

STANDIN_EXPORT void standin_reset() {
  world = World{};
}
STANDIN_EXPORT void standin_add_device(const char* description) {
  world.devices.push_back({description, false});
}
STANDIN_EXPORT void standin_fail(const char* call, std::uint32_t status) {
  world.failing[call] = status;
}
STANDIN_EXPORT void standin_fail_description(std::uint32_t index, std::uint32_t status) {
  world.failing_index[index] = status;
}
STANDIN_EXPORT void standin_queue_rx(const unsigned char* data, std::uint32_t n) {
  world.rx.insert(world.rx.end(), data, data + n);
}
STANDIN_EXPORT void standin_limit_write(std::uint32_t max_bytes) {
  world.write_limit = max_bytes;
}
STANDIN_EXPORT std::uint32_t standin_written(unsigned char* out, std::uint32_t max) {
  const std::uint32_t n =
      std::min<std::uint32_t>(max, static_cast<std::uint32_t>(world.written.size()));
  std::memcpy(out, world.written.data(), n);
  return n;
}
STANDIN_EXPORT std::uint32_t standin_calls(const char* call) {
  return world.calls[call];
}
STANDIN_EXPORT std::uint32_t standin_open_devices() {
  std::uint32_t n = 0;
  for (const Device& d : world.devices) n += d.open ? 1 : 0;
  return n;
}
// Last purge mask, timeouts and line settings, packed for the test to check.
STANDIN_EXPORT void standin_settings(std::uint32_t* purge, std::uint32_t* read_timeout,
                                     std::uint32_t* write_timeout, std::uint32_t* baud,
                                     std::uint32_t* bits, std::uint32_t* stop,
                                     std::uint32_t* parity) {
  *purge = world.last_purge;
  *read_timeout = world.read_timeout;
  *write_timeout = world.write_timeout;
  *baud = world.baud;
  *bits = world.bits;
  *stop = world.stop;
  *parity = world.parity;
}

// --- the driver calls -------------------------------------------------------------------

STANDIN_EXPORT Status FT_CALL FT_ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
  if (Status s = Enter("FT_ListDevices"); s != kOk) return s;
  if (flags == kListNumberOnly) {
    *static_cast<std::uint32_t*>(arg1) = static_cast<std::uint32_t>(world.devices.size());
    return kOk;
  }
  if (flags == (kListByIndex | kOpenByDescription)) {
    // The index is the pointer's value; a caller passing its address lands out of range.
    const auto index = reinterpret_cast<std::uintptr_t>(arg1);
    if (index >= world.devices.size()) return kDeviceNotFound;
    if (auto it = world.failing_index.find(static_cast<std::uint32_t>(index));
        it != world.failing_index.end())
      return it->second;
    std::strcpy(static_cast<char*>(arg2), world.devices[index].description.c_str());
    return kOk;
  }
  return kInvalidParameter;
}

STANDIN_EXPORT Status FT_CALL FT_OpenEx(void* arg, std::uint32_t flags, void** handle) {
  if (Status s = Enter("FT_OpenEx"); s != kOk) return s;
  if (flags != kOpenByDescription) return kInvalidParameter;
  for (Device& d : world.devices) {
    if (d.description == static_cast<const char*>(arg) && !d.open) {
      d.open = true;
      *handle = &d;
      return kOk;
    }
  }
  return kDeviceNotFound;
}

STANDIN_EXPORT Status FT_CALL FT_Close(void* handle) {
  if (Status s = Enter("FT_Close"); s != kOk) return s;
  Device* d = FromHandle(handle);
  if (d == nullptr) return kInvalidHandle;
  d->open = false;
  return kOk;
}

STANDIN_EXPORT Status FT_CALL FT_ResetDevice(void* handle) {
  if (Status s = Enter("FT_ResetDevice"); s != kOk) return s;
  return FromHandle(handle) != nullptr ? kOk : kInvalidHandle;
}

STANDIN_EXPORT Status FT_CALL FT_Purge(void* handle, std::uint32_t mask) {
  if (Status s = Enter("FT_Purge"); s != kOk) return s;
  if (FromHandle(handle) == nullptr) return kInvalidHandle;
  world.last_purge = mask;
  if (mask & 1) world.rx.clear();
  return kOk;
}

STANDIN_EXPORT Status FT_CALL FT_Write(void* handle, void* buffer, std::uint32_t n,
                               std::uint32_t* written) {
  if (Status s = Enter("FT_Write"); s != kOk) return s;
  if (FromHandle(handle) == nullptr) return kInvalidHandle;
  const std::uint32_t take = std::min(n, world.write_limit);
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  world.written.insert(world.written.end(), bytes, bytes + take);
  *written = take;
  return kOk;
}

STANDIN_EXPORT Status FT_CALL FT_GetQueueStatus(void* handle, std::uint32_t* rx_bytes) {
  if (Status s = Enter("FT_GetQueueStatus"); s != kOk) return s;
  if (FromHandle(handle) == nullptr) return kInvalidHandle;
  *rx_bytes = static_cast<std::uint32_t>(world.rx.size());
  return kOk;
}

STANDIN_EXPORT Status FT_CALL FT_SetTimeouts(void* handle, std::uint32_t read_ms, std::uint32_t write_ms) {
  if (Status s = Enter("FT_SetTimeouts"); s != kOk) return s;
  if (FromHandle(handle) == nullptr) return kInvalidHandle;
  world.read_timeout = read_ms;
  world.write_timeout = write_ms;
  return kOk;
}

STANDIN_EXPORT Status FT_CALL FT_Read(void* handle, void* buffer, std::uint32_t n,
                              std::uint32_t* returned) {
  if (Status s = Enter("FT_Read"); s != kOk) return s;
  if (FromHandle(handle) == nullptr) return kInvalidHandle;
  auto* out = static_cast<unsigned char*>(buffer);
  std::uint32_t got = 0;
  while (got < n && !world.rx.empty()) {
    out[got++] = world.rx.front();
    world.rx.pop_front();
  }
  *returned = got;
  return kOk;
}

#ifndef STANDIN_WITHOUT_LINE_SETTINGS
STANDIN_EXPORT Status FT_CALL FT_SetBaudRate(void* handle, std::uint32_t baud) {
  if (Status s = Enter("FT_SetBaudRate"); s != kOk) return s;
  if (FromHandle(handle) == nullptr) return kInvalidHandle;
  world.baud = baud;
  return kOk;
}

STANDIN_EXPORT Status FT_CALL FT_SetDataCharacteristics(void* handle, unsigned char bits,
                                                unsigned char stop, unsigned char parity) {
  if (Status s = Enter("FT_SetDataCharacteristics"); s != kOk) return s;
  if (FromHandle(handle) == nullptr) return kInvalidHandle;
  world.bits = bits;
  world.stop = stop;
  world.parity = parity;
  return kOk;
}

STANDIN_EXPORT Status FT_CALL FT_SetLatencyTimer(void* handle, unsigned char ms) {
  if (Status s = Enter("FT_SetLatencyTimer"); s != kOk) return s;
  if (FromHandle(handle) == nullptr || ms < 1) return kInvalidHandle;
  return kOk;
}
#endif

// Not one of the calls the link makes: `zeltoctl doctor` shows it. A made-up release number
// of our own, which no vendor library has.
constexpr std::uint32_t kStandinVersion = 0x00000917;
STANDIN_EXPORT Status FT_CALL FT_GetLibraryVersion(std::uint32_t* version) {
  if (Status s = Enter("FT_GetLibraryVersion"); s != kOk) return s;
  *version = kStandinVersion;
  return kOk;
}
