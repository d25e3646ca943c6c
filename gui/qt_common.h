// SPDX-License-Identifier: MIT
// What every window of the program shares: twips geometry at the screen's logical DPI, the
// fonts with their fallbacks, colours, and the Windows-1252 texts of the core as QStrings.
#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>
#include <QStringList>
#include <string>

#include "core/ports/views.h"

class QIcon;
class QWidget;
class QLabel;

namespace zelto::qt {

// Twips are 1/1440 inch; pixels here are Qt's device-independent pixels, so the windows keep
// their proportions on any screen and with any scale factor.
double LogicalDpi();
int Twips(int twips);
QRect TwipsRect(int left, int top, int width, int height);

// Texts from the string table and the device are 8-bit Windows-1252.
QString FromCp1252(const std::string& text);

QColor ToQColor(Rgb colour);
void SetTextColour(QWidget* widget, const QColor& colour);
void SetBackgroundColour(QWidget* widget, const QColor& colour);

// The families each window asks for, first choice first; fonts missing on the machine fall
// back to the next family with similar metrics.
QStringList ArialFamilies();
QStringList ComicSansFamilies();
QStringList SansSerifFamilies();  // the classic dialog font
QFont MakeFont(const QStringList& families, double point_size, bool bold = false,
               bool italic = false);

// A label that shows its text literally: device and file texts must never be read as markup.
QLabel* MakePlainLabel(QWidget* parent, const char* object_name, const QString& text);

// Top-left position that centres a window of the given size on the available area of the
// screen that holds anchor (or the primary screen).
QPoint CentredOnScreen(const QSize& size, const QWidget* anchor = nullptr);

// The images, icon and logos compiled into the program.
void InitResources();
inline constexpr char kProductLogo[] = ":/zeltosoft/art/product_logo.png";
inline constexpr char kMakerLogo[] = ":/zeltosoft/art/maker_logo.png";
inline constexpr char kWindowIcon[] = ":/zeltosoft/art/window_icon.png";
// The window icon at 16 px (the window's own picture) and larger, for task switchers, docks
// and scaled screens, which would otherwise blow the 16 px picture up.
QIcon WindowIcon();

}  // namespace zelto::qt
