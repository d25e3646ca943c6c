// SPDX-License-Identifier: MIT
#include "gui/area_canvas.h"

#include <QPainter>
#include <cmath>

namespace zelto::qt {

namespace {
// Where the shape sits before the sensor's sensitivity is known: its design place inside the
// picture box, given in twips, turned into canvas units (8.1375 twips per unit across,
// 5.8 down).
constexpr double kTwipsPerUnitX = 3255.0 / 400.0;
constexpr double kTwipsPerUnitY = 1740.0 / 300.0;
const QRectF kDesignArea(408 / kTwipsPerUnitX, 120 / kTwipsPerUnitY, 2436 / kTwipsPerUnitX,
                         1512 / kTwipsPerUnitY);
}  // namespace

AreaCanvas::AreaCanvas(QWidget* parent) : QFrame(parent), area_(kDesignArea) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(2);
  setFocusPolicy(Qt::NoFocus);
  shape_ = new AreaShape(this);
  shape_->setObjectName("DetectionArea");
  PlaceShape();
}

void AreaCanvas::SetArea(const QRectF& units) {
  area_ = units;
  PlaceShape();
}

void AreaCanvas::DrawGrid() {
  if (grid_drawn_) return;
  grid_drawn_ = true;
  update();
}

QPointF AreaCanvas::ToPixels(const QPointF& units) const {
  const QRect inner = contentsRect();
  return QPointF(inner.left() + units.x() * inner.width() / kUnitsAcross,
                 inner.top() + units.y() * inner.height() / kUnitsDown);
}

QRect AreaCanvas::ToPixels(const QRectF& units) const {
  const QPointF top_left = ToPixels(units.topLeft());
  const QPointF bottom_right = ToPixels(units.bottomRight());
  const QPoint a(static_cast<int>(std::lround(top_left.x())),
                 static_cast<int>(std::lround(top_left.y())));
  const QPoint b(static_cast<int>(std::lround(bottom_right.x())),
                 static_cast<int>(std::lround(bottom_right.y())));
  return QRect(a, QSize(b.x() - a.x(), b.y() - a.y()));
}

void AreaCanvas::PlaceShape() {
  shape_->setGeometry(ToPixels(area_));
}

void AreaCanvas::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  PlaceShape();
}

void AreaCanvas::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect inner = contentsRect();
  painter.fillRect(inner, Qt::white);
  if (grid_drawn_) {
    painter.setClipRect(inner);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 0));
    for (int i = 1; i <= 7; ++i) {
      const QPointF top = ToPixels(QPointF(50.0 * i, 0.0));
      const QPointF bottom = ToPixels(QPointF(50.0 * i, kUnitsDown));
      const int x = static_cast<int>(std::lround(top.x()));
      painter.drawLine(x, static_cast<int>(top.y()), x, static_cast<int>(bottom.y()));
    }
    for (int j = 1; j <= 5; ++j) {
      const QPointF left = ToPixels(QPointF(0.0, 50.0 * j));
      const QPointF right = ToPixels(QPointF(kUnitsAcross, 50.0 * j));
      const int y = static_cast<int>(std::lround(left.y()));
      painter.drawLine(static_cast<int>(left.x()), y, static_cast<int>(right.x()), y);
    }
    painter.setClipping(false);
  }
  painter.end();
  // The frame's sunken edge on top of the canvas.
  QFrame::paintEvent(event);
}

AreaShape::AreaShape(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::NoFocus);
}

void AreaShape::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(AreaCanvas::kOutline, 1.0));
  painter.setBrush(AreaCanvas::kFill);
  painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

}  // namespace zelto::qt
