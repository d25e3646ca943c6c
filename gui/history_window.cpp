// SPDX-License-Identifier: MIT
#include "gui/history_window.h"

#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMargins>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QShortcut>
#include <QStaticText>
#include <QVBoxLayout>
#include <algorithm>

#include "core/text/text_id.h"
#include "gui/qt_common.h"

namespace zelto::qt {

namespace {

// The bar's scale, so the chart and the bar read alike.
constexpr int kScaleMaximum = 20000;
constexpr int kScaleStep = 5000;
// Twice a second: at 60 s the chart moves a pixel every 86 ms, and each refresh repaints
// the whole chart, which costs more than all the radar window's own painting.
constexpr int kRefreshMs = 500;

// The four ranges in the order of the list; 0 is the whole session.
constexpr std::int64_t kRangesMs[] = {30'000, 60'000, 300'000, 0};
constexpr Text::Id kRangeEntries[] = {Text::kRange30s, Text::kRange60s, Text::kRange5min,
                                      Text::kRangeWholeSession};
constexpr int kDefaultRange = 1;

const QColor kLevelColour(40, 90, 200);  // the bar's blue
const QColor kPeakColour(230, 120, 0);
const QColor kDetectionColour(255, 200, 200);
const QColor kGapColour(150, 150, 150);
const QColor kMarkerColour(0, 128, 0);

QString Entry(const StringTableTexts* table, Text::Id n, const char* fallback) {
  if (table == nullptr || (*table)[n].empty()) return QString::fromLatin1(fallback);
  return FromCp1252((*table)[n]);
}

// Pixels at least between two time labels.
constexpr int kTimeLabelGap = 4;

// A step for time labels that leaves at least `min_ms` between them.
std::int64_t NiceStep(std::int64_t min_ms) {
  static constexpr std::int64_t kSteps[] = {5'000,     10'000,    15'000,    30'000,
                                            60'000,    120'000,   300'000,   600'000,
                                            900'000,   1'800'000, 3'600'000, 7'200'000,
                                            10'800'000, 21'600'000, 43'200'000};
  for (std::int64_t step : kSteps)
    if (step >= min_ms) return step;
  return 86'400'000;
}

}  // namespace

std::vector<TimeLabelSpot> PlaceTimeLabels(const QRect& plot, int chart_width,
                                           std::int64_t from, std::int64_t to,
                                           std::int64_t wall_offset_ms, int label_width,
                                           std::int64_t* step_ms) {
  const int n = plot.width();
  const std::int64_t step = NiceStep((to - from) * (label_width + 20) / std::max(1, n));
  if (step_ms != nullptr) *step_ms = step;
  std::vector<TimeLabelSpot> spots;
  for (std::int64_t t = ((from + wall_offset_ms) / step + 1) * step - wall_offset_ms; t <= to;
       t += step) {
    const int x =
        plot.left() + static_cast<int>((t - from) * n / std::max<std::int64_t>(1, to - from));
    // Centred on its moment, moved inward where the chart's edge would cut it ("00:09:4"),
    // and left out when that would bring it against the label before it.
    const int left = std::clamp(x - label_width / 2, 0, std::max(0, chart_width - label_width));
    if (!spots.empty() && left < spots.back().left + label_width + kTimeLabelGap) continue;
    spots.push_back({t, x, left});
  }
  return spots;
}

HistoryChart::HistoryChart(const SignalHistory& history, const Clock& clock, QWidget* parent)
    : QWidget(parent), history_(history), clock_(clock) {
  setObjectName("HistoryChart");
  setMinimumSize(560, 260);
  setFocusPolicy(Qt::StrongFocus);  // so a screen reader can land on it
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void HistoryChart::SetRangeMs(std::int64_t range_ms) {
  range_ms_ = range_ms;
  update();
}

void HistoryChart::ApplyTexts(const StringTableTexts& table) {
  table_ = &table;
  ++texts_generation_;
  level_text_ = Entry(table_, Text::kLevelLegend, "Level");
  peak_text_ = Entry(table_, Text::kPeakLegend, "Peak");
  detection_text_ = Entry(table_, Text::kDetectionLegend, "Detection");
  gap_text_ = Entry(table_, Text::kNoReports, "No reports");
  setAccessibleName(Entry(table_, Text::kHistoryTitle, "Signal history"));
  setAccessibleDescription(Entry(table_, Text::kChartName, "Signal chart"));
  update();
}

void HistoryChart::Span(std::int64_t& from_ms, std::int64_t& to_ms) const {
  to_ms = clock_.NowMs();
  if (range_ms_ > 0) {
    from_ms = to_ms - range_ms_;
  } else {
    from_ms = history_.SessionStartMs();
    to_ms = std::max(to_ms, from_ms + 10'000);
  }
}

void HistoryChart::Refresh() {
  std::int64_t from = 0, to = 0;
  Span(from, to);
  // One pixel of the plot is (to - from) / width: nothing to draw before time moved that far.
  const std::int64_t pixel_ms = std::max<std::int64_t>(1, (to - from) / std::max(1, width()));
  if (history_.Revision() == painted_revision_ && to - painted_to_ms_ < pixel_ms) return;
  update();
}

QRect HistoryChart::PlotRect() const {
  // Measured once per font: the chart repaints several times a second.
  if (margins_font_ != font().key()) {
    const QFontMetrics metrics(font());
    margins_ = QMargins(metrics.horizontalAdvance(QStringLiteral("20000")) + 10,
                        metrics.height() * 2 + 8,  // legend, then marker labels
                        10, metrics.height() + 8);  // time labels
    margins_font_ = font().key();
  }
  return QRect(margins_.left(), margins_.top(),
               std::max(10, width() - margins_.left() - margins_.right()),
               std::max(10, height() - margins_.top() - margins_.bottom()));
}

void HistoryChart::PaintStaticLayer(QPainter& p, const QRect& plot) {
  p.fillRect(rect(), palette().color(QPalette::Window));
  p.fillRect(plot, Qt::white);
  const QFontMetrics metrics(font());
  const QColor text = palette().color(QPalette::WindowText);
  time_label_width_ = metrics.horizontalAdvance(QStringLiteral("00:00:00"));
  p.setPen(text);
  for (int mark = 0; mark <= kScaleMaximum; mark += kScaleStep) {
    const int y = plot.bottom() - static_cast<int>(static_cast<std::int64_t>(plot.height() - 1) *
                                                   mark / kScaleMaximum);
    p.drawText(QRect(0, y - metrics.height() / 2, plot.left() - 6, metrics.height()),
               Qt::AlignRight | Qt::AlignVCenter, QString::number(mark));
  }
  // Legend.
  int x = plot.left();
  const int y = 4 + metrics.ascent();
  auto legend = [&](const QString& label, auto&& swatch) {
    swatch(QRect(x, 4 + metrics.height() / 2 - 5, 18, 10));
    x += 24;
    p.setPen(text);
    p.drawText(x, y, label);
    x += metrics.horizontalAdvance(label) + 16;
  };
  legend(level_text_, [&](QRect r) { p.fillRect(r.adjusted(0, 4, 0, -4), kLevelColour); });
  legend(peak_text_, [&](QRect r) { p.fillRect(r.adjusted(0, 4, 0, -5), kPeakColour); });
  legend(detection_text_, [&](QRect r) { p.fillRect(r, kDetectionColour); });
  legend(gap_text_, [&](QRect r) {
    p.fillRect(r, QBrush(kGapColour, Qt::BDiagPattern));
    p.setPen(kGapColour);
    p.drawRect(r.adjusted(0, 0, -1, -1));
  });
}

int HistoryChart::Frame::Y(int level) const {
  const int shown = std::clamp(level, 0, kScaleMaximum);
  return plot.bottom() -
         static_cast<int>(static_cast<std::int64_t>(plot.height() - 1) * shown / kScaleMaximum);
}

int HistoryChart::Frame::X(std::int64_t t) const {
  return plot.left() +
         static_cast<int>((t - from) * plot.width() / std::max<std::int64_t>(1, to - from));
}

void HistoryChart::paintEvent(QPaintEvent*) {
  Frame f;
  Span(f.from, f.to);
  painted_revision_ = history_.Revision();
  painted_to_ms_ = f.to;
  f.plot = PlotRect();

  // What does not move (background, scale, legend) is drawn once per size and language.
  if (static_layer_.deviceIndependentSize().toSize() != size() ||
      static_generation_ != texts_generation_ || static_font_ != font().key()) {
    const qreal ratio = devicePixelRatioF();
    static_layer_ = QPixmap(size() * ratio);
    static_layer_.setDevicePixelRatio(ratio);
    QPainter layer(&static_layer_);
    PaintStaticLayer(layer, f.plot);
    static_generation_ = texts_generation_;
    static_font_ = font().key();
  }
  QPainter p(this);
  p.drawPixmap(0, 0, static_layer_);

  columns_.resize(static_cast<std::size_t>(f.plot.width()));
  history_.Columns(f.from, f.to, columns_);
  PaintSpans(p, f);
  PaintScaleMarks(p, f);
  PaintTimeLabels(p, f);
  PaintLevelAndPeak(p, f);
  PaintMarkers(p, f);

  p.setPen(QColor(160, 160, 160));
  p.drawRect(f.plot.adjusted(0, 0, -1, -1));
}

// Detections as shaded spans, gaps as hatching, one run of columns at a time.
void HistoryChart::PaintSpans(QPainter& p, const Frame& f) {
  const QRect& plot = f.plot;
  const int n = plot.width();
  // Reports are only expected from the session's start to now.
  const int session_x = history_.Empty() && history_.MarkerCount() == 0
                            ? plot.right() + 1
                            : std::max(plot.left(), f.X(history_.SessionStartMs()));
  for (int c = 0; c < n;) {
    const HistorySpan& span = columns_[c];
    const bool detected = span.covered && span.detected;
    const bool gap = !span.covered && plot.left() + c >= session_x;
    int end = c + 1;
    while (end < n && (columns_[end].covered && columns_[end].detected) == detected &&
           (!columns_[end].covered && plot.left() + end >= session_x) == gap)
      ++end;
    const QRect run(plot.left() + c, plot.top(), end - c, plot.height());
    if (detected) p.fillRect(run, kDetectionColour);
    if (gap) p.fillRect(run, QBrush(kGapColour, Qt::BDiagPattern));
    c = end;
  }
}

// The bar's marks, over the spans.
void HistoryChart::PaintScaleMarks(QPainter& p, const Frame& f) {
  p.setPen(QColor(225, 225, 225));
  for (int mark = kScaleStep; mark < kScaleMaximum; mark += kScaleStep)
    p.drawLine(f.plot.left(), f.Y(mark), f.plot.right(), f.Y(mark));
}

// Time labels at the wall-clock time of their moment.
void HistoryChart::PaintTimeLabels(QPainter& p, const Frame& f) {
  const QColor text = palette().color(QPalette::WindowText);
  const QDateTime wall_now = QDateTime::currentDateTime();
  const std::int64_t now = clock_.NowMs();
  std::int64_t step = 0;
  for (const TimeLabelSpot& spot : PlaceTimeLabels(f.plot, width(), f.from, f.to,
                                                   wall_now.toMSecsSinceEpoch() - now,
                                                   time_label_width_, &step)) {
    p.setPen(QColor(225, 225, 225));
    p.drawLine(spot.x, f.plot.top(), spot.x, f.plot.bottom());
    p.setPen(text);
    const QString label = wall_now.addMSecs(spot.t - now).toString(
        step >= 60'000 ? QStringLiteral("HH:mm") : QStringLiteral("HH:mm:ss"));
    // A label moves across the chart for a while: laid out once, not at every paint.
    if (time_labels_.size() > 64) time_labels_.clear();
    auto [it, added] = time_labels_.try_emplace(label, label);
    if (added) it->second.prepare(QTransform(), font());
    p.drawStaticText(QPointF(spot.left + (time_label_width_ - it->second.size().width()) / 2,
                             f.plot.bottom() + 4),
                     it->second);
  }
}

// Level and peak: a line through each run of covered columns; a column with several
// reports shows their spread as a vertical stroke.
void HistoryChart::PaintLevelAndPeak(QPainter& p, const Frame& f) {
  const int n = f.plot.width();
  p.setRenderHint(QPainter::Antialiasing, false);
  QPolygon level_line, peak_line;
  level_line.reserve(n);
  peak_line.reserve(n);
  auto flush = [&] {
    if (!peak_line.isEmpty()) {
      p.setPen(QPen(kPeakColour, 0));
      p.drawPolyline(peak_line);
    }
    if (!level_line.isEmpty()) {
      // Two pixels wide as two one-pixel lines: a wide pen goes through the stroker, which
      // cost more than the rest of the chart together.
      p.setPen(QPen(kLevelColour, 0));
      p.drawPolyline(level_line);
      p.translate(0, -1);
      p.drawPolyline(level_line);
      p.translate(0, 1);
    }
    level_line.clear();
    peak_line.clear();
  };
  for (int c = 0; c < n; ++c) {
    const HistorySpan& span = columns_[c];
    if (!span.covered) {
      flush();
      continue;
    }
    const int x = f.plot.left() + c;
    if (span.level_min != span.level_max) {
      p.setPen(QPen(kLevelColour, 0));
      p.drawLine(x, f.Y(span.level_min), x, f.Y(span.level_max));
    }
    level_line << QPoint(x, f.Y(span.level_max));
    peak_line << QPoint(x, f.Y(span.peak_max));
  }
  flush();
}

// Acknowledged parameter changes: a line and what changed, above the plot.
void HistoryChart::PaintMarkers(QPainter& p, const Frame& f) {
  const QRect& plot = f.plot;
  const QFontMetrics metrics(font());
  int label_right = -1;
  for (int i = 0; i < history_.MarkerCount(); ++i) {
    const HistoryMarker& marker = history_.Marker(i);
    if (marker.at_ms < f.from || marker.at_ms > f.to) continue;
    const int x = f.X(marker.at_ms);
    p.setPen(QPen(kMarkerColour, 1, Qt::DashLine));
    p.drawLine(x, plot.top() - metrics.height() - 2, x, plot.bottom());
    if (table_ == nullptr || x <= label_right) continue;
    // Right of the line, or left of it where the right edge is too near.
    const QString label = FromCp1252(MarkerText(marker, *table_));
    const int room_right = width() - x - 6;
    const bool left = metrics.horizontalAdvance(label) > room_right && x - 6 > room_right;
    const QString shown =
        metrics.elidedText(label, Qt::ElideRight, left ? x - plot.left() - 3 : room_right);
    const int label_x = left ? x - 3 - metrics.horizontalAdvance(shown) : x + 3;
    p.setPen(kMarkerColour);
    p.drawText(label_x, plot.top() - 4, shown);
    label_right = label_x + metrics.horizontalAdvance(shown);
  }
}

HistoryWindow::HistoryWindow(const SignalHistory& history, const Clock& clock, QWidget* parent)
    : QWidget(parent, Qt::Window), history_(history) {
  setObjectName("HistoryWindow");
  setWindowIcon(WindowIcon());
  chart_ = new HistoryChart(history, clock, this);

  range_label_ = MakePlainLabel(this, "LabelHistoryRange", QStringLiteral("&Range:"));
  range_ = new QComboBox(this);
  range_->setObjectName("HistoryRange");
  range_label_->setBuddy(range_);
  for (int i = 0; i < 4; ++i) range_->addItem(QString());
  range_->setCurrentIndex(kDefaultRange);
  connect(range_, &QComboBox::currentIndexChanged, this,
          [this](int index) { chart_->SetRangeMs(kRangesMs[std::clamp(index, 0, 3)]); });

  save_png_ = new QPushButton(this);
  save_png_->setObjectName("HistorySavePng");
  connect(save_png_, &QPushButton::clicked, this, [this] { AskAndSave(true); });
  save_csv_ = new QPushButton(this);
  save_csv_->setObjectName("HistorySaveCsv");
  connect(save_csv_, &QPushButton::clicked, this, [this] { AskAndSave(false); });
  close_ = new QPushButton(this);
  close_->setObjectName("HistoryClose");
  connect(close_, &QPushButton::clicked, this, &QWidget::close);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);

  auto* controls = new QHBoxLayout;
  controls->addWidget(range_label_);
  controls->addWidget(range_);
  controls->addStretch(1);
  controls->addWidget(save_png_);
  controls->addWidget(save_csv_);
  controls->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(controls);
  layout->addWidget(chart_, 1);
  setTabOrder(range_, save_png_);
  setTabOrder(save_png_, save_csv_);
  setTabOrder(save_csv_, close_);
  setTabOrder(close_, chart_);
  resize(760, 380);

  refresh_.setInterval(kRefreshMs);
  connect(&refresh_, &QTimer::timeout, chart_, &HistoryChart::Refresh);
}

void HistoryWindow::ApplyTexts(const StringTableTexts& table) {
  table_ = &table;
  const QString title = Entry(table_, Text::kHistoryTitle, "Signal history");
  setWindowTitle(title);
  setAccessibleName(title);
  range_label_->setText(Entry(table_, Text::kRangeLabel, "&Range:"));
  for (int i = 0; i < 4; ++i) range_->setItemText(i, Entry(table_, kRangeEntries[i], ""));
  save_png_->setText(Entry(table_, Text::kSavePng, "Save &PNG..."));
  save_csv_->setText(Entry(table_, Text::kSaveCsv, "Save C&SV..."));
  close_->setText(Entry(table_, Text::kCloseButton, "&Close"));
  // Names without the access-key marks, for screen readers.
  for (QWidget* w : {static_cast<QWidget*>(range_), static_cast<QWidget*>(save_png_),
                     static_cast<QWidget*>(save_csv_), static_cast<QWidget*>(close_)}) {
    QString name = w == range_ ? range_label_->text() : static_cast<QPushButton*>(w)->text();
    name.remove(QLatin1Char('&'));
    if (name.endsWith(QLatin1Char(':'))) name.chop(1);
    if (name.endsWith(QLatin1String("..."))) name.chop(3);
    w->setAccessibleName(name);
  }
  chart_->ApplyTexts(table);
}

void HistoryWindow::showEvent(QShowEvent* event) {
  refresh_.start();
  chart_->update();
  QWidget::showEvent(event);
}

void HistoryWindow::hideEvent(QHideEvent* event) {
  refresh_.stop();
  QWidget::hideEvent(event);
}

bool HistoryWindow::SavePng(const QString& path) const {
  return chart_->grab().save(path, "PNG");
}

bool HistoryWindow::SaveCsv(const QString& path) const {
  std::int64_t from = 0, to = 0;
  chart_->Span(from, to);
  const std::string csv = history_.Csv(from, to);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return file.write(csv.data(), static_cast<qint64>(csv.size())) ==
             static_cast<qint64>(csv.size()) &&
         file.flush();
}

void HistoryWindow::AskAndSave(bool png) {
  const QString filter = png ? Entry(table_, Text::kPngFilter, "PNG image (*.png)")
                             : Entry(table_, Text::kCsvFilter, "CSV file (*.csv)");
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  const QString serial = FromCp1252(history_.Serial()).trimmed();
  const QString suggested = QStringLiteral("history-%1-%2.%3")
                                .arg(serial.isEmpty() ? QStringLiteral("sensor") : serial, stamp,
                                     png ? QStringLiteral("png") : QStringLiteral("csv"));
  const QString path = QFileDialog::getSaveFileName(
      this, png ? save_png_->accessibleName() : save_csv_->accessibleName(), suggested, filter);
  if (path.isEmpty()) return;
  if (!(png ? SavePng(path) : SaveCsv(path)))
    QMessageBox::warning(
        this, windowTitle(),
        Entry(table_, Text::kCannotSave, "Cannot save the file") + QStringLiteral("\n") + path);
}

}  // namespace zelto::qt
