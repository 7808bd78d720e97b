#include "aboutwindow.h"

#include "look.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

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

    // Enter presses "Close" and Escape closes the dialog, as in the Win32 window.
    Command1->setDefault(true);
    connect(Command1, &QPushButton::clicked, this, &QDialog::accept);

    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) move(screen->availableGeometry().center() - rect().center());
}

} // namespace ui
