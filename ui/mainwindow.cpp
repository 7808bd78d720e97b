#include "mainwindow.h"

#include "aboutwindow.h"
#include "look.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QScrollBar>
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

QString fromSectionBytes(const std::string& s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

// The dragged items as local paths; an empty path for one that is not a local file.
std::vector<std::filesystem::path> draggedItems(const QMimeData* m) {
    std::vector<std::filesystem::path> items;
    for (const QUrl& url : m->urls())
        items.emplace_back(url.isLocalFile() ? std::filesystem::path(toLocal(url.toLocalFile()))
                                             : std::filesystem::path());
    return items;
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
    status_ = lblStatus->text();
    setWindowIcon(appIcon());
    setAcceptDrops(true);

    // The list completes the name being typed, not the box's whole text.
    model_ = new QStringListModel(this);
    completer_ = new QCompleter(model_, this);
    completer_->setWidget(txtSection);
    completer_->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    connect(completer_, qOverload<const QString&>(&QCompleter::activated), this,
            [this](const QString& shown) { acceptCompletion(shown); });
    txtSection->installEventFilter(this);
    connect(txtSection, &QLineEdit::textEdited, this, [this] { offerCompletions(); });

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
    status_ = QString::fromUtf8(text);
    const std::string shown =
        layout::fitStatus(text, layout::px(layout::mainWindow().textRoom(layout::mainWindow()["lblStatus"])),
                          measure(lblStatus));
    lblStatus->setText(QString::fromStdString(shown));
    lblStatus->setToolTip(status_ + qs(layout::kStatusTip));
    emit statusChanged(status_);
}

void frmMain::note(const std::string& line) { setStatus(status_.toStdString() + " " + line); }

std::optional<splice::CopyInputs> frmMain::shownInputs() {
    return splice::CopyInputs{mapSplicePath(), sectionNames()};
}

void frmMain::showInputs(const splice::CopyInputs& copied) {
    lblMapSplice->setPath(QFile::decodeName(QByteArray::fromStdString(copied.spliceMap)));
    txtSection->setText(fromSectionBytes(layout::sectionText(copied.sections)));
}

void frmMain::yield() {
    // Repaint only: clicks and keys wait until the procedure has ended, so that
    // nothing acts on half-written working files.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

template <typename F>
auto frmMain::keepingFocus(F dialog) {
    const QPointer<QWidget> had = focusWidget();
    struct Restore {
        const QPointer<QWidget>& had;
        ~Restore() {
            if (had) had->setFocus(Qt::OtherFocusReason);
        }
    } restore{had};
    return dialog();
}

bool frmMain::confirm(const std::string& warning) {
    return keepingFocus([&] {
        return dialogs_.askYesNo(this, productCaption(), QString::fromUtf8(warning) + qs(layout::kConfirmTail));
    });
}

void frmMain::browse(PathLabel* target) {
    if (busy_) return;
    const QString file =
        keepingFocus([&] { return dialogs_.openFile(this, qs(layout::kOpenTitle), lastFile_, fileFilter()); });
    if (file.isEmpty()) return;
    pick(target, file);
}

void frmMain::pick(PathLabel* target, const QString& path) {
    lastFile_ = path;
    target->setPath(path);
    setStatus((qs(layout::kLoaded) + path).toStdString());
}

void frmMain::runProcedure(const QString& what, layout::Procedure procedure) {
    completer_->popup()->hide();
    if (const auto error = layout::runProcedure(busy_, what.toStdString(), procedure, *this, work_))
        keepingFocus([&] { dialogs_.showError(this, productCaption(), QString::fromStdString(*error)); });
    if (closePending_ && !busy_) close();
}

void frmMain::showAbout() {
    if (busy_) return;
    keepingFocus([this] {
        frmAbout about(this);
        return about.exec();
    });
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
    // The data is asked for once, here; what the source says decides at the drop.
    if (busy_ || !e->mimeData()->hasUrls()) return;
    dragged_ = draggedItems(e->mimeData());
    e->acceptProposedAction();
}

void frmMain::dragMoveEvent(QDragMoveEvent* e) {
    if (rowAt(e->position().toPoint()))
        e->acceptProposedAction();
    else
        e->ignore();
}

void frmMain::dropEvent(QDropEvent* e) {
    PathLabel* target = rowAt(e->position().toPoint());
    if (busy_ || !target) return;
    e->acceptProposedAction();
    // A source that had nothing to say as the drag entered may have it now.
    if (!dragged_ || dragged_->empty()) dragged_ = draggedItems(e->mimeData());
    const layout::Dropped d = layout::dropped(*std::exchange(dragged_, std::nullopt));
    if (d.map.empty())
        setStatus(std::string(layout::kNotLoaded) + d.why);
    else
        pick(target, QFile::decodeName(QByteArray::fromStdString(d.map.string())));
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
    if (!busy_) completions_.refresh({mapEditPath(), mapSplicePath()});
}

void frmMain::offerCompletions() {
    refreshCompletions();
    choices_ = completions_.choices(toSectionBytes(txtSection->text()));
    QStringList shown;
    for (const layout::Choice& c : choices_) shown << fromSectionBytes(c.shown);
    model_->setStringList(shown);
    QAbstractItemView* list = completer_->popup();
    if (shown.isEmpty() || busy_) return list->hide();
    // Under the box, at least as wide as it, and wide enough to read every line.
    QRect under = txtSection->rect();
    under.setWidth(std::max(under.width(), list->sizeHintForColumn(0) + list->verticalScrollBar()->sizeHint().width() +
                                               2 * list->frameWidth()));
    completer_->complete(under);
}

void frmMain::acceptCompletion(const QString& shown) {
    for (const layout::Choice& c : choices_)
        if (fromSectionBytes(c.shown) == shown)
            return txtSection->setText(fromSectionBytes(layout::complete(toSectionBytes(txtSection->text()), c)));
}

} // namespace ui
