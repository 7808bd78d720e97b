// The main window driven as a user would, its dialogs answered through their seam.
#include "aboutwindow.h"
#include "archive.h"
#include "fixtures.h"
#include "mainwindow.h"

#include <QAbstractItemView>
#include <QtTest>

using namespace fixtures;
namespace layout = ui::layout;

// One pixel a character: lines, rooms and cuts read off as counts.
int chars(std::string_view s) { return int(std::ranges::count_if(s, [](char c) { return (c & 0xC0) != 0x80; })); }
QStringList qt(const Strings& v) { QStringList l; for (const auto& s : v) l << QString::fromStdString(s); return l; }

class UiTests : public QObject {
    Q_OBJECT
    ScratchDir dir;
    QStringList picks, opened, errors, questions, statuses; // picks: the open dialog's answers; none left cancels
    bool answer = false;
    // A dialog takes the focus while it is open.
    void takeFocus() { if (QWidget* f = w.focusWidget()) f->clearFocus(); }
    ui::frmMain w{dir.path(),
                  {[this](QWidget*, const QString& title, const QString& start, const QString& filter) {
                       takeFocus(), opened << title + "|" + start + "|" + filter;
                       return picks.isEmpty() ? QString() : picks.takeFirst();
                   },
                   [this](auto*, auto&, const QString& text) { takeFocus(), errors << text; },
                   [this](auto*, auto&, const QString& text) { return takeFocus(), questions << text, answer; }}};

    QString at(const std::string& name) { return QString::fromStdString((dir / name).string()); }
    // A click, which gives the button the focus as on the desktop; the focus is back on it after any dialog.
    void press(QPushButton* b) {
        b->setFocus(Qt::MouseFocusReason);
        QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(w.focusWidget(), b);
    }
    void pick(QPushButton* browse, const std::string& name) { picks << at(name), press(browse); }
    // The status lines a click shows; a failure ends with one line saying what failed, and a box says `why`.
    void click(QPushButton* b, const Strings& steps, const QString& why = {}) {
        statuses.clear();
        const qsizetype boxes = errors.size();
        press(b);
        statuses.removeAll(QString::fromStdString("Done! " + kTerrainNote)); // a note after a copy of terrain
        QCOMPARE(errors.size(), boxes + !why.isEmpty());
        if (!why.isEmpty())
            QVERIFY2(!statuses.isEmpty() && statuses.takeLast().startsWith(b->text() + " failed: ") &&
                         !w.lblStatus->text().contains('\n') && errors.last().startsWith(b->text() + " failed:\n\n") &&
                         errors.last().contains(why),
                     qPrintable(errors.last()));
        QCOMPARE(statuses, qt(steps));
    }
    // The label's lines each within its room (twips), in the label's font.
    static void fitsItsLines(QLabel* label, const std::vector<int>& rooms) {
        const QStringList shown = label->text().split('\n');
        QVERIFY(static_cast<size_t>(shown.size()) <= rooms.size());
        for (qsizetype i = 0; i < shown.size(); ++i)
            QVERIFY2(label->fontMetrics().horizontalAdvance(shown[i]) <= layout::px(rooms[static_cast<size_t>(i)]),
                     qPrintable(shown[i]));
    }

private slots:
    void initTestCase() {
        QObject::connect(&w, &ui::frmMain::statusChanged, [this](const QString& s) { statuses << s; });
        w.show();
    }

    void startsWithTheLayoutsTextsAndTabOrder() {
        QCOMPARE(QStringList({w.windowTitle(), w.lblGeneral[0]->text(), w.lblGeneral[3]->text(), w.lblMapEdit->text(),
                              w.lblStatus->text(), w.txtSection->text()}),
                 QStringList({"Graftwell 1.0 BETA", "Map to edit:", "Section to copy:", "No map loaded.",
                              "No maps are loaded...", "TILE"}));
        QVERIFY(w.minimumSize() == QSize(274, 266) && w.maximumSize() == w.minimumSize());
        QVERIFY(w.lblGeneral[0]->font().bold() && !w.lblGeneral[3]->font().bold());
        QWidgetList order = {w.focusWidget()};
        for (QWidget* next = order[0]->nextInFocusChain(); next != order[0]; next = next->nextInFocusChain())
            if (next->focusPolicy() & Qt::TabFocus) order << next;
        QCOMPARE(order, QWidgetList({w.btnMapEdit, w.btnMapSplice, w.txtSection, w.btnCopy, w.btnSave, w.btnAbout}));
    }

