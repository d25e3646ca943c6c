// SPDX-License-Identifier: MIT
// The signal history window: a strip chart of the sensor's level, held peak, detections,
// acknowledged parameter changes and the gaps where no reports came, over the last 30 s,
// 60 s, 5 min or the whole session; saved as PNG or as CSV. It only draws what the core's
// history holds and keeps running while it is open.
#pragma once

#include <QMargins>
#include <QPixmap>
#include <QStaticText>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/history/signal_history.h"
#include "core/ports/param_list.h"
#include "core/ports/timer_port.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace zelto::qt {

using StringTableTexts = std::array<std::string, kStringTableSize>;

// A time label of the chart: its moment on the chart's clock, the x of that moment, and
// the left edge of its box.
struct TimeLabelSpot {
  std::int64_t t = 0;
  int x = 0;
  int left = 0;
};
// The time labels of a chart `chart_width` wide whose plot is `plot`, showing from_ms to
// to_ms: one at each whole step of the wall clock (the chart's clock plus wall_offset_ms),
// the step chosen so that boxes `label_width` wide stay apart.
std::vector<TimeLabelSpot> PlaceTimeLabels(const QRect& plot, int chart_width,
                                           std::int64_t from_ms, std::int64_t to_ms,
                                           std::int64_t wall_offset_ms, int label_width,
                                           std::int64_t* step_ms = nullptr);

class HistoryChart : public QWidget {
 public:
  HistoryChart(const SignalHistory& history, const Clock& clock, QWidget* parent = nullptr);

  // 0: the whole session.
  void SetRangeMs(std::int64_t range_ms);
  std::int64_t RangeMs() const { return range_ms_; }
  void ApplyTexts(const StringTableTexts& table);
  // The time span the chart shows now.
  void Span(std::int64_t& from_ms, std::int64_t& to_ms) const;
  // Repaints when the history or the time moved on since the last paint.
  void Refresh();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // Where a paint puts things: the plot's pixels and the time span they stand for.
  struct Frame {
    QRect plot;
    std::int64_t from = 0, to = 0;
    int Y(int level) const;
    int X(std::int64_t t) const;
  };

  QRect PlotRect() const;
  // The layers of a paint, bottom to top; the first is drawn once per size and language.
  void PaintStaticLayer(QPainter& p, const QRect& plot);
  void PaintSpans(QPainter& p, const Frame& f);
  void PaintScaleMarks(QPainter& p, const Frame& f);
  void PaintTimeLabels(QPainter& p, const Frame& f);
  void PaintLevelAndPeak(QPainter& p, const Frame& f);
  void PaintMarkers(QPainter& p, const Frame& f);

  const SignalHistory& history_;
  const Clock& clock_;
  std::int64_t range_ms_ = 60'000;
  // One column per pixel of the plot, kept between paints.
  std::vector<HistorySpan> columns_;
  const StringTableTexts* table_ = nullptr;
  QString level_text_, peak_text_, detection_text_, gap_text_;
  QPixmap static_layer_;
  int texts_generation_ = 0;
  int static_generation_ = -1;
  QString static_font_;
  int time_label_width_ = 60;
  std::map<QString, QStaticText> time_labels_;
  mutable QString margins_font_;
  mutable QMargins margins_;
  std::uint64_t painted_revision_ = ~0ULL;
  std::int64_t painted_to_ms_ = -1;
};

class HistoryWindow : public QWidget {
 public:
  HistoryWindow(const SignalHistory& history, const Clock& clock, QWidget* parent = nullptr);

  // Captions from the string table; run again at every opening, so the language chosen
  // meanwhile applies.
  void ApplyTexts(const StringTableTexts& table);
  HistoryChart* Chart() const { return chart_; }
  QComboBox* Range() const { return range_; }
  bool SavePng(const QString& path) const;
  bool SaveCsv(const QString& path) const;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void AskAndSave(bool png);

  const SignalHistory& history_;
  const StringTableTexts* table_ = nullptr;
  HistoryChart* chart_;
  QLabel* range_label_;
  QComboBox* range_;
  QPushButton* save_png_;
  QPushButton* save_csv_;
  QPushButton* close_;
  QTimer refresh_;
};

}  // namespace zelto::qt
