// The windows driven as a user would: buttons, the dialog seam, drops.
#include "archive.h"
#include "fixtures.h"
#include "frmAbout.h"
#include "frmMain.h"

#include <QApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QTimer>
#include <QUrl>
#include <QtTest>

namespace fs = std::filesystem;
using fixtures::Bytes;
using Sections = std::vector<std::pair<std::string, Bytes>>;

namespace {

QStringList qStrings(const std::vector<std::string>& v) {
    QStringList out;
    for (const auto& s : v) out << QString::fromStdString(s);
    return out;
}
const QStringList kCopySteps = qStrings(fixtures::kCopySteps);
const QStringList kSaveSteps = qStrings(fixtures::kSaveSteps);

QString q(const fs::path& p) { return QString::fromStdString(p.string()); }

Sections terrain(uint16_t w, uint16_t h, uint32_t seed) {
    const Bytes dim = {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(h),
                       static_cast<uint8_t>(h >> 8)};
    return {{"VER ", {0xCD, 0x00}},
            {"DIM ", dim},
            {"ERA ", {0x04, 0x00}},
            {"TILE", fixtures::pattern(size_t{w} * h * 2, seed)},
            {"UNIT", fixtures::pattern(36, seed + 7)}};
}

// A window whose dialogs answer from scripts and record what they were asked.
struct Harness {
    fixtures::ScratchDir dir;
    QStringList picks;  // answers of the open-file dialog, in order; "" cancels
    struct Asked { QString title, start, filter; };
    std::vector<Asked> opened;
    QStringList errors, questions;
    bool answer = false;
    QStringList statuses;
    ui::frmMain w;

    Harness() : w(dir.path(), dialogs()) {
        QObject::connect(&w, &ui::frmMain::statusChanged, [this](const QString& s) { statuses << s; });
        w.show();
    }
    ui::Dialogs dialogs() {
        ui::Dialogs d;
        d.openFile = [this](QWidget*, const QString& title, const QString& start, const QString& filter) {
            opened.push_back({title, start, filter});
            return picks.isEmpty() ? QString() : picks.takeFirst();
        };
        d.showError = [this](QWidget*, const QString&, const QString& text) { errors << text; };
        d.askYesNo = [this](QWidget*, const QString&, const QString& text) {
            questions << text;
            return answer;
        };
        return d;
    }
    void pickEdit(const fs::path& p) { picks << q(p); QTest::mouseClick(w.btnMapEdit, Qt::LeftButton); }
    void pickSplice(const fs::path& p) { picks << q(p); QTest::mouseClick(w.btnMapSplice, Qt::LeftButton); }
    void copy() { statuses.clear(); QTest::mouseClick(w.btnCopy, Qt::LeftButton); }
    void save() { statuses.clear(); QTest::mouseClick(w.btnSave, Qt::LeftButton); }
    // Any bytes will do for a run that only has to pass a few yields before it fails.
    void pickJunkMaps() {
        fixtures::writeAll(dir / "a.scx", {1, 2, 3, 4});
        fixtures::writeAll(dir / "b.scx", {5, 6, 7, 8});
        pickEdit(dir / "a.scx");
        pickSplice(dir / "b.scx");
    }
};

void drop(QWidget* target, const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return;
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropped);
}

void postClick(QWidget* target) {
    const QPointF at(5, 5);
    QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonPress, at, target->mapToGlobal(at),
                                                        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonRelease, at, target->mapToGlobal(at),
                                                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
}

} // namespace

class UiTests : public QObject {
    Q_OBJECT
private slots:
    void startsWithTheLayoutsTexts();
    void tabOrderAndFirstFocus();
    void sectionBoxTakesFourCharacters();
    void browsePicksAndCancels();
    void droppedFileActsAsBrowse();
    void copyAndSaveFromTheButtons();
    void failureShowsTheReasonAndKeepsTheStep();
    void terrainWarningAsksFirst();
    void inputDuringARunDoesNotStartAnother();
    void closeDuringARunWaitsForItsEnd();
    void completionsComeFromTheMapToEdit();
    void aboutIsModalAndTheSameEachTime();
};

