// SPDX-License-Identifier: MIT
// A stand-in for the vendor's D2XX library, built as libftd2xx.so (ftd2xx.dll on Windows) so
// that the tests load it through the dynamic loader exactly as the program loads the real
// one. It exports the driver calls with the vendor's argument shapes and calling convention
// and a few standin_* calls that script it.
//
// With ZELTO_STANDIN_CALLS=FILE in the environment every driver call is appended to FILE, one
// line each, in the order made: its name, its arguments as the library reads them (handles
// as the device's number, buffers as the bytes they carry) and its status, so that a run's
// calls can be compared with another's.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

// The byte stream behind the stand-in's adapter, when a test puts a device there: what the
// host writes goes to `on_write`; `on_poll` runs before every call that looks at the receive
// queue, to queue (standin_queue_rx) what the device has answered by then.
struct Wire {
  void (*on_write)(void* context, const unsigned char* bytes, std::uint32_t count) = nullptr;
  void (*on_poll)(void* context) = nullptr;
  void* context = nullptr;
};
Wire wire;

void PollWire() {
  if (wire.on_poll != nullptr) wire.on_poll(wire.context);
}

// The call log named by ZELTO_STANDIN_CALLS, opened by the first call after it was set.
std::FILE* CallLog() {
  static std::FILE* log = nullptr;
  static std::string log_name;
  const char* name = std::getenv("ZELTO_STANDIN_CALLS");
  if (name == nullptr || *name == '\0') return nullptr;
  if (log == nullptr || log_name != name) {
    if (log != nullptr) std::fclose(log);
    log = std::fopen(name, "ab");
    log_name = name;
  }
  return log;
}

std::string HandleName(void* handle) {
  for (std::size_t i = 0; i < world.devices.size(); ++i)
    if (&world.devices[i] == handle) return "device" + std::to_string(i);
  return handle == nullptr ? "null" : "unknown";
}

std::string Hex(const void* data, std::uint32_t count) {
  std::string out;
  char two[4];
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::snprintf(two, sizeof two, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += two;
  }
  return out;
}

