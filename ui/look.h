// The Qt renderer of the layout tables: fonts, icon and the controls themselves.
#pragma once

#include "formlayout.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QRect>
#include <QString>

#include <map>

class QWidget;

namespace ui {

// "Graftwell 1.0 BETA"
QString productCaption();
QString productVersion();
QString qs(std::string_view text);

// A layout rectangle in device-independent pixels.
QRect pixels(const layout::Rect& twips);

// "MS Sans Serif" 8.25 pt where present, else the desktop's sans font at that size.
QFont windowFont();
QFont boldFont();

// The grey of text that is shown but not acted on.
QColor greyText(const QPalette& palette);

QIcon appIcon();

// Measures text in the font `widget` draws with.
layout::Measure measure(const QWidget* widget);

// A path label: shows a map path on the lines its control has, fitted by
// layout::fitPath, and the whole path as its tooltip.
class PathLabel : public QLabel {
public:
    PathLabel(QWidget* parent, const layout::Window& table, const layout::Control& control);
    QString path() const { return path_; }
    void setPath(const QString& path);

protected:
    void changeEvent(QEvent* e) override;

private:
    void refit();

    QString path_;
    const layout::Window& table_;
    const layout::Control& control_;
};

// Gives `window` the table's caption, font and client size and creates its
// controls, named as in the table, stacked and tab-ordered as it says.
std::map<std::string_view, QWidget*> render(const layout::Window& table, QWidget* window);

} // namespace ui
