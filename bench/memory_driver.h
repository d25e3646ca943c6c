// SPDX-License-Identifier: MIT
// An adapter port over plain memory, for measuring the link and the message layer without the
// cost of a simulated bus: one "ZeltoProg" adapter, a receive queue in a fixed array, writes
// that go nowhere. Nothing allocates after construction.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "core/ports/adapter_port.h"

namespace zelto::bench {

class MemoryDriver : public AdapterPort {
 public:
  static constexpr std::size_t kCapacity = 8192;

  // Appends bytes to the receive queue; what does not fit is dropped.
  void Queue(const std::uint8_t* bytes, std::size_t count) {
    const std::size_t room = kCapacity - end_;
    if (count > room) count = room;
    if (count > 0) std::memcpy(rx_.data() + end_, bytes, count);
    end_ += count;
  }
  void ClearQueue() { begin_ = end_ = 0; }

  // Replay: once a read has taken everything, the same bytes are waiting again, so every poll
  // finds the queue exactly as it was first filled.
  void SetReplay(bool replay) { replay_ = replay; }

  // Bytes queued after every successful write: a canned answer to whatever was sent.
  void SetAnswer(const std::uint8_t* bytes, std::size_t count) {
    if (count > answer_.size()) count = answer_.size();
    if (count > 0) std::memcpy(answer_.data(), bytes, count);
    answer_size_ = count;
  }

  std::uint64_t BytesWritten() const { return bytes_written_; }
  std::uint64_t BytesRead() const { return bytes_read_; }

  AdapterStatus List(std::vector<AdapterInfo>& adapters,
                     const AdapterFilter* filter = nullptr) override {
    adapters.clear();
    AdapterInfo info;
    info.has_description = info.has_serial = info.has_location = true;
    info.description = kDescription;
    info.serial = "MEM0001";
    if (filter == nullptr || filter->Matches(info)) adapters.push_back(info);
    return {};
  }
  AdapterStatus Open(AdapterKey, std::string_view, std::uint32_t,
                     std::unique_ptr<AdapterConnection>& connection) override {
    connection = std::make_unique<Connection>(*this);
    return {};
  }

 private:
  static constexpr std::string_view kDescription = "ZeltoProg";

  class Connection final : public AdapterConnection {
   public:
    explicit Connection(MemoryDriver& driver) : d_(driver) {}
    AdapterStatus Reset() override { return {}; }
    // The queue is not emptied: a measured poll must find its bytes whatever was sent before.
    AdapterStatus Purge() override { return {}; }
    AdapterStatus Write(const std::uint8_t*, std::uint32_t count, std::uint32_t& written) override {
      d_.bytes_written_ += count;
      written = count;
      if (d_.answer_size_ > 0) d_.Queue(d_.answer_.data(), d_.answer_size_);
      return {};
    }
    AdapterStatus Queue(std::uint32_t& waiting) override {
      waiting = static_cast<std::uint32_t>(d_.end_ - d_.begin_);
      return {};
    }
    AdapterStatus SetTimeouts(std::uint32_t, std::uint32_t) override { return {}; }
    AdapterStatus Read(std::uint8_t* data, std::uint32_t count, std::uint32_t& got) override {
      const std::size_t waiting = d_.end_ - d_.begin_;
      const std::size_t take = count < waiting ? count : waiting;
      std::memcpy(data, d_.rx_.data() + d_.begin_, take);
      d_.begin_ += take;
      if (d_.begin_ == d_.end_) {
        if (d_.replay_)
          d_.begin_ = 0;
        else
          d_.begin_ = d_.end_ = 0;
      }
      d_.bytes_read_ += take;
      got = static_cast<std::uint32_t>(take);
      return {};
    }
    AdapterStatus Close() override { return {}; }

   private:
    MemoryDriver& d_;
  };

  std::array<std::uint8_t, kCapacity> rx_{};
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool replay_ = false;
  std::array<std::uint8_t, 256> answer_{};
  std::size_t answer_size_ = 0;
  std::uint64_t bytes_written_ = 0;
  std::uint64_t bytes_read_ = 0;
};

}  // namespace zelto::bench
