// The main window driven as a user would, its dialogs answered through their seam.
#include "archive.h"
#include "fixtures.h"
#include "mainwindow.h"

#include <QtTest>

using namespace fixtures;

class UiTests : public QObject {
    Q_OBJECT
    ScratchDir dir;
    QStringList picks, opened, errors, questions, statuses; // picks: the open dialog's answers; none left cancels
    bool answer = false;
    ui::frmMain w{dir.path(),
                  {[this](QWidget*, const QString& title, const QString& start, const QString& filter) {
                       opened << title + "|" + start + "|" + filter;
                       return picks.isEmpty() ? QString() : picks.takeFirst();
                   },
                   [this](QWidget*, const QString&, const QString& text) { errors << text; },
                   [this](QWidget*, const QString&, const QString& text) { return questions << text, answer; }}};

    QString at(const std::string& name) { return QString::fromStdString((dir / name).string()); }
    void pick(QPushButton* browse, const std::string& name) {
        picks << at(name);
        QTest::mouseClick(browse, Qt::LeftButton);
    }
    void click(QPushButton* b, const Strings& steps) {
        statuses.clear();
        QTest::mouseClick(b, Qt::LeftButton);
        QStringList want;
        for (const auto& s : steps) want << QString::fromStdString(s);
        QCOMPARE(statuses, want);
    }

private slots:
    void initTestCase() {
        QObject::connect(&w, &ui::frmMain::statusChanged, [this](const QString& s) { statuses << s; });
        w.show();
    }

    // The layout's texts, size and tab order.
    void startsWithTheLayoutsTextsAndTabOrder() {
        QCOMPARE(QStringList({w.windowTitle(), w.lblGeneral[0]->text(), w.lblGeneral[3]->text(), w.lblMapEdit->text(),
                              w.lblStatus->text(), w.txtSection->text()}),
                 QStringList({"Graftwell 1.0 BETA", "Map to edit:", "Section to copy:", "No map loaded.",
                              "No maps are loaded...", "TILE"}));
        QVERIFY(w.minimumSize() == QSize(274, 266) && w.maximumSize() == w.minimumSize());
        QVERIFY(w.lblGeneral[0]->font().bold() && !w.lblGeneral[3]->font().bold() && w.txtSection->maxLength() == 4);
        QList<QWidget*> order = {w.focusWidget()};
        for (QWidget* next = order[0]->nextInFocusChain(); next != order[0]; next = next->nextInFocusChain())
            if (next->focusPolicy() & Qt::TabFocus)
                order << next;
        const QList<QWidget*> tabs = {w.btnMapEdit, w.btnMapSplice, w.txtSection, w.btnCopy, w.btnSave, w.btnAbout};
        QCOMPARE(order, tabs);
    }

