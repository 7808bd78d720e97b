#include "mainwindow.h"

#include "aboutwindow.h"
#include "platform.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>

namespace ui::win32 {

namespace {

constexpr int kUndoCommand = 2000;       // Ctrl+Z
constexpr UINT kCheckList = WM_APP + 1; // after a focus change: is the completion list still wanted?

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

// Section names are raw bytes: one character per byte where every one fits.
std::string sectionBytes(const std::wstring& typed) {
    if (std::ranges::all_of(typed, [](wchar_t c) { return c <= 0xFF; })) return std::string(typed.begin(), typed.end());
    return narrow(typed);
}

std::wstring fromSectionBytes(const std::string& bytes) {
    std::wstring out;
    for (const char c : bytes) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

std::wstring joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) {
        if (!text.empty()) text += "\r\n";
        text += l;
    }
    return wide(text);
}

} // namespace

frmMain::frmMain(std::filesystem::path programFolder)
    : TableWindow(layout::mainWindow()), work_(std::move(programFolder)),
      paths_{{"lblMapEdit", wide(splice::kNoMapLoaded)}, {"lblMapSplice", wide(splice::kNoMapLoaded)}},
      status_(layout::mainWindow()["lblStatus"].text),
      dropTarget_(
          [this](POINT at) { return !busy_ && rowAt(at); },
          [this](POINT at, const std::vector<std::filesystem::path>& items) { dropAt(at, items); }) {
    // A fixed single border: minimise and close, no maximise, no resizing.
    create(WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, WS_EX_ACCEPTFILES, nullptr,
           programIcon(SM_CXICON));
    focus_ = item(layout::mainWindow().tabOrder().front()->name);
    // Explorer drags by OLE; older programs post WM_DROPFILES, which WS_EX_ACCEPTFILES takes.
    dropTarget_.registerWith(hwnd());

    ACCEL undo{FCONTROL | FVIRTKEY, 'Z', kUndoCommand};
    accelerators_ = CreateAcceleratorTableW(&undo, 1);

    tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, 0, 0,
                            0, 0, hwnd(), nullptr, GetModuleHandleW(nullptr), nullptr);
    // Long paths and the status tip run over several lines.
    SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, pixels(layout::mainWindow().clientWidth));
    setStatus(status_);

    // A child of the window, not a pop-up: Wine draws a pop-up list box as a black
    // bar and lets no click reach it.
    list_ = CreateWindowExW(
        0, L"LISTBOX", nullptr, WS_CHILD | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 0, 0, 0, 0,
        hwnd(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCompletionListId)), GetModuleHandleW(nullptr), nullptr);
}

frmMain::~frmMain() {
    // The window may outlive this object's part of it (an exception at start-up):
    // OLE must not keep the drop target.
    dropTarget_.revoke();
    if (accelerators_) DestroyAcceleratorTable(accelerators_);
}

std::string frmMain::mapEditPath() { return platform::toUtf8(std::filesystem::path(paths_.at("lblMapEdit"))); }
std::string frmMain::mapSplicePath() { return platform::toUtf8(std::filesystem::path(paths_.at("lblMapSplice"))); }

std::vector<std::string> frmMain::sectionNames() {
    return splice::splitSectionNames(sectionBytes(textOf(item("txtSection"))));
}

void frmMain::setStatus(const std::string& text) {
    status_ = text;
    showStatus();
    setTip(item("lblStatus"), wide(text) + wide(layout::kStatusTip));
}

void frmMain::note(const std::string& line) { setStatus(status_ + " " + line); }

std::optional<splice::CopyInputs> frmMain::shownInputs() {
    return splice::CopyInputs{mapSplicePath(), sectionNames()};
}

void frmMain::showInputs(const splice::CopyInputs& copied) {
    setPath("lblMapSplice", platform::fromUtf8(copied.spliceMap).wstring());
    SetWindowTextW(item("txtSection"), fromSectionBytes(layout::sectionText(copied.sections)).c_str());
}

void frmMain::laidOut() {
    for (const auto& [label, path] : paths_) showPath(label);
    showStatus();
}

void frmMain::showPath(const std::string& pathLabel) {
    const HWND label = item(pathLabel);
    SetWindowTextW(
        label, joinLines(layout::fitPath(narrow(paths_.at(pathLabel)), lineRooms(pathLabel), measure(label))).c_str());
}

