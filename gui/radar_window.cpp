// SPDX-License-Identifier: MIT
#include "gui/radar_window.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QWheelEvent>

#include "gui/qt_common.h"
#include "gui/area_canvas.h"
#include "gui/level_label.h"
#include "gui/led_indicator.h"
#include "gui/signal_bar.h"

namespace zelto::qt {

namespace {
// The client area above the status bar, in twips; the status bar takes the rest of the
// design height (4665).
// The form is drawn 7800 twips wide; the window shows only the parameters' frame (1200 from
// the left, 3672 wide) with a margin.
constexpr int kClientWidthTwips = 1200 + 3672 + 100;
constexpr int kClientHeightTwips = 4356;

// Every list row: the list at 1860 and its caption label 60 twips lower at 180.
struct ListRow {
  ParamList list;
  const char* list_name;
  int top;
  const char* caption_name;
  const char* caption_text;
  int caption_width;
};

// Top to bottom as they stand in the frame; this is also the keyboard order.
constexpr ListRow kRows[] = {
    {kSensitivity, "SensitivityList", 2400, "SensitivityCaption", "Sensibilit\xc3\xa0", 1632},
    {kRelayTime, "RelayTimeList", 2700, "RelayTimeCaption", "Tempo ON Rele [sec]", 1572},
    {kReactionSpeed, "ReactionSpeedList", 3000, "ReactionSpeedCaption", "Velocit\xc3\xa0 di reazione", 1632},
    {kMainsFilter, "MainsFilterList", 3300, "MainsFilterCaption", "Filtro disturbi di Rete", 1632},
    {kHighTrafficMode, "HighTrafficModeList", 3600, "HighTrafficModeCaption",
     "Modalit\xc3\xa0 Alto Traffico", 1632},
    {kHeight, "HeightList", 3900, "HeightCaption", "Altezza Installazione", 1632},
};

QLabel* MakeValueLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
  auto* label = new LevelLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  label->setTextInteractionFlags(Qt::NoTextInteraction);
  label->setGeometry(geometry);
  label->setAlignment(Qt::AlignCenter);
  label->setFont(MakeFont(SansSerifFamilies(), 12, true));
  label->setFrameStyle(QFrame::Box | QFrame::Plain);
  label->setLineWidth(1);
  SetBackgroundColour(label, Qt::white);
  SetTextColour(label, Qt::black);
  return label;
}

QWidget* MakeLine(QWidget* parent, const char* name, QRect geometry, QPalette::ColorRole role) {
  auto* line = new QWidget(parent);
  line->setObjectName(name);
  line->setGeometry(geometry);
  SetBackgroundColour(line, parent->palette().color(role));
  return line;
}
}  // namespace

bool ParamCombo::IsUsersFocus(Qt::FocusReason reason) {
  return reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason ||
         reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
}

void ParamCombo::showPopup() {
  // Reported before the list opens, so the program knows the user is choosing before any
  // choice can arrive.
  if (on_drop_down) on_drop_down();
  QComboBox::showPopup();
}

void ParamCombo::focusInEvent(QFocusEvent* event) {
  // Not the window's own focus when it opens, nor focus coming back to the window.
  if (IsUsersFocus(event->reason())) focused_by_user_ = true;
  QComboBox::focusInEvent(event);
}

void ParamCombo::mousePressEvent(QMouseEvent* event) {
  // A click on the list the window had already focused brings no new focus event.
  focused_by_user_ = true;
  QComboBox::mousePressEvent(event);
}

void ParamCombo::focusOutEvent(QFocusEvent* event) {
  // The user moving on to another control takes the focus away; another window, or this
  // list's own popup, holding it for a while does not.
  if (IsUsersFocus(event->reason())) focused_by_user_ = false;
  QComboBox::focusOutEvent(event);
}

void ParamCombo::wheelEvent(QWheelEvent* event) {
  if (!(hasFocus() && focused_by_user_) && !view()->isVisible()) {
    event->ignore();  // left to the parent, as if the list were not there
    return;
  }
  QComboBox::wheelEvent(event);
}

