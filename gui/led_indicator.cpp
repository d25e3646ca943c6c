// SPDX-License-Identifier: MIT
#include "gui/led_indicator.h"

#include <QPainter>
#include <algorithm>

namespace zelto::qt {

LedIndicator::LedIndicator(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent, false);
  setFocusPolicy(Qt::NoFocus);
}

void LedIndicator::SetLit(bool lit) {
  if (lit == lit_) return;
  lit_ = lit;
  update();
}

QRect LedIndicator::LampRect() const {
  const int side = std::max(4, std::min(width(), height()) - 2);
  return QRect((width() - side) / 2, (height() - side) / 2, side, side);
}

void LedIndicator::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect lamp = LampRect();
  // A raised bezel around a flat lamp, so an unlit grey LED still reads as a lamp.
  painter.fillRect(lamp, QColor(96, 96, 96));
  const QRect bezel = lamp.adjusted(1, 1, -1, -1);
  painter.setPen(QColor(240, 240, 240));
  painter.drawLine(bezel.topLeft(), bezel.topRight());
  painter.drawLine(bezel.topLeft(), bezel.bottomLeft());
  painter.setPen(QColor(128, 128, 128));
  painter.drawLine(bezel.bottomLeft(), bezel.bottomRight());
  painter.drawLine(bezel.topRight(), bezel.bottomRight());
  const QRect face = lamp.adjusted(3, 3, -3, -3);
  painter.fillRect(face, Colour());
  // A soft highlight in the upper left corner of the face.
  painter.fillRect(QRect(face.topLeft() + QPoint(2, 2), QSize(face.width() / 3, 2)),
                   Colour().lighter(125));
}

}  // namespace zelto::qt
