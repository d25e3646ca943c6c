// SPDX-License-Identifier: MIT
#include "gui/qt_ui.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QMetaObject>

#include "core/program/program.h"
#include "core/text/cp1252.h"
#include "core/text/text_id.h"
#include "gui/history_window.h"
#include "gui/qt_common.h"
#include "gui/radar_window.h"

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
  program_ = &program;
  main_.SetHandlers(MainWindow::Handlers{
      .exit_chosen = [&program] { program.OnExitChosen(); },
      .close_box = [&program] { program.OnMainCloseBox(); },
      .about_chosen = [&program] { program.OnAboutChosen(); },
      .italian_chosen = [&program] { program.OnItalianChosen(); },
      .english_chosen = [&program] { program.OnEnglishChosen(); },
  });
}

std::unique_ptr<RadarView> QtUi::CreateRadarView(RadarEvents& events) {
  auto form = std::make_unique<RadarWindow>(events);
  if (program_ != nullptr) {
    const auto& table = program_->Texts().Entries();
    if (program_->HistoryClock() != nullptr)
      form->AddHistoryItem(FromCp1252(table[Text::kHistoryMenu]), [this] { ShowHistory(); });
    form->SetAccessibleNames(
        FromCp1252(table[Text::kDetectionLedName]), FromCp1252(table[Text::kSignalLevelName]),
        FromCp1252(table[Text::kSignalLevelName]), FromCp1252(table[Text::kSignalPeakName]),
        FromCp1252(table[Text::kDetectionAreaName]), FromCp1252(table[Text::kIdentificationName]));
  }
  return form;
}

void QtUi::ShowHistory() {
  if (program_ == nullptr || program_->HistoryClock() == nullptr) return;
  if (!history_)
    history_ = std::make_unique<HistoryWindow>(program_->History(), *program_->HistoryClock());
  history_->ApplyTexts(program_->Texts().Entries());
  history_->show();
  history_->raise();
  history_->activateWindow();
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
  if (history_) history_->hide();
  // Queued: the handler that ended the program runs to its end first, and a quit asked for
  // before the event loop started still ends it as soon as it runs.
  QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

}  // namespace zelto::qt
