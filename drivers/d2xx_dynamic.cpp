// SPDX-License-Identifier: MIT
#include "drivers/d2xx_dynamic.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#endif

#include <cerrno>
#include <cstring>

namespace zelto {

namespace {

// The vendor library uses the Windows calling convention on Windows only. Status codes and
// counts are 32-bit unsigned everywhere; handles and buffers are pointers.
#if defined(_WIN32)
#define ZELTO_D2XX_API __stdcall
#else
#define ZELTO_D2XX_API
#endif

using ListDevicesFn = FT_STATUS(ZELTO_D2XX_API*)(void*, void*, std::uint32_t);
using OpenExFn = FT_STATUS(ZELTO_D2XX_API*)(void*, std::uint32_t, FT_HANDLE*);
using HandleFn = FT_STATUS(ZELTO_D2XX_API*)(FT_HANDLE);
using PurgeFn = FT_STATUS(ZELTO_D2XX_API*)(FT_HANDLE, std::uint32_t);
using TransferFn = FT_STATUS(ZELTO_D2XX_API*)(FT_HANDLE, void*, std::uint32_t, std::uint32_t*);
using QueueStatusFn = FT_STATUS(ZELTO_D2XX_API*)(FT_HANDLE, std::uint32_t*);
using SetTimeoutsFn = FT_STATUS(ZELTO_D2XX_API*)(FT_HANDLE, std::uint32_t, std::uint32_t);
using LibraryVersionFn = FT_STATUS(ZELTO_D2XX_API*)(std::uint32_t*);
using SetBaudRateFn = FT_STATUS(ZELTO_D2XX_API*)(FT_HANDLE, std::uint32_t);
using SetLatencyTimerFn = FT_STATUS(ZELTO_D2XX_API*)(FT_HANDLE, unsigned char);
using SetDataCharacteristicsFn = FT_STATUS(ZELTO_D2XX_API*)(FT_HANDLE, unsigned char, unsigned char,
                                                            unsigned char);

// Line settings we put on the adapter at open: the chip's power-on defaults, set explicitly
// so that a previous user of the device cannot leave it at something else.
constexpr std::uint32_t kBaudRate = 9600;
constexpr unsigned char kBits8 = 8;
constexpr unsigned char kStopBits1 = 0;
constexpr unsigned char kParityNone = 0;

// What every call answers when the library is not there.
constexpr FT_STATUS kNotLoaded = FT_OTHER_ERROR;

}  // namespace

struct D2xxDynamic::Entries {
  ListDevicesFn list_devices = nullptr;
  OpenExFn open_ex = nullptr;
  HandleFn reset_device = nullptr;
  PurgeFn purge = nullptr;
  TransferFn write = nullptr;
  QueueStatusFn get_queue_status = nullptr;
  SetTimeoutsFn set_timeouts = nullptr;
  TransferFn read = nullptr;
  HandleFn close = nullptr;
  // Optional: older or stripped-down builds of the library may lack them.
  SetBaudRateFn set_baud_rate = nullptr;
  SetDataCharacteristicsFn set_data_characteristics = nullptr;
  LibraryVersionFn library_version = nullptr;
  SetLatencyTimerFn set_latency_timer = nullptr;
};

const char* DefaultD2xxLibraryName() {
#if defined(_WIN32)
  return "ftd2xx.dll";
#elif defined(__APPLE__)
  return "libftd2xx.dylib";
#else
  return "libftd2xx.so";
#endif
}

D2xxDynamic::D2xxDynamic() {
  Load(DefaultD2xxLibraryName());
}

D2xxDynamic::D2xxDynamic(const std::string& library) {
  Load(library);
}

D2xxDynamic::~D2xxDynamic() {
  Unload();
}

namespace {

#if defined(_WIN32)
std::wstring Widen(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 1u, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), n);
  return wide;
}
std::string Narrow(const wchar_t* wide, int length) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
  std::string utf8(n > 0 ? static_cast<std::size_t>(n) : 0u, '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide, length, utf8.data(), n, nullptr, nullptr);
  return utf8;
}
void* OpenLibrary(const std::string& name, std::string& error) {
  // The name is UTF-8, like every text inside the program; the wide call takes any folder.
  HMODULE module = LoadLibraryW(Widen(name).c_str());
  if (module == nullptr) {
    const DWORD code = GetLastError();
    // Said the way the POSIX loader says it, so that "not installed" reads the same.
    error = name + ": " +
            (code == ERROR_MOD_NOT_FOUND ? std::string(std::strerror(ENOENT))
                                         : "Windows error " + std::to_string(code));
  }
  return reinterpret_cast<void*>(module);
}
void CloseLibrary(void* library) {
  FreeLibrary(reinterpret_cast<HMODULE>(library));
}
template <typename Fn>
Fn Lookup(void* library, const char* name) {
  FARPROC p = GetProcAddress(reinterpret_cast<HMODULE>(library), name);
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(p));
}
std::string FileOf(void* library) {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(reinterpret_cast<HMODULE>(library), name.data(),
                                       static_cast<DWORD>(name.size()));
    if (n == 0) return {};
    if (n < name.size()) return Narrow(name.data(), static_cast<int>(n));
    name.resize(name.size() * 2);
  }
}
#else
void* OpenLibrary(const std::string& name, std::string& error) {
  // A plain name goes through the loader's search; RTLD_LOCAL keeps the library's symbols
  // out of the way of anything else in the process.
  void* library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    error = why != nullptr ? why : ("cannot load " + name);
  }
  return library;
}
void CloseLibrary(void* library) {
  dlclose(library);
}
template <typename Fn>
Fn Lookup(void* library, const char* name) {
  return reinterpret_cast<Fn>(dlsym(library, name));
}
std::string FileOf(void* library) {
  link_map* map = nullptr;
  if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr)
    return {};
  return map->l_name;
}
#endif

}  // namespace

