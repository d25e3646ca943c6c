// SPDX-License-Identifier: MIT
// The whole program with its real Qt windows, on the simulated bench and a virtual clock:
// the program's timers run on the clock, the windows are the ones the user gets.
#include "core/program/program.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest>
#include <array>
#include <filesystem>
#include <memory>

#include "core/text/parameter_file.h"
#include "core/text/string_table.h"
#include "core/text/text_id.h"
#include "gui/about_box.h"
#include "gui/area_canvas.h"
#include "gui/history_window.h"
#include "gui/led_indicator.h"
#include "gui/qt_common.h"
#include "gui/qt_ui.h"
#include "gui/radar_window.h"
#include "gui/signal_bar.h"
#include "sim/bench.h"
#include "sim/duroz740.h"
#include "sim/usb_bus.h"
#include "sim/virtual_clock.h"

using namespace zelto;
using namespace zelto::qt;

namespace {

constexpr std::uint8_t kReportModeRequest = 0x14;

// State, bench, windows and program, in the order they must be torn down.
struct World {
  explicit World(bool with_string_table = true) {
    if (with_string_table)
      QFile::copy(ZELTO_DATA_DIR "/StringTable.txt", dir.filePath("StringTable.txt"));
    sim::SetUpDemoBench(bus);
    program = std::make_unique<Program>(
        bus, clock, ui,
        ProgramConfig{std::filesystem::path(dir.path().toStdString()), ProgramVersion{}});
    program->SetHistoryClock(&clock);
    ui.Connect(*program);
  }
  ~World() { program.reset(); }

  std::filesystem::path Folder() const { return dir.path().toStdString(); }
  sim::Duroz740& Sensor() { return *bus.adapter(0).Sensor(); }
  MainWindow& Main() { return ui.Window(); }
  // The radar window on screen, if any.
  RadarWindow* Radar() {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (auto* radar = dynamic_cast<RadarWindow*>(top); radar != nullptr && radar->isVisible())
        return radar;
    return nullptr;
  }
  bool OpenRadarWindow() {
    program->Load();
    return clock.AdvanceUntil([this] { return Radar() != nullptr; }, 5000);
  }

  QTemporaryDir dir;
  sim::VirtualClock clock;
  sim::UsbBus bus{clock};
  QtUi ui;
  std::unique_ptr<Program> program;
};

QString MenuText(MainWindow& form, const char* name) {
  if (auto* menu = form.findChild<QMenu*>(name)) return menu->title();
  return form.findChild<QAction*>(name)->text();
}

// The user's keys in an open list: move `steps` items (up when negative), then Return.
void ChooseInOpenList(QComboBox* list, int steps) {
  for (int i = 0; i < qAbs(steps); ++i)
    QTest::keyClick(list->view(), steps < 0 ? Qt::Key_Up : Qt::Key_Down);
  QTest::keyClick(list->view(), Qt::Key_Return);
}

}  // namespace

class ProgramTest : public QObject {
  Q_OBJECT

 private slots:
  // A program that ended leaves its queued quit behind; delivered here, outside any event
  // loop, it has nothing to end, and the next test starts clean.
  void cleanup() { QCoreApplication::sendPostedEvents(); }

  void languageMenusSwitchCaptions();
  void missingStringTableEndsTheProgram_data();
  void missingStringTableEndsTheProgram();
  void decimalSeparatorFollowsTheLocale_data();
  void decimalSeparatorFollowsTheLocale();
  void choiceInTheRealListReachesTheSensor();
  void wheelAcrossTheFrameWritesNothing();
  void lostSensorBringsTheMainWindowBackAndTheProgramRuns();
  void closingTheRadarWindowEndsTheProgram();
  void historyByKeyboardDrawsAndSaves_data();
  void historyByKeyboardDrawsAndSaves();
  void timeLabelsStayInsideTheChart_data();
  void timeLabelsStayInsideTheChart();
  void everyControlHasAnAccessibleName();
};

