// SPDX-License-Identifier: MIT
// The three windows on their own, driven through their ports the way the program drives
// them, and poked the way a user would.
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>
#include <string>
#include <vector>

#include "gui/qt_common.h"
#include "gui/area_canvas.h"
#include "gui/radar_window.h"
#include "gui/led_indicator.h"
#include "gui/signal_bar.h"
#include "gui/about_box.h"
#include "gui/main_window.h"

using namespace zelto;
using namespace zelto::qt;

namespace {

struct RecordingEvents : RadarEvents {
  std::vector<std::string> log;
  void OnRadarCloseRequested() override { log.push_back("close"); }
  void OnListDropDown(ParamList list) override {
    log.push_back("dropdown " + std::to_string(list));
  }
  void OnListClick(ParamList list, int index) override {
    log.push_back("click " + std::to_string(list) + " " + std::to_string(index));
  }
};

QColor PixelAt(QWidget* widget, QPoint point) {
  return widget->grab().toImage().pixelColor(point);
}

// Runs `check` on the modal box once it is up (the caller's exec() is blocking meanwhile).
void WhenModalShown(std::function<void(QWidget*)> check) {
  QTimer::singleShot(0, [check] {
    QWidget* modal = QApplication::activeModalWidget();
    QVERIFY(modal != nullptr);
    check(modal);
  });
}

}  // namespace

class WindowsTest : public QObject {
  Q_OBJECT

 private slots:
  void mainLabels_data();
  void mainLabels();
  void mainWindowFrame();
  void mainMenus();
  void mainTextsArePlainAndCp1252();
  void mainCloseBoxAsksTheProgram();
  void aboutBoxRebuiltAtEveryOpening();
  void fatalMessage();

  void radarControlsPlaced_data();
  void radarControlsPlaced();
  void radarHeightControlsStayHidden();
  void radarTabOrderRunsDownTheVisibleLists();
  void radarListEvents();
  void radarListIndexNeverRaisesAClick();
  void radarWheelChangesOnlyTheFocusedList_data();
  void radarWheelChangesOnlyTheFocusedList();
  void radarCloseGoesThroughTheProgram();
  void radarStatusPanelAndWidth();
  void ledColours();
  void barScale_data();
  void barScale();
  void barScaleTicksAndLabels();
  void areaMapping_data();
  void areaMapping();
  void gridLiesBeneathTheArea();
};

void WindowsTest::mainLabels_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QRect>("twips");
  QTest::addColumn<QColor>("colour");
  QTest::addColumn<QString>("family");
  QTest::addColumn<double>("points");
  QTest::newRow("LabelStatusDevice")
      << "LabelStatusDevice"
      << "Stato dispositivo" << QRect(180, 1620, 5712, 672) << QColor(192, 0, 0) << "Arial" << 13.5;
  QTest::newRow("LabelStatusProg") << "LabelStatusProg"
                                   << "Stato Programmatore" << QRect(120, 960, 5772, 732)
                                   << QColor(0, 128, 0) << "Arial" << 13.5;
  QTest::newRow("LabelVer") << "LabelVer"
                            << "Ver 1.00" << QRect(3420, 300, 1932, 432) << QColor(0, 0, 128)
                            << "Comic Sans MS" << 13.5;
  QTest::newRow("LabelName") << "LabelName"
                             << "ZeltoSoft" << QRect(540, 60, 2952, 792) << QColor(0, 0, 128)
                             << "Comic Sans MS" << 25.5;
}

