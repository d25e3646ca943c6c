// SPDX-License-Identifier: MIT
// The vendor's D2XX library behind the driver port, loaded at run time so that the program
// starts (and falls back to libftdi1) on machines where it is not installed. We never link
// against it and never use its header: the handful of entry points we call are declared in
// d2xx_dynamic.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "drivers/d2xx_port.h"

namespace zelto {

// The library's file name as the platform's loader searches for it.
const char* DefaultD2xxLibraryName();

class D2xxDynamic : public D2xxPort {
 public:
  // Loads DefaultD2xxLibraryName() through the loader's normal search (LD_LIBRARY_PATH,
  // the executable's run path, the system folders).
  D2xxDynamic();
  // Loads the given file name or path instead.
  explicit D2xxDynamic(const std::string& library);
  ~D2xxDynamic() override;
  D2xxDynamic(const D2xxDynamic&) = delete;
  D2xxDynamic& operator=(const D2xxDynamic&) = delete;

  // True when the library loaded and exports all nine calls. When false, every call
  // answers FT_OTHER_ERROR, which the link reports as a driver failure.
  bool Loaded() const { return library_ != nullptr; }
  // Why loading failed (empty when it did not).
  const std::string& LoadError() const { return load_error_; }
  // The file the loader took the library from (UTF-8), so that a user can tell which of
  // several copies is in use; empty when nothing loaded.
  std::string LibraryFile() const;
  // The library's own version word (FT_GetLibraryVersion: 0x00MMmmbb, e.g. 0x00030215 for
  // 3.02.15), when the library offers the call.
  std::optional<std::uint32_t> LibraryVersion() const;

  FT_STATUS ListDevices(void* arg1, void* arg2, std::uint32_t flags) override;
  // Opens, then sets the line to 9600 baud, 8 data bits, no parity, 1 stop bit when the
  // library offers those calls.
  FT_STATUS OpenEx(void* arg, std::uint32_t flags, FT_HANDLE* handle) override;
  FT_STATUS ResetDevice(FT_HANDLE handle) override;
  FT_STATUS Purge(FT_HANDLE handle, std::uint32_t mask) override;
  FT_STATUS Write(FT_HANDLE handle, void* buffer, std::uint32_t bytes_to_write,
                  std::uint32_t* bytes_written) override;
  FT_STATUS GetQueueStatus(FT_HANDLE handle, std::uint32_t* rx_bytes) override;
  FT_STATUS SetTimeouts(FT_HANDLE handle, std::uint32_t read_timeout_ms,
                        std::uint32_t write_timeout_ms) override;
  FT_STATUS Read(FT_HANDLE handle, void* buffer, std::uint32_t bytes_to_read,
                 std::uint32_t* bytes_returned) override;
  FT_STATUS Close(FT_HANDLE handle) override;
  FT_STATUS SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) override;

 private:
  struct Entries;  // the library's entry points, declared where they are looked up
  void Load(const std::string& library);
  void Unload();

  void* library_ = nullptr;  // dlopen handle, or the HMODULE on Windows
  std::unique_ptr<Entries> entries_;
  std::string load_error_;
};

}  // namespace zelto
