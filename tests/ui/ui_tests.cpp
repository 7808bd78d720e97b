// The windows driven as a user would: buttons, the dialog seam, drops.
#include "archive.h"
#include "fixtures.h"
#include "frmAbout.h"
#include "frmMain.h"

#include <QMimeData>
#include <QtTest>

using namespace fixtures;

namespace {

QStringList qs(const std::vector<std::string>& v) {
    QStringList out;
    for (const auto& s : v)
        out << QString::fromStdString(s);
    return out;
}
QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

// A window whose dialogs answer from scripts and record what they were asked.
struct Harness {
    ScratchDir dir;
    QStringList picks, opened, errors, questions, statuses; // picks: the open dialog's answers; none left cancels
    bool answer = false;
    ui::frmMain w{dir.path(),
                  {[this](QWidget*, const QString& title, const QString& start, const QString& filter) {
                       opened << title + " " + start + " " + filter;
                       return picks.isEmpty() ? QString() : picks.takeFirst();
                   },
                   [this](QWidget*, const QString&, const QString& text) { errors << text; },
                   [this](QWidget*, const QString&, const QString& text) { return questions << text, answer; }}};
    Harness() {
        QObject::connect(&w, &ui::frmMain::statusChanged, [this](const QString& s) { statuses << s; });
        w.show();
    }
    void pick(QPushButton* browse, const QString& path) { picks << path, QTest::mouseClick(browse, Qt::LeftButton); }
    void click(QPushButton* b) { statuses.clear(), QTest::mouseClick(b, Qt::LeftButton); }
};

} // namespace