void D2xxDynamic::Load(const std::string& library) {
  void* lib = OpenLibrary(library, load_error_);
  if (lib == nullptr) return;

  auto e = std::make_unique<Entries>();
  e->list_devices = Lookup<ListDevicesFn>(lib, "FT_ListDevices");
  e->open_ex = Lookup<OpenExFn>(lib, "FT_OpenEx");
  e->reset_device = Lookup<HandleFn>(lib, "FT_ResetDevice");
  e->purge = Lookup<PurgeFn>(lib, "FT_Purge");
  e->write = Lookup<TransferFn>(lib, "FT_Write");
  e->get_queue_status = Lookup<QueueStatusFn>(lib, "FT_GetQueueStatus");
  e->set_timeouts = Lookup<SetTimeoutsFn>(lib, "FT_SetTimeouts");
  e->read = Lookup<TransferFn>(lib, "FT_Read");
  e->close = Lookup<HandleFn>(lib, "FT_Close");
  e->set_baud_rate = Lookup<SetBaudRateFn>(lib, "FT_SetBaudRate");
  e->set_data_characteristics = Lookup<SetDataCharacteristicsFn>(lib, "FT_SetDataCharacteristics");
  e->library_version = Lookup<LibraryVersionFn>(lib, "FT_GetLibraryVersion");
  e->set_latency_timer = Lookup<SetLatencyTimerFn>(lib, "FT_SetLatencyTimer");

  const bool complete = e->list_devices && e->open_ex && e->reset_device && e->purge && e->write &&
                        e->get_queue_status && e->set_timeouts && e->read && e->close;
  if (!complete) {
    // Some other library under the same name: better no driver than a half one.
    load_error_ = library + " lacks D2XX entry points";
    CloseLibrary(lib);
    return;
  }
  library_ = lib;
  entries_ = std::move(e);
  load_error_.clear();
}

