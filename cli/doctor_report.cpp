// SPDX-License-Identifier: MIT
#include "cli/doctor_report.h"

#include "cli/commands.h"
#include "cli/event_loop.h"
#include "core/link/adapter_list.h"

namespace zelto::cli {

void DoctorReport::Problem(const std::string& text) {
  ++problems_;
  text_ << "  PROBLEM: " << text << "\n";
  json_["problems"].push_back(text);
}

void DoctorReport::Listing(const std::function<int(std::ostream&)>& list_bus,
                           const std::string& none_found) {
  text_ << "What the driver shows:\n";
  const int programmers = list_bus ? list_bus(text_) : -1;
  json_["programmers"] =
      programmers < 0 ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(programmers);
  if (programmers < 0)
    Problem("the driver cannot list the USB devices");
  else if (programmers == 0 && !none_found.empty())
    Problem(none_found);
  else if (programmers > 1)
    text_ << "  more than one programmer: choose one with --adapter SERIAL\n";
}

int DoctorReport::Finish(std::ostream& out, bool json) {
  text_ << (problems_ == 0 ? "No problem found.\n"
                           : std::to_string(problems_) + " problem(s) found.\n");
  if (json)
    out << json_.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
  else
    out << text_.str();
  return problems_ == 0 ? kExitOk : kExitAdapter;
}

int ListIndented(AdapterPort& driver, const std::string& driver_name, std::ostream& out) {
  RealTimeLoop loop;
  std::ostringstream listing, errors;
  Context ctx(driver, driver_name, loop, listing, errors);
  // The count comes from the listing itself, not from the text printed about it.
  const AdapterListing adapters = ListAdapters(driver);
  const int code = PrintAdapters(ctx, adapters);
  std::istringstream lines(listing.str() + errors.str());
  for (std::string line; std::getline(lines, line);) out << "  " << line << "\n";
  return code == kExitOk ? adapters.Programmers() : -1;
}

}  // namespace zelto::cli
