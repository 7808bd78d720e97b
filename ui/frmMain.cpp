#include "frmMain.h"

#include "frmAbout.h"
#include "look.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCompleter>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QKeyEvent>
#include <QAbstractItemView>
#include <QMimeData>
#include <QShortcut>
#include <QUrl>

namespace ui {

namespace {

const QString kNoMap = QString::fromLatin1(splice::kNoMapLoaded.data(), splice::kNoMapLoaded.size());
const QString kFilter = QStringLiteral("StarCraft/Brood War Scenarios (*.scm *.scx);;All Files (*)");

// Maps are a few megabytes at most; anything far larger is not read for
// completions, so that the focus change never stalls the window.
constexpr qint64 kMaxCompletionRead = qint64{16} * 1024 * 1024;

std::string toLocal(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Section names are raw bytes: one character per byte where it fits.
std::string toSectionBytes(const QString& s) {
    for (QChar c : s)
        if (c.unicode() > 0xFF) return s.toStdString();
    return s.toLatin1().toStdString();
}

bool printable(const std::string& name) {
    for (unsigned char c : name)
        if (c < 0x20 || c >= 0x7F) return false;
    return true;
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

// ---- PathLabel --------------------------------------------------------------

PathLabel::PathLabel(QWidget* parent) : QLabel(parent) {
    // Paths are data: never read as markup.
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(true);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, greyText(pal));
    setPalette(pal);
    setPath(kNoMap);
}

void PathLabel::setPath(const QString& path) {
    path_ = path;
    // A path has no spaces to wrap at; let it break after each separator.
    QString shown = path;
    shown.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
    setText(shown);
    setToolTip(path == kNoMap ? QString() : path);
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
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(productCaption());
    setWindowIcon(appIcon());
    setFont(windowFont());
    setFixedSize(px(4110), px(3990));
    setAcceptDrops(true);

    auto label = [this](const char* name, const QString& text, QRect geometry, bool bold) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setGeometry(geometry);
        if (bold) l->setFont(boldFont());
        return l;
    };
    auto line = [this](const char* name, int y, int x0, int x1) {
        auto* f = new QFrame(this);
        f->setObjectName(QLatin1String(name));
        f->setFrameShape(QFrame::NoFrame);
        f->setAutoFillBackground(true);
        QPalette pal = f->palette();
        pal.setColor(QPalette::Window, pal.color(QPalette::WindowText));
        f->setPalette(pal);
        f->setGeometry(px(x0), px(y), px(x1) - px(x0), 1);
        return f;
    };
    auto pathLabel = [this](const char* name, QRect geometry) {
        auto* l = new PathLabel(this);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(geometry);
        return l;
    };
    auto button = [this](const char* name, const QString& text, QRect geometry) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(geometry);
        // Enter presses the focused button, as on the platform the layout comes from.
        b->setAutoDefault(true);
        return b;
    };

    // Labels and lines first: they lie beneath the controls created after them.
    lblGeneral[0] = label("lblGeneral_0", QStringLiteral("Map to edit:"), twips(120, 120, 3255, 255), true);
    lblMapEdit = pathLabel("lblMapEdit", twips(120, 360, 3855, 735));
    Lines[0] = line("Lines_0", 1200, 240, 3840);
    lblGeneral[1] = label("lblGeneral_1", QStringLiteral("Map to splice:"), twips(120, 1320, 3255, 255), true);
    lblMapSplice = pathLabel("lblMapSplice", twips(120, 1560, 3855, 735));
    Lines[1] = line("Lines_1", 2400, 240, 3840);
    lblGeneral[2] = label("lblGeneral_2", QStringLiteral("Options:"), twips(120, 2520, 3255, 255), true);
    lblGeneral[3] = label("lblGeneral_3", QStringLiteral("Section to copy:"), twips(360, 2880, 3255, 255), false);

    btnMapEdit = button("btnMapEdit", QStringLiteral("Browse"), twips(3120, 720, 855, 315));
    btnMapSplice = button("btnMapSplice", QStringLiteral("Browse"), twips(3120, 1920, 855, 315));

    txtSection = new QLineEdit(QString::fromLatin1(splice::kDefaultSection.data(), splice::kDefaultSection.size()), this);
    txtSection->setObjectName(QStringLiteral("txtSection"));
    txtSection->setGeometry(twips(1680, 2880, 735, 285));
    txtSection->setMaxLength(4);

    btnAbout = button("btnAbout", QStringLiteral("About"), twips(120, 3240, 735, 315));
    btnCopy = button("btnCopy", QStringLiteral("Copy Section"), twips(1920, 3240, 1095, 315));
    btnSave = button("btnSave", QStringLiteral("Save"), twips(3120, 3240, 855, 315));

    picStatus = new QFrame(this);
    picStatus->setObjectName(QStringLiteral("picStatus"));
    picStatus->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    picStatus->setGeometry(twips(0, 3720, 4095, 255));
    lblStatus = new QLabel(QStringLiteral("No maps are loaded..."), picStatus);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setTextFormat(Qt::PlainText);
    lblStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const int inner = picStatus->frameWidth();
    lblStatus->setGeometry(twips(120, 0, 3855, 255).translated(inner, inner));

