// SPDX-License-Identifier: MIT
#include "gui/qt_ui.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QMetaObject>

#include "gui/qt_common.h"
#include "gui/form_duroz740.h"
#include "core/text/cp1252.h"
#include "core/program/program.h"

namespace zelto::qt {

QtUi::QtUi() {
  InitResources();
  QApplication::setWindowIcon(WindowIcon());
  // The radar window closes while the main window is hidden when the sensor is lost; the
  // program goes on until the main window is unloaded, never because no window is visible.
  QApplication::setQuitOnLastWindowClosed(false);
}

QtUi::~QtUi() = default;

void QtUi::Connect(Program& program) {
  main_.SetHandlers(FormStart::Handlers{
      .mnu_exit = [&program] { program.OnMnuExit(); },
      .close_box = [&program] { program.OnMainCloseBox(); },
      .mnu_about = [&program] { program.OnMnuAbout(); },
      .mnu_language_it = [&program] { program.OnMnuLanguageIt(); },
      .mnu_language_eng = [&program] { program.OnMnuLanguageEng(); },
  });
}

std::unique_ptr<RadarView> QtUi::CreateRadarView(RadarEvents& events) {
  return std::make_unique<FormDuroz740>(events);
}

std::string QtUi::DecimalSeparator() const {
  // The relay-time items are 8-bit text: a separator Windows-1252 cannot write falls back
  // to the point.
  const std::string separator = Utf8ToCp1252(QLocale().decimalPoint().toStdString());
  if (separator.empty() || separator.find('?') != std::string::npos) return ".";
  return separator;
}

void QtUi::Quit() {
  quit_requested_ = true;
  // Queued: the handler that ended the program runs to its end first, and a quit asked for
  // before the event loop started still ends it as soon as it runs.
  QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

}  // namespace zelto::qt
