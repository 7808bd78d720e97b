// Drives graftwell.exe as a user would, through window messages, typed keys and the mouse, finding its
// controls by the layout table's ids: a map picked in the real open dialog, the other dragged in, Copy
// Section, Save, About, the section box's completions and Ctrl+Z.
// Usage: window_driver GRAFTWELL.EXE
#include "archive.h"
#include "fixtures.h"
#include "mainwindow.h"

#include <ole2.h>
#include <shlobj.h> // DROPFILES

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

using namespace fixtures;
using ui::win32::textOf;
using ui::win32::wide;
namespace layout = ui::layout;

namespace {

int passed = 0, failed = 0;

void check(bool ok, const std::string& what, const std::wstring& got = {}) {
    (ok ? passed : failed)++;
    std::printf("%s: %s%s%s\n", ok ? "ok" : "FAILED", what.c_str(), ok || got.empty() ? "" : ": got ",
                ok ? "" : ui::win32::narrow(got).c_str());
    std::fflush(stdout);
}

// Polls until `ready` gives something, for at most `seconds`.
template <typename F>
auto waitFor(F ready, int seconds = 30) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        if (auto got = ready()) return got;
        if (std::chrono::steady_clock::now() > end) return decltype(ready()){};
        Sleep(50);
    }
}

