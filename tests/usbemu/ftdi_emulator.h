// SPDX-License-Identifier: MIT
// FTDI serial adapters emulated where the kernel would sit: umockdev provides their sysfs
// entries and /dev/bus/usb nodes, and one ioctl handler answers the usbdevfs requests libusb
// makes, speaking the chip's side (vendor control requests, bulk packets that start with the
// two modem-status bytes). Behind the chip sit the simulated programmer and sensor of sim/,
// so the real libusb and libftdi1 above it run unchanged.
//
// The handler runs on umockdev's own thread. Everything it touches is guarded by one lock;
// tests reach the model only through WithModel() or the counters, which take it too.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/ports/timer_port.h"
#include "sim/usb_bus.h"

namespace zelto::usbemu {

struct ChipSpec {
  std::uint16_t vendor = 0x0403;
  std::uint16_t product = 0x6001;
  std::string manufacturer = "FTDI";
  std::string description = "ZeltoProg";
  std::string serial = "ZP000001";
  // The chip stalls every string descriptor request, as a device with broken strings does.
  bool stall_strings = false;
  // Whether the kernel's serial driver holds the interface when the adapter appears.
  bool kernel_driver_bound = true;
  // Answers to vendor IN requests, keyed by VendorKey(request, value, index), before the
  // chip's own (a recorded session's chip may answer differently).
  std::map<std::uint64_t, std::vector<std::uint8_t>> vendor_in;
};

inline std::uint64_t VendorKey(std::uint8_t request, std::uint16_t value, std::uint16_t index) {
  return (std::uint64_t{request} << 32) | (std::uint64_t{value} << 16) | index;
}

// A recorded session, as scripts/usbtrace-to-scenario writes it: the chip's identity and
// answers, and what each side sent.
struct Scenario {
  ChipSpec spec;
  std::vector<std::vector<std::uint8_t>> host;    // bulk OUT transfers, in order
  std::vector<std::vector<std::uint8_t>> device;  // what the device sent, in order
};
// Reads a scenario file; on failure returns false and says why in `error`.
bool LoadScenario(const std::string& path, Scenario& out, std::string& error);

// What the chip saw, counted since it was plugged.
struct ChipCounters {
  std::uint64_t opens = 0;              // the device node opened
  std::uint64_t control_transfers = 0;  // every control URB
  std::uint64_t string_requests = 0;    // GET_DESCRIPTOR for a string
  std::uint64_t vendor_requests = 0;    // FTDI requests (reset, purge, baud, ...)
  std::uint64_t purges_rx = 0;          // chip-to-host buffer purged
  std::uint64_t detaches = 0;           // kernel serial driver unbound
  std::uint64_t attaches = 0;           // kernel serial driver bound again
  std::uint64_t bulk_in = 0;            // bulk IN URBs completed
  std::uint64_t bulk_out_bytes = 0;
  std::uint64_t enodev_completions = 0;  // URBs completed with ENODEV after an unplug
  int baud = 0;
  int latency_ms = 16;
  bool kernel_driver_bound = false;
};

class EmulatedBus {
 public:
  // Creates the testbed (which points this process's UMOCKDEV_DIR at it).
  EmulatedBus();
  ~EmulatedBus();
  EmulatedBus(const EmulatedBus&) = delete;
  EmulatedBus& operator=(const EmulatedBus&) = delete;

  // The testbed's root, to hand to a child process as UMOCKDEV_DIR.
  const std::string& RootDir() const { return root_dir_; }

  // Plugs a chip into its own port and returns its number. `setup` runs under the lock on
  // the simulated adapter behind it (attach a sensor, set faults).
  int Plug(const ChipSpec& spec, const std::function<void(sim::Adapter&)>& setup = {});
  // The device and its node disappear; URBs in flight complete with ENODEV.
  void Unplug(int chip);
  // The same adapter, with its sensor, back in the same port under a new address.
  void Replug(int chip);

  // The chip stalls its string requests from now on, or answers them again.
  void StallStrings(int chip, bool stall);

  ChipCounters Counters(int chip) const;
  // Runs f on the simulated adapter behind the chip, under the lock.
  void WithModel(int chip, const std::function<void(sim::Adapter&)>& f);
  // Milliseconds on the clock the model runs on (0 when the bus was created).
  std::int64_t NowMs() const;
  std::string DevNode(int chip) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  std::string root_dir_;
};

}  // namespace zelto::usbemu