// One line of the call log: "FT_Purge(device0, 3) = 0", with what the call handed back
// after " -> ".
Status Logged(const char* call, const std::string& arguments, Status status,
              const std::string& returned = {}) {
  if (std::FILE* log = CallLog()) {
    std::fprintf(log, "%s(%s) = %u", call, arguments.c_str(), static_cast<unsigned>(status));
    if (status == kOk && !returned.empty()) std::fprintf(log, " -> %s", returned.c_str());
    std::fprintf(log, "\n");
    std::fflush(log);
  }
  return status;
}

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
  wire = Wire{};
}
STANDIN_EXPORT void standin_wire(void (*on_write)(void*, const unsigned char*, std::uint32_t),
                                 void (*on_poll)(void*), void* context) {
  wire = Wire{on_write, on_poll, context};
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

static Status Do_ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
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

static Status Do_OpenEx(void* arg, std::uint32_t flags, void** handle) {
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

static Status Do_Close(void* handle) {
  if (Status s = Enter("FT_Close"); s != kOk) return s;
  Device* d = FromHandle(handle);
  if (d == nullptr) return kInvalidHandle;
  d->open = false;
  return kOk;
}

static Status Do_ResetDevice(void* handle) {
  if (Status s = Enter("FT_ResetDevice"); s != kOk) return s;
  return FromHandle(handle) != nullptr ? kOk : kInvalidHandle;
}

static Status Do_Purge(void* handle, std::uint32_t mask) {
  if (Status s = Enter("FT_Purge"); s != kOk) return s;
  if (FromHandle(handle) == nullptr) return kInvalidHandle;
  world.last_purge = mask;
  if (mask & 1) world.rx.clear();
  return kOk;
}

static Status Do_Write(void* handle, void* buffer, std::uint32_t n,
                               std::uint32_t* written) {
  if (Status s = Enter("FT_Write"); s != kOk) return s;
  if (FromHandle(handle) == nullptr) return kInvalidHandle;
  const std::uint32_t take = std::min(n, world.write_limit);
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  world.written.insert(world.written.end(), bytes, bytes + take);
  *written = take;
  if (wire.on_write != nullptr) wire.on_write(wire.context, bytes, take);
  return kOk;
}

static Status Do_GetQueueStatus(void* handle, std::uint32_t* rx_bytes) {
  if (Status s = Enter("FT_GetQueueStatus"); s != kOk) return s;
  if (FromHandle(handle) == nullptr) return kInvalidHandle;
  *rx_bytes = static_cast<std::uint32_t>(world.rx.size());
  return kOk;
}

static Status Do_SetTimeouts(void* handle, std::uint32_t read_ms, std::uint32_t write_ms) {
  if (Status s = Enter("FT_SetTimeouts"); s != kOk) return s;
  if (FromHandle(handle) == nullptr) return kInvalidHandle;
  world.read_timeout = read_ms;
  world.write_timeout = write_ms;
  return kOk;
}

static Status Do_Read(void* handle, void* buffer, std::uint32_t n,
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
static Status Do_SetBaudRate(void* handle, std::uint32_t baud) {
  if (Status s = Enter("FT_SetBaudRate"); s != kOk) return s;
  if (FromHandle(handle) == nullptr) return kInvalidHandle;
  world.baud = baud;
  return kOk;
}

static Status Do_SetDataCharacteristics(void* handle, unsigned char bits,
                                                unsigned char stop, unsigned char parity) {
  if (Status s = Enter("FT_SetDataCharacteristics"); s != kOk) return s;
  if (FromHandle(handle) == nullptr) return kInvalidHandle;
  world.bits = bits;
  world.stop = stop;
  world.parity = parity;
  return kOk;
}

static Status Do_SetLatencyTimer(void* handle, unsigned char ms) {
  if (Status s = Enter("FT_SetLatencyTimer"); s != kOk) return s;
  if (FromHandle(handle) == nullptr || ms < 1) return kInvalidHandle;
  return kOk;
}
#endif

// Not one of the calls the link makes: `zeltoctl doctor` shows it. A made-up release number
// of our own, which no vendor library has.
constexpr std::uint32_t kStandinVersion = 0x00000917;
static Status Do_GetLibraryVersion(std::uint32_t* version) {
  if (Status s = Enter("FT_GetLibraryVersion"); s != kOk) return s;
  *version = kStandinVersion;
  return kOk;
}

// --- the exported calls: each one made, then logged ---------------------------------------

namespace {

std::string Flags(std::uint32_t flags) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(flags));
  return text;
}

// A text in quotes, for the call log. (Built by append: the mingw GCC 12 at -O3 takes a
// literal + a temporary string for an overlapping memcpy.)
std::string Quoted(const char* text) {
  return std::string(1, '"').append(text).append(1, '"');
}

std::string Number(std::uint32_t n) {
  return std::to_string(n);
}

}  // namespace

STANDIN_EXPORT Status FT_CALL FT_ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
  const bool by_index = (flags & kListByIndex) != 0;
  const std::string index =
      by_index ? std::string("index ").append(std::to_string(reinterpret_cast<std::uintptr_t>(arg1)))
               : std::string("count");
  const Status s = Do_ListDevices(arg1, arg2, flags);
  std::string returned;
  if (s == kOk)
    returned = by_index ? Quoted(static_cast<const char*>(arg2))
                        : Number(*static_cast<std::uint32_t*>(arg1));
  return Logged("FT_ListDevices", index + ", " + Flags(flags), s, returned);
}

