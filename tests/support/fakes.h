// SPDX-License-Identifier: MIT
// Recording fakes of the window ports and a scriptable driver, for the core tests.
#pragma once

#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ports/views.h"
#include "core/ports/d2xx_port.h"

namespace zelto::testing {

struct MainRecord {
  std::string label_ver;
  std::map<MainMenu, std::string> menus;
  std::string status_prog, status_device;
  Rgb prog_colour{}, device_colour{};
  bool shown = false;
  bool unloaded = false;
  bool about_shown = false;
  int about_openings = 0;
  std::vector<std::string> fatal_messages;
  std::string fatal_title;
};

class FakeMainView : public MainView {
 public:
  MainRecord rec;
  void SetLabelVer(const std::string& t) override { rec.label_ver = t; }
  void SetMenuCaption(MainMenu m, const std::string& t) override { rec.menus[m] = t; }
  void SetStatusProg(const std::string& t) override { rec.status_prog = t; }
  void SetStatusProgColour(Rgb c) override { rec.prog_colour = c; }
  void SetStatusDevice(const std::string& t) override { rec.status_device = t; }
  void SetStatusDeviceColour(Rgb c) override { rec.device_colour = c; }
  void ShowWindow() override { rec.shown = true; }
  void HideWindow() override { rec.shown = false; }
  void Unload() override {
    rec.unloaded = true;
    rec.shown = false;
  }
  // The About box stays "on screen" until the test closes it.
  void ShowAbout() override {
    rec.about_shown = true;
    ++rec.about_openings;
  }
  bool AboutShown() const override { return rec.about_shown; }
  void ShowFatalMessage(const std::string& text, const std::string& title) override {
    rec.fatal_messages.push_back(text);
    rec.fatal_title = title;
  }
};

struct RadarRecord {
  std::string caption, menu_exit;
  std::map<RadarLabel, std::string> labels;
  std::map<ParamList, std::vector<std::string>> items;
  std::map<ParamList, int> index;
  std::string identification;
  std::optional<int> level, held_peak;  // nullopt: the label shows nothing
  std::int32_t bar = -1;
  std::optional<bool> led;
  int area_sensitivity = -1;  // -1: no area shown yet
  int area_draws = 0;
  bool shown = false;
  bool unloaded = false;
};

class FakeRadarView : public RadarView {
 public:
  explicit FakeRadarView(std::shared_ptr<RadarRecord> rec) : rec_(std::move(rec)) {}
  void SetCaption(const std::string& t) override { rec_->caption = t; }
  void SetMenuFileExitCaption(const std::string& t) override { rec_->menu_exit = t; }
  void SetLabelText(RadarLabel l, const std::string& t) override { rec_->labels[l] = t; }
  void SetListItems(ParamList l, const std::vector<std::string>& items) override {
    rec_->items[l] = items;
  }
  void SetListIndex(ParamList l, int i) override { rec_->index[l] = i; }
  void ShowIdentification(const std::string& t) override { rec_->identification = t; }
  void ShowLevel(std::optional<int> level) override { rec_->level = level; }
  void ShowHeldPeak(std::optional<int> peak) override { rec_->held_peak = peak; }
  void ShowSignal(int level, bool detected) override {
    rec_->bar = level;
    rec_->led = detected;
  }
  void ShowDetectionArea(int sensitivity) override {
    rec_->area_sensitivity = sensitivity;
    ++rec_->area_draws;
  }
  void ShowWindow() override { rec_->shown = true; }
  void Unload() override {
    rec_->unloaded = true;
    rec_->shown = false;
  }

 private:
  std::shared_ptr<RadarRecord> rec_;
};

class FakeUi : public Ui {
 public:
  FakeMainView main;
  // One record per radar window ever created, newest last.
  std::vector<std::shared_ptr<RadarRecord>> radars;
  std::string separator = ",";
  int quits = 0;

  MainView& Main() override { return main; }
  std::unique_ptr<RadarView> CreateRadarView(RadarEvents&) override {
    radars.push_back(std::make_shared<RadarRecord>());
    return std::make_unique<FakeRadarView>(radars.back());
  }
  std::string DecimalSeparator() const override { return separator; }
  void Quit() override { ++quits; }