class UiTests : public QObject {
    Q_OBJECT
private slots:
    void startsWithTheLayoutsTextsAndTabOrder() {
        Harness h;
        ui::frmMain& w = h.w;
        QStringList texts; // bold ones marked
        for (QLabel* l : std::initializer_list<QLabel*>{w.lblGeneral[0], w.lblGeneral[1], w.lblGeneral[2], w.lblGeneral[3], w.lblMapEdit, w.lblStatus})
            texts << l->text() + (l->font().bold() ? "*" : "");
        texts << w.txtSection->text() << w.btnCopy->text() << w.windowTitle() << (w.windowIcon().isNull() ? "no icon" : "icon");
        QCOMPARE(texts, QStringList({"Map to edit:*", "Map to splice:*", "Options:*", "Section to copy:", "No map loaded.",
                                     "No maps are loaded...", "TILE", "Copy Section", "Graftwell 1.0 BETA", "icon"}));
        QCOMPARE(QList<QSize>({w.minimumSize(), w.maximumSize()}), QList<QSize>({QSize(274, 266), QSize(274, 266)}));
        QCOMPARE(w.windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint), Qt::WindowFlags(Qt::WindowMinimizeButtonHint));
        QCOMPARE(QList<QRect>({w.btnCopy->geometry(), w.txtSection->geometry(), w.lblStatus->parentWidget()->geometry()}),
                 QList<QRect>({QRect(128, 216, 73, 21), QRect(112, 192, 49, 19), QRect(0, 248, 273, 17)}));
        for (QPushButton* b : {w.btnMapEdit, w.btnMapSplice, w.btnAbout, w.btnCopy, w.btnSave}) // captions fit
            QVERIFY2(b->fontMetrics().horizontalAdvance(b->text()) <= b->width() - 8, qPrintable(b->text()));
        QList<QWidget*> order = {w.focusWidget()};
        for (QWidget* at = order[0]->nextInFocusChain(); at != order[0] && order.size() < 20; at = at->nextInFocusChain())
            if (at->focusPolicy() & Qt::TabFocus)
                order << at;
        QCOMPARE(order, QList<QWidget*>({w.btnMapEdit, w.btnMapSplice, w.txtSection, w.btnCopy, w.btnSave, w.btnAbout}));
        w.txtSection->selectAll();
        QTest::keyClicks(w.txtSection, "MTXMXE"); // four characters at most
        QCOMPARE(w.sectionName(), std::string("MTXM"));
    }

    // Browse starts at the file picked last, a cancel changes nothing, both slots may hold
    // one file, paths show as text, and one dropped local file acts as a pick. The section
    // box offers the printable names of the map to edit, once each, when it gets focus.
    void browseDropAndCompletions() {
        Harness h;
        const QString a = q(h.dir / "a b.scx"), b = q(h.dir / "<b>x</b>.scm"), c = q(h.dir / "c.scx");
        makeMap(h.dir / "c.scx", makeChunk({{"VER ", {}}, {"TILE", {}}, {"VER ", {}}, {"\x01\x02\x03\x04", {}}}));
        QTest::mouseClick(h.w.btnMapEdit, Qt::LeftButton);
        h.pick(h.w.btnMapEdit, a);
        QTest::mouseClick(h.w.btnMapSplice, Qt::LeftButton);
        h.pick(h.w.btnMapEdit, b);
        h.pick(h.w.btnMapSplice, b);
        for (const auto& urls : {QList<QUrl>{QUrl::fromLocalFile(c), QUrl::fromLocalFile(c)}, {QUrl("https://example.org/m.scx")}, {QUrl::fromLocalFile(c)}}) {
            QMimeData mime;
            mime.setUrls(urls);
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            if (QApplication::sendEvent(h.w.lblMapEdit, &enter), enter.isAccepted())
                QApplication::sendEvent(h.w.lblMapEdit, &dropped);
        }
        QTest::mouseClick(h.w.btnMapSplice, Qt::LeftButton);
        const QString open = "Open %1 StarCraft/Brood War Scenarios (*.scm *.scx);;All Files (*)";
        QCOMPARE(h.opened, QStringList({open.arg(""), open.arg(""), open.arg(a), open.arg(a), open.arg(b), open.arg(c)}));
        QCOMPARE(h.statuses, QStringList({"Loaded " + a, "Loaded " + b, "Loaded " + b, "Loaded " + c}));
        QCOMPARE(QStringList({h.w.lblMapEdit->path(), h.w.lblMapSplice->path()}), QStringList({c, b}));
        QVERIFY(h.w.lblMapSplice->textFormat() == Qt::PlainText && h.w.lblStatus->textFormat() == Qt::PlainText);
        QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
        for (const auto& [map, names] : {std::pair{c, QStringList({"VER ", "TILE"})}, std::pair{a, QStringList()}}) {
            h.pick(h.w.btnMapEdit, map);
            QApplication::sendEvent(h.w.txtSection, &in);
            QCOMPARE(h.w.sectionCompletions(), names);
        }
        QVERIFY(h.errors.isEmpty());
    }

    // A failed step stays in the status line and its reason is shown; terrain between maps
    // of other size is copied only when confirmed. Clicks during a run arrive but start
    // nothing, and a close waits for the run's end.
    void buttonsRunTheProcedures() {
        Harness h;
        for (const auto& [name, width, seed] : {std::tuple{"edit.scx", 8, 1}, std::tuple{"big.scx", 16, 2}, std::tuple{"splice.scm", 8, 3}})
            makeMap(h.dir / name, makeChunk({{"DIM ", {uint8_t(width), 0, 8, 0}}, {"TILE", pattern(width * 16, seed)}}));
        const auto run = [&](QPushButton* b, const QString& splice, const std::vector<std::string>& steps) {
            if (!splice.isEmpty())
                h.pick(h.w.btnMapSplice, q(h.dir / splice.toStdString()));
            h.click(b);
            QCOMPARE(h.statuses, qs(steps));
        };
        run(h.w.btnCopy, "", first(kCopySteps, 1));
        h.pick(h.w.btnMapEdit, q(h.dir / "edit.scx"));
        run(h.w.btnCopy, "gone.scx", first(kCopySteps, 2));
        run(h.w.btnSave, "", first(kSaveSteps, 1));
        run(h.w.btnCopy, "big.scx", first(kCopySteps, 3));
        QCOMPARE(h.w.lblStatus->text(), QString("Extracting scenario.chk..."));
        h.answer = true;
        run(h.w.btnCopy, "", kCopySteps);
        run(h.w.btnCopy, "splice.scm", kCopySteps);
        run(h.w.btnSave, "", kSaveSteps);
        QCOMPARE(archive::readMember(h.dir / "edit.scx", kChunkName), makeChunk({{"DIM ", {8, 0, 8, 0}}, {"TILE", pattern(128, 3)}}));
        QCOMPARE(h.questions.size(), 2);
        QVERIFY(h.questions[0].contains("differ in size: the map to edit is 8x8, the map to splice 16x8"));
        const QStringList reasons = {"map to edit", q(h.dir / "gone.scx"), "run Copy Section first", "differ in size", "not a map"};

        writeAll(h.dir / "junk.scx", {1, 2, 3, 4}); // any bytes will do to pass a few yields before failing
        QSignalSpy saves(h.w.btnSave, &QPushButton::clicked), abouts(h.w.btnAbout, &QPushButton::clicked);
        QMetaObject::Connection once;
        once = QObject::connect(&h.w, &ui::frmMain::statusChanged, [&] {
            QObject::disconnect(once);
            for (QWidget* b : {h.w.btnSave, h.w.btnAbout, h.w.btnMapEdit})
                for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
                    QCoreApplication::postEvent(b, new QMouseEvent(type, QPointF(5, 5), b->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                                                                   type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier));
        });
        run(h.w.btnCopy, "junk.scx", first(kCopySteps, 3));
        QCOMPARE(QList<qsizetype>({saves.count(), abouts.count(), h.opened.size(), h.errors.size()}), QList<qsizetype>({1, 1, 5, 5}));
        for (int i = 0; i < 5; ++i)
            QVERIFY2(h.errors[i].contains(reasons[i]), qPrintable(h.errors[i]));
        QVERIFY(!QApplication::activeModalWidget() && !h.w.busy() && h.w.isVisible());
        bool closedAtOnce = false;
        QObject::connect(&h.w, &ui::frmMain::statusChanged, [&](const QString& s) {
            if (s == "Copying maps...")
                closedAtOnce = (h.w.close(), !h.w.isVisible());
        });
        run(h.w.btnCopy, "", first(kCopySteps, 3));
        QVERIFY(!closedAtOnce && !h.w.isVisible() && !h.w.busy());
    }

    void aboutIsModalAndTheSameEachTime() {
        Harness h;
        QStringList seen;
        for (int round = 0; round < 2; ++round) {
            QTimer::singleShot(0, [&] {
                auto* about = qobject_cast<ui::frmAbout*>(QApplication::activeModalWidget());
                QStringList texts = {about->windowTitle(), about->Command1->text()};
                for (QLabel* l : about->lblAbout)
                    texts << l->text();
                seen << texts.join("|") + (about->isModal() && about->focusWidget() == about->Command1 ? "" : " (not modal on Close)");
                QTest::mouseClick(about->Command1, Qt::LeftButton);
            });
            QTest::mouseClick(h.w.btnAbout, Qt::LeftButton);
            QVERIFY(!QApplication::activeModalWidget() && h.w.findChildren<ui::frmAbout*>().isEmpty());
        }
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[0], seen[1]);
        QVERIFY2(seen[0].startsWith("About Graftwell 1.0 BETA|Close|Programmed by: the Graftwell authors|Thanks to: map makers / testers / translators|"),
                 qPrintable(seen[0]));
    }
};

QTEST_MAIN(UiTests)
#include "ui_tests.moc"