void UiTests::startsWithTheLayoutsTexts() {
    Harness h;
    ui::frmMain& w = h.w;
    QCOMPARE(w.windowTitle(), QString("Graftwell 1.0 BETA"));
    QCOMPARE(w.size(), QSize(274, 266));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!w.windowIcon().isNull());

    QCOMPARE(w.lblMapEdit->text(), QString("No map loaded."));
    QCOMPARE(w.lblMapSplice->text(), QString("No map loaded."));
    QCOMPARE(w.txtSection->text(), QString("TILE"));
    QCOMPARE(w.lblStatus->text(), QString("No maps are loaded..."));
    QCOMPARE(w.mapEditPath(), std::string("No map loaded."));

    const QStringList general = {"Map to edit:", "Map to splice:", "Options:", "Section to copy:"};
    for (int i = 0; i < 4; ++i) {
        QLabel* l = w.findChild<QLabel*>(QString("lblGeneral_%1").arg(i));
        QCOMPARE(l, w.lblGeneral[i]);
        QCOMPARE(l->text(), general[i]);
        QCOMPARE(l->font().bold(), i < 3);
    }
    for (const char* name : {"btnMapEdit", "btnMapSplice", "btnAbout", "btnCopy", "btnSave", "txtSection",
                             "picStatus", "lblStatus", "lblMapEdit", "lblMapSplice", "Lines_0", "Lines_1"})
        QVERIFY2(w.findChild<QWidget*>(name), name);
    QCOMPARE(w.btnCopy->text(), QString("Copy Section"));
    QCOMPARE(w.btnCopy->geometry(), QRect(128, 216, 73, 21));
    QCOMPARE(w.txtSection->geometry(), QRect(112, 192, 49, 19));
    QCOMPARE(w.picStatus->geometry(), QRect(0, 248, 273, 17));
    QCOMPARE(w.Lines[1]->geometry(), QRect(16, 160, 240, 1));
    QCOMPARE(w.lblStatus->parentWidget(), w.picStatus);

    // Path labels lie beneath their Browse buttons.
    const QObjectList& kids = w.children();
    QVERIFY(kids.indexOf(w.lblMapEdit) < kids.indexOf(w.btnMapEdit));
    QVERIFY(kids.indexOf(w.lblGeneral[3]) < kids.indexOf(w.txtSection));

    // Every caption fits its control in the font in use.
    for (QPushButton* b : {w.btnMapEdit, w.btnMapSplice, w.btnAbout, w.btnCopy, w.btnSave})
        QVERIFY2(b->fontMetrics().horizontalAdvance(b->text()) <= b->width() - 8, qPrintable(b->text()));
    QVERIFY(w.lblGeneral[3]->x() + w.lblGeneral[3]->fontMetrics().horizontalAdvance(w.lblGeneral[3]->text()) <
            w.txtSection->x());
}

void UiTests::tabOrderAndFirstFocus() {
    Harness h;
    ui::frmMain& w = h.w;
    QCOMPARE(w.focusWidget(), static_cast<QWidget*>(w.btnMapEdit));
    const QList<QWidget*> expected = {w.btnMapEdit, w.btnMapSplice, w.txtSection, w.btnCopy, w.btnSave, w.btnAbout};
    QList<QWidget*> order;
    QWidget* at = w.btnMapEdit;
    do {
        if (at->focusPolicy() & Qt::TabFocus) order << at;
        at = at->nextInFocusChain();
    } while (at != w.btnMapEdit && order.size() < 20);
    QCOMPARE(order, expected);
}

void UiTests::sectionBoxTakesFourCharacters() {
    Harness h;
    QLineEdit* t = h.w.txtSection;
    t->selectAll();
    QTest::keyClicks(t, "MTXMX");
    QCOMPARE(t->text(), QString("MTXM"));
    QTest::keyClick(t, Qt::Key_E);
    QCOMPARE(t->text(), QString("MTXM"));
    t->selectAll();
    QTest::keyClick(t, Qt::Key_Delete);
    QCOMPARE(h.w.sectionName(), std::string());
    QTest::keyClicks(t, "STR");
    QCOMPARE(h.w.sectionName(), std::string("STR"));
}