  RadarRecord* LastRadar() { return radars.empty() ? nullptr : radars.back().get(); }
  bool RadarOpen() { return !radars.empty() && !radars.back()->unloaded; }
};

// A driver whose answers a test scripts call by call.
class ScriptedDriver : public D2xxPort {
 public:
  // One entry per attached device; nullopt makes its description query fail.
  std::vector<std::optional<std::string>> devices;
  FT_STATUS count_status = FT_OK, open_status = FT_OK, reset_status = FT_OK,
            purge_status = FT_OK, write_status = FT_OK, queue_status = FT_OK,
            timeouts_status = FT_OK, read_status = FT_OK, close_status = FT_OK;
  // Bytes the "programmer" has sent and the driver holds.
  std::deque<std::uint8_t> rx;
  // When set, a write reports this many bytes written.
  std::optional<std::uint32_t> short_write;
  // When set, a read returns at most this many bytes.
  std::optional<std::uint32_t> read_limit;

  std::vector<std::vector<std::uint8_t>> writes;
  std::vector<std::uint32_t> read_requests;
  std::vector<std::uintptr_t> listed_indices;
  std::map<std::string, int> calls;
  std::uint32_t last_purge_mask = 0;
  std::uint32_t last_read_timeout = 0, last_write_timeout = 0;
  FT_HANDLE handle_value = reinterpret_cast<FT_HANDLE>(std::uintptr_t{0x1234});
  FT_HANDLE last_closed = nullptr;
  std::string opened_with;

  FT_STATUS ListDevices(void* arg1, void* arg2, std::uint32_t flags) override {
    ++calls["ListDevices"];
    if (flags == FT_LIST_NUMBER_ONLY) {
      if (count_status != FT_OK) return count_status;
      *static_cast<std::uint32_t*>(arg1) = static_cast<std::uint32_t>(devices.size());
      return FT_OK;
    }
    if (flags != (FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION)) return FT_INVALID_ARGS;
    const auto index = reinterpret_cast<std::uintptr_t>(arg1);
    listed_indices.push_back(index);
    if (index >= devices.size() || !devices[index]) return FT_DEVICE_NOT_FOUND;
    std::strcpy(static_cast<char*>(arg2), devices[index]->c_str());
    return FT_OK;
  }
  FT_STATUS OpenEx(void* arg, std::uint32_t flags, FT_HANDLE* handle) override {
    ++calls["OpenEx"];
    opened_with = flags == FT_OPEN_BY_DESCRIPTION ? static_cast<const char*>(arg) : "?";
    if (open_status != FT_OK) return open_status;
    *handle = handle_value;
    return FT_OK;
  }
  FT_STATUS ResetDevice(FT_HANDLE) override {
    ++calls["ResetDevice"];
    return reset_status;
  }
  FT_STATUS Purge(FT_HANDLE, std::uint32_t mask) override {
    ++calls["Purge"];
    last_purge_mask = mask;
    if (purge_status == FT_OK && (mask & FT_PURGE_RX)) rx.clear();
    return purge_status;
  }
  FT_STATUS Write(FT_HANDLE, void* buffer, std::uint32_t n, std::uint32_t* written) override {
    ++calls["Write"];
    if (write_status != FT_OK) return write_status;
    auto* p = static_cast<std::uint8_t*>(buffer);
    writes.emplace_back(p, p + n);
    *written = short_write ? *short_write : n;
    return FT_OK;
  }
  FT_STATUS GetQueueStatus(FT_HANDLE, std::uint32_t* waiting) override {
    ++calls["GetQueueStatus"];
    if (queue_status != FT_OK) return queue_status;
    *waiting = static_cast<std::uint32_t>(rx.size());
    return FT_OK;
  }
  FT_STATUS SetTimeouts(FT_HANDLE, std::uint32_t rd, std::uint32_t wr) override {
    ++calls["SetTimeouts"];
    last_read_timeout = rd;
    last_write_timeout = wr;
    return timeouts_status;
  }
  FT_STATUS Read(FT_HANDLE, void* buffer, std::uint32_t n, std::uint32_t* got) override {
    ++calls["Read"];
    read_requests.push_back(n);
    if (read_status != FT_OK) return read_status;
    std::uint32_t take = n < rx.size() ? n : static_cast<std::uint32_t>(rx.size());
    if (read_limit && take > *read_limit) take = *read_limit;
    auto* p = static_cast<std::uint8_t*>(buffer);
    for (std::uint32_t i = 0; i < take; ++i) {
      p[i] = rx.front();
      rx.pop_front();
    }
    *got = take;
    return FT_OK;
  }
  FT_STATUS Close(FT_HANDLE handle) override {
    ++calls["Close"];
    last_closed = handle;
    return close_status;
  }

  void Feed(const std::vector<std::uint8_t>& bytes) { rx.insert(rx.end(), bytes.begin(), bytes.end()); }
};

}  // namespace zelto::testing