RadarWindow::RadarWindow(RadarEvents& events, QWidget* parent)
    : QMainWindow(parent), events_(events) {
  InitResources();
  setObjectName("RadarWindow");
  setWindowTitle("Form1");
  setWindowIcon(WindowIcon());

  client_ = new QWidget(this);
  client_->setObjectName("RadarWindowClient");
  client_->setFixedSize(Twips(kClientWidthTwips), Twips(kClientHeightTwips));
  setCentralWidget(client_);
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  led_ = new LedIndicator(client_);
  led_->setObjectName("DetectionLed");
  led_->setGeometry(TwipsRect(120, 360, 1032, 372));

  BuildFrame();
  BuildSignalColumn(client_);

  MakeLine(client_, "Line1", QRect(0, 0, Twips(9855) + 1, 1), QPalette::Dark);
  MakeLine(client_, "Line2", QRect(0, Twips(15), Twips(9810) + 1, 1), QPalette::Light);

  status_bar_ = new QStatusBar(this);
  status_bar_->setObjectName("StatusBar");
  status_bar_->setSizeGripEnabled(false);
  identification_panel_ = MakePlainLabel(status_bar_, "IdentificationPanel", QString());
  identification_panel_->setFont(MakeFont(SansSerifFamilies(), 8.25, true));
  status_bar_->addWidget(identification_panel_, 1);
  setStatusBar(status_bar_);

  menu_file_exit_ = menuBar()->addAction("&Esci");
  menu_file_exit_->setObjectName("MenuFileExit");
  connect(menu_file_exit_, &QAction::triggered, this, [this] {
    if (!unloaded_) events_.OnRadarCloseRequested();
  });
}

RadarWindow::~RadarWindow() = default;

void RadarWindow::BuildFrame() {
  frame_param_ = new QGroupBox("Parametri", client_);
  frame_param_->setObjectName("ParametersFrame");
  frame_param_->setGeometry(TwipsRect(1200, 60, 3672, 4272));
  frame_param_->setFont(MakeFont(SansSerifFamilies(), 9.75, false, true));
  // The children keep the plain dialog font, not the frame's italic caption font.
  const QFont plain = MakeFont(SansSerifFamilies(), 8.25);

  for (const ListRow& row : kRows) {
    auto* combo = new ParamCombo(frame_param_);
    combo->setObjectName(row.list_name);
    combo->setEditable(false);
    combo->setFont(plain);
    combo->setGeometry(TwipsRect(1860, row.top, 1635, 288));
    combo->setFocusPolicy(Qt::StrongFocus);
    const ParamList list = row.list;
    combo->on_drop_down = [this, list] {
      if (!unloaded_) events_.OnListDropDown(list);
    };
    // activated: the user's choice by mouse or keyboard, never a change made by the program.
    connect(combo, &QComboBox::activated, this, [this, list](int index) {
      if (!unloaded_) events_.OnListClick(list, index);
    });
    lists_[list] = combo;

    QLabel* caption =
        MakePlainLabel(frame_param_, row.caption_name, QString::fromUtf8(row.caption_text));
    caption->setFont(plain);
    caption->setGeometry(TwipsRect(180, row.top + 60, row.caption_width, 192));
    caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    switch (list) {
      case kSensitivity:
        prm_sensitivity_ = caption;
        break;
      case kRelayTime:
        par_ton_rele_ = caption;
        break;
      case kReactionSpeed:
        par_vel_ = caption;
        break;
      case kMainsFilter:
        par_filter_ = caption;
        break;
      case kHighTrafficMode:
        par_high_trafic_ = caption;
        break;
      case kHeight:
        par_height_ = caption;
        break;
    }
  }
  // The height parameter travels with the others but is never offered to the user.
  lists_[kHeight]->setVisible(false);
  par_height_->setVisible(false);

  for (int i = 0; i + 1 < kParamCount - 1; ++i)
    QWidget::setTabOrder(lists_[kRows[i].list], lists_[kRows[i + 1].list]);

  picture_area_ = new AreaCanvas(frame_param_);
  picture_area_->setObjectName("AreaCanvas");
  picture_area_->setGeometry(TwipsRect(180, 540, 3315, 1800));

  label_height_ = MakePlainLabel(frame_param_, "HeightValue", QString());
  label_height_->setFont(MakeFont(SansSerifFamilies(), 8.25, true));
  label_height_->setGeometry(TwipsRect(240, 300, 3192, 252));
  label_height_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label_height_->setVisible(false);
}

void RadarWindow::BuildSignalColumn(QWidget* client) {
  bar_ = new SignalBar(client);
  bar_->setObjectName("SignalBar");
  bar_->setGeometry(TwipsRect(120, 720, 1032, 2892));

  value_alarm_ =
      MakeValueLabel(client, "LevelValue", QString(), TwipsRect(120, 3660, 1032, 312));

  label_signal_ = MakePlainLabel(client, "SignalCaption", "SEGNALE");
  label_signal_->setGeometry(TwipsRect(180, 120, 912, 252));
  label_signal_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label_signal_->setFont(MakeFont(SansSerifFamilies(), 9.75));

  value_alarm_peak_ =
      MakeValueLabel(client, "HeldPeakValue", "0", TwipsRect(120, 4020, 1032, 312));
}