void UiTests::browsePicksAndCancels() {
    Harness h;
    ui::frmMain& w = h.w;
    // Cancel on first use changes nothing.
    QTest::mouseClick(w.btnMapEdit, Qt::LeftButton);
    QCOMPARE(h.opened.size(), size_t{1});
    QCOMPARE(h.opened[0].title, QString("Open"));
    QCOMPARE(h.opened[0].filter, QString("StarCraft/Brood War Scenarios (*.scm *.scx);;All Files (*)"));
    QCOMPARE(w.lblMapEdit->path(), QString("No map loaded."));
    QCOMPARE(w.lblStatus->text(), QString("No maps are loaded..."));

    const QString a = q(h.dir / "a b.scx"), b = q(h.dir / "b.scm");
    h.pickEdit(h.dir / "a b.scx");
    QCOMPARE(w.lblMapEdit->path(), a);
    QCOMPARE(w.lblStatus->text(), "Loaded " + a);
    QCOMPARE(w.mapEditPath(), (h.dir / "a b.scx").string());

    // The other Browse starts at the file picked last; cancelling it keeps everything.
    QTest::mouseClick(w.btnMapSplice, Qt::LeftButton);
    QCOMPARE(h.opened.back().start, a);
    QCOMPARE(w.lblMapSplice->path(), QString("No map loaded."));
    QCOMPARE(w.lblStatus->text(), "Loaded " + a);

    // Picking the same slot again replaces the path; both slots may hold one file.
    h.pickEdit(h.dir / "b.scm");
    h.pickSplice(h.dir / "b.scm");
    QCOMPARE(w.lblMapEdit->path(), b);
    QCOMPARE(w.lblMapSplice->path(), b);
    QCOMPARE(w.lblStatus->text(), "Loaded " + b);
    QCOMPARE(h.statuses, QStringList({"Loaded " + a, "Loaded " + b, "Loaded " + b}));
    QVERIFY(h.errors.isEmpty());

    // A path is shown as text, whatever it looks like.
    h.pickEdit(h.dir / "<b>x</b>.scm");
    QCOMPARE(w.lblMapEdit->textFormat(), Qt::PlainText);
    QCOMPARE(w.lblStatus->textFormat(), Qt::PlainText);
}

void UiTests::droppedFileActsAsBrowse() {
    Harness h;
    ui::frmMain& w = h.w;
    const fs::path file = h.dir / "dropped.scx";
    fixtures::writeAll(file, {1, 2, 3});
    drop(w.lblMapSplice, {QUrl::fromLocalFile(q(file))});
    QCOMPARE(w.lblMapSplice->path(), q(file));
    QCOMPARE(w.lblStatus->text(), "Loaded " + q(file));
    QTest::mouseClick(w.btnMapEdit, Qt::LeftButton);
    QCOMPARE(h.opened.back().start, q(file));

    // Two files, or a remote one, say nothing about which map is meant.
    drop(w.lblMapEdit, {QUrl::fromLocalFile(q(file)), QUrl::fromLocalFile(q(file))});
    drop(w.lblMapEdit, {QUrl("https://example.org/map.scx")});
    QCOMPARE(w.lblMapEdit->path(), QString("No map loaded."));
}