    // Browse starts at the file picked last and a cancel changes nothing. A failed step stays in the status
    // line, then one line says what failed, and the box gives the reason; terrain between maps of other size
    // is copied only when confirmed, and a declined warning only says so. Save refuses what the window no
    // longer shows, and writes what it shows again after the copy's inputs are put back; Ctrl+Z undoes a Save
    // once. The focus is back where it was after every dialog.
    void picksAndButtonsRunTheProcedures() {
        for (const auto& [name, width, seed] : {std::tuple{"edit.scx", 8, 1}, {"big.scx", 16, 2}, {"splice.scm", 8, 3}})
            makeMap(dir / name, makeChunk({{"DIM ", {uint8_t(width), 0, 8, 0}}, {"TILE", pattern(width * 16, seed)},
                                           {width == 16 ? "MTXM" : "ISOM", {1}}}));
        click(w.btnCopy, first(kCopySteps, 1), "map to edit");
        pick(w.btnMapEdit, "edit.scx");
        QTest::mouseClick(w.btnMapSplice, Qt::LeftButton);
        pick(w.btnMapSplice, "big.scx");
        const QString open = "Open|%1|StarCraft/Brood War Scenarios (*.scm *.scx);;All Files (*)";
        QCOMPARE(opened, QStringList({open.arg(""), open.arg(at("edit.scx")), open.arg(at("edit.scx"))}));
        QVERIFY(w.status() == "Loaded " + at("big.scx") && w.lblStatus->textFormat() == Qt::PlainText);
        click(w.btnCopy, {kCopySteps[0], kCopySteps[1], kCopySteps[2], "Copy Section cancelled."});
        click(w.btnSave, first(kSaveSteps, 1), "run Copy Section first");
        answer = true;
        click(w.btnCopy, kCopySteps);
        pick(w.btnMapSplice, "splice.scm");
        click(w.btnSave, first(kSaveSteps, 1), "big.scx, but the window now shows \"TILE\" from splice.scm");
        click(w.btnCopy, kCopySteps);
        const Bytes before = readAll(dir / "edit.scx");
        pick(w.btnMapSplice, "big.scx");
        w.txtSection->setText("ISOM, DIM");
        click(w.btnSave, first(kSaveSteps, 1), "\"TILE\" from splice.scm, but the window now shows \"ISOM\", \"DIM\"");
        QCOMPARE(readAll(dir / "edit.scx"), before);
        // The copy's inputs shown again, padding dropped: Save writes what the window shows.
        w.showInputs({(dir / "splice.scm").string(), {"TILE"}});
        QVERIFY(w.lblMapSplice->path() == at("splice.scm") && w.txtSection->text() == "TILE");
        click(w.btnSave, kSaveSteps);
        const Bytes saved = makeChunk({{"DIM ", {8, 0, 8, 0}}, {"TILE", pattern(128, 3)}, {"ISOM", {1}}});
        QCOMPARE(archive::readMember(dir / "edit.scx", kChunkName), saved);
        QVERIFY(questions.size() == 2 && questions[0].contains("the map to edit is 8x8, the map to splice 16x8"));
        // Ctrl+Z undoes the Save, also from the section box while it has no typing to undo; Save
        // then puts it back; nothing left to undo is said in the status line alone.
        const auto undo = [&] {
            return statuses.clear(), QTest::keyClick(w.txtSection, Qt::Key_Z, Qt::ControlModifier), statuses;
        };
        w.activateWindow();
        w.txtSection->setFocus();
        QCOMPARE(undo(), QStringList({"Restoring map from before last save...", "Undo successful!"}));
        QCOMPARE(readAll(dir / "edit.scx"), before);
        click(w.btnSave, kSaveSteps);
        QCOMPARE(archive::readMember(dir / "edit.scx", kChunkName), saved);
        const qsizetype boxes = (undo(), errors.size());
        QVERIFY(undo().last() == "Nothing to undo." && errors.size() == boxes);
        w.showInputs({(dir / "big.scx").string(), {"DIM ", "MTXM"}});
        QVERIFY(w.lblMapSplice->path() == at("big.scx") && w.txtSection->text() == "DIM MTXM");
    }

