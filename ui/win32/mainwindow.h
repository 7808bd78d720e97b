// The main window as a native Win32 window: the layout table's controls, the
// open-file dialog, message boxes, Ctrl+Z, dropped files and section completions.
// It is a front end of the splice procedures and holds no file logic of its own.
#pragma once

#include "tablewindow.h"
#include "splice.h"

#include <filesystem>
#include <string>
#include <vector>

namespace ui::win32 {

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
    void yield() override;
    bool confirm(const std::string& warning) override;
    std::optional<splice::CopyInputs> shownInputs() override;

protected:
    LRESULT handle(UINT message, WPARAM wp, LPARAM lp) override;

private:
    void command(int id, int code, HWND from);
    void browse(const char* pathLabel);
    void pick(const char* pathLabel, const std::wstring& path);
    void runProcedure(std::string_view what, layout::Procedure procedure);
    void drop(HDROP files);
    void setTip(HWND control, const std::wstring& text);
    void refreshCompletions();
    void showCompletions();
    void hideCompletions();
    void acceptCompletion(int index);
    std::string pathOf(const char* pathLabel);

    splice::WorkFolder work_;
    HACCEL accelerators_ = nullptr;
    HWND tips_ = nullptr;
    HWND popup_ = nullptr; // the completion list
    std::wstring lastFile_;
    bool busy_ = false;
    bool closePending_ = false;
    layout::Completions completions_;
};

} // namespace ui::win32
