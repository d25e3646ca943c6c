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
#include "core/ports/adapter_port.h"
#include "tests/support/adapter_status_print.h"

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
class ScriptedDriver : public AdapterPort {
 public:
  // One entry per attached device; nullopt makes its description unreadable.
  std::vector<std::optional<std::string>> devices;
  AdapterStatus list_status, open_status, reset_status, purge_status, write_status,
      queue_status, timeouts_status, read_status, close_status;
  // Bytes the "programmer" has sent and the driver holds.
  std::deque<std::uint8_t> rx;
  // When set, a write reports this many bytes written.
  std::optional<std::uint32_t> short_write;
  // When set, a read returns at most this many bytes.
  std::optional<std::uint32_t> read_limit;

  std::vector<std::vector<std::uint8_t>> writes;
  std::vector<std::uint32_t> read_requests;
  std::map<std::string, int> calls;
  std::uint32_t last_read_timeout = 0, last_write_timeout = 0;
  // Connections are numbered from 1 as they are handed out; 0: none closed yet.
  int opened = 0, last_closed = 0;
  std::string opened_with;

  AdapterStatus List(std::vector<AdapterInfo>& adapters, const AdapterFilter* filter) override {
    ++calls["List"];
    adapters.clear();
    if (!list_status.Ok()) return list_status;
    for (const auto& d : devices) {
      AdapterInfo a;
      a.has_description = d.has_value();
      if (d) a.description = *d;
      if (filter == nullptr || filter->Matches(a)) adapters.push_back(a);
    }
    return {};
  }
  AdapterStatus Open(AdapterKey key, std::string_view text, std::uint32_t,
                     std::unique_ptr<AdapterConnection>& connection) override {
    ++calls["Open"];
    opened_with = key == AdapterKey::kDescription ? std::string(text) : "?";
    if (!open_status.Ok()) return open_status;
    connection = std::make_unique<Connection>(*this, ++opened);
    return {};
  }

  void Feed(const std::vector<std::uint8_t>& bytes) { rx.insert(rx.end(), bytes.begin(), bytes.end()); }

 private:
  class Connection final : public AdapterConnection {
   public:
    Connection(ScriptedDriver& d, int number) : d_(d), number_(number) {}
    AdapterStatus Reset() override { return Call("Reset", d_.reset_status); }
    AdapterStatus Purge() override {
      if (Call("Purge", d_.purge_status).Ok()) d_.rx.clear();
      return d_.purge_status;
    }
    AdapterStatus Write(const std::uint8_t* data, std::uint32_t n, std::uint32_t& written) override {
      if (!Call("Write", d_.write_status).Ok()) return d_.write_status;
      d_.writes.emplace_back(data, data + n);
      written = d_.short_write ? *d_.short_write : n;
      return {};
    }
    AdapterStatus Queue(std::uint32_t& waiting) override {
      if (!Call("Queue", d_.queue_status).Ok()) return d_.queue_status;
      waiting = static_cast<std::uint32_t>(d_.rx.size());
      return {};
    }
    AdapterStatus SetTimeouts(std::uint32_t rd, std::uint32_t wr) override {
      d_.last_read_timeout = rd;
      d_.last_write_timeout = wr;
      return Call("SetTimeouts", d_.timeouts_status);
    }
    AdapterStatus Read(std::uint8_t* data, std::uint32_t n, std::uint32_t& got) override {
      d_.read_requests.push_back(n);
      if (!Call("Read", d_.read_status).Ok()) return d_.read_status;
      std::uint32_t take = n < d_.rx.size() ? n : static_cast<std::uint32_t>(d_.rx.size());
      if (d_.read_limit && take > *d_.read_limit) take = *d_.read_limit;
      for (std::uint32_t i = 0; i < take; ++i) {
        data[i] = d_.rx.front();
        d_.rx.pop_front();
      }
      got = take;
      return {};
    }
    AdapterStatus Close() override {
      d_.last_closed = number_;
      return Call("Close", d_.close_status);
    }

   private:
    AdapterStatus Call(const char* name, AdapterStatus answer) {
      ++d_.calls[name];
      return answer;
    }
    ScriptedDriver& d_;
    int number_;
  };
};

}  // namespace zelto::testing
