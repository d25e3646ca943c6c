// SPDX-License-Identifier: MIT
// AboutBox: the maker's logo and contact details, shown modally from the main window's "?"
// menu. A new box is built for every opening.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace zelto::qt {

class AboutBox : public QDialog {
 public:
  explicit AboutBox(QWidget* parent = nullptr);

  // The six contact lines, each ended by CR LF, as LabelAbout shows them.
  static QString ContactText();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Load();

  QLabel* label_about_;
  QLabel* image1_;
  QPushButton* comm_exit_about_;
};

}  // namespace zelto::qt
