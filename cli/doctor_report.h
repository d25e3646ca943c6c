// SPDX-License-Identifier: MIT
// What every `zeltoctl doctor` report has, on any system: findings written as text and
// gathered as one JSON object, problems counted, the driver's own listing, and a verdict.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <string>

#include "core/ports/adapter_port.h"

namespace zelto::cli {

class DoctorReport {
 public:
  DoctorReport() { json_["problems"] = nlohmann::ordered_json::array(); }
  std::ostream& Text() { return text_; }
  nlohmann::ordered_json& Json() { return json_; }
  void Problem(const std::string& text);
  // "What the driver shows": the listing through `list_bus` (the ZeltoProg count, < 0 when
  // the driver fails). `none_found` is the problem when it lists none (empty: none is fine).
  void Listing(const std::function<int(std::ostream&)>& list_bus, const std::string& none_found);
  // Writes the report (text, or the JSON object with `json`); returns 0 when no problem was
  // found, else the exit code for adapter trouble.
  int Finish(std::ostream& out, bool json);

 private:
  std::ostringstream text_;
  nlohmann::ordered_json json_;
  int problems_ = 0;
};

// `zeltoctl list` on `driver` for a report such as doctor's: every line indented, errors
// among them. Returns the number of ZeltoProg adapters, or -1 when the driver fails.
int ListIndented(AdapterPort& driver, const std::string& driver_name, std::ostream& out);

}  // namespace zelto::cli