void WindowsTest::mainLabels() {
  QFETCH(QString, name);
  QFETCH(QString, text);
  QFETCH(QRect, twips);
  QFETCH(QColor, colour);
  QFETCH(QString, family);
  QFETCH(double, points);
  MainWindow form;
  auto* label = form.findChild<QLabel*>(name);
  QVERIFY(label != nullptr);
  QCOMPARE(label->text(), text);
  QCOMPARE(label->geometry(), TwipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
  QCOMPARE(label->palette().color(QPalette::WindowText), colour);
  QCOMPARE(label->textFormat(), Qt::PlainText);
  QVERIFY(label->alignment() & Qt::AlignHCenter);
  QCOMPARE(label->font().families().value(0), family);
  QCOMPARE(label->font().pointSizeF(), points);
  // Whatever family the machine has, the one used is installed and keeps the style.
  const QFontInfo used(label->font());
  QVERIFY2(QFontDatabase::families().contains(used.family()), qPrintable(used.family()));
  QVERIFY(used.bold());
  QVERIFY(used.italic());
  QVERIFY(!label->autoFillBackground());
}

void WindowsTest::mainWindowFrame() {
  MainWindow form;
  form.ShowWindow();
  QCOMPARE(form.windowTitle(), QString("ZeltoSoft"));
  // The 16 px picture for the title bar, larger ones for task switchers and scaled screens,
  // each drawn at its size rather than blown up.
  const QList<QSize> sizes = form.windowIcon().availableSizes();
  for (int side : {16, 32, 48, 128}) {
    QVERIFY2(sizes.contains(QSize(side, side)), qPrintable(QString::number(side)));
    QCOMPARE(form.windowIcon().pixmap(QSize(side, side)).size(), QSize(side, side));
  }
  RecordingEvents events;
  RadarWindow radar(events);
  QCOMPARE(radar.windowIcon().availableSizes(), sizes);
  QWidget* client = form.centralWidget();
  QCOMPARE(client->size(), QSize(Twips(6060), Twips(2490)));
  QCOMPARE(client->palette().color(QPalette::Window), QColor(Qt::white));
  // Centred on the screen.
  const QRect screen = form.screen()->availableGeometry();
  QVERIFY(qAbs(form.geometry().center().x() - screen.center().x()) <= 2);

  // The logo: natural size, behind every label, cut off by the client area.
  auto* image = form.findChild<QLabel*>("Image1");
  QVERIFY(image != nullptr);
  QCOMPARE(image->pixmap().size(), QSize(474, 173));
  QCOMPARE(image->pos(), TwipsRect(180, 180, 0, 0).topLeft());
  QVERIFY(image->geometry().right() > client->width());
  const QObjectList stack = client->children();
  for (const char* name : {"LabelStatusDevice", "LabelStatusProg", "LabelVer", "LabelName"})
    QVERIFY(stack.indexOf(image) < stack.indexOf(form.findChild<QLabel*>(name)));
}

void WindowsTest::mainMenus() {
  MainWindow form;
  std::vector<std::string> log;
  form.SetHandlers({[&] { log.push_back("exit"); }, [&] { log.push_back("closebox"); },
                    [&] { log.push_back("about"); }, [&] { log.push_back("it"); },
                    [&] { log.push_back("eng"); }});
  const struct {
    const char* name;
    const char* design;
    const char* event;
  } menus[] = {{"ExitMenu", "&Exit", "exit"},
               {"ItalianMenu", "&Italian", "it"},
               {"EnglishMenu", "&English", "eng"},
               {"AboutMenu", "?", "about"}};
  for (const auto& menu : menus) {
    auto* action = form.findChild<QAction*>(menu.name);
    QVERIFY2(action != nullptr, menu.name);
    QCOMPARE(action->text(), QString(menu.design));
    action->trigger();
    QCOMPARE(log.back(), std::string(menu.event));
  }
  auto* language = form.findChild<QMenu*>("LanguageMenu");
  QCOMPARE(language->title(), QString("&Language"));
  QCOMPARE(language->actions().size(), 2);
  QCOMPARE(log.size(), std::size_t{4});
}

void WindowsTest::mainTextsArePlainAndCp1252() {
  MainWindow form;
  form.SetStatusDevice("<b>Dispositivo</b> \xe0 posto");  // 0xE0 is "à" in Windows-1252
  form.SetStatusDeviceColour(kGreen);
  form.SetMenuCaption(MainMenu::kLanguage, "&Lingua \x80");  // 0x80 is the euro sign
  form.SetLabelVer("Ver 1.213");
  auto* device = form.findChild<QLabel*>("LabelStatusDevice");
  QCOMPARE(device->text(), QString::fromUtf8("<b>Dispositivo</b> à posto"));
  QCOMPARE(device->palette().color(QPalette::WindowText), QColor(0, 128, 0));
  QCOMPARE(form.findChild<QMenu*>("LanguageMenu")->title(), QString::fromUtf8("&Lingua €"));
  QCOMPARE(form.findChild<QLabel*>("LabelVer")->text(), QString("Ver 1.213"));
}

void WindowsTest::mainCloseBoxAsksTheProgram() {
  MainWindow form;
  int close_box = 0, exits = 0;
  form.SetHandlers({[&] { ++exits; }, [&] { ++close_box; }, {}, {}, {}});
  form.ShowWindow();
  QVERIFY(!form.close());  // the program decides, not the window
  QVERIFY(form.isVisible());
  QCOMPARE(close_box, 1);

  form.Unload();
  QVERIFY(!form.isVisible());
  form.ShowWindow();  // gone for good
  QVERIFY(!form.isVisible());
  form.findChild<QAction*>("ExitMenu")->trigger();
  form.close();
  QCOMPARE(close_box, 1);
  QCOMPARE(exits, 0);
}

void WindowsTest::aboutBoxRebuiltAtEveryOpening() {
  MainWindow form;
  form.ShowWindow();
  QStringList texts;
  for (int opening = 0; opening < 2; ++opening) {
    WhenModalShown([&](QWidget* modal) {
      QCOMPARE(modal->objectName(), QString("AboutBox"));
      QVERIFY(form.AboutShown());
      QCOMPARE(modal->windowTitle(), QString());
      QCOMPARE(modal->size(), QSize(Twips(3960), Twips(2520)));
      QCOMPARE(modal->palette().color(QPalette::Window), QColor(Qt::white));
      // Centred over the main window.
      QVERIFY((modal->geometry().center() - form.geometry().center()).manhattanLength() <= 2);
      auto* logo = modal->findChild<QLabel*>("Image1");
      QCOMPARE(logo->pixmap().size(), QSize(197, 64));
      texts << modal->findChild<QLabel*>("LabelAbout")->text();
      auto* ok = modal->findChild<QPushButton*>("CommExitAbout");
      QCOMPARE(ok->text(), QString("OK"));
      ok->click();
    });
    form.ShowAbout();
    QVERIFY(!form.AboutShown());
  }
  QCOMPARE(texts.size(), 2);
  QCOMPARE(texts[0], texts[1]);
  QCOMPARE(texts[0], AboutBox::ContactText());
  const QStringList lines = texts[0].split("\r\n");
  QCOMPARE(lines.size(), 7);  // six lines, each ended by CR LF
  QCOMPARE(lines.last(), QString());
  QVERIFY(lines[3].startsWith("Tel."));
  QVERIFY(lines[4].startsWith("Fax"));
  QVERIFY(lines[5].contains("@example.com - "));
  QVERIFY(lines[0].contains("(example)"));
}

void WindowsTest::fatalMessage() {
  MainWindow form;
  const std::string text =
      "Unable to find file \"StringTable.txt\", the application will be terminated";
  bool seen = false;
  WhenModalShown([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box != nullptr);
    QCOMPARE(box->text(), QString::fromStdString(text));
    QCOMPARE(box->windowTitle(), QString("ZeltoSoft"));
    QCOMPARE(box->icon(), QMessageBox::Critical);
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box->textFormat(), Qt::PlainText);
    seen = true;
    box->button(QMessageBox::Ok)->click();
  });
  form.ShowFatalMessage(text, "ZeltoSoft");
  QVERIFY(seen);
}