void D2xxDynamic::Unload() {
  if (library_ != nullptr) CloseLibrary(library_);
  library_ = nullptr;
  entries_.reset();
}

std::string D2xxDynamic::LibraryFile() const {
  return Loaded() ? FileOf(library_) : std::string();
}

std::optional<std::uint32_t> D2xxDynamic::LibraryVersion() const {
  if (!Loaded() || entries_->library_version == nullptr) return std::nullopt;
  std::uint32_t version = 0;
  if (entries_->library_version(&version) != FT_OK) return std::nullopt;
  return version;
}

FT_STATUS D2xxDynamic::ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
  if (!Loaded()) return kNotLoaded;
  // Passed through untouched: with FT_LIST_BY_INDEX the library wants the index itself in
  // arg1, which is exactly what the port carries.
  return entries_->list_devices(arg1, arg2, flags);
}

FT_STATUS D2xxDynamic::OpenEx(void* arg, std::uint32_t flags, FT_HANDLE* handle) {
  if (!Loaded()) return kNotLoaded;
  // We may have to close what we open, so the handle must have somewhere to go.
  if (handle == nullptr) return FT_INVALID_PARAMETER;
  FT_HANDLE opened = nullptr;
  FT_STATUS status = entries_->open_ex(arg, flags, &opened);
  if (status != FT_OK) return status;
  if (entries_->set_baud_rate != nullptr) status = entries_->set_baud_rate(opened, kBaudRate);
  if (status == FT_OK && entries_->set_data_characteristics != nullptr)
    status = entries_->set_data_characteristics(opened, kBits8, kStopBits1, kParityNone);
  if (status != FT_OK) {
    // A device that refuses its line settings is not one we can talk to; do not leave it
    // open behind the caller's back.
    entries_->close(opened);
    return status;
  }
  *handle = opened;
  return FT_OK;
}

FT_STATUS D2xxDynamic::ResetDevice(FT_HANDLE handle) {
  return Loaded() ? entries_->reset_device(handle) : kNotLoaded;
}

FT_STATUS D2xxDynamic::SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) {
  if (!Loaded()) return kNotLoaded;
  // A library without the entry point still drives the adapter, at the chip's default.
  if (entries_->set_latency_timer == nullptr) return FT_NOT_SUPPORTED;
  return entries_->set_latency_timer(handle, ms);
}

FT_STATUS D2xxDynamic::Purge(FT_HANDLE handle, std::uint32_t mask) {
  return Loaded() ? entries_->purge(handle, mask) : kNotLoaded;
}

FT_STATUS D2xxDynamic::Write(FT_HANDLE handle, void* buffer, std::uint32_t bytes_to_write,
                             std::uint32_t* bytes_written) {
  return Loaded() ? entries_->write(handle, buffer, bytes_to_write, bytes_written) : kNotLoaded;
}

FT_STATUS D2xxDynamic::GetQueueStatus(FT_HANDLE handle, std::uint32_t* rx_bytes) {
  return Loaded() ? entries_->get_queue_status(handle, rx_bytes) : kNotLoaded;
}

FT_STATUS D2xxDynamic::SetTimeouts(FT_HANDLE handle, std::uint32_t read_timeout_ms,
                                   std::uint32_t write_timeout_ms) {
  return Loaded() ? entries_->set_timeouts(handle, read_timeout_ms, write_timeout_ms) : kNotLoaded;
}

FT_STATUS D2xxDynamic::Read(FT_HANDLE handle, void* buffer, std::uint32_t bytes_to_read,
                            std::uint32_t* bytes_returned) {
  return Loaded() ? entries_->read(handle, buffer, bytes_to_read, bytes_returned) : kNotLoaded;
}

FT_STATUS D2xxDynamic::Close(FT_HANDLE handle) {
  return Loaded() ? entries_->close(handle) : kNotLoaded;
}

}  // namespace zelto
