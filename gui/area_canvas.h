// SPDX-License-Identifier: MIT
// AreaCanvas's widget: a white canvas 400 units across and 300 down, with the
// detection area shape (DetectionArea) on it and, once drawn, a grid beneath the shape.
#pragma once

#include <QFrame>
#include <QRectF>

namespace zelto::qt {

class AreaShape;

class AreaCanvas : public QFrame {
 public:
  static constexpr double kUnitsAcross = 400.0;
  static constexpr double kUnitsDown = 300.0;
  static constexpr QColor kOutline{255, 0, 0};
  static constexpr QColor kFill{255, 128, 128};

  explicit AreaCanvas(QWidget* parent = nullptr);

  // The shape's place and size in canvas units.
  void SetArea(const QRectF& units);
  QRectF Area() const { return area_; }
  // Draws the grid: vertical lines every 50 units across, horizontal ones every 50 down.
  void DrawGrid();
  bool GridDrawn() const { return grid_drawn_; }

  // Canvas units to widget pixels, and the pixel rectangle of a rectangle in units.
  QPointF ToPixels(const QPointF& units) const;
  QRect ToPixels(const QRectF& units) const;

  AreaShape* Shape() const { return shape_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PlaceShape();

  AreaShape* shape_;
  QRectF area_;
  bool grid_drawn_ = false;
};

// DetectionArea: the oval of the detection area, outlined and filled in red tones.
class AreaShape : public QWidget {
 public:
  explicit AreaShape(QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace zelto::qt
