// SPDX-License-Identifier: MIT
// A scripted stand-in for the libftdi calls the libftdi driver makes: adapters with
// descriptions, chips that receive bytes (now or at a given virtual time), record what is
// written and the calls made on them, and fail any call with a chosen libftdi code.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/virtual_clock.h"
#include "drivers/libftdi_driver.h"
#include "tests/support/adapter_status_print.h"

namespace zelto::testing {

// A chip with nothing to send answers after one latency period.
constexpr int kFakeLatencyMs = 2;

struct FakeChip {
  std::deque<std::uint8_t> rx;
  std::vector<std::pair<std::int64_t, std::vector<std::uint8_t>>> arrivals;  // at a time
  std::vector<std::uint8_t> written;
  std::vector<std::string> log;     // link calls other than reads and writes, in order
  std::map<std::string, int> fail;  // call -> libftdi code it answers
  int write_limit = INT_MAX;
  int last_write_timeout = -1;
  int latency = -1, baud = -1;
  bool open = false;
  // Time a read that brings bytes takes, as for a chip that keeps receiving.
  int busy_read_ms = 0;

  void Receive(std::vector<std::uint8_t> bytes) { rx.insert(rx.end(), bytes.begin(), bytes.end()); }
  bool Called(const std::string& call) const {
    return std::find(log.begin(), log.end(), call) != log.end();
  }
};

class FakeLink : public FtdiLink {
 public:
  FakeLink(std::shared_ptr<FakeChip> chip, sim::VirtualClock& clock)
      : chip_(std::move(chip)), clock_(clock) {
    chip_->open = true;
  }
  ~FakeLink() override { chip_->open = false; }

  int Close() override {
    chip_->open = false;
    return Call("close");
  }
  int Reset() override { return Call("reset"); }
  int FlushInput() override {
    const int r = Call("flush_in");
    if (r >= 0) chip_->rx.clear();
    return r;
  }
  int FlushOutput() override { return Call("flush_out"); }
  int SetLatencyTimer(int ms) override {
    chip_->latency = ms;
    return Call("latency");
  }
  int SetBaudRate(int baud) override {
    chip_->baud = baud;
    return Call("baud");
  }
  int SetLine8N1() override { return Call("line8n1"); }
  int Read(std::uint8_t* buffer, int size) override {
    if (auto it = chip_->fail.find("read"); it != chip_->fail.end()) return it->second;
    auto& arrivals = chip_->arrivals;
    for (auto it = arrivals.begin(); it != arrivals.end();) {
      if (it->first <= clock_.NowMs()) {
        chip_->Receive(it->second);
        it = arrivals.erase(it);
      } else {
        ++it;
      }
    }
    const int n = std::min<int>(size, static_cast<int>(chip_->rx.size()));
    for (int i = 0; i < n; ++i) {
      buffer[i] = chip_->rx.front();
      chip_->rx.pop_front();
    }
    if (n == 0) clock_.AdvanceBy(kFakeLatencyMs);
    if (n > 0 && chip_->busy_read_ms > 0) clock_.AdvanceBy(chip_->busy_read_ms);
    return n;
  }
  int Write(const std::uint8_t* buffer, int size, int timeout_ms) override {
    if (auto it = chip_->fail.find("write"); it != chip_->fail.end()) return it->second;
    chip_->last_write_timeout = timeout_ms;
    const int n = std::min(size, chip_->write_limit);
    chip_->written.insert(chip_->written.end(), buffer, buffer + n);
    return n;
  }

 private:
  int Call(const char* name) {
    chip_->log.push_back(name);
    auto it = chip_->fail.find(name);
    return it == chip_->fail.end() ? 0 : it->second;
  }
  std::shared_ptr<FakeChip> chip_;
  sim::VirtualClock& clock_;
};

struct FakeAdapter {
  std::string description;
  int description_error = 0;     // < 0: its strings cannot be read
  int open_error = 0;            // < 0: ftdi_usb_open_dev fails with it
  std::string denied_node = {};  // its device node, when our user may not open it
  std::shared_ptr<FakeChip> chip = std::make_shared<FakeChip>();
};

class FakeBus : public FtdiBus {
 public:
  explicit FakeBus(sim::VirtualClock& clock) : clock_(clock) {}

  FakeAdapter& Attach(std::string description) {
    adapters.push_back({std::move(description)});
    return adapters.back();
  }

  int Scan() override { return scan_error < 0 ? scan_error : static_cast<int>(adapters.size()); }
  int ReadDescription(int index, std::string& description) override {
    const FakeAdapter& a = adapters.at(static_cast<std::size_t>(index));
    if (a.description_error < 0) return a.description_error;
    description = a.description;
    return 0;
  }
  std::unique_ptr<FtdiLink> Open(int index, int& error) override {
    opened.push_back(index);
    const FakeAdapter& a = adapters.at(static_cast<std::size_t>(index));
    if (a.open_error < 0) {
      error = a.open_error;
      return nullptr;
    }
    return std::make_unique<FakeLink>(a.chip, clock_);
  }

  std::string Location(int index) override { return "bus 1 device " + std::to_string(index + 2); }
  std::string DeniedNode(int index) override {
    return adapters.at(static_cast<std::size_t>(index)).denied_node;
  }

  std::deque<FakeAdapter> adapters;  // a deque keeps references from Attach valid
  int scan_error = 0;
  std::vector<int> opened;  // every open attempt, by index

 private:
  sim::VirtualClock& clock_;
};

}  // namespace zelto::testing