namespace {

// The key that goes with the "&" of a caption.
Qt::Key AccessKey(const QString& caption) {
  const int at = caption.indexOf(QLatin1Char('&'));
  return static_cast<Qt::Key>(caption.at(at + 1).toUpper().unicode());
}

// Presses the button's access key and answers the file dialog it opens with `path`. A
// button's access key clicks it a moment later, as a mouse click would show.
void SaveThroughDialog(QWidget* window, QPushButton* button, const QString& path) {
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&answer, path] {
    if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      answer.stop();
      dialog->selectFile(path);
      QMetaObject::invokeMethod(dialog, "accept");
    }
  });
  answer.start(10);
  QApplication::setActiveWindow(window);
  QTest::keyClick(window, AccessKey(button->text()), Qt::AltModifier);
  QTRY_VERIFY(QFile::exists(path));
}

int CountColour(const QImage& image, QColor colour) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += image.pixelColor(x, y) == colour;
  return n;
}

}  // namespace

void ProgramTest::historyByKeyboardDrawsAndSaves_data() {
  QTest::addColumn<int>("language");
  QTest::newRow("Italian") << 0;
  QTest::newRow("English") << 1;
}

void ProgramTest::historyByKeyboardDrawsAndSaves() {
  QFETCH(int, language);
  World world;
  WriteParameterFile(world.Folder() / kParameterFile, static_cast<std::int16_t>(language));
  QVERIFY(world.OpenRadarWindow());
  // Someone walks past twice; between the walks the sensitivity changes and the sensor is
  // silent for two seconds.
  world.clock.AdvanceBy(5000);
  world.Sensor().WalkPast(15000, 3000);
  world.clock.AdvanceBy(8000);
  world.program->RadarWindowEvents().OnListClick(kSensitivity, 7);
  world.clock.AdvanceBy(4000);
  world.Sensor().SetSilent(true);
  world.clock.AdvanceBy(2000);
  world.Sensor().SetSilent(false);
  world.clock.AdvanceBy(8000);
  world.Sensor().WalkPast(12000, 4000);
  world.clock.AdvanceBy(12000);
  QCOMPARE(world.program->History().MarkerCount(), 1);

  RadarWindow* radar = world.Radar();
  QVERIFY(radar != nullptr);
  QApplication::setActiveWindow(radar);
  QTest::keyClick(radar, Qt::Key_H, Qt::ControlModifier);
  HistoryWindow* history = world.ui.History();
  QVERIFY(history != nullptr && history->isVisible());
  const auto& table = world.program->Texts().Entries();
  QCOMPARE(history->windowTitle(), FromCp1252(table[Text::kHistoryTitle]));
  QCOMPARE(radar->MenuHistory()->text(), FromCp1252(table[Text::kHistoryMenu]));

  // Level, peak, both walks, the marker and the silence are on the chart.
  const QImage chart = history->Chart()->grab().toImage();
  if (const QByteArray shots = qgetenv("ZELTO_HISTORY_SHOTS"); !shots.isEmpty())
    history->grab().save(QString::fromLocal8Bit(shots) + "/history-" +
                         QTest::currentDataTag() + ".png");
  QVERIFY(CountColour(chart, QColor(40, 90, 200)) > 100);   // level
  QVERIFY(CountColour(chart, QColor(230, 120, 0)) > 50);    // peak
  QVERIFY(CountColour(chart, QColor(255, 200, 200)) > 500); // detections
  QVERIFY(CountColour(chart, QColor(0, 128, 0)) > 50);      // marker and its label
  QVERIFY(CountColour(chart, QColor(150, 150, 150)) > 50);  // the gap's hatching

  // The range through its access key and the arrow keys.
  QApplication::setActiveWindow(history);
  QTest::keyClick(history, AccessKey(FromCp1252(table[Text::kRangeLabel])), Qt::AltModifier);
  QCOMPARE(QApplication::focusWidget(), history->Range());
  QTest::keyClick(history->Range(), Qt::Key_Down);
  QCOMPARE(history->Chart()->RangeMs(), std::int64_t{300'000});

  // Both files through their buttons' access keys and the file dialog.
  const QString csv_path = world.dir.filePath("walk.csv");
  const QString png_path = world.dir.filePath("walk.png");
  SaveThroughDialog(history, history->findChild<QPushButton*>("HistorySaveCsv"), csv_path);
  SaveThroughDialog(history, history->findChild<QPushButton*>("HistorySavePng"), png_path);
  QFile csv(csv_path);
  QVERIFY(csv.open(QIODevice::ReadOnly));
  const QList<QByteArray> rows = csv.readAll().split('\n');
  QCOMPARE(rows.first(), QByteArray("time_s,level,detected"));
  QVERIFY(rows.size() > 300);  // ten reports a second, less the silence
  QCOMPARE(QImage(png_path).size(), history->Chart()->size());
}

void ProgramTest::timeLabelsStayInsideTheChart_data() {
  QTest::addColumn<qint64>("range_ms");
  QTest::newRow("30 s") << qint64{30'000};
  QTest::newRow("60 s") << qint64{60'000};
  QTest::newRow("5 min") << qint64{300'000};
  QTest::newRow("2 h session") << qint64{7'200'000};
  QTest::newRow("40 h session") << qint64{144'000'000};
}

// At every width, and wherever the wall clock's whole steps fall, each label is whole inside
// the chart and clear of its neighbours; the chart keeps at least two.
void ProgramTest::timeLabelsStayInsideTheChart() {
  QFETCH(qint64, range_ms);
  const int label_width = 52;
  for (int width = 560; width <= 1900; width += 29) {
    const QRect plot(45, 40, width - 45 - 10, 200);
    for (std::int64_t phase = 0; phase < 120'000; phase += 1'250) {
      const std::int64_t to = 1'000'000'000;
      const auto spots = PlaceTimeLabels(plot, width, to - range_ms, to, phase, label_width);
      QVERIFY2(spots.size() >= 2, qPrintable(QString::number(width)));
      int right = -1000;
      for (const TimeLabelSpot& s : spots) {
        const QString where = QStringLiteral("width %1, phase %2, label at x %3")
                                  .arg(width).arg(phase).arg(s.x);
        QVERIFY2(s.left >= 0 && s.left + label_width <= width, qPrintable(where));
        QVERIFY2(s.left >= right + 4, qPrintable(where));
        right = s.left + label_width;
      }
    }
  }
}

void ProgramTest::everyControlHasAnAccessibleName() {
  World world;
  QVERIFY(world.OpenRadarWindow());
  world.clock.AdvanceBy(2000);
  world.ui.ShowHistory();
  AboutBox about;
  about.show();
  QWidget* windows[] = {world.Radar(), world.ui.History(), &world.Main(), &about};
  for (QWidget* window : windows) {
    QVERIFY(window != nullptr);
    for (QWidget* w : window->findChildren<QWidget*>()) {
      const bool control = qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractButton*>(w) ||
                           qobject_cast<QLabel*>(w) || qobject_cast<QStatusBar*>(w) ||
                           dynamic_cast<LedIndicator*>(w) || dynamic_cast<SignalBar*>(w) ||
                           dynamic_cast<AreaCanvas*>(w) || dynamic_cast<HistoryChart*>(w);
      if (!control || !w->isVisible()) continue;
      QAccessibleInterface* face = QAccessible::queryAccessibleInterface(w);
      QVERIFY(face != nullptr);
      QVERIFY2(!face->text(QAccessible::Name).isEmpty(),
               qPrintable(window->objectName() + "/" + w->objectName()));
    }
  }
}

void ProgramTest::languageMenusSwitchCaptions() {
  World world;
  world.program->Load();
  QVERIFY(world.Main().isVisible());
  const char* menus[] = {"ExitMenu", "LanguageMenu", "ItalianMenu", "EnglishMenu"};
  std::array<std::array<std::string, 201>, 2> tables;
  for (std::int16_t language : {0, 1})
    QVERIFY(LoadStringTable(world.Folder() / kStringTableFile, language, tables[language]));

  for (int language : {1, 0, 1}) {
    world.Main().findChild<QAction*>(language == 0 ? "ItalianMenu" : "EnglishMenu")->trigger();
    QCOMPARE(world.program->Texts().Language(), language);
    for (int i = 0; i < 4; ++i) {
      const QString expected = FromCp1252(tables[language][11 + i]);
      QVERIFY(!expected.isEmpty());
      QVERIFY(expected != FromCp1252(tables[1 - language][11 + i]));
      QCOMPARE(MenuText(world.Main(), menus[i]), expected);
    }
  }
  QCOMPARE(MenuText(world.Main(), "AboutMenu"), QString("?"));
}

void ProgramTest::missingStringTableEndsTheProgram_data() {
  QTest::addColumn<bool>("at_start_up");
  QTest::newRow("at start-up") << true;
  QTest::newRow("on a language change") << false;
}

void ProgramTest::missingStringTableEndsTheProgram() {
  QFETCH(bool, at_start_up);
  World world(!at_start_up);
  if (!at_start_up) {
    world.program->Load();
    QVERIFY(world.Main().isVisible());
    QVERIFY(QFile::remove(world.dir.filePath("StringTable.txt")));
  }
  QString text, title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    QVERIFY(box != nullptr);
    text = box->text();
    title = box->windowTitle();
    icon = box->icon();
    box->button(QMessageBox::Ok)->click();
  });
  if (at_start_up)
    world.program->Load();
  else
    world.Main().findChild<QAction*>("EnglishMenu")->trigger();

  QCOMPARE(text, QString("Unable to find file \"StringTable.txt\", the application will be "
                         "terminated"));
  QCOMPARE(title, QString("ZeltoSoft"));
  QCOMPARE(icon, QMessageBox::Critical);
  QVERIFY(world.program->Ended());
  QVERIFY(world.ui.QuitRequested());
  QVERIFY(!world.Main().isVisible());
  QVERIFY(world.Main().Unloaded());
  // The shutdown ran: the parameter file was written.
  QVERIFY(QFile::exists(world.dir.filePath("ZeltoSoft.prm")));
}

void ProgramTest::decimalSeparatorFollowsTheLocale_data() {
  QTest::addColumn<QLocale>("locale");
  QTest::addColumn<QString>("first_relay_time");
  QTest::newRow("Italian") << QLocale(QLocale::Italian, QLocale::Italy) << "0,5";
  QTest::newRow("English") << QLocale(QLocale::English, QLocale::UnitedStates) << "0.5";
  QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << "0,5";
}

void ProgramTest::decimalSeparatorFollowsTheLocale() {
  QFETCH(QLocale, locale);
  QFETCH(QString, first_relay_time);
  const QLocale before;
  QLocale::setDefault(locale);
  {
    World world;
    QCOMPARE(QString::fromStdString(world.ui.DecimalSeparator()), first_relay_time.mid(1, 1));
    QVERIFY(world.OpenRadarWindow());
    QComboBox* relay = world.Radar()->List(kRelayTime);
    QCOMPARE(relay->count(), 9);
    QCOMPARE(relay->itemText(0), first_relay_time);
    QCOMPARE(relay->itemText(1), QString("1"));
  }
  QLocale::setDefault(before);
}

void ProgramTest::choiceInTheRealListReachesTheSensor() {
  World world;
  QVERIFY(world.OpenRadarWindow());
  QVERIFY(world.clock.NowMs() >= 3000);  // not before the start-up delay
  QVERIFY(!world.Main().isVisible());
  RadarWindow* radar = world.Radar();
  QComboBox* list = radar->List(kSensitivity);
  // The sensor's own sensitivity has been read into the list.
  QVERIFY(world.clock.AdvanceUntil(
      [&] {
        return list->currentIndex() == world.Sensor().ParamValue(sim::Duroz740::kSensitivity) - 1;
      },
      1000));
  const int start = list->currentIndex();

  list->showPopup();
  QVERIFY(world.program->Connection().list_open[kSensitivity]);
  // While the list is open nothing is written, whatever it shows.
  const std::uint64_t writes = world.Sensor().counters().writes;
  world.clock.AdvanceBy(500);
  QCOMPARE(world.Sensor().counters().writes, writes);

  ChooseInOpenList(list, -2);
  QVERIFY(!world.program->Connection().list_open[kSensitivity]);
  QVERIFY(world.clock.AdvanceUntil(
      [&] { return world.Sensor().ParamValue(sim::Duroz740::kSensitivity) == start - 1; }, 1000));
  // Read back from the sensor and shown again.
  world.clock.AdvanceBy(500);
  QCOMPARE(list->currentIndex(), start - 2);
  QVERIFY(world.Radar() == radar);
}

// The user turns the wheel over the lists on the way to somewhere else: only the list that
// has the focus (the sensitivity, when the window opens) takes it.
void ProgramTest::wheelAcrossTheFrameWritesNothing() {
  World world;
  QVERIFY(world.OpenRadarWindow());
  RadarWindow* radar = world.Radar();
  QVERIFY(QTest::qWaitForWindowActive(radar));
  QComboBox* sensitivity = radar->List(kSensitivity);
  QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(sensitivity));
  world.clock.AdvanceBy(1000);
  const std::array<std::uint8_t, 6> before = world.Sensor().Params();
  const auto wheel = [](QWidget* list) {
    const QPointF at = list->rect().center();
    QWheelEvent notch(at, list->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(list, &notch);
  };
  for (ParamList list :
       {kRelayTime, kReactionSpeed, kMainsFilter, kHighTrafficMode})
    wheel(radar->List(list));
  world.clock.AdvanceBy(1000);
  QCOMPARE(world.Sensor().Params(), before);
  QCOMPARE(world.Sensor().counters().writes, std::uint64_t{0});

  // The focus the window put on its first list when it opened by itself is not the user's.
  wheel(sensitivity);
  world.clock.AdvanceBy(1000);
  QCOMPARE(world.Sensor().Params(), before);
  // Once the user has tabbed through to it, the wheel is a choice.
  QTest::keyClick(sensitivity, Qt::Key_Tab);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
  QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(sensitivity));
  wheel(sensitivity);
  QVERIFY(world.clock.AdvanceUntil(
      [&] { return world.Sensor().ParamValue(sim::Duroz740::kSensitivity) == before[0] + 1; },
      1000));
}

void ProgramTest::lostSensorBringsTheMainWindowBackAndTheProgramRuns() {
  World world;
  QVERIFY(!QApplication::quitOnLastWindowClosed());
  bool back = false;
  // Inside the real event loop: had anything asked the application to quit, exec() would
  // return that instead of our own code.
  QTimer::singleShot(0, [&] {
    // Armed first: a failed check below returns from this lambda, and the loop must still
    // end so that the failure is reported rather than waiting for the test's time-out.
    QTimer::singleShot(100, [] { QCoreApplication::exit(42); });
    QVERIFY(world.OpenRadarWindow());
    world.Sensor().SetSilent(true);
    QVERIFY(world.clock.AdvanceUntil([&] { return world.Radar() == nullptr; }, 10000));
    back = world.Main().isVisible();
  });
  QCOMPARE(QApplication::exec(), 42);
  QVERIFY(back);
  QVERIFY(world.Main().isVisible());
  QVERIFY(!world.program->Ended());
  QVERIFY(!world.ui.QuitRequested());
  QCOMPARE(world.Main().findChild<QLabel*>("LabelStatusProg")->text(), QString());
  QCOMPARE(world.Main().findChild<QLabel*>("LabelStatusDevice")->text(), QString());

  // The sensor answers again: the radar window comes back, filled anew.
  world.Sensor().SetSilent(false);
  QVERIFY(world.clock.AdvanceUntil([&] { return world.Radar() != nullptr; }, 10000));
  QCOMPARE(world.Radar()->List(kSensitivity)->count(), 9);
  QVERIFY(!world.Main().isVisible());
}

void ProgramTest::closingTheRadarWindowEndsTheProgram() {
  World world;
  QVERIFY(world.OpenRadarWindow());
  world.clock.AdvanceBy(500);
  RadarWindow* radar = world.Radar();
  QVERIFY(!radar->close());  // the program unloads it
  QVERIFY(world.program->Ended());
  QVERIFY(world.ui.QuitRequested());
  QVERIFY(!radar->isVisible());
  QVERIFY(!world.Main().isVisible());
  // The last word to the sensor was the stop request.
  const auto& frames = world.bus.adapter(0).HostFrames();
  QVERIFY(!frames.empty());
  QCOMPARE(frames.back().frame.code, kReportModeRequest);
  QCOMPARE(frames.back().frame.count, std::size_t{1});
  QCOMPARE(frames.back().frame.payload[0], std::uint8_t{0});
  QVERIFY(QFile::exists(world.dir.filePath("ZeltoSoft.prm")));
}

QTEST_MAIN(ProgramTest)
#include "program_test.moc"