    // Button text needs its frame's margin; the option label must end before the box.
    for (QPushButton* b : {btnMapEdit, btnMapSplice, btnAbout, btnCopy, btnSave})
        fitText(b, b->text(), b->width() - 8);
    fitText(lblGeneral[3], lblGeneral[3]->text(), txtSection->x() - lblGeneral[3]->x() - 3);

    QWidget::setTabOrder(btnMapEdit, btnMapSplice);
    QWidget::setTabOrder(btnMapSplice, txtSection);
    QWidget::setTabOrder(txtSection, btnCopy);
    QWidget::setTabOrder(btnCopy, btnSave);
    QWidget::setTabOrder(btnSave, btnAbout);
    btnMapEdit->setFocus();

    completions_ = new QStringListModel(this);
    auto* completer = new QCompleter(completions_, this);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    // The box is four characters wide; the list of names needs room to be read.
    completer->popup()->setMinimumWidth(px(1500));
    txtSection->setCompleter(completer);
    txtSection->installEventFilter(this);
    connect(txtSection, &QLineEdit::textEdited, this, [this] { refreshCompletions(); });

    connect(btnMapEdit, &QPushButton::clicked, this, [this] { browse(lblMapEdit); });
    connect(btnMapSplice, &QPushButton::clicked, this, [this] { browse(lblMapSplice); });
    connect(btnCopy, &QPushButton::clicked, this,
            [this] { runProcedure(QStringLiteral("Copy Section"), &splice::copySection); });
    connect(btnSave, &QPushButton::clicked, this, [this] { runProcedure(QStringLiteral("Save"), &splice::save); });
    connect(btnAbout, &QPushButton::clicked, this, [this] { showAbout(); });
    // Ctrl+Z undoes the last Save; in the section box it undoes typing while there is any.
    auto* undo = new QShortcut(QKeySequence::Undo, this);
    connect(undo, &QShortcut::activated, this, [this] { runProcedure(QStringLiteral("Undo"), &splice::undo); });
}

std::string frmMain::mapEditPath() { return toLocal(lblMapEdit->path()); }
std::string frmMain::mapSplicePath() { return toLocal(lblMapSplice->path()); }
std::string frmMain::sectionName() { return toSectionBytes(txtSection->text()); }

void frmMain::setStatus(const std::string& text) {
    const QString s = QString::fromUtf8(text);
    lblStatus->setText(s);
    lblStatus->setToolTip(s + QStringLiteral("\n\nCtrl+Z undoes the last Save."));
    emit statusChanged(s);
}

std::optional<splice::CopyInputs> frmMain::shownInputs() {
    return splice::CopyInputs{mapSplicePath(), {sectionName()}};
}

void frmMain::yield() {
    // Repaint only: clicks and keys wait until the procedure has ended, so that
    // nothing acts on half-written working files.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

bool frmMain::confirm(const std::string& warning) {
    return dialogs_.askYesNo(this, productCaption(),
                             QString::fromUtf8(warning) + QStringLiteral("\n\nCopy the section anyway?"));
}

void frmMain::browse(PathLabel* target) {
    if (busy_) return;
    const QString file = dialogs_.openFile(this, QStringLiteral("Open"), lastFile_, kFilter);
    if (file.isEmpty()) return;
    pick(target, file);
}

void frmMain::pick(PathLabel* target, const QString& path) {
    lastFile_ = path;
    target->setPath(path);
    setStatus(("Loaded " + path).toStdString());
}

void frmMain::runProcedure(const QString& what,
                           splice::Result (*procedure)(splice::FrontEnd&, const splice::WorkFolder&)) {
    // Events that still reach a handler during a yield (posted ones, a nested
    // dialog's loop) must not start a second run on the same working files.
    if (busy_) return;
    busy_ = true;
    splice::Result r;
    try {
        r = procedure(*this, work_);
    } catch (const std::exception& e) {
        r = {false, e.what()};
    }
    busy_ = false;
    // A declined warning or nothing to undo is told by the status line alone.
    if (!r && !r.quiet)
        dialogs_.showError(this, productCaption(),
                           what + QStringLiteral(" failed:\n\n") + QString::fromUtf8(r.error));
    if (closePending_) close();
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
    if (busy_) return;
    // Either map's names, as the game reads them; a map too large or not a file offers none.
    QString key;
    std::vector<QString> maps;
    for (const PathLabel* label : {lblMapEdit, lblMapSplice}) {
        const QString path = label->path();
        const QFileInfo info(path);
        if (path == kNoMap || !info.isFile() || info.size() > kMaxCompletionRead) continue;
        maps.push_back(path);
        key += path + QLatin1Char('\n') + QString::number(info.size()) + QLatin1Char('\n') +
               QString::number(info.lastModified().toMSecsSinceEpoch()) + QLatin1Char('\n');
    }
    if (key == completionsKey_ && !key.isEmpty()) return;
    completionsKey_ = key;
    QStringList names;
    for (const QString& map : maps)
        for (const std::string& n : splice::sectionNames(toLocal(map)))
            if (printable(n)) names << QString::fromLatin1(n.data(), static_cast<qsizetype>(n.size()));
    names.removeDuplicates();
    completions_->setStringList(names);
}

} // namespace ui
