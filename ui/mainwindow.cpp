#include "mainwindow.h"

#include "aboutwindow.h"
#include "look.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCompleter>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QKeyEvent>
#include <QAbstractItemView>
#include <QMimeData>
#include <QShortcut>
#include <QUrl>

namespace ui {

namespace {

// Qt writes a file type as "Description (*.a *.b)" and types apart with ";;". On
// Windows "*.*" matches every name; here that is "*".
QString fileFilter() {
    QStringList types;
    for (const layout::FileType& t : layout::kMapFileTypes) {
        QString patterns = qs(t.patterns);
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        if (patterns == QLatin1String("*.*")) patterns = QStringLiteral("*");
        types << qs(t.description) + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return types.join(QStringLiteral(";;"));
}

std::string toLocal(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Section names are raw bytes: one character per byte where it fits.
std::string toSectionBytes(const QString& s) {
    for (QChar c : s)
        if (c.unicode() > 0xFF) return s.toStdString();
    return s.toLatin1().toStdString();
}

} // namespace

Dialogs Dialogs::standard() {
    Dialogs d;
    d.openFile = [](QWidget* parent, const QString& title, const QString& start, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, title, start, filter);
    };
    d.showError = [](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox::critical(parent, title, text);
    };
    d.askYesNo = [](QWidget* parent, const QString& title, const QString& text) {
        return QMessageBox::warning(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                    QMessageBox::No) == QMessageBox::Yes;
    };
    return d;
}

namespace {

// The one local file being dragged, or nothing. The data is asked for once: a
// source may answer the first request and not the next.
QString droppedFile(const QMimeData* m) {
    if (!m) return {};
    const QList<QUrl> urls = m->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return {};
    return urls.front().toLocalFile();
}

} // namespace

// ---- frmMain ----------------------------------------------------------------

frmMain::frmMain(std::filesystem::path programFolder, Dialogs dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      work_(std::move(programFolder)), dialogs_(std::move(dialogs)) {
    const auto made = ui::render(layout::mainWindow(), this);
    const auto get = [&made](std::string_view name) { return made.at(name); };
    for (size_t i = 0; i < lblGeneral.size(); ++i)
        lblGeneral[i] = static_cast<QLabel*>(get("lblGeneral_" + std::to_string(i)));
    for (size_t i = 0; i < Lines.size(); ++i)
        Lines[i] = static_cast<QFrame*>(get("Lines_" + std::to_string(i)));
    lblMapEdit = static_cast<PathLabel*>(get("lblMapEdit"));
    lblMapSplice = static_cast<PathLabel*>(get("lblMapSplice"));
    btnMapEdit = static_cast<QPushButton*>(get("btnMapEdit"));
    btnMapSplice = static_cast<QPushButton*>(get("btnMapSplice"));
    txtSection = static_cast<QLineEdit*>(get("txtSection"));
    btnAbout = static_cast<QPushButton*>(get("btnAbout"));
    btnCopy = static_cast<QPushButton*>(get("btnCopy"));
    btnSave = static_cast<QPushButton*>(get("btnSave"));
    picStatus = static_cast<QFrame*>(get("picStatus"));
    lblStatus = static_cast<QLabel*>(get("lblStatus"));
    setWindowIcon(appIcon());
    setAcceptDrops(true);

    model_ = new QStringListModel(this);
    auto* completer = new QCompleter(model_, this);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    // The box is four characters wide; the list of names needs room to be read.
    completer->popup()->setMinimumWidth(layout::px(layout::kCompletionWidth));
    txtSection->setCompleter(completer);
    txtSection->installEventFilter(this);
    connect(txtSection, &QLineEdit::textEdited, this, [this] { refreshCompletions(); });

    connect(btnMapEdit, &QPushButton::clicked, this, [this] { browse(lblMapEdit); });
    connect(btnMapSplice, &QPushButton::clicked, this, [this] { browse(lblMapSplice); });
    connect(btnCopy, &QPushButton::clicked, this,
            [this] { runProcedure(qs(layout::kCopy), &splice::copySection); });
    connect(btnSave, &QPushButton::clicked, this, [this] { runProcedure(qs(layout::kSave), &splice::save); });
    connect(btnAbout, &QPushButton::clicked, this, [this] { showAbout(); });
    // Ctrl+Z undoes the last Save; in the section box it undoes typing while there is any.
    auto* undo = new QShortcut(QKeySequence::Undo, this);
    connect(undo, &QShortcut::activated, this, [this] { runProcedure(qs(layout::kUndo), &splice::undo); });
}

std::string frmMain::mapEditPath() { return toLocal(lblMapEdit->path()); }
std::string frmMain::mapSplicePath() { return toLocal(lblMapSplice->path()); }
std::vector<std::string> frmMain::sectionNames() {
    return splice::splitSectionNames(toSectionBytes(txtSection->text()));
}

void frmMain::setStatus(const std::string& text) {
    const QString s = QString::fromUtf8(text);
    lblStatus->setText(s);
    lblStatus->setToolTip(s + qs(layout::kStatusTip));
    emit statusChanged(s);
}

std::optional<splice::CopyInputs> frmMain::shownInputs() {
    return splice::CopyInputs{mapSplicePath(), sectionNames()};
}

void frmMain::yield() {
    // Repaint only: clicks and keys wait until the procedure has ended, so that
    // nothing acts on half-written working files.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

bool frmMain::confirm(const std::string& warning) {
    return dialogs_.askYesNo(this, productCaption(),
                             QString::fromUtf8(warning) + qs(layout::kConfirmTail));
}

void frmMain::browse(PathLabel* target) {
    if (busy_) return;
    const QString file = dialogs_.openFile(this, qs(layout::kOpenTitle), lastFile_, fileFilter());
    if (file.isEmpty()) return;
    pick(target, file);
}

void frmMain::pick(PathLabel* target, const QString& path) {
    lastFile_ = path;
    target->setPath(path);
    setStatus((qs(layout::kLoaded) + path).toStdString());
}

void frmMain::runProcedure(const QString& what, layout::Procedure procedure) {
    if (const auto error = layout::runProcedure(busy_, what.toStdString(), procedure, *this, work_))
        dialogs_.showError(this, productCaption(), QString::fromStdString(*error));
    if (closePending_ && !busy_) close();
}

void frmMain::showAbout() {
    if (busy_) return;
    frmAbout about(this);
    about.exec();
}

void frmMain::closeEvent(QCloseEvent* e) {
    // A close during a run takes effect when the run has ended, so that the map
    // is never left between its steps.
    if (busy_) {
        closePending_ = true;
        e->ignore();
        return;
    }
    e->accept();
}

PathLabel* frmMain::rowAt(QPoint pos) const {
    const auto row = [](QWidget* heading, QWidget* path, QWidget* browse) {
        return heading->geometry().united(path->geometry()).united(browse->geometry());
    };
    if (row(lblGeneral[0], lblMapEdit, btnMapEdit).contains(pos)) return lblMapEdit;
    if (row(lblGeneral[1], lblMapSplice, btnMapSplice).contains(pos)) return lblMapSplice;
    return nullptr;
}

void frmMain::dragEnterEvent(QDragEnterEvent* e) {
    if (!busy_ && !droppedFile(e->mimeData()).isEmpty()) e->acceptProposedAction();
}

void frmMain::dragMoveEvent(QDragMoveEvent* e) {
    if (rowAt(e->position().toPoint()))
        e->acceptProposedAction();
    else
        e->ignore();
}

void frmMain::dropEvent(QDropEvent* e) {
    PathLabel* target = rowAt(e->position().toPoint());
    const QString file = droppedFile(e->mimeData());
    if (busy_ || !target || file.isEmpty()) return;
    e->acceptProposedAction();
    pick(target, file);
}

bool frmMain::eventFilter(QObject* watched, QEvent* e) {
    if (watched == txtSection && e->type() == QEvent::FocusIn) refreshCompletions();
    // Without typing to undo, the box lets Ctrl+Z through to the window.
    if (watched == txtSection && e->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent*>(e)->matches(QKeySequence::Undo) && !txtSection->isUndoAvailable())
        return true;
    return QWidget::eventFilter(watched, e);
}

void frmMain::refreshCompletions() {
    if (busy_ || !completions_.refresh({mapEditPath(), mapSplicePath()})) return;
    QStringList names;
    for (const std::string& n : completions_.names())
        names << QString::fromLatin1(n.data(), static_cast<qsizetype>(n.size()));
    model_->setStringList(names);
}

} // namespace ui
