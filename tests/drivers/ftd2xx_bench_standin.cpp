// SPDX-License-Identifier: MIT
// A stand-in for the vendor's ftd2xx.dll with a whole bench behind it: the simulated bus with
// its ZeltoProg programmer and a Duroz740, the same bench `zeltoctl --sim` runs on, so that
// zeltoctl.exe can be tried under Wine through the vendor backend exactly as on a real
// machine. The bench keeps the real time: every driver call first moves its clock to the
// time since the library was loaded.
//
// Set up from the environment, with the names of zeltoctl's --sim-* options:
//   ZELTO_STANDIN_BENCH="params=7,3,2,1,1,2 refuse=sensitivity=9 fw=0x01FF serial=ZS1
//                        adapters=1 held silent-after-ms=0 swap-ms=1500"
//   ZELTO_STANDIN_TRACE=FILE  every frame the host writes, one line each: the message code
//                             and the payload in hex ("14 00" is report mode 0).
//
// As with the vendor's driver, one process at a time has the programmer open: each process
// has a bench of its own, so a named mutex, taken by a process's first open handle and given
// back with its last close (or by Windows when the process ends), stands for the device
// between processes. An open while
// another process holds it fails with FT_DEVICE_NOT_OPENED (a second program started while
// one runs).
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/sim_setup.h"
#include "drivers/d2xx_port.h"
#include "sim/virtual_clock.h"

#define STANDIN_EXPORT extern "C" __declspec(dllexport)

namespace {

using zelto::FT_HANDLE;
using zelto::FT_STATUS;

struct Bench {
  zelto::sim::VirtualClock clock;
  std::unique_ptr<zelto::cli::SimBench> bench;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::FILE* trace = nullptr;
  std::size_t traced = 0;
};

bool ParseOptions(const std::string& text, zelto::cli::SimOptions& options, std::string& error) {
  std::istringstream words(text);
  bool serials_given = false;
  for (std::string word; words >> word;) {
    const auto eq = word.find('=');
    const std::string key = word.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : word.substr(eq + 1);
    try {
      if (key == "params") {
        std::istringstream numbers(value);
        for (std::string n; std::getline(numbers, n, ',');)
          options.params.push_back(static_cast<std::uint8_t>(std::stoi(n)));
      } else if (key == "refuse") {
        options.refuse.push_back(value);
      } else if (key == "fw") {
        options.firmware = static_cast<std::uint16_t>(std::stoul(value, nullptr, 0));
      } else if (key == "serial") {
        if (!serials_given) options.serials.clear();
        serials_given = true;
        options.serials.push_back(value);
      } else if (key == "adapters") {
        options.adapters = std::stoi(value);
      } else if (key == "held") {
        options.held_elsewhere = true;
      } else if (key == "silent-after-ms") {
        options.silent_after_ms = std::stoi(value);
      } else if (key == "swap-ms") {
        options.swap_ms = std::stoi(value);
      } else {
        error = "unknown setting \"" + word + "\"";
        return false;
      }
    } catch (const std::exception&) {
      error = "bad value in \"" + word + "\"";
      return false;
    }
  }
  return true;
}

Bench* MakeBench() {
  auto* b = new Bench;  // lives as long as the process: the host may call until its end
  zelto::cli::SimOptions options;
  const char* settings = std::getenv("ZELTO_STANDIN_BENCH");
  std::string error;
  if (ParseOptions(settings != nullptr ? settings : "", options, error))
    b->bench = zelto::cli::SimBench::Create(options, b->clock, b->clock, error);
  if (!b->bench) std::fprintf(stderr, "ftd2xx stand-in: ZELTO_STANDIN_BENCH: %s\n", error.c_str());
  if (const char* trace = std::getenv("ZELTO_STANDIN_TRACE")) b->trace = std::fopen(trace, "ab");
  return b;
}

Bench& TheBench() {
  static Bench* bench = MakeBench();
  return *bench;
}

// The bus, caught up with the time that has passed; null when the settings were unusable.
zelto::sim::UsbBus* Bus() {
  Bench& b = TheBench();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - b.start);
  b.clock.AdvanceTo(elapsed.count());
  return b.bench ? &b.bench->Bus() : nullptr;
}

