#include "look.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QWidget>
#include <QImage>
#include <QPixmap>

#include "icon/graftwell.xpm"

namespace ui {

QString productCaption() {
    return QStringLiteral("Graftwell %1.%2 BETA").arg(GRAFTWELL_VERSION_MAJOR).arg(GRAFTWELL_VERSION_MINOR);
}

QString productVersion() { return QStringLiteral(GRAFTWELL_VERSION); }

QFont windowFont() {
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPointSizeF(8.25);
    // Font matching always finds something; only the real family keeps its metrics.
    if (QFontInfo(f).family().compare(QStringLiteral("MS Sans Serif"), Qt::CaseInsensitive) != 0) {
        f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        f.setPointSizeF(8.25);
    }
    f.setWeight(QFont::Normal);
    return f;
}

QFont boldFont() {
    QFont f = windowFont();
    f.setWeight(QFont::Bold);
    return f;
}

void fitText(QWidget* widget, const QString& text, int room) {
    QFont f = widget->font();
    for (int stretch = 100; stretch >= 75; stretch -= 5) {
        f.setStretch(stretch);
        if (QFontMetrics(f).horizontalAdvance(text) <= room) break;
    }
    if (f.stretch() != 100) widget->setFont(f);
}

QColor greyText(const QPalette& palette) {
    const QColor a = palette.color(QPalette::WindowText), b = palette.color(QPalette::Window);
    return QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
}

QIcon appIcon() { return QIcon(QPixmap::fromImage(QImage(graftwell_xpm))); }

} // namespace ui
