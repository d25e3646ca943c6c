// SPDX-License-Identifier: MIT
#include "core/ports/diagnostics.h"

#include <mutex>
#include <set>
#include <string>
#include <utility>

namespace zelto {
namespace {

// The sink may be called from a driver's helper thread as well as the UI thread.
std::mutex& Lock() {
  static std::mutex m;
  return m;
}
DiagSink& Sink() {
  static DiagSink sink;
  return sink;
}
std::set<std::string>& SeenKeys() {
  static std::set<std::string> seen;
  return seen;
}

void Emit(DiagLevel level, std::string_view category, std::string_view message) {
  std::lock_guard<std::mutex> hold(Lock());
  if (Sink()) Sink()(level, category, message);
}

}  // namespace

void SetDiagSink(DiagSink sink) {
  std::lock_guard<std::mutex> hold(Lock());
  Sink() = std::move(sink);
}

void DiagInfo(std::string_view category, std::string_view message) {
  Emit(DiagLevel::Info, category, message);
}

void DiagWarning(std::string_view category, std::string_view message) {
  Emit(DiagLevel::Warning, category, message);
}

bool DiagWarningOnce(std::string_view category, std::string_view key, std::string_view message) {
  {
    std::lock_guard<std::mutex> hold(Lock());
    std::string full(category);
    full += '\n';
    full += key;
    full += '\n';
    full += message;
    if (!SeenKeys().insert(std::move(full)).second) return false;
  }
  DiagWarning(category, message);
  return true;
}

void ResetDiagOnce() {
  std::lock_guard<std::mutex> hold(Lock());
  SeenKeys().clear();
}

}  // namespace zelto