void frmMain::showStatus() {
    const layout::Window& table = layout::mainWindow();
    const HWND label = item("lblStatus");
    SetWindowTextW(
        label, wide(layout::fitStatus(status_, pixels(table.textRoom(table["lblStatus"])), measure(label))).c_str());
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

void frmMain::setPath(const char* pathLabel, const std::wstring& path) {
    paths_.at(pathLabel) = path;
    showPath(pathLabel);
    setTip(item(pathLabel), path == wide(splice::kNoMapLoaded) ? std::wstring() : path);
}

void frmMain::pick(const char* pathLabel, const std::wstring& path) {
    lastFile_ = path;
    setPath(pathLabel, path);
    setStatus(std::string(layout::kLoaded) + platform::toUtf8(std::filesystem::path(path)));
}

void frmMain::runProcedure(std::string_view what, layout::Procedure procedure) {
    hideCompletions();
    if (const auto error = layout::runProcedure(busy_, what, procedure, *this, work_))
        MessageBoxW(hwnd(), wide(*error).c_str(), caption().c_str(), MB_OK | MB_ICONERROR);
    if (closePending_ && !busy_) DestroyWindow(hwnd());
}

const char* frmMain::rowAt(POINT client) const {
    const layout::Window& table = layout::mainWindow();
    for (const auto& [heading, pathLabel, button] : {std::tuple{"lblGeneral_0", "lblMapEdit", "btnMapEdit"},
                                                     std::tuple{"lblGeneral_1", "lblMapSplice", "btnMapSplice"}}) {
        RECT row = pixels(table[heading].rect);
        for (const char* part : {pathLabel, button}) {
            const RECT r = pixels(table[part].rect);
            UnionRect(&row, &row, &r);
        }
        if (PtInRect(&row, client)) return pathLabel;
    }
    return nullptr;
}

void frmMain::dropAt(POINT client, const std::vector<std::filesystem::path>& items) {
    if (busy_) return;
    const char* pathLabel = rowAt(client);
    if (!pathLabel) return setStatus(std::string(layout::kNotLoaded) + std::string(layout::kDropOnARow));
    const layout::Dropped d = layout::dropped(items);
    if (d.map.empty()) return setStatus(std::string(layout::kNotLoaded) + d.why);
    pick(pathLabel, d.map.wstring());
}

void frmMain::refreshCompletions() {
    if (busy_) return;
    completions_.refresh(
        {std::filesystem::path(paths_.at("lblMapEdit")), std::filesystem::path(paths_.at("lblMapSplice"))});
}

void frmMain::showCompletions() {
    choices_ = completions_.choices(sectionBytes(textOf(item("txtSection"))));
    SendMessageW(list_, LB_RESETCONTENT, 0, 0);
    if (choices_.empty()) return hideCompletions();
    SendMessageW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(font()), FALSE);
    const layout::Measure width = measure(list_);
    int widest = 0;
    for (const layout::Choice& c : choices_) {
        SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(fromSectionBytes(c.shown).c_str()));
        widest = std::max(widest, width(c.shown));
    }
    // Under the box, at least as wide as it and wide enough to read every line,
    // as many lines as fit above the window's bottom edge.
    const RECT box = pixels(layout::mainWindow()["txtSection"].rect);
    RECT client{};
    GetClientRect(hwnd(), &client);
    const int border = 2 * GetSystemMetrics(SM_CXBORDER), margin = pixels(60);
    const int listWidth = std::min<int>(std::max<int>(box.right - box.left, widest + 2 * margin + border +
                                                                                 GetSystemMetrics(SM_CXVSCROLL)),
                                        client.right - box.left);
    const auto line = std::max(1, static_cast<int>(SendMessageW(list_, LB_GETITEMHEIGHT, 0, 0)));
    const int lines = std::clamp(static_cast<int>(choices_.size()), 1,
                                 std::max(1, static_cast<int>((client.bottom - box.bottom - border) / line)));
    SetWindowPos(list_, HWND_TOP, box.left, box.bottom, listWidth, lines * line + border,
                 SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

void frmMain::hideCompletions() {
    if (list_) ShowWindow(list_, SW_HIDE);
}

void frmMain::acceptCompletion(int index) {
    if (index < 0 || static_cast<size_t>(index) >= choices_.size()) return;
    const HWND box = item("txtSection");
    const std::wstring text =
        fromSectionBytes(layout::complete(sectionBytes(textOf(box)), choices_[static_cast<size_t>(index)]));
    hideCompletions();
    SetWindowTextW(box, text.c_str());
    SetFocus(box);
    SendMessageW(box, EM_SETSEL, text.size(), static_cast<LPARAM>(text.size()));
}

bool frmMain::preTranslate(MSG& msg) {
    const HWND box = item("txtSection");
    if (msg.message == WM_KEYDOWN && msg.hwnd == box && IsWindowVisible(list_)) {
        const auto current = static_cast<int>(SendMessageW(list_, LB_GETCURSEL, 0, 0));
        const auto count = static_cast<int>(SendMessageW(list_, LB_GETCOUNT, 0, 0));
        switch (msg.wParam) {
        case VK_DOWN:
        case VK_UP: {
            const int next = msg.wParam == VK_DOWN ? std::min(current + 1, count - 1) : std::max(current - 1, 0);
            SendMessageW(list_, LB_SETCURSEL, static_cast<WPARAM>(next), 0);
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
    if (from && from == list_) {
        if (code == LBN_SELCHANGE) acceptCompletion(static_cast<int>(SendMessageW(list_, LB_GETCURSEL, 0, 0)));
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
        if (code == EN_KILLFOCUS) PostMessageW(hwnd(), kCheckList, 0, 0);
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
    case WM_DROPFILES: {
        const auto files = reinterpret_cast<HDROP>(wp);
        POINT at{};
        DragQueryPoint(files, &at);
        const std::vector<std::filesystem::path> items = droppedFiles(files);
        DragFinish(files);
        dropAt(at, items);
        return 0;
    }
    case kCheckList:
        if (GetFocus() != item("txtSection") && GetFocus() != list_) hideCompletions();
        return 0;
    case WM_ACTIVATE: {
        // The focus goes back to the control that had it when another window (a
        // dialog, a message box, another program) took over, as in a dialog box.
        if (LOWORD(wp) == WA_INACTIVE) {
            hideCompletions();
            if (const HWND f = GetFocus(); f && IsChild(hwnd(), f)) focus_ = f == list_ ? item("txtSection") : f;
            return TableWindow::handle(message, wp, lp);
        }
        const LRESULT r = TableWindow::handle(message, wp, lp);
        if (!HIWORD(wp) && focus_ && IsWindow(focus_)) SetFocus(focus_);
        return r;
    }
    case WM_CLOSE:
        // A close during a run takes effect when the run has ended, so that the
        // map is never left between its steps.
        if (busy_)
            closePending_ = true;
        else
            DestroyWindow(hwnd());
        return 0;
    case WM_DESTROY:
        dropTarget_.revoke();
        PostQuitMessage(0);
        return 0;
    default:
        return TableWindow::handle(message, wp, lp);
    }
}

} // namespace ui::win32