QLabel* RadarWindow::Label(RadarLabel label) const {
  switch (label) {
    case RadarLabel::kSensitivityCaption:
      return prm_sensitivity_;
    case RadarLabel::kRelayTimeCaption:
      return par_ton_rele_;
    case RadarLabel::kReactionSpeedCaption:
      return par_vel_;
    case RadarLabel::kMainsFilterCaption:
      return par_filter_;
    case RadarLabel::kHighTrafficModeCaption:
      return par_high_trafic_;
    case RadarLabel::kHeightCaption:
      return par_height_;
    case RadarLabel::kSignalCaption:
      return label_signal_;
    case RadarLabel::kHeightValue:
      return label_height_;
    case RadarLabel::kParametersFrame:
      return nullptr;  // a frame caption, not a label
  }
  return nullptr;
}

void RadarWindow::SetCaption(const std::string& text) {
  setWindowTitle(FromCp1252(text));
}

void RadarWindow::SetMenuFileExitCaption(const std::string& text) {
  menu_file_exit_->setText(FromCp1252(text));
}

void RadarWindow::SetLabelText(RadarLabel label, const std::string& text) {
  if (label == RadarLabel::kParametersFrame) {
    frame_param_->setTitle(FromCp1252(text));
    return;
  }
  QLabel* target = Label(label);
  if (target == nullptr) return;
  target->setText(FromCp1252(text));
  // A list is named after its caption, for screen readers.
  for (const ListRow& row : kRows)
    if (target->objectName() == QLatin1String(row.caption_name)) {
      lists_[row.list]->setAccessibleName(target->text());
      target->setBuddy(lists_[row.list]);
    }
}

void RadarWindow::AddHistoryItem(const QString& caption, std::function<void()> open) {
  if (menu_history_ != nullptr) return;
  menu_history_ = menuBar()->addAction(caption);
  menu_history_->setObjectName("MenuHistory");
  menu_history_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
  menu_history_->setShortcutContext(Qt::WindowShortcut);
  addAction(menu_history_);
  connect(menu_history_, &QAction::triggered, this, [this, open = std::move(open)] {
    if (!unloaded_ && open) open();
  });
}

void RadarWindow::SetAccessibleNames(const QString& led, const QString& bar,
                                      const QString& level, const QString& peak,
                                      const QString& area, const QString& status) {
  led_->setAccessibleName(led);
  bar_->setAccessibleName(bar);
  // The two level labels and the status panel keep their text as their name (the number, the
  // identification); what they are goes into the description.
  value_alarm_->setAccessibleDescription(level);
  value_alarm_peak_->setAccessibleDescription(peak);
  picture_area_->setAccessibleName(area);
  status_bar_->setAccessibleName(status);
  identification_panel_->setAccessibleDescription(status);
}

void RadarWindow::SetListItems(ParamList list, const std::vector<std::string>& items) {
  ParamCombo* combo = lists_[list];
  const QSignalBlocker blocker(combo);
  combo->clear();
  for (const std::string& item : items) combo->addItem(FromCp1252(item));
  // Nothing is selected until the program says which item is.
  combo->setCurrentIndex(-1);
}

void RadarWindow::SetListIndex(ParamList list, int index) {
  ParamCombo* combo = lists_[list];
  const QSignalBlocker blocker(combo);
  combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

void RadarWindow::ShowIdentification(const std::string& text) {
  identification_panel_->setText(FromCp1252(text));
}

void RadarWindow::ShowLevel(std::optional<int> level) {
  value_alarm_->setText(level ? QString::number(*level) : QString());
}

void RadarWindow::ShowHeldPeak(std::optional<int> peak) {
  value_alarm_peak_->setText(peak ? QString::number(*peak) : QString());
}

void RadarWindow::ShowSignal(int level, bool detected) {
  bar_->SetValue(level);
  led_->SetLit(detected);
}

void RadarWindow::ShowDetectionArea(int sensitivity) {
  // The canvas is 400 units across and 300 down; the area grows with the sensitivity,
  // centred.
  const int width = sensitivity * 30 + 120;
  const int height = sensitivity * 20 + 100;
  picture_area_->SetArea(QRectF((400 - width) / 2, (300 - height) / 2, width, height));
  picture_area_->DrawGrid();
}

void RadarWindow::ShowWindow() {
  if (unloaded_) return;
  layout()->activate();
  move(CentredOnScreen(sizeHint().expandedTo(minimumSize()), this));
  show();
  raise();
  activateWindow();
}

void RadarWindow::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  for (ParamCombo* combo : lists_) combo->hidePopup();
  hide();
}

void RadarWindow::closeEvent(QCloseEvent* event) {
  if (unloaded_) {
    event->accept();
    return;
  }
  // Closing is the program's decision: it sends the stop request and then unloads us.
  event->ignore();
  events_.OnRadarCloseRequested();
}

}  // namespace zelto::qt
