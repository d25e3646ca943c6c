// SPDX-License-Identifier: MIT
// A driver port over plain memory, for measuring the link and the message layer without the
// cost of a simulated bus: one "ZeltoProg" adapter, a receive queue in a fixed array, writes
// that go nowhere. Nothing allocates after construction.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/ports/d2xx_port.h"

namespace zelto::bench {

class MemoryDriver : public D2xxPort {
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

  FT_STATUS ListDevices(void* arg1, void* arg2, std::uint32_t flags) override {
    if (flags == FT_LIST_NUMBER_ONLY) {
      *static_cast<std::uint32_t*>(arg1) = 1;
      return FT_OK;
    }
    if (reinterpret_cast<std::uintptr_t>(arg1) != 0) return FT_DEVICE_NOT_FOUND;
    std::memcpy(arg2, kDescription.data(), kDescription.size());
    static_cast<char*>(arg2)[kDescription.size()] = '\0';
    return FT_OK;
  }
  FT_STATUS OpenEx(void*, std::uint32_t, FT_HANDLE* handle) override {
    *handle = this;
    return FT_OK;
  }
  FT_STATUS ResetDevice(FT_HANDLE) override { return FT_OK; }
  // The queue is not emptied: a measured poll must find its bytes whatever was sent before.
  FT_STATUS Purge(FT_HANDLE, std::uint32_t) override { return FT_OK; }
  FT_STATUS Write(FT_HANDLE, void*, std::uint32_t count, std::uint32_t* written) override {
    bytes_written_ += count;
    *written = count;
    if (answer_size_ > 0) Queue(answer_.data(), answer_size_);
    return FT_OK;
  }
  FT_STATUS GetQueueStatus(FT_HANDLE, std::uint32_t* waiting) override {
    *waiting = static_cast<std::uint32_t>(end_ - begin_);
    return FT_OK;
  }
  FT_STATUS SetTimeouts(FT_HANDLE, std::uint32_t, std::uint32_t) override { return FT_OK; }
  FT_STATUS Read(FT_HANDLE, void* buffer, std::uint32_t count, std::uint32_t* got) override {
    const std::size_t waiting = end_ - begin_;
    const std::size_t take = count < waiting ? count : waiting;
    std::memcpy(buffer, rx_.data() + begin_, take);
    begin_ += take;
    if (begin_ == end_) {
      if (replay_)
        begin_ = 0;
      else
        begin_ = end_ = 0;
    }
    bytes_read_ += take;
    *got = static_cast<std::uint32_t>(take);
    return FT_OK;
  }
  FT_STATUS Close(FT_HANDLE) override { return FT_OK; }

 private:
  static constexpr std::string_view kDescription = "ZeltoProg";

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