void WindowsTest::radarControlsPlaced_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QRect>("twips");
  QTest::addColumn<QString>("container");
  const auto row = [](const char* name, QRect twips, const char* container) {
    QTest::newRow(name) << name << twips << container;
  };
  row("DetectionLed", QRect(120, 360, 1032, 372), "RadarWindowClient");
  row("ParametersFrame", QRect(1200, 60, 3672, 4272), "RadarWindowClient");
  row("SignalBar", QRect(120, 720, 1032, 2892), "RadarWindowClient");
  row("LevelValue", QRect(120, 3660, 1032, 312), "RadarWindowClient");
  row("HeldPeakValue", QRect(120, 4020, 1032, 312), "RadarWindowClient");
  row("SignalCaption", QRect(180, 120, 912, 252), "RadarWindowClient");
  row("SensitivityList", QRect(1860, 2400, 1635, 288), "ParametersFrame");
  row("HighTrafficModeList", QRect(1860, 3600, 1635, 288), "ParametersFrame");
  row("HeightList", QRect(1860, 3900, 1635, 288), "ParametersFrame");
  row("AreaCanvas", QRect(180, 540, 3315, 1800), "ParametersFrame");
  row("HeightValue", QRect(240, 300, 3192, 252), "ParametersFrame");
  row("RelayTimeCaption", QRect(180, 2760, 1572, 192), "ParametersFrame");
  row("SensitivityCaption", QRect(180, 2460, 1632, 192), "ParametersFrame");
}

