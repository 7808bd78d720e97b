#include "aboutwindow.h"

#include "look.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <algorithm>

namespace ui {

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
    const layout::Window& table = layout::aboutWindow();
    const auto made = ui::render(table, this);
    for (size_t i = 0; i < lblAbout.size(); ++i)
        lblAbout[i] = static_cast<QLabel*>(made.at("lblAbout_" + std::to_string(i)));
    Command1 = static_cast<QPushButton*>(made.at("Command1"));
    // No icon of its own; an empty pixmap keeps the main window's from showing.
    QPixmap none(16, 16);
    none.fill(Qt::transparent);
    setWindowIcon(QIcon(none));
    setModal(true);

    Command1->setAutoDefault(false);
    Command1->setDefault(false);
    connect(Command1, &QPushButton::clicked, this, &QDialog::accept);

    // The layout's width suits its original font; a wider desktop font widens
    // the window so that no credit is cut off, with "Close" kept centred.
    int widest = 0;
    for (const QLabel* l : lblAbout) widest = std::max(widest, l->fontMetrics().horizontalAdvance(l->text()));
    const int base = layout::px(table.clientWidth);
    const int width = std::max(base, lblAbout[0]->x() * 2 + widest);
    Command1->move(Command1->x() + (width - base) / 2, Command1->y());
    resize(width, height());

    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) move(screen->availableGeometry().center() - rect().center());
}

} // namespace ui
