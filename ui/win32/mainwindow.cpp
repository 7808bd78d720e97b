#include "mainwindow.h"

#include "aboutwindow.h"
#include "platform.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <cwctype>
#include <exception>

namespace ui::win32 {

namespace {

constexpr int kUndoCommand = 2000;           // Ctrl+Z
constexpr UINT kCheckPopup = WM_APP + 1;     // after a focus change: is the completion list still wanted?
constexpr int kVisibleCompletions = 8;

// "Description\0patterns\0...\0\0", as the open-file dialog takes its filter.
std::wstring fileFilter() {
    std::wstring filter;
    for (const layout::FileType& t : layout::kMapFileTypes) {
        filter += wide(t.description) + L'\0';
        filter += wide(t.patterns) + L'\0';
    }
    return filter + L'\0';
}

std::wstring caption() { return wide(layout::mainWindow().caption); }

bool startsWithNoCase(std::string_view name, std::wstring_view prefix) {
    if (prefix.size() > name.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::towlower(static_cast<unsigned char>(name[i])) != std::towlower(prefix[i])) return false;
    return true;
}

} // namespace

frmMain::frmMain(std::filesystem::path programFolder)
    : TableWindow(layout::mainWindow()), work_(std::move(programFolder)) {
    // A fixed single border: minimise and close, no maximise, no resizing.
    create(WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, WS_EX_ACCEPTFILES, nullptr,
           programIcon(SM_CXICON));

    ACCEL undo{FCONTROL | FVIRTKEY, 'Z', kUndoCommand};
    accelerators_ = CreateAcceleratorTableW(&undo, 1);

    tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, 0, 0,
                            0, 0, hwnd(), nullptr, GetModuleHandleW(nullptr), nullptr);
    // The status tip runs over several lines.
    SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, pixels(layout::kCompletionWidth) * 2);
    setTip(item("lblStatus"), textOf(item("lblStatus")) + wide(layout::kStatusTip));

    popup_ = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE | WS_EX_TOPMOST, L"LISTBOX", nullptr,
                             WS_POPUP | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 0, 0, 0, 0,
                             hwnd(), nullptr, GetModuleHandleW(nullptr), nullptr);
}

frmMain::~frmMain() {
    if (accelerators_) DestroyAcceleratorTable(accelerators_);
}

std::string frmMain::pathOf(const char* pathLabel) {
    return platform::toUtf8(std::filesystem::path(textOf(item(pathLabel))));
}

std::string frmMain::mapEditPath() { return pathOf("lblMapEdit"); }
std::string frmMain::mapSplicePath() { return pathOf("lblMapSplice"); }

std::vector<std::string> frmMain::sectionNames() {
    // Section names are raw bytes: one character per byte where every one fits.
    const std::wstring typed = textOf(item("txtSection"));
    if (std::ranges::all_of(typed, [](wchar_t c) { return c <= 0xFF; }))
        return splice::splitSectionNames(std::string(typed.begin(), typed.end()));
    return splice::splitSectionNames(narrow(typed));
}

void frmMain::setStatus(const std::string& text) {
    const std::wstring s = wide(text);
    SetWindowTextW(item("lblStatus"), s.c_str());
    setTip(item("lblStatus"), s + wide(layout::kStatusTip));
}

std::optional<splice::CopyInputs> frmMain::shownInputs() {
    return splice::CopyInputs{mapSplicePath(), sectionNames()};
}