void UiTests::copyAndSaveFromTheButtons() {
    Harness h;
    const Sections edit = terrain(8, 8, 1), other = terrain(8, 8, 2);
    const fs::path a = h.dir / "edit.scx", b = h.dir / "splice.scm";
    fixtures::makeMap(a, fixtures::makeChunk(edit));
    fixtures::makeMap(b, fixtures::makeChunk(other));
    h.pickEdit(a);
    h.pickSplice(b);

    h.copy();
    QCOMPARE(h.statuses, kCopySteps);
    QVERIFY2(h.errors.isEmpty(), qPrintable(h.errors.join("\n")));
    QCOMPARE(h.w.lblStatus->text(), QString("Done!"));

    const Bytes before = fixtures::readAll(a);
    h.save();
    QCOMPARE(h.statuses, kSaveSteps);
    QVERIFY2(h.errors.isEmpty(), qPrintable(h.errors.join("\n")));
    Sections expected = edit;
    expected[3].second = other[3].second;
    QCOMPARE(archive::readMember(a, fixtures::kChunkName), fixtures::makeChunk(expected));
    QVERIFY(!h.w.busy());

    // Ctrl+Z undoes the Save, also from the section box while it has no typing to undo; once.
    h.statuses.clear();
    h.w.activateWindow();
    h.w.txtSection->setFocus();
    QTest::keyClick(h.w.txtSection, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(h.statuses, QStringList({"Restoring map from before last save...", "Undo successful!"}));
    QCOMPARE(fixtures::readAll(a), before);
    QTest::keyClick(h.w.txtSection, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(h.errors.size(), 1);
    QCOMPARE(fixtures::readAll(a), before);
}

void UiTests::failureShowsTheReasonAndKeepsTheStep() {
    Harness h;
    // Nothing picked yet.
    h.copy();
    QCOMPARE(h.statuses, QStringList({"Deleting temp files..."}));
    QCOMPARE(h.errors.size(), 1);
    QVERIFY2(h.errors[0].contains("map to edit"), qPrintable(h.errors[0]));
    QVERIFY(h.w.isVisible());

    // A map that went missing after it was picked is named in the message.
    const fs::path a = h.dir / "edit.scx", gone = h.dir / "gone.scx";
    fixtures::makeMap(a, fixtures::makeChunk(terrain(8, 8, 1)));
    h.pickEdit(a);
    h.pickSplice(gone);
    h.copy();
    QCOMPARE(h.statuses, QStringList({"Deleting temp files...", "Copying maps..."}));
    QCOMPARE(h.w.lblStatus->text(), QString("Copying maps..."));
    QCOMPARE(h.errors.size(), 2);
    QVERIFY2(h.errors[1].contains(q(gone)), qPrintable(h.errors[1]));
    QVERIFY(h.w.isVisible());

    // Save without a finished Copy Section refuses and leaves the map alone.
    const Bytes before = fixtures::readAll(a);
    h.save();
    QCOMPARE(h.statuses, QStringList({"Adding temp chk file to temp map..."}));
    QCOMPARE(h.errors.size(), 3);
    QCOMPARE(fixtures::readAll(a), before);
    QVERIFY(!h.w.busy());
}

void UiTests::terrainWarningAsksFirst() {
    Harness h;
    const fs::path a = h.dir / "edit.scx", b = h.dir / "big.scx";
    fixtures::makeMap(a, fixtures::makeChunk(terrain(8, 8, 1)));
    fixtures::makeMap(b, fixtures::makeChunk(terrain(16, 8, 2)));
    h.pickEdit(a);
    h.pickSplice(b);

    h.answer = false;
    h.copy();
    QCOMPARE(h.questions.size(), 1);
    QVERIFY2(h.questions[0].contains("differ in size"), qPrintable(h.questions[0]));
    QCOMPARE(h.errors.size(), 1);
    QVERIFY(h.w.lblStatus->text() != QString("Done!"));

    h.answer = true;
    h.copy();
    QCOMPARE(h.questions.size(), 2);
    QCOMPARE(h.statuses.back(), QString("Done!"));
    QCOMPARE(h.errors.size(), 1);
}

void UiTests::inputDuringARunDoesNotStartAnother() {
    Harness h;
    h.pickJunkMaps();
    QSignalSpy saveClicks(h.w.btnSave, &QPushButton::clicked);
    QSignalSpy aboutClicks(h.w.btnAbout, &QPushButton::clicked);
    bool posted = false;
    QObject::connect(&h.w, &ui::frmMain::statusChanged, [&](const QString&) {
        if (posted) return;
        posted = true;
        postClick(h.w.btnSave);
        postClick(h.w.btnAbout);
        postClick(h.w.btnMapEdit);
    });
    h.copy();
    QCOMPARE(saveClicks.count(), 1);  // it arrived, during the run
    QCOMPARE(aboutClicks.count(), 1);
    QCOMPARE(h.statuses.mid(0, 3), kCopySteps.mid(0, 3));
    for (const QString& s : h.statuses) QVERIFY2(!kSaveSteps.contains(s), qPrintable(s));
    QCOMPARE(h.opened.size(), size_t{2});  // only the two picks
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(h.errors.size(), 1);  // the bytes are no map
    QVERIFY(!h.w.busy());
}

void UiTests::closeDuringARunWaitsForItsEnd() {
    Harness h;
    h.pickJunkMaps();
    bool closed = false;
    QObject::connect(&h.w, &ui::frmMain::statusChanged, [&](const QString& s) {
        if (s == "Copying maps...") {
            h.w.close();
            closed = h.w.isVisible() == false;
        }
    });
    h.copy();
    QVERIFY(!closed);
    QCOMPARE(h.statuses.mid(0, 3), kCopySteps.mid(0, 3));
    QVERIFY(!h.w.isVisible());
}

void UiTests::completionsComeFromTheMapToEdit() {
    Harness h;
    QCOMPARE(h.w.sectionCompletions(), QStringList());
    const fs::path a = h.dir / "edit.scx", junk = h.dir / "junk.scx";
    Sections s = terrain(8, 8, 1);
    s.push_back({std::string("\x01\x02\x03\x04", 4), {}});  // unprintable names are not offered
    fixtures::makeMap(a, fixtures::makeChunk(s));
    h.pickEdit(a);
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(h.w.txtSection, &in);
    QCOMPARE(h.w.sectionCompletions(), QStringList({"VER ", "DIM ", "ERA ", "TILE", "UNIT"}));

    // A file that is no map gives no completions and no message.
    fixtures::writeAll(junk, Bytes(100, 0x55));
    h.pickEdit(junk);
    QApplication::sendEvent(h.w.txtSection, &in);
    QCOMPARE(h.w.sectionCompletions(), QStringList());
    QVERIFY(h.errors.isEmpty());
}

void UiTests::aboutIsModalAndTheSameEachTime() {
    Harness h;
    QList<QStringList> seen;
    for (int round = 0; round < 2; ++round) {
        bool checked = false;
        QTimer::singleShot(0, [&] {
            auto* about = qobject_cast<ui::frmAbout*>(QApplication::activeModalWidget());
            QVERIFY(about);
            QVERIFY(about->isModal());
            QCOMPARE(about->focusWidget(), static_cast<QWidget*>(about->Command1));
            QStringList texts = {about->windowTitle(), about->Command1->text()};
            for (QLabel* l : about->lblAbout) {
                texts << l->text();
                QVERIFY2(l->x() + l->fontMetrics().horizontalAdvance(l->text()) <= about->width(),
                         qPrintable(l->text()));
            }
            seen << texts;
            // Resizing moves nothing.
            const QRect close = about->Command1->geometry();
            about->resize(about->width() + 40, about->height() + 30);
            QCOMPARE(about->Command1->geometry(), close);
            checked = true;
            QTest::mouseClick(about->Command1, Qt::LeftButton);
        });
        QTest::mouseClick(h.w.btnAbout, Qt::LeftButton);
        QVERIFY(checked);
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(h.w.findChildren<ui::frmAbout*>().isEmpty());
    }
    QCOMPARE(seen[0], seen[1]);
    QCOMPARE(seen[0][0], QString("About Graftwell 1.0 BETA"));
    QCOMPARE(seen[0][1], QString("Close"));
    QCOMPARE(seen[0][2], QString("Programmed by: the Graftwell authors"));
    QCOMPARE(seen[0][3], QString("Thanks to: map makers / testers / translators"));
}

QTEST_MAIN(UiTests)
#include "ui_tests.moc"