void WindowsTest::radarControlsPlaced() {
  QFETCH(QString, name);
  QFETCH(QRect, twips);
  QFETCH(QString, container);
  RecordingEvents events;
  RadarWindow form(events);
  auto* widget = form.findChild<QWidget*>(name);
  QVERIFY(widget != nullptr);
  QCOMPARE(widget->parentWidget()->objectName(), container);
  QCOMPARE(widget->geometry(), TwipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
}

void WindowsTest::radarHeightControlsStayHidden() {
  RecordingEvents events;
  RadarWindow form(events);
  form.SetListItems(kHeight, {"2,30 m", "2,90 m", "3,50 m"});
  form.SetListIndex(kHeight, 1);
  form.SetLabelText(RadarLabel::kHeightValue, "Altezza:  2.90 m");
  form.ShowWindow();
  for (const char* hidden : {"HeightList", "HeightCaption", "HeightValue"})
    QVERIFY2(!form.findChild<QWidget*>(hidden)->isVisible(), hidden);
  for (const char* shown : {"SensitivityList", "RelayTimeList", "ReactionSpeedList",
                            "MainsFilterList", "HighTrafficModeList", "HighTrafficModeCaption",
                            "AreaCanvas", "DetectionArea", "Line1", "Line2"})
    QVERIFY2(form.findChild<QWidget*>(shown)->isVisible(), shown);
  for (QComboBox* list : form.findChildren<QComboBox*>()) QVERIFY(!list->isEditable());
  QCOMPARE(form.findChildren<QComboBox*>().size(), 6);
}

void WindowsTest::radarTabOrderRunsDownTheVisibleLists() {
  RecordingEvents events;
  RadarWindow form(events);
  form.ShowWindow();
  QApplication::setActiveWindow(&form);
  QVERIFY(QTest::qWaitForWindowActive(&form));
  form.List(kSensitivity)->setFocus();
  QStringList order{QApplication::focusWidget()->objectName()};
  for (int i = 0; i < 5; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    order << QApplication::focusWidget()->objectName();
  }
  QCOMPARE(order, QStringList({"SensitivityList", "RelayTimeList", "ReactionSpeedList",
                               "MainsFilterList", "HighTrafficModeList", "SensitivityList"}));
}

void WindowsTest::radarListEvents() {
  RecordingEvents events;
  RadarWindow form(events);
  form.SetListItems(kReactionSpeed, {"Lenta", "Normale", "Veloce"});
  form.SetListIndex(kReactionSpeed, 1);
  form.ShowWindow();
  ParamCombo* list = form.List(kReactionSpeed);

  // Mouse path: the list drops open, the user picks the last item.
  list->showPopup();
  QCOMPARE(events.log, std::vector<std::string>{"dropdown 2"});
  QTRY_VERIFY(list->view()->isVisible());
  QTest::keyClick(list->view(), Qt::Key_Down);
  QTest::keyClick(list->view(), Qt::Key_Return);
  QCOMPARE(events.log.back(), std::string("click 2 2"));
  QCOMPARE(list->currentIndex(), 2);

  // Keyboard on the closed list is a choice too, and raises no DropDown.
  events.log.clear();
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Up);
  QCOMPARE(events.log, std::vector<std::string>{"click 2 1"});

  // Dropped open and dismissed: no choice.
  events.log.clear();
  list->showPopup();
  QTRY_VERIFY(list->view()->isVisible());
  QTest::keyClick(list->view(), Qt::Key_Escape);
  QCOMPARE(events.log, std::vector<std::string>{"dropdown 2"});
}

void WindowsTest::radarListIndexNeverRaisesAClick() {
  RecordingEvents events;
  RadarWindow form(events);
  form.SetListItems(kSensitivity, {"1", "2", "3", "4", "5", "6", "7", "8", "9"});
  QCOMPARE(form.List(kSensitivity)->currentIndex(), -1);  // until the program selects
  form.SetListIndex(kSensitivity, 4);
  QCOMPARE(form.List(kSensitivity)->currentText(), QString("5"));
  form.SetListIndex(kSensitivity, 9);  // no such item: nothing selected
  QCOMPARE(form.List(kSensitivity)->currentIndex(), -1);
  form.SetListItems(kMainsFilter, {"No \xe8", "50 Hz", "60 Hz"});
  QCOMPARE(form.List(kMainsFilter)->itemText(0), QString::fromUtf8("No è"));
  QVERIFY(events.log.empty());
}