void frmMain::yield() {
    // Repaint and answer other programs' messages only: clicks and keys stay
    // queued until the procedure has ended, so that nothing acts on half-written
    // working files.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE | PM_QS_POSTMESSAGE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool frmMain::confirm(const std::string& warning) {
    const std::wstring text = wide(warning) + wide(layout::kConfirmTail);
    return MessageBoxW(hwnd(), text.c_str(), caption().c_str(), MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

void frmMain::setTip(HWND control, const std::wstring& text) {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = GetParent(control);
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    // Replaced whole: the tip may not exist yet, and an empty text has none.
    SendMessageW(tips_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    if (!text.empty()) SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void frmMain::browse(const char* pathLabel) {
    if (busy_) return;
    // The dialog starts from the file picked last, for either map.
    std::wstring file = lastFile_;
    file.resize(32768, L'\0');
    const std::wstring filter = fileFilter(), title = wide(layout::kOpenTitle);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd();
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&ofn)) return; // cancelled: nothing changes
    file.resize(file.find(L'\0'));
    pick(pathLabel, file);
}

void frmMain::pick(const char* pathLabel, const std::wstring& path) {
    lastFile_ = path;
    SetWindowTextW(item(pathLabel), path.c_str());
    setTip(item(pathLabel), path);
    setStatus(std::string(layout::kLoaded) + platform::toUtf8(std::filesystem::path(path)));
}

void frmMain::runProcedure(std::string_view what, layout::Procedure procedure) {
    hideCompletions();
    if (const auto error = layout::runProcedure(busy_, what, procedure, *this, work_))
        MessageBoxW(hwnd(), wide(*error).c_str(), caption().c_str(), MB_OK | MB_ICONERROR);
    if (closePending_ && !busy_) DestroyWindow(hwnd());
}

void frmMain::drop(HDROP files) {
    // Exactly one file, not a folder, on a map's row: heading, path or Browse.
    POINT at{};
    DragQueryPoint(files, &at);
    std::wstring path;
    if (DragQueryFileW(files, 0xFFFFFFFF, nullptr, 0) == 1) {
        path.resize(DragQueryFileW(files, 0, nullptr, 0) + 1);
        path.resize(DragQueryFileW(files, 0, path.data(), static_cast<UINT>(path.size())));
    }
    DragFinish(files);
    if (busy_ || path.empty()) return;
    try {
        if (platform::status(std::filesystem::path(path)).kind != platform::Kind::Regular) return;
    } catch (const platform::Error&) {
        return;
    }
    const layout::Window& table = layout::mainWindow();
    for (const auto& [heading, pathLabel, button] : {std::tuple{"lblGeneral_0", "lblMapEdit", "btnMapEdit"},
                                                     std::tuple{"lblGeneral_1", "lblMapSplice", "btnMapSplice"}}) {
        RECT row = pixels(table[heading].rect);
        for (const char* part : {pathLabel, button}) {
            const RECT r = pixels(table[part].rect);
            UnionRect(&row, &row, &r);
        }
        if (PtInRect(&row, at)) return pick(pathLabel, path);
    }
}

void frmMain::refreshCompletions() {
    if (busy_) return;
    completions_.refresh({std::filesystem::path(textOf(item("lblMapEdit"))),
                          std::filesystem::path(textOf(item("lblMapSplice")))});
}

void frmMain::showCompletions() {
    const std::wstring typed = textOf(item("txtSection"));
    SendMessageW(popup_, LB_RESETCONTENT, 0, 0);
    int shown = 0;
    for (const std::string& n : completions_.names())
        if (!typed.empty() && startsWithNoCase(n, typed)) {
            SendMessageW(popup_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(n).c_str()));
            ++shown;
        }
    if (shown == 0) return hideCompletions();
    // Under the box, wide enough to read the names.
    RECT box{};
    GetWindowRect(item("txtSection"), &box);
    SendMessageW(popup_, WM_SETFONT, reinterpret_cast<WPARAM>(font()), FALSE);
    const auto line = static_cast<int>(SendMessageW(popup_, LB_GETITEMHEIGHT, 0, 0));
    const int height = line * std::min(shown, kVisibleCompletions) + 2 * GetSystemMetrics(SM_CYBORDER);
    SetWindowPos(popup_, HWND_TOPMOST, box.left, box.bottom, pixels(layout::kCompletionWidth), height,
                 SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

void frmMain::hideCompletions() {
    if (popup_) ShowWindow(popup_, SW_HIDE);
}

void frmMain::acceptCompletion(int index) {
    if (index < 0) return;
    std::wstring name(static_cast<size_t>(SendMessageW(popup_, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0)) + 1,
                      L'\0');
    name.resize(static_cast<size_t>(
        SendMessageW(popup_, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(name.data()))));
    hideCompletions();
    const HWND box = item("txtSection");
    SetWindowTextW(box, name.c_str());
    SetFocus(box);
    SendMessageW(box, EM_SETSEL, name.size(), static_cast<LPARAM>(name.size()));
}

bool frmMain::preTranslate(MSG& msg) {
    const HWND box = item("txtSection");
    if (msg.message == WM_KEYDOWN && msg.hwnd == box && IsWindowVisible(popup_)) {
        const auto current = static_cast<int>(SendMessageW(popup_, LB_GETCURSEL, 0, 0));
        const auto count = static_cast<int>(SendMessageW(popup_, LB_GETCOUNT, 0, 0));
        switch (msg.wParam) {
        case VK_DOWN:
        case VK_UP: {
            const int next = msg.wParam == VK_DOWN ? std::min(current + 1, count - 1) : std::max(current - 1, 0);
            SendMessageW(popup_, LB_SETCURSEL, static_cast<WPARAM>(next), 0);
            return true;
        }
        case VK_RETURN:
            if (current < 0) break;
            acceptCompletion(current);
            return true;
        case VK_ESCAPE:
            hideCompletions();
            return true;
        default:
            break;
        }
    }
    // Ctrl+Z in the section box undoes its typing while it has some, then the last Save.
    if (msg.message == WM_KEYDOWN && msg.hwnd == box && msg.wParam == 'Z' && (GetKeyState(VK_CONTROL) & 0x8000) &&
        SendMessageW(box, EM_CANUNDO, 0, 0)) {
        SendMessageW(box, WM_UNDO, 0, 0);
        // The box would undo its undo next; one step back is all it offers.
        SendMessageW(box, EM_EMPTYUNDOBUFFER, 0, 0);
        return true;
    }
    if (TranslateAcceleratorW(hwnd(), accelerators_, &msg)) return true;
    return IsDialogMessageW(hwnd(), &msg) != FALSE;
}

void frmMain::command(int id, int code, HWND from) {
    const layout::Window& table = layout::mainWindow();
    if (from && from == popup_) {
        if (code == LBN_SELCHANGE) acceptCompletion(static_cast<int>(SendMessageW(popup_, LB_GETCURSEL, 0, 0)));
        return;
    }
    if (id == kUndoCommand) return runProcedure(layout::kUndo, &splice::undo);
    // Enter from the dialog manager: the focused button is pressed.
    if (id == IDOK) {
        const HWND focus = GetFocus();
        for (const layout::Control& c : table.controls)
            if (c.kind == layout::Kind::Button && item(c.name) == focus) SendMessageW(focus, BM_CLICK, 0, 0);
        return;
    }
    if (id == table["txtSection"].id) {
        if (code == EN_SETFOCUS) refreshCompletions();
        // Typing, not a completion put in by the list, opens the list.
        if (code == EN_CHANGE && GetFocus() == from && !busy_) {
            refreshCompletions();
            showCompletions();
        }
        if (code == EN_KILLFOCUS) PostMessageW(hwnd(), kCheckPopup, 0, 0);
        return;
    }
    if (code != BN_CLICKED) return;
    if (id == table["btnMapEdit"].id) browse("lblMapEdit");
    if (id == table["btnMapSplice"].id) browse("lblMapSplice");
    if (id == table["btnCopy"].id) runProcedure(layout::kCopy, &splice::copySection);
    if (id == table["btnSave"].id) runProcedure(layout::kSave, &splice::save);
    if (id == table["btnAbout"].id && !busy_) showAbout(hwnd());
}

LRESULT frmMain::handle(UINT message, WPARAM wp, LPARAM lp) {
    switch (message) {
    case WM_COMMAND:
        command(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
        return 0;
    case WM_DROPFILES:
        drop(reinterpret_cast<HDROP>(wp));
        return 0;
    case kCheckPopup:
        if (GetFocus() != item("txtSection") && GetFocus() != popup_) hideCompletions();
        return 0;
    case WM_MOVE:
    case WM_ACTIVATE:
        if (message == WM_MOVE || LOWORD(wp) == WA_INACTIVE) hideCompletions();
        return TableWindow::handle(message, wp, lp);
    case WM_CLOSE:
        // A close during a run takes effect when the run has ended, so that the
        // map is never left between its steps.
        if (busy_)
            closePending_ = true;
        else
            DestroyWindow(hwnd());
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return TableWindow::handle(message, wp, lp);
    }
}

} // namespace ui::win32
