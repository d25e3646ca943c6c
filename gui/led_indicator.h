// SPDX-License-Identifier: MIT
// DetectionLed's widget: a square status LED, lit red or unlit grey.
#pragma once

#include <QColor>
#include <QWidget>

namespace zelto::qt {

class LedIndicator : public QWidget {
 public:
  static constexpr QColor kLitColour{255, 51, 51};
  static constexpr QColor kUnlitColour{192, 192, 192};

  explicit LedIndicator(QWidget* parent = nullptr);

  void SetLit(bool lit);
  bool IsLit() const { return lit_; }
  QColor Colour() const { return lit_ ? kLitColour : kUnlitColour; }
  // The square the LED occupies, centred in the widget.
  QRect LampRect() const;

  QSize sizeHint() const override { return QSize(24, 24); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool lit_ = false;
};

}  // namespace zelto::qt