// How the sensitivity list got the focus, and whether the wheel over it is then a choice.
// "window" is the focus the window puts on its first list when it opens by itself.
void WindowsTest::radarWheelChangesOnlyTheFocusedList_data() {
  QTest::addColumn<QString>("how");
  QTest::addColumn<bool>("takes_wheel");
  QTest::newRow("WindowOpening") << "window" << false;
  QTest::newRow("SetByTheProgram") << "program" << false;
  QTest::newRow("Click") << "mouse" << true;
  QTest::newRow("Tab") << "tab" << true;
  QTest::newRow("ShiftTab") << "backtab" << true;
  QTest::newRow("AccessKey") << "shortcut" << true;
  QTest::newRow("ClickThenAnotherWindow") << "mouse+away" << true;
}

void WindowsTest::radarWheelChangesOnlyTheFocusedList() {
  QFETCH(QString, how);
  QFETCH(bool, takes_wheel);
  RecordingEvents events;
  RadarWindow form(events);
  for (ParamList list : {kSensitivity, kRelayTime}) {
    form.SetListItems(list, {"1", "2", "3", "4", "5"});
    form.SetListIndex(list, 2);
  }
  form.ShowWindow();
  QApplication::setActiveWindow(&form);
  QVERIFY(QTest::qWaitForWindowActive(&form));
  ParamCombo* sensitivity = form.List(kSensitivity);
  if (how == "program") sensitivity->setFocus();
  if (how.startsWith("mouse")) {
    // The click drops the list open; the user closes it again without picking.
    QTest::mouseClick(sensitivity, Qt::LeftButton);
    sensitivity->hidePopup();
    events.log.clear();
  }
  if (how == "shortcut") {
    form.List(kRelayTime)->setFocus();
    sensitivity->setFocus(Qt::ShortcutFocusReason);
  }
  if (how == "tab") {
    form.List(kHighTrafficMode)->setFocus();
    QTest::keyClick(form.List(kHighTrafficMode), Qt::Key_Tab);
  }
  if (how == "backtab") {
    form.List(kRelayTime)->setFocus();
    QTest::keyClick(form.List(kRelayTime), Qt::Key_Backtab, Qt::ShiftModifier);
  }
  QTRY_VERIFY(sensitivity->hasFocus());
  if (how.endsWith("+away")) {
    // Another window comes and goes: the focus comes back to the list the user chose.
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    QVERIFY(QTest::qWaitForWindowActive(&other));
    other.hide();
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTRY_VERIFY(sensitivity->hasFocus());
  }
  const auto wheel = [](QWidget* list) {
    const QPointF at = list->rect().center();
    QWheelEvent notch(at, list->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(list, &notch);
  };
  // Scrolling across the frame over a list that has no focus changes nothing.
  wheel(form.List(kRelayTime));
  QCOMPARE(form.List(kRelayTime)->currentIndex(), 2);
  QVERIFY(events.log.empty());
  wheel(sensitivity);
  if (takes_wheel) {
    QCOMPARE(sensitivity->currentIndex(), 3);
    QCOMPARE(events.log, std::vector<std::string>{"click 0 3"});
  } else {
    QCOMPARE(sensitivity->currentIndex(), 2);
    QVERIFY(events.log.empty());
  }
}

void WindowsTest::radarCloseGoesThroughTheProgram() {
  RecordingEvents events;
  RadarWindow form(events);
  form.ShowWindow();
  QVERIFY(!form.close());
  QVERIFY(form.isVisible());
  auto* exit = form.findChild<QAction*>("MenuFileExit");
  QCOMPARE(exit->text(), QString("&Esci"));
  exit->trigger();
  QCOMPARE(events.log, (std::vector<std::string>{"close", "close"}));

  form.List(kSensitivity)->addItem("1");
  form.List(kSensitivity)->showPopup();
  form.Unload();
  QVERIFY(!form.isVisible());
  QVERIFY(!form.List(kSensitivity)->view()->isVisible());
  exit->trigger();
  form.close();
  form.List(kSensitivity)->showPopup();
  QCOMPARE(events.log.size(), std::size_t{3});  // only the DropDown before the unload
}

void WindowsTest::radarStatusPanelAndWidth() {
  RecordingEvents events;
  RadarWindow form(events);
  form.SetCaption("Duroz740");
  form.SetMenuFileExitCaption("&Exit");
  form.SetLabelText(RadarLabel::kParametersFrame, "Parametri");
  form.ShowIdentification("ZS74000001 - HW: 102");
  form.ShowWindow();
  QCOMPARE(form.centralWidget()->width(), Twips(4972));
  QCOMPARE(form.width(), Twips(4972));
  QCOMPARE(form.windowTitle(), QString("Duroz740"));
  QCOMPARE(form.findChild<QGroupBox*>("ParametersFrame")->title(), QString("Parametri"));
  auto* panel = form.statusBar()->findChild<QLabel*>("IdentificationPanel");
  QVERIFY(panel != nullptr);
  QCOMPARE(panel->text(), QString("ZS74000001 - HW: 102"));
  QVERIFY(panel->font().bold());
  auto* level = form.findChild<QLabel*>("HeldPeakValue");
  QCOMPARE(level->text(), QString("0"));
  QVERIFY(level->font().bold());
  QCOMPARE(level->font().pointSizeF(), 12.0);
  QCOMPARE(level->palette().color(QPalette::Window), QColor(Qt::white));
  QCOMPARE(level->frameShape(), QFrame::Box);
}

void WindowsTest::ledColours() {
  LedIndicator led;
  led.resize(Twips(1032), Twips(372));
  QCOMPARE(led.LampRect().width(), led.LampRect().height());
  const QPoint centre = led.LampRect().center();
  QCOMPARE(PixelAt(&led, centre), QColor(192, 192, 192));
  led.SetLit(true);
  QVERIFY(led.IsLit());
  QCOMPARE(PixelAt(&led, centre), QColor(255, 51, 51));
  led.SetLit(false);
  QCOMPARE(PixelAt(&led, centre), QColor(192, 192, 192));
}

void WindowsTest::barScale_data() {
  QTest::addColumn<int>("value");
  QTest::addColumn<double>("filled");  // share of the track
  QTest::addColumn<bool>("over_range");
  QTest::newRow("empty") << 0 << 0.0 << false;
  QTest::newRow("half") << 10000 << 0.5 << false;
  QTest::newRow("full") << 20000 << 1.0 << false;
  QTest::newRow("above the scale") << 20001 << 1.0 << true;
  QTest::newRow("largest level") << 65535 << 1.0 << true;
}

void WindowsTest::barScale() {
  QFETCH(int, value);
  QFETCH(double, filled);
  QFETCH(bool, over_range);
  SignalBar bar;
  bar.resize(Twips(1032), Twips(2892));
  bar.SetValue(value);
  QCOMPARE(bar.Value(), value);
  QCOMPARE(bar.OverRange(), over_range);
  const QRect inner = bar.TrackRect().adjusted(1, 1, -1, -1);
  QVERIFY(qAbs(bar.FilledRect().height() - filled * inner.height()) <= 1.0);
  if (filled > 0) QCOMPARE(bar.FilledRect().bottom(), inner.bottom());
  // The over-range mark sits just above the track's top.
  const QColor above =
      PixelAt(&bar, QPoint(bar.TrackRect().center().x(), bar.TrackRect().top() - 2));
  QCOMPARE(above.red() > 200 && above.green() < 60, over_range);
}

// The scale beside the bar: a tick every 5000 from 0 at the bottom to 20000 at the top, each
// with its number, the top one readable in full.
void WindowsTest::barScaleTicksAndLabels() {
  SignalBar bar;
  bar.resize(Twips(1032), Twips(2892));
  const QImage shown = bar.grab().toImage();
  const QRect track = bar.TrackRect();
  const QRect inner = track.adjusted(1, 1, -1, -1);
  const QColor ink = bar.palette().color(QPalette::WindowText);
  const QFontMetrics metrics(bar.ScaleFont());
  for (int mark = 0; mark <= 20000; mark += 5000) {
    const int y = inner.bottom() - (inner.height() - 1) * mark / 20000;
    // The tick: a short line ending two pixels before the track.
    for (int x = track.left() - 6; x <= track.left() - 3; ++x)
      QVERIFY2(shown.pixelColor(x, y) == ink,
               qPrintable(QString("tick %1 at x %2").arg(mark).arg(x)));
    QCOMPARE(shown.pixelColor(track.left() - 2, y), bar.palette().color(QPalette::Window));
    // The number, right-aligned before the tick and centred on it: drawn alone on a blank
    // image of the same size, it gives the same pixels.
    QImage alone(shown.size(), shown.format());
    alone.fill(bar.palette().color(QPalette::Window));
    {
      QPainter painter(&alone);
      painter.setFont(bar.ScaleFont());
      painter.setPen(ink);
      const QRect box(0, y - metrics.height() / 2, track.left() - 7, metrics.height());
      painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, QString::number(mark));
    }
    const QRect text_area(0, y - metrics.height() / 2, track.left() - 7, metrics.height());
    QCOMPARE(shown.copy(text_area), alone.copy(text_area));
  }
  // "20000" fits between the left edge and its tick, so no digit is cut off.
  QVERIFY(metrics.horizontalAdvance("20000") <= track.left() - 7);
  QVERIFY(inner.top() - metrics.height() / 2 >= 0);
}

