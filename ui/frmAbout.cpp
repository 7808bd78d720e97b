#include "frmAbout.h"

#include "look.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <algorithm>

namespace ui {

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About ") + productCaption());
    // No icon of its own; an empty pixmap keeps the main window's from showing.
    QPixmap none(16, 16);
    none.fill(Qt::transparent);
    setWindowIcon(QIcon(none));
    setFont(windowFont());
    setModal(true);

    const std::array<QString, 4> texts = {
        QStringLiteral("Programmed by: the Graftwell authors"),
        QStringLiteral("Thanks to: map makers / testers / translators"),
        QStringLiteral("Graftwell"),
        QStringLiteral("Version ") + productVersion() + QStringLiteral(" BETA"),
    };
    const std::array<int, 4> tops = {120, 480, 1080, 1440};
    int widest = 0;
    for (size_t i = 0; i < texts.size(); ++i) {
        auto* l = new QLabel(texts[i], this);
        l->setObjectName(QStringLiteral("lblAbout_%1").arg(i));
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setGeometry(twips(120, tops[i], 4455, 255));
        widest = std::max(widest, l->fontMetrics().horizontalAdvance(texts[i]));
        lblAbout[i] = l;
    }

    Command1 = new QPushButton(QStringLiteral("Close"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setAutoDefault(false);
    Command1->setDefault(false);
    connect(Command1, &QPushButton::clicked, this, &QDialog::accept);

    // The layout's width suits its original font; a wider desktop font widens
    // the window so that no credit is cut off, with "Close" kept centred.
    const int width = std::max(px(3030), px(120) * 2 + widest);
    const QRect close = twips(960, 1800, 1095, 300);
    Command1->setGeometry(close.translated((width - px(3030)) / 2, 0));
    resize(width, px(2235));
    Command1->setFocus();

    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) move(screen->availableGeometry().center() - rect().center());
}

} // namespace ui
