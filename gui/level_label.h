// SPDX-License-Identifier: MIT
// The signal column's number labels (level and held peak). The level label changes with
// every signal report, ten times a second; laying its text out anew for each paint was the
// biggest single cost of the streaming radar window. Digits are laid out once per font and
// placed side by side; any other text is drawn as a plain label draws it.
#pragma once

#include <QLabel>
#include <QStaticText>
#include <array>

namespace zelto::qt {

class LevelLabel : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void LayOutDigits();

  QString laid_out_for_;  // the font's key the digits were laid out for
  std::array<QStaticText, 10> digits_;
  std::array<qreal, 10> advances_{};
  qreal ascent_ = 0;
  qreal height_ = 0;
};

}  // namespace zelto::qt
