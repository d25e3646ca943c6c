// SPDX-License-Identifier: MIT
#include "gui/level_label.h"

#include <QFontMetricsF>
#include <QPainter>

namespace zelto::qt {

void LevelLabel::LayOutDigits() {
  const QFontMetricsF metrics(font());
  for (int d = 0; d < 10; ++d) {
    const QString digit(QChar('0' + d));
    digits_[d].setText(digit);
    digits_[d].setTextFormat(Qt::PlainText);
    digits_[d].prepare(QTransform(), font());
    advances_[d] = metrics.horizontalAdvance(digit);
  }
  height_ = metrics.height();
  laid_out_for_ = font().key();
}

void LevelLabel::paintEvent(QPaintEvent* event) {
  const QString shown = text();
  for (const QChar c : shown)
    if (c < QLatin1Char('0') || c > QLatin1Char('9') || alignment() != Qt::AlignCenter) {
      QLabel::paintEvent(event);
      return;
    }
  // One painter for the frame and the digits: beginning a paint costs more than either.
  QPainter painter(this);
  drawFrame(&painter);
  if (shown.isEmpty()) return;
  if (laid_out_for_ != font().key()) LayOutDigits();
  qreal width = 0;
  for (const QChar c : shown) width += advances_[c.unicode() - '0'];
  const QRectF box = contentsRect();
  QPointF at(box.left() + (box.width() - width) / 2, box.top() + (box.height() - height_) / 2);
  painter.setFont(font());
  painter.setPen(palette().color(foregroundRole()));
  for (const QChar c : shown) {
    const int d = c.unicode() - '0';
    painter.drawStaticText(at, digits_[d]);
    at.rx() += advances_[d];
  }
}

}  // namespace zelto::qt
