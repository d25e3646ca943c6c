// SPDX-License-Identifier: MIT
// The nine calls of the vendor's D2XX interface, with the vendor's argument shapes and status
// codes, and the adapter port made of them: the run-time loaded vendor library, written in
// these terms, is an AdapterPort, listing index by index and opening by flag here, once.
#pragma once

#include <array>
#include <cstdint>

#include "core/ports/adapter_port.h"

namespace zelto {

using FT_STATUS = std::uint32_t;
using FT_HANDLE = void*;

// Status codes as the vendor library numbers them.
enum : FT_STATUS {
  FT_OK = 0,
  FT_INVALID_HANDLE = 1,
  FT_DEVICE_NOT_FOUND = 2,
  FT_DEVICE_NOT_OPENED = 3,
  FT_IO_ERROR = 4,
  FT_INSUFFICIENT_RESOURCES = 5,
  FT_INVALID_PARAMETER = 6,
  FT_INVALID_BAUD_RATE = 7,
  FT_DEVICE_NOT_OPENED_FOR_ERASE = 8,
  FT_DEVICE_NOT_OPENED_FOR_WRITE = 9,
  FT_FAILED_TO_WRITE_DEVICE = 10,
  FT_EEPROM_READ_FAILED = 11,
  FT_EEPROM_WRITE_FAILED = 12,
  FT_EEPROM_ERASE_FAILED = 13,
  FT_EEPROM_NOT_PRESENT = 14,
  FT_EEPROM_NOT_PROGRAMMED = 15,
  FT_INVALID_ARGS = 16,
  FT_NOT_SUPPORTED = 17,
  FT_OTHER_ERROR = 18,
  FT_DEVICE_LIST_NOT_READY = 19,
};

constexpr std::uint32_t FT_LIST_NUMBER_ONLY = 0x80000000u;
constexpr std::uint32_t FT_LIST_BY_INDEX = 0x40000000u;
constexpr std::uint32_t FT_LIST_ALL = 0x20000000u;
constexpr std::uint32_t FT_OPEN_BY_SERIAL_NUMBER = 1;
constexpr std::uint32_t FT_OPEN_BY_DESCRIPTION = 2;
constexpr std::uint32_t FT_OPEN_BY_LOCATION = 4;
constexpr std::uint32_t FT_PURGE_RX = 1;
constexpr std::uint32_t FT_PURGE_TX = 2;

// What the program tells apart in a D2XX status; the number itself travels along.
AdapterStatus FromD2xx(FT_STATUS status);

class D2xxPort : public AdapterPort {
 public:
  ~D2xxPort() override;

  // The adapter port over the calls below: the count, then each adapter's description,
  // serial number and location by index (with a filter, only what is still undecided).
  AdapterStatus List(std::vector<AdapterInfo>& adapters,
                     const AdapterFilter* filter = nullptr) final;
  // OpenEx by the key's flag; the location travels in the pointer itself. A handle the
  // driver hands out again no longer names an older connection that failed to close.
  AdapterStatus Open(AdapterKey key, std::string_view text, std::uint32_t location,
                     std::unique_ptr<AdapterConnection>& connection) final;

  // FT_LIST_NUMBER_ONLY: arg1 points at a 32-bit count, arg2 is ignored.
  // FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION: arg1 carries the index itself (not its
  // address), arg2 points at a character buffer that receives a NUL-terminated description
  // of at most 64 characters.
  // FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER: the same, with the serial number (at most
  // 16 characters) in the buffer.
  // FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION: arg2 points at a 32-bit location number.
  virtual FT_STATUS ListDevices(void* arg1, void* arg2, std::uint32_t flags) = 0;
  // FT_OPEN_BY_DESCRIPTION: arg points at a NUL-terminated description;
  // FT_OPEN_BY_SERIAL_NUMBER: at a NUL-terminated serial number; FT_OPEN_BY_LOCATION: arg
  // carries the location itself (not its address). An adapter that another
  // program holds open fails with FT_DEVICE_NOT_OPENED.
  virtual FT_STATUS OpenEx(void* arg, std::uint32_t flags, FT_HANDLE* handle) = 0;
  virtual FT_STATUS ResetDevice(FT_HANDLE handle) = 0;
  virtual FT_STATUS Purge(FT_HANDLE handle, std::uint32_t mask) = 0;
  virtual FT_STATUS Write(FT_HANDLE handle, void* buffer, std::uint32_t bytes_to_write,
                          std::uint32_t* bytes_written) = 0;
  virtual FT_STATUS GetQueueStatus(FT_HANDLE handle, std::uint32_t* rx_bytes) = 0;
  virtual FT_STATUS SetTimeouts(FT_HANDLE handle, std::uint32_t read_timeout_ms,
                                std::uint32_t write_timeout_ms) = 0;
  virtual FT_STATUS Read(FT_HANDLE handle, void* buffer, std::uint32_t bytes_to_read,
                         std::uint32_t* bytes_returned) = 0;
  virtual FT_STATUS Close(FT_HANDLE handle) = 0;
  // Optional: how long the adapter's chip holds received bytes before passing a short packet
  // on (16 ms by default). A driver without the call answers FT_NOT_SUPPORTED, and the link
  // works as before, only slower to hear each reply.
  virtual FT_STATUS SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) {
    (void)handle;
    (void)ms;
    return FT_NOT_SUPPORTED;
  }

 private:
  class Connection;
  // The connections handed out and not yet destroyed (a few: one per link, and those whose
  // close failed).
  std::array<Connection*, 8> live_{};
};

}  // namespace zelto
