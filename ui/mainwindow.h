// The main window: two maps, the section box, Copy Section, Save, About and
// the status line. It is the front end of the splice procedures.
#pragma once

#include "look.h"
#include "splice.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QCompleter>
#include <QString>
#include <QStringListModel>
#include <QWidget>

#include <array>
#include <filesystem>
#include <functional>

namespace ui {

// The window's dialogs, replaceable so that tests can answer them.
struct Dialogs {
    // Empty when the user cancels.
    std::function<QString(QWidget* parent, const QString& title, const QString& startFile,
                          const QString& filter)> openFile;
    std::function<void(QWidget* parent, const QString& title, const QString& text)> showError;
    // True for Yes.
    std::function<bool(QWidget* parent, const QString& title, const QString& text)> askYesNo;

    static Dialogs standard();
};

class frmMain : public QWidget, public splice::FrontEnd {
    Q_OBJECT
public:
    explicit frmMain(std::filesystem::path programFolder, Dialogs dialogs = Dialogs::standard(),
                     QWidget* parent = nullptr);

    // The controls of layout::mainWindow(), named as there; arrays as lblGeneral_0 and so on.
    std::array<QLabel*, 4> lblGeneral{};
    PathLabel* lblMapEdit = nullptr;
    QPushButton* btnMapEdit = nullptr;
    std::array<QFrame*, 2> Lines{};
    PathLabel* lblMapSplice = nullptr;
    QPushButton* btnMapSplice = nullptr;
    QLineEdit* txtSection = nullptr;
    QPushButton* btnAbout = nullptr;
    QPushButton* btnCopy = nullptr;
    QPushButton* btnSave = nullptr;
    QFrame* picStatus = nullptr;
    QLabel* lblStatus = nullptr;

    bool busy() const { return busy_; }
    // The completion list's lines for the section box's text now.
    QStringList sectionCompletions() const { return model_->stringList(); }
    QCompleter* completer() const { return completer_; }
    // The status line's whole text; the label shows it fitted to its one line.
    QString status() const { return status_; }

    // splice::FrontEnd
    std::string mapEditPath() override;
    std::string mapSplicePath() override;
    std::vector<std::string> sectionNames() override;
    void setStatus(const std::string& text) override;
    // Follows the status line it comes after ("Done! Note: ..."), so that the
    // line still says the run went through.
    void note(const std::string& line) override;
    void yield() override;
    bool confirm(const std::string& warning) override;
    std::optional<splice::CopyInputs> shownInputs() override;
    void showInputs(const splice::CopyInputs& copied) override;

signals:
    void statusChanged(const QString& text);

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    // A map file dropped anywhere on a map's row (heading, path, Browse) is picked for it.
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void browse(PathLabel* target);
    void pick(PathLabel* target, const QString& path);
    void runProcedure(const QString& what, layout::Procedure procedure);
    void showAbout();
    void refreshCompletions();
    void offerCompletions();
    void acceptCompletion(const QString& shown);
    // Runs a dialog and gives the focus back to the control that had it.
    template <typename F>
    auto keepingFocus(F dialog);
    PathLabel* rowAt(QPoint pos) const;

    splice::WorkFolder work_;
    Dialogs dialogs_;
    QString lastFile_;
    QString status_;
    bool busy_ = false;
    bool closePending_ = false;
    QStringListModel* model_ = nullptr; // the completion list's lines
    QCompleter* completer_ = nullptr;
    layout::Completions completions_;
    std::vector<layout::Choice> choices_; // what model_ shows
    // The dragged items, asked for once as the drag enters: a source may answer
    // only the first request.
    std::optional<std::vector<std::filesystem::path>> dragged_;
};

} // namespace ui