    // Typing in the section box offers the names either map holds that begin with the name being typed,
    // the terrain as one choice, and none already given; a choice replaces only the name being typed.
    void sectionBoxCompletesTheNameBeingTyped_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("offered");
        const QString terrain = "MTXM TILE ISOM  (terrain)";
        QTest::newRow("a letter of a name") << "t" << QStringList({"TILE", terrain});
        QTest::newRow("the terrain by its label") << "Terr" << QStringList({terrain});
        QTest::newRow("after other names") << "DIM,ISOM m" << QStringList({"MTXM"});
        QTest::newRow("a name already given") << "TILE t" << QStringList();
        QTest::newRow("no name being typed") << "DIM " << QStringList();
        QTest::newRow("padding not shown") << "DI" << QStringList({"DIM"});
    }
    void sectionBoxCompletesTheNameBeingTyped() {
        QFETCH(QString, typed);
        QFETCH(QStringList, offered);
        w.activateWindow();
        w.txtSection->setFocus();
        w.txtSection->clear();
        QTest::keyClicks(w.txtSection, typed);
        QCOMPARE(w.sectionCompletions(), offered);
        QCOMPARE(w.completer()->popup()->isVisible(), !offered.isEmpty());
        if (offered.isEmpty()) return;
        // The last choice, picked from the list, takes the place of the name being typed.
        QAbstractItemView* list = w.completer()->popup();
        list->setCurrentIndex(list->model()->index(static_cast<int>(offered.size() - 1), 0));
        QTest::keyClick(list, Qt::Key_Return);
        const QString inserted = offered.last().section("  (", 0, 0);
        QCOMPARE(w.txtSection->text(), typed.left(typed.lastIndexOf(QRegularExpression("[ ,]")) + 1) + inserted);
        QCOMPARE(w.sectionNames().back(), inserted.split(' ').last().toStdString());
    }

    // A path label keeps the file name whole and puts "…" for the folders its lines have no room for; the
    // whole path is its tooltip. The status line shows one line, the file name whole, the whole text as tip.
    void pathsFitTheirLabels_data() {
        QTest::addColumn<QString>("folder");
        QTest::newRow("short") << QString();
        QTest::newRow("long Korean") << QString("다운로드한 지도들/스타크래프트 유즈맵 모음집 2024년 여름/"
                                                "친구들이 보내준 지형 파일들/새로운 버전");
        QTest::newRow("one long folder") << QString(120, 'x');
    }
    void pathsFitTheirLabels() {
        QFETCH(QString, folder);
        const QString name = "[8]투혼 1.3 by 아무개.scx";
        const QString map = at(folder.toStdString()) + (folder.isEmpty() ? "" : "/") + name;
        std::filesystem::create_directories(std::filesystem::path(map.toStdString()).parent_path());
        writeAll(map.toStdString(), {1});
        picks << map;
        QTest::mouseClick(w.btnMapEdit, Qt::LeftButton);
        const layout::Window& table = layout::mainWindow();
        // The lines beside Browse end before it, the first runs the label's width.
        QCOMPARE(table.lineRooms(table["lblMapEdit"], 240), std::vector<int>({3855, 2955, 2955}));
        fitsItsLines(w.lblMapEdit,
                     table.lineRooms(table["lblMapEdit"], w.lblMapEdit->fontMetrics().lineSpacing() * 15));
        const QString shown = w.lblMapEdit->text().remove('\n');
        QVERIFY2(folder.isEmpty() ? shown == map : shown.contains("…/") && shown.endsWith("/" + name),
                 qPrintable(shown));
        QVERIFY(w.lblMapEdit->toolTip() == map && w.mapEditPath() == map.toStdString());
        fitsItsLines(w.lblStatus, {table.textRoom(table["lblStatus"])});
        QVERIFY(w.lblStatus->text().startsWith("Loaded ") && w.lblStatus->text().endsWith(name));
        QVERIFY(w.status() == "Loaded " + map && w.lblStatus->toolTip().startsWith(w.status() + "\n\nCtrl+Z"));
    }

    // fitPath laid out with one pixel a character: lines broken after separators, folders from the middle
    // given up first, a file name cut in its middle only when no line holds it.
    void fitPathShortensTheMiddle_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QList<int>>("rooms");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char* name, QString path, QList<int> rooms, QString shown) {
            QTest::newRow(name) << path << rooms << shown;
        };
        row("fits", "C:\\maps\\a.scx", {20}, "C:\\maps\\a.scx");
        row("breaks after separators", "/home/min/maps/a.scx", {12, 12}, "/home/min/\nmaps/a.scx");
        row("middle folders give way", "C:\\Users\\Min\\Maps\\New\\a.scx", {16}, "C:\\…\\New\\a.scx");
        row("then the last ones", "C:\\Users\\Min\\Maps\\New\\a.scx", {10}, "C:\\…\\a.scx");
        row("a long folder breaks", "/abcdefghijkl/a.scx", {8, 8, 8}, "/abcdefg\nhijkl/\na.scx");
        row("a long name breaks", "abcdefghijkl.scx", {9, 9}, "abcdefghi\njkl.scx");
        row("a name too long", "/m/abcdefghijkl.scx", {10}, "…/abcd…scx");
        row("no line at all", "/m/a.scx", {}, "");
    }
    void fitPathShortensTheMiddle() {
        QFETCH(QString, path);
        QFETCH(QList<int>, rooms);
        QFETCH(QString, shown);
        QCOMPARE(qt(layout::fitPath(path.toStdString(), rooms, chars)).join('\n'), shown);
    }

    // One status line: a "Loaded" path shortened in its folders, anything else cut at its end; a failure
    // says what failed and the first clause of why, naming a file by its name.
    void statusLinesStayOneLine() {
        QCOMPARE(layout::fitStatus("Loaded /home/min/maps/a.scx", 20, chars), "Loaded /…/maps/a.scx");
        QCOMPARE(layout::fitStatus("Copy Section failed: no\nway", 15, chars), "Copy Section f…");
        QCOMPARE(layout::fitStatus("Done!", 5, chars), "Done!");
        QCOMPARE(splice::failedLine("Save", "/home/min/maps/a.scx: the map is read-only; nothing was changed"),
                 "Save failed: a.scx: the map is read-only");
        QCOMPARE(splice::failedLine("Copy Section", "no section \"TILE\": its terrain is in \"MTXM\"\nmore"),
                 "Copy Section failed: no section \"TILE\": its terrain is in \"MTXM\"");
    }

    // About is as the table says in size, every credit whole in its font, and Enter or Escape closes it;
    // the focus is back on the button that opened it.
    void aboutShowsItsTextsWholeAndClosesByKey() {
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            bool checked = false;
            QTimer::singleShot(0, [&] {
                auto* about = qobject_cast<ui::frmAbout*>(QApplication::activeModalWidget());
                QVERIFY(about && about->size() == QSize(274, 149));
                for (QLabel* l : about->lblAbout)
                    QVERIFY2(l->fontMetrics().horizontalAdvance(l->text()) <= l->width() &&
                                 l->geometry().right() < about->width(),
                             qPrintable(l->text()));
                QTest::keyClick(about, key);
                checked = true;
            });
            press(w.btnAbout);
            QVERIFY(checked && !QApplication::activeModalWidget());
        }
    }

    // A dropped map is picked for the row it lands on. The dragged data is asked for once, as the drag
    // enters, so a source that answers only that once gives its path; a drop that picks nothing (here on the
    // other row) says why.
    void dropsPickAMapForTheirRow() {
        struct Once : QMimeData {
            mutable int asked = 0;
            QVariant retrieveData(const QString& type, QMetaType meta) const override {
                return asked++ ? QVariant() : QMimeData::retrieveData(type, meta);
            }
        };
        const QUrl file = QUrl::fromLocalFile(at("splice.scm"));
        const std::tuple<QList<QUrl>, int, QString> drops[] = {
            {{file}, 0, ""},
            {{file, QUrl::fromLocalFile(at("big.scx"))}, 0, "drop one map at a time."},
            {{QUrl::fromLocalFile(at(""))}, 0,
             QString::fromStdString(dir.path().filename().string()) + " is a folder, not a map."},
            {{QUrl("https://example.com/a.scx")}, 0, "the drop is not a file on this computer."},
            {{file}, 1, "the drop named no file."}}; // a source that answers nothing
        for (const auto& [urls, asked, why] : drops) {
            Once data;
            data.setUrls(urls);
            data.asked = asked;
            const QPoint on = why.isEmpty() ? w.lblMapEdit->geometry().center() : w.btnMapSplice->geometry().center();
            QDragEnterEvent enter(on, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&w, &enter);
            QDropEvent dropped(on, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&w, &dropped);
            QCOMPARE(w.status(), why.isEmpty() ? "Loaded " + at("splice.scm") : "Nothing loaded: " + why);
        }
        QVERIFY(w.lblMapEdit->path() == at("splice.scm") && w.lblMapSplice->path() == at("big.scx"));
    }

    // Clicks during a run arrive but start nothing, and a close waits for the run's end.
    void inputOrCloseDuringARunWaitsForItsEnd() {
        writeAll(dir / "junk.scx", {1, 2, 3, 4}); // any bytes will do to pass a few yields before failing
        pick(w.btnMapSplice, "junk.scx");
        QSignalSpy saves(w.btnSave, &QPushButton::clicked);
        QMetaObject::Connection once = QObject::connect(&w, &ui::frmMain::statusChanged, [&] {
            QObject::disconnect(once);
            for (QWidget* b : {w.btnSave, w.btnAbout, w.btnMapEdit})
                for (const auto& [type, buttons] : {std::pair{QEvent::MouseButtonPress, Qt::LeftButton},
                                                    std::pair{QEvent::MouseButtonRelease, Qt::NoButton}})
                    QCoreApplication::postEvent(b, new QMouseEvent(type, QPointF(5, 5), b->mapToGlobal(QPointF(5, 5)),
                                                                   Qt::LeftButton, buttons, Qt::NoModifier));
            QVERIFY((w.close(), w.isVisible()));
        });
        const qsizetype dialogs = opened.size();
        click(w.btnCopy, first(kCopySteps, 3), "junk.scx");
        QVERIFY(saves.count() == 1 && opened.size() == dialogs);
        QVERIFY(!QApplication::activeModalWidget() && !w.isVisible() && !w.busy());
    }

    // A procedure that throws past its own ending still fails on one line and frees the window.
    void aThrowingProcedureFailsOnItsOwnLine() {
        bool busy = false;
        const auto thrower = [](splice::FrontEnd&, const splice::WorkFolder&) -> splice::Result {
            throw std::runtime_error("edit.scm: out of memory");
        };
        statuses.clear();
        const auto why = layout::runProcedure(busy, "Save", thrower, w, splice::WorkFolder(dir.path()));
        QCOMPARE(why.value_or(""), "Save failed:\n\nedit.scm: out of memory");
        QCOMPARE(statuses, qt({splice::failedLine("Save", "edit.scm: out of memory")}));
        QVERIFY(!busy);
    }

    // The program answers --version and --help without a display, where Qt could not start.
    void versionAndHelpNeedNoDisplay() {
        const Env noDisplay = {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
        const Run version = run(GRAFTWELL_WINDOW, {"--version"}, noDisplay),
                  help = run(GRAFTWELL_WINDOW, {"--help"}, noDisplay);
        QCOMPARE(QString::fromStdString(version.out), "graftwell " + ui::productVersion() + "\n");
        QVERIFY(version.status == 0 && help.status == 0 &&
                help.out.starts_with("usage: graftwell [--version | --help]"));
    }
};

QTEST_MAIN(UiTests)
#include "ui_tests.moc"