void WindowsTest::areaMapping_data() {
  // The area in canvas units (400 x 300) for each sensitivity: left, top, width, height.
  QTest::addColumn<int>("sensitivity");
  QTest::addColumn<QRectF>("units");
  const int expected[9][4] = {{125, 90, 150, 120}, {110, 80, 180, 140}, {95, 70, 210, 160},
                              {80, 60, 240, 180},  {65, 50, 270, 200},  {50, 40, 300, 220},
                              {35, 30, 330, 240},  {20, 20, 360, 260},  {5, 10, 390, 280}};
  for (int s = 1; s <= 9; ++s) {
    const int* e = expected[s - 1];
    QTest::newRow(qPrintable(QString::number(s))) << s << QRectF(e[0], e[1], e[2], e[3]);
  }
}

void WindowsTest::areaMapping() {
  QFETCH(int, sensitivity);
  QFETCH(QRectF, units);
  RecordingEvents events;
  RadarWindow form(events);
  AreaCanvas* canvas = form.Canvas();
  const QRect inner = canvas->contentsRect();
  QCOMPARE(canvas->ToPixels(QRectF(0, 0, 400, 300)), inner);
  form.ShowDetectionArea(sensitivity);
  QCOMPARE(canvas->Area(), units);
  QVERIFY(canvas->GridDrawn());
  const double width = units.width(), height = units.height();
  QWidget* shape = form.findChild<QWidget*>("DetectionArea");
  QCOMPARE(shape->parentWidget(), canvas);
  const QRect placed = shape->geometry();
  // Centred on the canvas, at 400 x 300 units over the inner area.
  QVERIFY(qAbs(placed.center().x() - inner.center().x()) <= 1);
  QVERIFY(qAbs(placed.center().y() - inner.center().y()) <= 1);
  QVERIFY(qAbs(placed.width() - width * inner.width() / 400.0) <= 1.0);
  QVERIFY(qAbs(placed.height() - height * inner.height() / 300.0) <= 1.0);
}

