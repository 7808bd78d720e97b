// What both windows share: caption, fonts, icon and the twip grid.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QIcon>
#include <QRect>
#include <QString>

class QWidget;

namespace ui {

// "Graftwell 1.0 BETA"
QString productCaption();
QString productVersion();

// Layout is kept in twips; 15 twips are one device-independent pixel.
constexpr int px(int twips) { return twips / 15; }
inline QRect twips(int left, int top, int width, int height) {
    return {px(left), px(top), px(width), px(height)};
}

// "MS Sans Serif" 8.25 pt where present, else the desktop's sans font at that size.
QFont windowFont();
QFont boldFont();

// Narrows the widget's font, as little as needed, so that `text` fits in
// `room` pixels; wider desktop fonts would otherwise run into the next control.
void fitText(QWidget* widget, const QString& text, int room);

// The grey of text that is shown but not acted on.
QColor greyText(const QPalette& palette);

QIcon appIcon();

} // namespace ui
