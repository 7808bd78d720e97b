// The main window as a native Win32 window: the layout table's controls, the
// open-file dialog, message boxes, Ctrl+Z, dropped files and section completions.
// It is a front end of the splice procedures and holds no file logic of its own.
#pragma once

#include "droptarget.h"
#include "splice.h"
#include "tablewindow.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace ui::win32 {

// The completion list's child id: a list box the window shows under the section box.
constexpr int kCompletionListId = 1020;

class frmMain : public TableWindow, public splice::FrontEnd {
public:
    explicit frmMain(std::filesystem::path programFolder);
    ~frmMain() override;

    // Handles what the message loop must see before dispatching: Ctrl+Z, the
    // completion list's keys and the dialog keys (Tab, Enter). True when done.
    bool preTranslate(MSG& msg);

    // splice::FrontEnd: paths and texts cross here as UTF-8.
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

protected:
    LRESULT handle(UINT message, WPARAM wp, LPARAM lp) override;
    void laidOut() override;

private:
    void command(int id, int code, HWND from);
    void browse(const char* pathLabel);
    void pick(const char* pathLabel, const std::wstring& path);
    void setPath(const char* pathLabel, const std::wstring& path);
    // The whole texts fitted to their labels.
    void showPath(const std::string& pathLabel);
    void showStatus();
    void runProcedure(std::string_view what, layout::Procedure procedure);
    // The path label of the map whose row (heading, path, Browse) holds the point.
    const char* rowAt(POINT client) const;
    void dropAt(POINT client, const std::vector<std::filesystem::path>& items);
    void setTip(HWND control, const std::wstring& text);
    void refreshCompletions();
    void showCompletions();
    void hideCompletions();
    void acceptCompletion(int index);

    splice::WorkFolder work_;
    HACCEL accelerators_ = nullptr;
    HWND tips_ = nullptr;
    HWND list_ = nullptr;  // the completion list
    HWND focus_ = nullptr; // the control that has the focus while another window is active
    std::wstring lastFile_;
    // The whole texts of the path labels and the status line, which show them fitted.
    std::map<std::string, std::wstring, std::less<>> paths_;
    std::string status_;
    bool busy_ = false;
    bool closePending_ = false;
    layout::Completions completions_;
    std::vector<layout::Choice> choices_; // what the list shows
    DropTarget dropTarget_;
};

} // namespace ui::win32