void TraceHostFrames() {
  Bench& b = TheBench();
  if (b.trace == nullptr || !b.bench || b.bench->Bus().AdapterCount() == 0) return;
  const auto& frames = b.bench->Bus().adapter(0).HostFrames();
  for (; b.traced < frames.size(); ++b.traced) {
    const auto& f = frames[b.traced].frame;
    std::fprintf(b.trace, "%02X", f.code);
    for (std::size_t i = 0; i < f.count; ++i) std::fprintf(b.trace, " %02X", f.payload[i]);
    std::fprintf(b.trace, "\n");
  }
  std::fflush(b.trace);
}

constexpr FT_STATUS kNoBench = zelto::FT_OTHER_ERROR;

// The programmer between processes (see the top). A mutex is let go by Windows when its
// process ends, killed or not; taken and given back on the thread that opens and closes.
HANDLE Device() {
  static HANDLE device = CreateMutexW(nullptr, FALSE, L"Local\\ZeltoStandinProgrammer");
  return device;
}
bool TakeDevice() {
  if (Device() == nullptr) return true;
  const DWORD got = WaitForSingleObject(Device(), 0);
  return got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
}
void GiveDeviceBack() {
  if (Device() != nullptr) ReleaseMutex(Device());
}
// The bus speaks in connections; the vendor's interface in handles that name them. A
// handle is never handed out twice.
std::map<std::uintptr_t, std::unique_ptr<zelto::AdapterConnection>> open_connections;
std::uintptr_t next_handle = 0x7E10;

// A call on the connection a handle names; the vendor's numbers are the port's.
template <class F>
FT_STATUS OnConnection(FT_HANDLE handle, F call) {
  if (Bus() == nullptr) return kNoBench;
  const auto it = open_connections.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == open_connections.end()) return zelto::FT_INVALID_HANDLE;
  return call(*it->second).code;
}

}  // namespace