STANDIN_EXPORT Status FT_CALL FT_OpenEx(void* arg, std::uint32_t flags, void** handle) {
  const std::string wanted = flags == kOpenByDescription
                                 ? Quoted(static_cast<const char*>(arg))
                                 : std::to_string(reinterpret_cast<std::uintptr_t>(arg));
  const Status s = Do_OpenEx(arg, flags, handle);
  return Logged("FT_OpenEx", wanted + ", " + Number(flags), s,
                s == kOk ? HandleName(*handle) : std::string());
}

STANDIN_EXPORT Status FT_CALL FT_Close(void* handle) {
  return Logged("FT_Close", HandleName(handle), Do_Close(handle));
}

STANDIN_EXPORT Status FT_CALL FT_ResetDevice(void* handle) {
  return Logged("FT_ResetDevice", HandleName(handle), Do_ResetDevice(handle));
}

STANDIN_EXPORT Status FT_CALL FT_Purge(void* handle, std::uint32_t mask) {
  PollWire();
  return Logged("FT_Purge", HandleName(handle) + ", " + Number(mask), Do_Purge(handle, mask));
}

STANDIN_EXPORT Status FT_CALL FT_Write(void* handle, void* buffer, std::uint32_t n,
                                       std::uint32_t* written) {
  const std::string arguments = HandleName(handle) + ", [" + Hex(buffer, n) + "], " + Number(n);
  const Status s = Do_Write(handle, buffer, n, written);
  return Logged("FT_Write", arguments, s, s == kOk ? Number(*written) : std::string());
}

STANDIN_EXPORT Status FT_CALL FT_GetQueueStatus(void* handle, std::uint32_t* rx_bytes) {
  PollWire();
  const Status s = Do_GetQueueStatus(handle, rx_bytes);
  return Logged("FT_GetQueueStatus", HandleName(handle), s,
                s == kOk ? Number(*rx_bytes) : std::string());
}

STANDIN_EXPORT Status FT_CALL FT_SetTimeouts(void* handle, std::uint32_t read_ms,
                                             std::uint32_t write_ms) {
  return Logged("FT_SetTimeouts",
                HandleName(handle) + ", " + Number(read_ms) + ", " + Number(write_ms),
                Do_SetTimeouts(handle, read_ms, write_ms));
}

STANDIN_EXPORT Status FT_CALL FT_Read(void* handle, void* buffer, std::uint32_t n,
                                      std::uint32_t* returned) {
  PollWire();
  const Status s = Do_Read(handle, buffer, n, returned);
  return Logged("FT_Read", HandleName(handle) + ", " + Number(n), s,
                s == kOk ? std::string("[").append(Hex(buffer, *returned)).append("]")
                         : std::string());
}

#ifndef STANDIN_WITHOUT_LINE_SETTINGS
STANDIN_EXPORT Status FT_CALL FT_SetBaudRate(void* handle, std::uint32_t baud) {
  return Logged("FT_SetBaudRate", HandleName(handle) + ", " + Number(baud),
                Do_SetBaudRate(handle, baud));
}

STANDIN_EXPORT Status FT_CALL FT_SetDataCharacteristics(void* handle, unsigned char bits,
                                                        unsigned char stop, unsigned char parity) {
  return Logged("FT_SetDataCharacteristics",
                HandleName(handle) + ", " + Number(bits) + ", " + Number(stop) + ", " +
                    Number(parity),
                Do_SetDataCharacteristics(handle, bits, stop, parity));
}

STANDIN_EXPORT Status FT_CALL FT_SetLatencyTimer(void* handle, unsigned char ms) {
  return Logged("FT_SetLatencyTimer", HandleName(handle) + ", " + Number(ms),
                Do_SetLatencyTimer(handle, ms));
}
#endif

STANDIN_EXPORT Status FT_CALL FT_GetLibraryVersion(std::uint32_t* version) {
  const Status s = Do_GetLibraryVersion(version);
  return Logged("FT_GetLibraryVersion", "", s, s == kOk ? Number(*version) : std::string());
}
