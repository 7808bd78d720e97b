// graftwell: the window for copying a section of one map's chunk file into another.
#include "mainwindow.h"
#include "look.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

int main(int argc, char** argv) {
    // Answered before Qt starts, so that it needs no display.
    if (const auto answer = ui::layout::commandLineAnswer(std::vector<std::string>(argv, argv + argc))) {
        std::printf("%s\n", answer->c_str());
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("graftwell"));
    QApplication::setApplicationVersion(ui::productVersion());
    QGuiApplication::setDesktopFileName(QStringLiteral("graftwell"));
    QApplication::setWindowIcon(ui::appIcon());

    std::filesystem::path programFolder;
    try {
        programFolder = splice::defaultProgramFolder();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, ui::productCaption(),
                              QStringLiteral("No folder to work in: ") + QString::fromUtf8(e.what()));
        return 1;
    }

    ui::frmMain w(programFolder);
    w.show();
    return app.exec();
}