STANDIN_EXPORT FT_STATUS __stdcall FT_ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
  auto* bus = Bus();
  if (bus == nullptr) return kNoBench;
  std::vector<zelto::AdapterInfo> adapters;
  if (const zelto::AdapterStatus s = bus->List(adapters); !s.Ok()) return s.code;
  if (flags == zelto::FT_LIST_NUMBER_ONLY) {
    if (arg1 == nullptr) return zelto::FT_INVALID_PARAMETER;
    *static_cast<std::uint32_t*>(arg1) = static_cast<std::uint32_t>(adapters.size());
    return zelto::FT_OK;
  }
  // By index: the index travels in the pointer itself.
  const auto index = reinterpret_cast<std::uintptr_t>(arg1);
  if (index >= adapters.size()) return zelto::FT_DEVICE_NOT_FOUND;
  if (arg2 == nullptr) return zelto::FT_INVALID_PARAMETER;
  const zelto::AdapterInfo& a = adapters[index];
  if (!a.has_description) return zelto::FT_IO_ERROR;
  switch (flags & ~zelto::FT_LIST_BY_INDEX) {
    case zelto::FT_OPEN_BY_LOCATION:
      *static_cast<std::uint32_t*>(arg2) = a.location;
      return zelto::FT_OK;
    case zelto::FT_OPEN_BY_DESCRIPTION:
    case zelto::FT_OPEN_BY_SERIAL_NUMBER: {
      const std::string& text =
          (flags & zelto::FT_OPEN_BY_DESCRIPTION) != 0 ? a.description : a.serial;
      std::memcpy(arg2, text.c_str(), text.size() + 1);
      return zelto::FT_OK;
    }
    default:
      return zelto::FT_INVALID_PARAMETER;
  }
}
STANDIN_EXPORT FT_STATUS __stdcall FT_OpenEx(void* arg, std::uint32_t flags, FT_HANDLE* handle) {
  auto* bus = Bus();
  if (bus == nullptr) return kNoBench;
  if (arg == nullptr || handle == nullptr) return zelto::FT_INVALID_PARAMETER;
  zelto::AdapterKey key = zelto::AdapterKey::kDescription;
  std::string text;
  std::uint32_t location = 0;
  if (flags == zelto::FT_OPEN_BY_LOCATION) {
    key = zelto::AdapterKey::kLocation;
    location = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(arg));
  } else if (flags == zelto::FT_OPEN_BY_SERIAL_NUMBER || flags == zelto::FT_OPEN_BY_DESCRIPTION) {
    if (flags == zelto::FT_OPEN_BY_SERIAL_NUMBER) key = zelto::AdapterKey::kSerial;
    text.assign(static_cast<const char*>(arg), strnlen(static_cast<const char*>(arg), 65));
  } else {
    return zelto::FT_INVALID_PARAMETER;
  }
  if (open_connections.empty() && !TakeDevice()) return zelto::FT_DEVICE_NOT_OPENED;
  std::unique_ptr<zelto::AdapterConnection> connection;
  const zelto::AdapterStatus status = bus->Open(key, text, location, connection);
  if (!status.Ok()) {
    if (open_connections.empty()) GiveDeviceBack();
    return status.code;
  }
  const std::uintptr_t value = next_handle;
  next_handle += 0x10;
  open_connections[value] = std::move(connection);
  *handle = reinterpret_cast<FT_HANDLE>(value);
  return zelto::FT_OK;
}
STANDIN_EXPORT FT_STATUS __stdcall FT_ResetDevice(FT_HANDLE handle) {
  return OnConnection(handle, [](zelto::AdapterConnection& c) { return c.Reset(); });
}
STANDIN_EXPORT FT_STATUS __stdcall FT_Purge(FT_HANDLE handle, std::uint32_t) {
  return OnConnection(handle, [](zelto::AdapterConnection& c) { return c.Purge(); });
}
STANDIN_EXPORT FT_STATUS __stdcall FT_Write(FT_HANDLE handle, void* buffer, std::uint32_t n,
                                            std::uint32_t* written) {
  if (written == nullptr || (buffer == nullptr && n > 0)) return zelto::FT_INVALID_PARAMETER;
  const FT_STATUS status = OnConnection(handle, [&](zelto::AdapterConnection& c) {
    return c.Write(static_cast<const std::uint8_t*>(buffer), n, *written);
  });
  // The adapter decodes what it was given at once; the trace shows it before the host
  // can go on.
  TraceHostFrames();
  return status;
}
STANDIN_EXPORT FT_STATUS __stdcall FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* rx_bytes) {
  if (rx_bytes == nullptr) return zelto::FT_INVALID_PARAMETER;
  return OnConnection(handle, [&](zelto::AdapterConnection& c) { return c.Queue(*rx_bytes); });
}
STANDIN_EXPORT FT_STATUS __stdcall FT_SetTimeouts(FT_HANDLE handle, std::uint32_t read_ms,
                                                  std::uint32_t write_ms) {
  return OnConnection(handle,
                      [&](zelto::AdapterConnection& c) { return c.SetTimeouts(read_ms, write_ms); });
}
STANDIN_EXPORT FT_STATUS __stdcall FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t n,
                                           std::uint32_t* returned) {
  if (returned == nullptr || (buffer == nullptr && n > 0)) return zelto::FT_INVALID_PARAMETER;
  return OnConnection(handle, [&](zelto::AdapterConnection& c) {
    return c.Read(static_cast<std::uint8_t*>(buffer), n, *returned);
  });
}
STANDIN_EXPORT FT_STATUS __stdcall FT_Close(FT_HANDLE handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  const FT_STATUS status =
      OnConnection(handle, [](zelto::AdapterConnection& c) { return c.Close(); });
  if (status == zelto::FT_OK) {
    open_connections.erase(value);
    if (open_connections.empty()) GiveDeviceBack();
  }
  return status;
}
STANDIN_EXPORT FT_STATUS __stdcall FT_GetLibraryVersion(std::uint32_t* version) {
  *version = 0x00000917;  // the scripted stand-in's made-up number
  return zelto::FT_OK;
}