    // Browse starts at the file picked last and a cancel changes nothing. A failed step stays in the status
    // line and its reason is shown; terrain between maps of other size is copied only when confirmed, and a
    // declined warning only says so. Save refuses what the window no longer shows; Ctrl+Z undoes a Save once.
    void picksAndButtonsRunTheProcedures() {
        for (const auto& [name, width, seed] : {std::tuple{"edit.scx", 8, 1}, {"big.scx", 16, 2}, {"splice.scm", 8, 3}})
            makeMap(dir / name, makeChunk({{"DIM ", {uint8_t(width), 0, 8, 0}}, {"TILE", pattern(width * 16, seed)},
                                           {width == 16 ? "MTXM" : "ISOM", {1}}}));
        click(w.btnCopy, first(kCopySteps, 1));
        pick(w.btnMapEdit, "edit.scx");
        QTest::mouseClick(w.btnMapSplice, Qt::LeftButton);
        pick(w.btnMapSplice, "big.scx");
        const QString open = "Open|%1|StarCraft/Brood War Scenarios (*.scm *.scx);;All Files (*)";
        QCOMPARE(opened, QStringList({open.arg(""), open.arg(at("edit.scx")), open.arg(at("edit.scx"))}));
        QCOMPARE(w.mapSplicePath(), (dir / "big.scx").string());
        QVERIFY(w.lblStatus->text() == "Loaded " + at("big.scx") && w.lblStatus->textFormat() == Qt::PlainText);
        QApplication::setActiveWindow(&w);
        w.txtSection->setFocus(); // completions: either map's names
        QCOMPARE(w.sectionCompletions(), QStringList({"DIM ", "TILE", "ISOM", "MTXM"}));
        click(w.btnCopy, {kCopySteps[0], kCopySteps[1], kCopySteps[2], "Copy Section cancelled."});
        click(w.btnSave, first(kSaveSteps, 1));
        answer = true;
        click(w.btnCopy, kCopySteps);
        pick(w.btnMapSplice, "splice.scm");
        click(w.btnSave, first(kSaveSteps, 1)); // Copy Section took big.scx
        click(w.btnCopy, kCopySteps);
        const Bytes before = readAll(dir / "edit.scx");
        w.txtSection->setText("ISOM");
        click(w.btnSave, first(kSaveSteps, 1));
        QCOMPARE(readAll(dir / "edit.scx"), before);
        w.txtSection->setText("TILE");
        click(w.btnSave, kSaveSteps);
        const Bytes saved = makeChunk({{"DIM ", {8, 0, 8, 0}}, {"TILE", pattern(128, 3)}, {"ISOM", {1}}});
        QCOMPARE(archive::readMember(dir / "edit.scx", kChunkName), saved);
        QVERIFY(questions.size() == 2 && questions[0].contains("the map to edit is 8x8, the map to splice 16x8"));
        const QStringList reasons = {
            "map to edit", "run Copy Section first",
            "Copy Section copied \"TILE\" from " + at("big.scx") + ", but the window now shows \"TILE\" from " +
                at("splice.scm") + ": run Copy Section again",
            "Copy Section copied \"TILE\" from " + at("splice.scm") + ", but the window now shows \"ISOM\""};
        QCOMPARE(errors.size(), reasons.size());
        for (int i = 0; i < reasons.size(); ++i)
            QVERIFY2(errors[i].contains(reasons[i]), qPrintable(errors[i]));
        // Ctrl+Z undoes the Save, also from the section box while it has no typing to undo; Save
        // then puts it back; nothing left to undo is said in the status line.
        statuses.clear();
        w.activateWindow();
        w.txtSection->setFocus();
        QTest::keyClick(w.txtSection, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(statuses, QStringList({"Restoring map from before last save...", "Undo successful!"}));
        QCOMPARE(readAll(dir / "edit.scx"), before);
        click(w.btnSave, kSaveSteps);
        QCOMPARE(archive::readMember(dir / "edit.scx", kChunkName), saved);
        QTest::keyClick(w.txtSection, Qt::Key_Z, Qt::ControlModifier);
        statuses.clear();
        QTest::keyClick(w.txtSection, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(statuses.last() == "Nothing to undo." && errors.size() == reasons.size());
        QVERIFY(w.lblStatus->toolTip().contains("Ctrl+Z"));
    }

    // A dropped map is picked for the row it lands on; the dragged data is read once and checked, so a
    // source that answers only once, or drags two files, changes nothing.
    void dropsPickAMapForTheirRow() {
        struct Once : QMimeData {
            mutable int asked = 0;
            QVariant retrieveData(const QString& type, QMetaType meta) const override {
                return asked++ ? QVariant() : QMimeData::retrieveData(type, meta);
            }
        };
        const auto drop = [&](QWidget* on, QMimeData* data) {
            const QPoint at = on->geometry().center();
            QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&w, &enter);
            QDropEvent dropped(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&w, &dropped);
        };
        const QUrl file = QUrl::fromLocalFile(at("splice.scm"));
        Once once;
        once.setUrls({file});
        QMimeData two, one;
        two.setUrls({file, QUrl::fromLocalFile(at("big.scx"))});
        one.setUrls({file});
        const QString edit = w.lblMapEdit->path();
        drop(w.lblMapEdit, &once);
        drop(w.lblGeneral[0], &two);
        QCOMPARE(w.lblMapEdit->path(), edit);
        drop(w.btnMapEdit, &one);
        QCOMPARE(w.lblMapEdit->path(), at("splice.scm"));
    }

    // Clicks during a run arrive but start nothing, and a close waits for the run's end.
    void inputOrCloseDuringARunWaitsForItsEnd() {
        writeAll(dir / "junk.scx", {1, 2, 3, 4}); // any bytes will do to pass a few yields before failing
        pick(w.btnMapSplice, "junk.scx");
        QSignalSpy saves(w.btnSave, &QPushButton::clicked);
        QMetaObject::Connection once;
        once = QObject::connect(&w, &ui::frmMain::statusChanged, [&] {
            QObject::disconnect(once);
            for (QWidget* b : {w.btnSave, w.btnAbout, w.btnMapEdit})
                for (const auto& [type, buttons] : {std::pair{QEvent::MouseButtonPress, Qt::LeftButton},
                                                    std::pair{QEvent::MouseButtonRelease, Qt::NoButton}})
                    QCoreApplication::postEvent(b, new QMouseEvent(type, QPointF(5, 5), b->mapToGlobal(QPointF(5, 5)),
                                                                   Qt::LeftButton, buttons, Qt::NoModifier));
            QVERIFY((w.close(), w.isVisible()));
        });
        const qsizetype dialogs = opened.size(), shown = errors.size();
        click(w.btnCopy, first(kCopySteps, 3));
        QVERIFY(saves.count() == 1 && opened.size() == dialogs && errors.size() == shown + 1);
        QVERIFY(!QApplication::activeModalWidget() && !w.isVisible() && !w.busy());
    }
};

QTEST_MAIN(UiTests)
#include "ui_tests.moc"
