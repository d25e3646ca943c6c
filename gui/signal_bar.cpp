// SPDX-License-Identifier: MIT
#include "gui/signal_bar.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPaintEvent>
#include <algorithm>

#include "gui/qt_common.h"

namespace zelto::qt {

namespace {
constexpr int kTickLength = 4;
constexpr int kGap = 2;
constexpr int kMarkHeight = 6;  // room above the track for the over-range mark
const QColor kBarColour(40, 90, 200);
const QColor kOverRangeColour(220, 0, 0);
}  // namespace

SignalBar::SignalBar(QWidget* parent)
    : QWidget(parent), scale_font_(MakeFont(SansSerifFamilies(), 6.75)) {
  setFocusPolicy(Qt::NoFocus);
}

void SignalBar::SetValue(std::int32_t value) {
  if (value == value_) return;
  value_ = value;
  // Only the track changes with the value (the over-range mark sits just above it); the
  // scale's numbers are not drawn again.
  const QRect track = TrackRect();
  const int cx = track.center().x();
  update(track.united(QRect(cx - kMarkHeight, track.top() - kMarkHeight - 1,
                            2 * kMarkHeight + 1, kMarkHeight + 1)));
}

void SignalBar::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange || event->type() == QEvent::ScreenChangeInternal)
    track_size_ = QSize(-1, -1);
  QWidget::changeEvent(event);
}

QRect SignalBar::TrackRect() const {
  if (track_size_ != size()) {
    track_size_ = size();
    track_ = ComputeTrackRect();
  }
  return track_;
}

QRect SignalBar::ComputeTrackRect() const {
  const QFontMetrics metrics(scale_font_);
  const int label_width = metrics.horizontalAdvance(QString::number(kScaleMaximum));
  const int half_text = metrics.height() / 2;
  // One pixel between a number and its tick: the numbers' boxes end there, so the widest,
  // "20000", is drawn whole.
  const int left = label_width + 1 + kGap + kTickLength;
  const int top = std::max(kMarkHeight + 1, half_text);
  const int bottom = height() - std::max(2, half_text);
  const int track_width = std::max(6, std::min(22, width() - left - 2));
  return QRect(left, top, track_width, std::max(1, bottom - top));
}

QRect SignalBar::FilledRect() const {
  const QRect track = TrackRect().adjusted(1, 1, -1, -1);
  const std::int32_t shown = std::clamp<std::int32_t>(value_, 0, kScaleMaximum);
  const int filled =
      static_cast<int>(static_cast<std::int64_t>(track.height()) * shown / kScaleMaximum);
  return QRect(track.left(), track.bottom() - filled + 1, track.width(), filled);
}

void SignalBar::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect track = TrackRect();

  // Scale: a tick and a number every 5000, only when that part needs painting.
  if (event->rect().intersects(QRect(0, 0, track.left() - kGap, height()))) {
    painter.setFont(scale_font_);
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics(scale_font_);
    const QRect inner = track.adjusted(1, 1, -1, -1);
    for (std::int32_t mark = 0; mark <= kScaleMaximum; mark += kScaleStep) {
      const int y = inner.bottom() - static_cast<int>(
                                         static_cast<std::int64_t>(inner.height() - 1) * mark /
                                         kScaleMaximum);
      painter.drawLine(track.left() - kGap - kTickLength, y, track.left() - kGap - 1, y);
      const QRect text_box(0, y - metrics.height() / 2, track.left() - kGap - kTickLength - 1,
                           metrics.height());
      painter.drawText(text_box, Qt::AlignRight | Qt::AlignVCenter, QString::number(mark));
    }
  }

  // Sunken track and the bar inside it. One-pixel edges are filled, not stroked: the raster
  // engine fills them far faster.
  painter.fillRect(track, Qt::white);
  const QColor dark = palette().color(QPalette::Dark);
  const QColor light = palette().color(QPalette::Light);
  painter.fillRect(QRect(track.left(), track.top(), track.width(), 1), dark);
  painter.fillRect(QRect(track.left(), track.top(), 1, track.height()), dark);
  painter.fillRect(QRect(track.left(), track.bottom(), track.width(), 1), light);
  painter.fillRect(QRect(track.right(), track.top(), 1, track.height()), light);
  painter.fillRect(FilledRect(), kBarColour);

  if (OverRange()) {
    // A small red triangle pointing up above the full bar: the level is off the scale.
    QPainterPath mark;
    const int cx = track.center().x();
    mark.moveTo(cx, track.top() - kMarkHeight);
    mark.lineTo(cx + kMarkHeight, track.top() - 1);
    mark.lineTo(cx - kMarkHeight, track.top() - 1);
    mark.closeSubpath();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(mark, kOverRangeColour);
  }
}

}  // namespace zelto::qt
