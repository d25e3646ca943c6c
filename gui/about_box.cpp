// SPDX-License-Identifier: MIT
#include "gui/about_box.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include "gui/qt_common.h"

namespace zelto::qt {

namespace {
// The maker's details. They are placeholders of our own (example.com addresses, all-zero
// numbers), not those of any real company.
constexpr const char* kContactLines[] = {
    "Zelto Sensori S.r.l. (example)", "Via dell'Esempio 1",  "00000 Esempio (XX) - Italia",
    "Tel. +39 000 0000000",           "Fax +39 000 0000001", "info@example.com - www.example.com",
};
constexpr char kLineEnd[] = "\r\n";
}  // namespace

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  InitResources();
  setObjectName("AboutBox");
  // No caption and no title bar buttons: only the OK button closes the box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);
  setWindowTitle(QString());
  setModal(true);
  SetBackgroundColour(this, Qt::white);
  setFixedSize(Twips(3960), Twips(2520));

  image1_ = new QLabel(this);
  image1_->setObjectName("Image1");
  const QPixmap logo(kMakerLogo);
  image1_->setPixmap(logo);
  image1_->setGeometry(QRect(TwipsRect(720, 60, 0, 0).topLeft(), logo.size()));
  image1_->setAccessibleName(QString::fromLatin1(kContactLines[0]));

  label_about_ = MakePlainLabel(this, "LabelAbout", "Label1");
  label_about_->setGeometry(TwipsRect(360, 780, 3192, 1512));
  label_about_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label_about_->setFont(MakeFont(SansSerifFamilies(), 8.25));

  comm_exit_about_ = new QPushButton("OK", this);
  comm_exit_about_->setObjectName("CommExitAbout");
  comm_exit_about_->setGeometry(TwipsRect(1440, 2100, 972, 372));
  comm_exit_about_->setDefault(true);
  connect(comm_exit_about_, &QPushButton::clicked, this, &QDialog::accept);

  Load();
}

QString AboutBox::ContactText() {
  QString text;
  for (const char* line : kContactLines) text += QString::fromLatin1(line) + kLineEnd;
  return text;
}

void AboutBox::Load() {
  // Built from the first line on, so every opening shows the same six lines.
  label_about_->setText(QString::fromLatin1(kContactLines[0]) + kLineEnd);
  for (std::size_t i = 1; i < std::size(kContactLines); ++i)
    label_about_->setText(label_about_->text() + QString::fromLatin1(kContactLines[i]) + kLineEnd);
}

void AboutBox::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  // Without a title bar the box needs an edge of its own to stand out from what lies behind.
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::Dark));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace zelto::qt
