// SPDX-License-Identifier: MIT
#include "gui/diag_logging.h"

#include <QLoggingCategory>
#include <map>
#include <memory>
#include <string>

#include "core/ports/diagnostics.h"

namespace zelto::qt {
namespace {

// QLoggingCategory keeps the name's pointer, so each name lives as long as its category. The
// core's sink is called under its own lock, so the map needs none.
QLoggingCategory& CategoryFor(std::string_view name) {
  struct Entry {
    std::unique_ptr<std::string> name;
    std::unique_ptr<QLoggingCategory> category;
  };
  static std::map<std::string, Entry, std::less<>> categories;
  auto it = categories.find(name);
  if (it == categories.end()) {
    Entry entry;
    entry.name = std::make_unique<std::string>(name);
    // Enabled from warnings up: info and debug lines stay quiet until a rule enables them.
    entry.category = std::make_unique<QLoggingCategory>(entry.name->c_str(), QtWarningMsg);
    it = categories.emplace(std::string(name), std::move(entry)).first;
  }
  return *it->second.category;
}

}  // namespace

void RouteDiagnosticsToQtLogging() {
  SetDiagSink([](DiagLevel level, std::string_view category, std::string_view message) {
    const QLoggingCategory& log_category = CategoryFor(category);
    const QString text = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
    if (level == DiagLevel::Warning) {
      qCWarning(log_category, "%s", qUtf8Printable(text));
    } else {
      qCInfo(log_category, "%s", qUtf8Printable(text));
    }
  });
}

}  // namespace zelto::qt
