// SPDX-License-Identifier: MIT
// SignalBar's widget: the signal level as a vertical bar on a 0..20000 scale. A level above
// the scale keeps the bar full and lights a small over-range mark above it.
#pragma once

#include <QFont>
#include <QWidget>
#include <cstdint>

namespace zelto::qt {

class SignalBar : public QWidget {
 public:
  static constexpr std::int32_t kScaleMaximum = 20000;
  static constexpr std::int32_t kScaleStep = 5000;

  explicit SignalBar(QWidget* parent = nullptr);

  void SetValue(std::int32_t value);
  std::int32_t Value() const { return value_; }
  bool OverRange() const { return value_ > kScaleMaximum; }
  // The part of the track that the bar fills (empty at level 0 or below).
  QRect FilledRect() const;
  QRect TrackRect() const;
  const QFont& ScaleFont() const { return scale_font_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QRect ComputeTrackRect() const;

  std::int32_t value_ = 0;
  // The bar repaints at every signal report: the scale's font and the track's place are
  // worked out once per size or font, not on every paint.
  QFont scale_font_;
  mutable QSize track_size_{-1, -1};
  mutable QRect track_;
};

}  // namespace zelto::qt