void WindowsTest::gridLiesBeneathTheArea() {
  RecordingEvents events;
  RadarWindow form(events);
  form.ShowWindow();
  AreaCanvas* canvas = form.Canvas();
  // Before the first sensitivity the shape keeps its design place.
  QCOMPARE(form.findChild<QWidget*>("DetectionArea")->geometry(),
           canvas->ToPixels(QRectF(408 / 8.1375, 120 / 5.8, 2436 / 8.1375, 1512 / 5.8)));
  canvas->SetArea(QRectF(125, 90, 150, 120));  // sensitivity 1: the corners stay clear
  const QPoint on_line = canvas->ToPixels(QPointF(50, 20)).toPoint();
  const QPoint in_shape = canvas->ToPixels(QPointF(200, 150)).toPoint();  // two lines cross
  const QPoint open = canvas->ToPixels(QPointF(25, 25)).toPoint();
  QCOMPARE(PixelAt(canvas, on_line), QColor(Qt::white));
  QCOMPARE(PixelAt(canvas, in_shape), QColor(255, 128, 128));

  canvas->DrawGrid();
  QVERIFY(canvas->GridDrawn());
  QCOMPARE(PixelAt(canvas, on_line), canvas->palette().color(QPalette::WindowText));
  QCOMPARE(PixelAt(canvas, in_shape), QColor(255, 128, 128));
  QCOMPARE(PixelAt(canvas, open), QColor(Qt::white));
}

QTEST_MAIN(WindowsTest)
#include "windows_test.moc"
