// SPDX-License-Identifier: MIT
// Collects what the core reports through its diagnostics hook while a test runs, and forgets
// the once-per-run warnings before and after, so every test starts from a fresh run.
#pragma once

#include <string>
#include <vector>

#include "core/ports/diagnostics.h"

namespace zelto::test {

class DiagCapture {
 public:
  struct Line {
    DiagLevel level;
    std::string category;
    std::string message;
  };

  DiagCapture() {
    ResetDiagOnce();
    SetDiagSink([this](DiagLevel level, std::string_view category, std::string_view message) {
      lines.push_back({level, std::string(category), std::string(message)});
    });
  }
  ~DiagCapture() {
    SetDiagSink({});
    ResetDiagOnce();
  }
  DiagCapture(const DiagCapture&) = delete;
  DiagCapture& operator=(const DiagCapture&) = delete;

  std::vector<std::string> Of(DiagLevel level) const {
    std::vector<std::string> out;
    for (const Line& line : lines)
      if (line.level == level) out.push_back(line.category + ": " + line.message);
    return out;
  }
  std::vector<std::string> Warnings() const { return Of(DiagLevel::Warning); }
  std::vector<std::string> Infos() const { return Of(DiagLevel::Info); }

  std::vector<Line> lines;
};

}  // namespace zelto::test