// The first window `match` takes, given its class: a top-level one without `parent`, else one inside it.
using Match = std::function<bool(HWND, std::wstring_view)>;
HWND findWindow(HWND parent, const Match& match) {
    struct Search { const Match& match; HWND found; } s{match, nullptr};
    const WNDENUMPROC each = [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        wchar_t cls[32] = {};
        GetClassNameW(w, cls, 32);
        if (s->match(w, cls)) s->found = w;
        return !s->found;
    };
    if (parent)
        EnumChildWindows(parent, each, reinterpret_cast<LPARAM>(&s));
    else
        EnumWindows(each, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// A visible dialog (an open-file dialog, a message box) owned by `owner`.
HWND ownedDialog(HWND owner) {
    return findWindow(nullptr, [&](HWND w, std::wstring_view cls) {
        return IsWindowVisible(w) && GetWindow(w, GW_OWNER) == owner && cls == L"#32770";
    });
}

HWND descendant(HWND parent, int id, std::wstring_view cls) {
    return findWindow(parent, [&](HWND w, std::wstring_view c) { return GetDlgCtrlID(w) == id && c == cls; });
}

std::wstring clientSize(HWND w) {
    RECT r{};
    GetClientRect(w, &r);
    return std::to_wstring(r.right) + L" x " + std::to_wstring(r.bottom);
}

struct Window {
    HWND hwnd;
    const layout::Window& table;
    DWORD thread = 0; // the program's window thread
    HWND operator[](std::string_view name) const { return ui::win32::item(hwnd, table, table[name]); }
    // The control gets the keyboard focus back within a few seconds.
    bool focusOn(std::string_view name) const {
        return waitFor([&] {
            GUITHREADINFO info{};
            info.cbSize = sizeof info;
            return GetGUIThreadInfo(thread, &info) && info.hwndFocus == (*this)[name];
        }, 5);
    }
};

// Status lines until one `done` accepts, or the message box that stopped the procedure.
std::wstring waitForStatus(const Window& w, const std::function<bool(const std::wstring&)>& done) {
    std::wstring box;
    waitFor([&] {
        const HWND d = ownedDialog(w.hwnd);
        if (d && GetDlgItem(d, 0xFFFF)) box = L"message box: " + textOf(GetDlgItem(d, 0xFFFF)); // its text's id
        return !box.empty() || done(textOf(w["lblStatus"]));
    });
    return box.empty() ? textOf(w["lblStatus"]) : box;
}

// A path label's or status line's text as one line.
std::wstring unbroken(std::wstring text) {
    std::erase_if(text, [](wchar_t c) { return c == L'\r' || c == L'\n'; });
    return text;
}

// A text that shows `path`: whole, or with folders given up for "…" and the file name whole.
bool shows(const std::wstring& text, const std::filesystem::path& path) {
    return text == path.wstring() ||
           (text.find(L'\u2026') != std::wstring::npos && text.ends_with(L"\\" + path.filename().wstring()));
}

// The keys pressed in turn, then let go in reverse.
void pressKeys(std::initializer_list<WORD> keys) {
    std::vector<INPUT> in(2 * keys.size());
    for (size_t i = 0; i < in.size(); ++i) {
        in[i].type = INPUT_KEYBOARD;
        in[i].ki.wVk = keys.begin()[std::min(i, in.size() - 1 - i)];
        in[i].ki.dwFlags = i < keys.size() ? 0 : KEYEVENTF_KEYUP;
    }
    SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

void mouse(DWORD flags, POINT at = {}) {
    INPUT i{};
    i.type = INPUT_MOUSE;
    i.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    i.mi.dx = at.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    i.mi.dy = at.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    SendInput(1, &i, sizeof i);
}

// The number of colours a window shows on the screen as the X server draws it,
// which is what the user sees (Wine's own copy of a window can differ): xwd's
// picture of the root window, cut and counted by netpbm. Wine starts Unix
// programs too; through the shell they hold no Windows handles. 0 when the
// picture cannot be had.
int screenColours(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    const std::string out = "/tmp/graftwell-window-" + std::to_string(GetCurrentProcessId()) + ".txt";
    std::wstring command = wide("sh -c \"xwd -root -silent | xwdtopnm | pnmcut " + std::to_string(r.left) + " " +
                                std::to_string(r.top) + " " + std::to_string(r.right - r.left) + " " +
                                std::to_string(r.bottom - r.top) + " | ppmhist -noheader | wc -l >" + out +
                                ".part 2>/dev/null && mv " + out + ".part " + out + "\" </dev/null");
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(L"Z:\\bin\\sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 0;
    CloseHandle(pi.hProcess); // Wine cannot wait for a Unix process: the file comes whole, by its rename
    CloseHandle(pi.hThread);
    const std::filesystem::path file = L"Z:" + wide(out);
    if (!waitFor([&] { return std::filesystem::exists(file); }, 10)) return 0;
    const Bytes count = readAll(file);
    std::filesystem::remove(file);
    return std::atoi(std::string(count.begin(), count.end()).c_str());
}

// An OLE drag source whose data names one file and answers the first request only.
struct DragOnce : IDropSource, IDataObject {
    std::wstring file;
    int asked = 0;
    explicit DragOnce(std::wstring f) : file(std::move(f)) {}
    STDMETHODIMP QueryInterface(REFIID id, void** out) override {
        *out = id == IID_IUnknown || id == IID_IDataObject ? static_cast<IDataObject*>(this)
               : id == IID_IDropSource                     ? static_cast<void*>(static_cast<IDropSource*>(this))
                                                           : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; } // on the stack for the whole drag
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP QueryContinueDrag(BOOL escape, DWORD keys) override {
        return escape ? DRAGDROP_S_CANCEL : keys & MK_LBUTTON ? S_OK : DRAGDROP_S_DROP;
    }
    STDMETHODIMP GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }
    STDMETHODIMP GetData(FORMATETC* f, STGMEDIUM* m) override {
        if (QueryGetData(f) != S_OK) return DV_E_FORMATETC;
        if (asked++) return E_FAIL;
        const size_t bytes = sizeof(DROPFILES) + (file.size() + 2) * sizeof(wchar_t);
        m->hGlobal = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
        auto* d = static_cast<DROPFILES*>(GlobalLock(m->hGlobal));
        d->pFiles = sizeof(DROPFILES);
        d->fWide = TRUE;
        std::memcpy(d + 1, file.c_str(), file.size() * sizeof(wchar_t));
        GlobalUnlock(m->hGlobal);
        m->tymed = TYMED_HGLOBAL;
        m->pUnkForRelease = nullptr;
        return S_OK;
    }
    STDMETHODIMP QueryGetData(FORMATETC* f) override {
        return f->cfFormat == CF_HDROP && (f->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
    }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override { return out->ptd = nullptr, E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }
};

// Drags `file` with the mouse from a window of the driver's own onto `target`,
// as from Explorer; gives how often the source was asked for its data.
int dragOnto(HWND target, const std::filesystem::path& file) {
    const POINT from{600, 400};
    const HWND grip = CreateWindowExW(WS_EX_TOPMOST, L"BUTTON", L"map", WS_POPUP | WS_VISIBLE, from.x - 20, from.y - 20,
                                      40, 40, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(grip);
    mouse(MOUSEEVENTF_LEFTDOWN, from);
    // The press must reach this thread's queue before the drag reads the button's state.
    waitFor([] {
        for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);)
            if (DispatchMessageW(&m), m.message == WM_LBUTTONDOWN) return true;
        return false;
    }, 5);
    RECT r{};
    GetWindowRect(target, &r);
    const POINT to{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    std::thread hand([&] {
        for (int step = 1; step <= 10; ++step) {
            Sleep(100);
            mouse(0, {from.x + (to.x - from.x) * step / 10, from.y + (to.y - from.y) * step / 10});
        }
        Sleep(300);
        mouse(MOUSEEVENTF_LEFTUP, to);
    });
    DragOnce source(file.wstring());
    DWORD effect = 0;
    DoDragDrop(&source, &source, DROPEFFECT_COPY | DROPEFFECT_LINK, &effect);
    hand.join();
    DestroyWindow(grip);
    return source.asked;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_driver GRAFTWELL.EXE\n");
        return 2;
    }
    OleInitialize(nullptr);
    ScratchDir dir;
    // A map to edit in long Korean folders: its path label and status line give way in the folders.
    const auto folder =
        dir.path() / L"스타크래프트 유즈맵 모음집 2024년 여름 업데이트" / L"친구들이 보내준 지형 파일들";
    std::filesystem::create_directories(folder);
    const auto edit = folder / "edit map.scx", spliced = dir / "splice.scm";
    makeMap(edit, makeChunk({{"DIM ", {8, 0, 8, 0}}, {"TILE", pattern(128, 1)}, {"ISOM", {1}}}));
    makeMap(spliced, makeChunk({{"DIM ", {8, 0, 8, 0}}, {"TILE", pattern(128, 3)}, {"MTXM", {2}}}));
    const Bytes before = readAll(edit);

    std::wstring commandLine = L"\"" + std::filesystem::path(argv[1]).wstring() + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "window_driver: cannot start %s\n", argv[1]);
        return 1;
    }
    const Window w{waitFor([] { return FindWindowW(nullptr, L"Graftwell 1.0 BETA"); }), layout::mainWindow(),
                   pi.dwThreadId};
    check(w.hwnd != nullptr, "a window captioned \"Graftwell 1.0 BETA\" opens");
    if (!w.hwnd) return TerminateProcess(pi.hProcess, 1), 1;
    WaitForInputIdle(pi.hProcess, 10000);
    const std::wstring client = clientSize(w.hwnd);
    check(client == L"274 x 266", "its client area is 274 x 266", client);
    for (const layout::Control& c : w.table.controls)
        if (c.kind != layout::Kind::Line && c.kind != layout::Kind::Frame)
            check(textOf(w[c.name]) == wide(c.text), std::string(c.name) + " shows its text", textOf(w[c.name]));
    AttachThreadInput(GetCurrentThreadId(), pi.dwThreadId, TRUE);
    SetForegroundWindow(w.hwnd);

    // Browse, the path typed into the dialog's file name box, Open; the focus is back on Browse.
    SetFocus(w["btnMapEdit"]);
    PostMessageW(w["btnMapEdit"], BM_CLICK, 0, 0);
    const HWND dialog = waitFor([&] { return ownedDialog(w.hwnd); });
    check(dialog && textOf(dialog) == wide(layout::kOpenTitle), "Browse opens the dialog \"Open\"", textOf(dialog));
    // The file name box: cmb13's edit in the explorer-style dialog, edt1 in the older one.
    const HWND name = descendant(dialog, 0x47C, L"Edit") ? descendant(dialog, 0x47C, L"Edit")
                                                          : descendant(dialog, 0x480, L"Edit");
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(edit.wstring().c_str()));
    PostMessageW(descendant(dialog, IDOK, L"Button"), BM_CLICK, 0, 0); // "Open"
    const std::wstring loaded = wide(layout::kLoaded);
    const auto namesMap = [&](const std::wstring& s) {
        return s.starts_with(loaded) && s.find(L'\n') == std::wstring::npos && shows(s.substr(loaded.size()), edit);
    };
    const std::wstring picked = waitForStatus(w, namesMap);
    check(namesMap(picked), "the status line names the map picked, on one line", picked);
    check(w.focusOn("btnMapEdit"), "the focus is back on Browse after the dialog");
    // The path label: broken over its lines, the file name whole on the last, folders given up for "…" where
    // the lines are too few (the scratch folder's length decides).
    const std::wstring shown = textOf(w["lblMapEdit"]);
    check(std::ranges::count(shown, L'\n') <= 2 && shown != unbroken(shown) && shows(unbroken(shown), edit),
          "the path label keeps the file name whole, folders shortened where they do not fit", shown);
    check(dragOnto(w["lblMapSplice"], spliced) == 1 && unbroken(textOf(w["lblMapSplice"])) == spliced.wstring(),
          "a map dragged from a source that answers once is picked for the row it lands on", textOf(w["lblStatus"]));
    SetForegroundWindow(w.hwnd);
    for (const auto& [button, last] : {std::pair{"btnCopy", L"Done!"}, {"btnSave", L"Save successful!"}}) {
        PostMessageW(w[button], BM_CLICK, 0, 0);
        const std::wstring got = waitForStatus(w, [&](const std::wstring& s) { return s.starts_with(last); });
        check(got.starts_with(last), std::string(button) + " ends with its last step", got); // a note may follow
    }
    check(archive::readMember(edit, kChunkName) ==
              makeChunk({{"DIM ", {8, 0, 8, 0}}, {"TILE", pattern(128, 3)}, {"ISOM", {1}}}),
          "the map to edit holds the splice map's TILE");

    // About is modal: the main window takes no input until it closes, by Enter or Escape.
    SetFocus(w["btnAbout"]);
    for (const WORD key : {VK_RETURN, VK_ESCAPE}) {
        PostMessageW(w["btnAbout"], BM_CLICK, 0, 0);
        const Window about{waitFor([&] {
                               const HWND a = FindWindowW(nullptr, L"About Graftwell 1.0 BETA");
                               return IsWindowVisible(a) && !IsWindowEnabled(w.hwnd) ? a : nullptr;
                           }),
                           layout::aboutWindow()};
        check(about.hwnd != nullptr, "About opens over a disabled main window");
        if (!about.hwnd) continue;
        const std::wstring size = clientSize(about.hwnd);
        check(size == L"274 x 149", "About's client area is 274 x 149, as the Qt window's", size);
        check(textOf(about["lblAbout_3"]) == wide("Version " + layout::productVersion() + " BETA"),
              "About shows the version", textOf(about["lblAbout_3"]));
        PostMessageW(about["Command1"], WM_KEYDOWN, key, 0);
        check(waitFor([&] { return !IsWindow(about.hwnd) && IsWindowEnabled(w.hwnd); }),
              key == VK_RETURN ? "Enter closes About" : "Escape closes About");
        check(w.focusOn("btnAbout"), "the focus is back on About after it closes");
    }

    // Typing in the section box lists the names either map holds and the terrain, drawn as a list.
    const auto type = [&](WORD key) {
        SetForegroundWindow(w.hwnd);
        SetFocus(w["txtSection"]);
        SendMessageW(w["txtSection"], EM_SETSEL, 0, -1);
        pressKeys({key});
        const HWND list = GetDlgItem(w.hwnd, ui::win32::kCompletionListId);
        return waitFor([&] { return IsWindowVisible(list); }, 5) ? list : nullptr;
    };
    const HWND list = type('M');
    std::wstring names;
    for (int i = 0; list && i < SendMessageW(list, LB_GETCOUNT, 0, 0); ++i) {
        wchar_t name[64] = {};
        SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(name));
        names += name + std::wstring(L";");
    }
    check(names == L"MTXM;MTXM TILE ISOM  (terrain);", "typing offers the maps' section names and the terrain", names);
    Sleep(300); // one repaint
    const int colours = screenColours(list);
    check(colours > 2, "the list is drawn on the screen as a list, not one solid colour",
          std::to_wstring(colours) + L" colours");
    pressKeys({VK_CONTROL, 'Z'});
    check(waitFor([&] { return textOf(w["txtSection"]) == L"TILE"; }, 5) &&
              textOf(w["lblStatus"]) == L"Save successful!",
          "Ctrl+Z undoes the typing, not the Save", textOf(w["txtSection"]));
    pressKeys({VK_CONTROL, 'Z'});
    const std::wstring undone = waitForStatus(w, [](const std::wstring& s) { return s == L"Undo successful!"; });
    check(undone == L"Undo successful!" && readAll(edit) == before, "Ctrl+Z then undoes the Save", undone);

    // A click on the terrain puts its three names in the box; a Copy Section that fails says so in one
    // status line, the box has the details, and the focus is back on the button pressed after it.
    if (const HWND again = type('M')) {
        RECT row{};
        SendMessageW(again, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row));
        POINT at{(row.left + row.right) / 2, (row.top + row.bottom) / 2};
        ClientToScreen(again, &at);
        mouse(MOUSEEVENTF_LEFTDOWN, at);
        mouse(MOUSEEVENTF_LEFTUP, at);
    }
    check(waitFor([&] { return textOf(w["txtSection"]) == L"MTXM TILE ISOM"; }, 5),
          "a click on the terrain puts its names in the box", textOf(w["txtSection"]));
    PostMessageW(w["btnCopy"], BM_CLICK, 0, 0);
    const std::wstring box = waitForStatus(w, [](const std::wstring&) { return false; });
    const std::wstring status = textOf(w["lblStatus"]);
    check(box.starts_with(L"message box: Copy Section failed:\n\n") && status.starts_with(L"Copy Section failed: ") &&
              status.find(L'\n') == std::wstring::npos,
          "a failed Copy Section says so in one status line and the details in a box", status + L" / " + box);
    PostMessageW(ownedDialog(w.hwnd), WM_COMMAND, IDOK, 0);
    check(waitFor([&] { return !ownedDialog(w.hwnd); }, 5) && w.focusOn("btnCopy"),
          "the focus is back on Copy Section after the message box");

    PostMessageW(w.hwnd, WM_CLOSE, 0, 0);
    DWORD code = 1;
    check(WaitForSingleObject(pi.hProcess, 10000) == WAIT_OBJECT_0 && GetExitCodeProcess(pi.hProcess, &code) &&
              code == 0,
          "closing the window ends the program");
    TerminateProcess(pi.hProcess, 1);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
