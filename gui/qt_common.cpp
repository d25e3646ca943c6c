// SPDX-License-Identifier: MIT
#include "gui/qt_common.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QScreen>
#include <QWidget>
#include <cmath>

#include "core/text/cp1252.h"

// Resources of a static library are registered by hand; Q_INIT_RESOURCE may not be used
// inside a namespace.
static void InitZeltoResources() {
  Q_INIT_RESOURCE(zeltosoft);
}

namespace zelto::qt {

double LogicalDpi() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const double dpi = screen != nullptr ? screen->logicalDotsPerInchY() : 96.0;
  return dpi > 0.0 ? dpi : 96.0;
}

int Twips(int twips) {
  return static_cast<int>(std::lround(twips * LogicalDpi() / 1440.0));
}

QRect TwipsRect(int left, int top, int width, int height) {
  // Both edges are rounded, not the size, so neighbours that touch in twips touch on screen.
  const int x0 = Twips(left), y0 = Twips(top);
  return QRect(x0, y0, Twips(left + width) - x0, Twips(top + height) - y0);
}

QString FromCp1252(const std::string& text) {
  return QString::fromStdString(Cp1252ToUtf8(text));
}

QColor ToQColor(Rgb colour) {
  return QColor(colour.r, colour.g, colour.b);
}

void SetTextColour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, colour);
  palette.setColor(QPalette::Text, colour);
  widget->setPalette(palette);
}

void SetBackgroundColour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, colour);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

QStringList ArialFamilies() {
  return {"Arial", "Liberation Sans", "Arimo", "Nimbus Sans", "Helvetica", "DejaVu Sans"};
}

QStringList ComicSansFamilies() {
  return {"Comic Sans MS", "Comic Neue", "Comic Relief", "URW Gothic", "DejaVu Sans"};
}

QStringList SansSerifFamilies() {
  return {"MS Sans Serif", "Microsoft Sans Serif", "Tahoma",     "Liberation Sans",
          "Arimo",         "Nimbus Sans",          "DejaVu Sans"};
}

QFont MakeFont(const QStringList& families, double point_size, bool bold, bool italic) {
  QFont font;
  font.setFamilies(families);
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(point_size);
  font.setBold(bold);
  font.setItalic(italic);
  return font;
}

QLabel* MakePlainLabel(QWidget* parent, const char* object_name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(object_name));
  label->setTextFormat(Qt::PlainText);
  label->setTextInteractionFlags(Qt::NoTextInteraction);
  return label;
}

QPoint CentredOnScreen(const QSize& size, const QWidget* anchor) {
  const QScreen* screen = anchor != nullptr ? anchor->screen() : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return QPoint(0, 0);
  const QRect area = screen->availableGeometry();
  return QPoint(area.x() + (area.width() - size.width()) / 2,
                area.y() + (area.height() - size.height()) / 2);
}

QIcon WindowIcon() {
  InitResources();
  QIcon icon(kWindowIcon);
  for (int size : {32, 48, 128})
    icon.addFile(QStringLiteral(":/zeltosoft/art/window_icon_%1.png").arg(size), QSize(size, size));
  return icon;
}

void InitResources() {
  static const bool done = [] {
    InitZeltoResources();
    return true;
  }();
  (void)done;
}

}  // namespace zelto::qt
