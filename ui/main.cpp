// graftwell: the window for copying a section of one map's chunk file into another.
#include "frmMain.h"
#include "look.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("graftwell"));
    QApplication::setApplicationVersion(ui::productVersion());
    QGuiApplication::setDesktopFileName(QStringLiteral("graftwell"));
    QApplication::setWindowIcon(ui::appIcon());

    // For the README picture: show the window, save what it draws, and end.
    QString screenshot;
    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--screenshot") && i + 1 < args.size()) {
            screenshot = args[++i];
        } else {
            std::fprintf(stderr, "usage: graftwell [--screenshot FILE.png]\n");
            return 2;
        }
    }

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
    if (!screenshot.isEmpty()) {
        int rc = 0;
        QTimer::singleShot(0, &w, [&] {
            if (!w.grab().save(screenshot, "PNG")) {
                std::fprintf(stderr, "graftwell: cannot write %s\n", qPrintable(screenshot));
                rc = 1;
            }
            QApplication::quit();
        });
        app.exec();
        return rc;
    }
    return app.exec();
}
