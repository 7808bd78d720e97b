// Drives graftwell.exe as a user would, through window messages and typed keys:
// it finds the window and its controls by the layout table's ids, picks maps
// through the real open dialog by typing their paths, runs Copy Section and
// Save, opens and closes About and undoes the Save with Ctrl+Z.
// Usage: window_driver GRAFTWELL.EXE
#include "archive.h"
#include "fixtures.h"
#include "tablewindow.h"

#include <chrono>
#include <cstdio>
#include <functional>

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

// A visible dialog (an open-file dialog, a message box) owned by `owner`.
HWND ownedDialog(HWND owner) {
    struct Search { HWND owner, found; } s{owner, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            wchar_t cls[16] = {};
            GetClassNameW(w, cls, 16);
            if (IsWindowVisible(w) && GetWindow(w, GW_OWNER) == s->owner && std::wstring_view(cls) == L"#32770")
                s->found = w;
            return s->found ? FALSE : TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// A window of that class and id anywhere inside `parent`.
HWND descendant(HWND parent, int id, std::wstring_view cls) {
    struct Search { int id; std::wstring_view cls; HWND found; } s{id, cls, nullptr};
    EnumChildWindows(
        parent,
        [](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            wchar_t name[32] = {};
            GetClassNameW(w, name, 32);
            if (GetDlgCtrlID(w) == s->id && s->cls == name) s->found = w;
            return s->found ? FALSE : TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

SIZE clientSize(HWND w) {
    RECT r{};
    GetClientRect(w, &r);
    return {r.right, r.bottom};
}

struct Window {
    HWND hwnd;
    const layout::Window& table;
    HWND operator[](std::string_view name) const { return ui::win32::item(hwnd, table, table[name]); }
};

// Status lines until `last`, or the message box that stopped the procedure.
std::wstring waitForStatus(const Window& w, const std::wstring& last) {
    std::wstring box;
    waitFor([&] {
        const HWND d = ownedDialog(w.hwnd);
        if (d && GetDlgItem(d, 0xFFFF)) box = L"message box: " + textOf(GetDlgItem(d, 0xFFFF)); // its text's id
        return !box.empty() || textOf(w["lblStatus"]) == last;
    });
    return box.empty() ? textOf(w["lblStatus"]) : box;
}

void pressKeys(std::initializer_list<std::pair<WORD, bool>> keys) {
    std::vector<INPUT> in;
    for (const auto& [key, down] : keys) {
        INPUT i{};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = key;
        i.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
        in.push_back(i);
    }
    SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

void ctrlZ() { pressKeys({{VK_CONTROL, true}, {'Z', true}, {'Z', false}, {VK_CONTROL, false}}); }

// Browse, the path typed into the dialog's file name box, Open.
void pick(const Window& w, const char* browse, const std::filesystem::path& map, const std::wstring& startsAt) {
    PostMessageW(w[browse], BM_CLICK, 0, 0);
    const HWND dialog = waitFor([&] { return ownedDialog(w.hwnd); });
    check(dialog && textOf(dialog) == wide(layout::kOpenTitle), std::string(browse) + " opens the dialog \"Open\"",
          dialog ? textOf(dialog) : L"no dialog");
    if (!dialog) return;
    // The file name box: cmb13's edit in the explorer-style dialog, edt1 in the older one.
    HWND name = descendant(dialog, 0x47C, L"Edit");
    if (!name) name = descendant(dialog, 0x480, L"Edit");
    if (!startsAt.empty())
        check(textOf(name).ends_with(startsAt), "the dialog starts from the file picked last", textOf(name));
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(map.wstring().c_str()));
    PostMessageW(descendant(dialog, IDOK, L"Button"), BM_CLICK, 0, 0); // "Open"
    check(waitFor([&] { return !IsWindow(dialog); }), "Open closes the dialog");
    const std::wstring loaded = wide(layout::kLoaded) + map.wstring();
    check(waitForStatus(w, loaded) == loaded, "the status line names the map picked", textOf(w["lblStatus"]));
}

void click(const Window& w, const char* button, const std::string& last) {
    PostMessageW(w[button], BM_CLICK, 0, 0);
    const std::wstring got = waitForStatus(w, wide(last));
    check(got == wide(last), std::string(button) + " ends with \"" + last + "\"", got);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_driver GRAFTWELL.EXE\n");
        return 2;
    }
    ScratchDir dir;
    const auto edit = dir / "edit map.scx", spliced = dir / "splice.scm";
    const Bytes original = makeChunk({{"DIM ", {8, 0, 8, 0}}, {"TILE", pattern(128, 1)}, {"ISOM", {1}}});
    makeMap(edit, original);
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
    const layout::Window& table = layout::mainWindow();
    const Window w{waitFor([] { return FindWindowW(nullptr, L"Graftwell 1.0 BETA"); }), table};
    check(w.hwnd != nullptr, "a window captioned \"Graftwell 1.0 BETA\" opens");
    if (!w.hwnd) {
        TerminateProcess(pi.hProcess, 1);
        return 1;
    }
    WaitForInputIdle(pi.hProcess, 10000);
    const SIZE client = clientSize(w.hwnd);
    check(client.cx == 274 && client.cy == 266, "its client area is 274 x 266",
          std::to_wstring(client.cx) + L" x " + std::to_wstring(client.cy));
    for (const layout::Control& c : table.controls)
        if (c.kind != layout::Kind::Line && c.kind != layout::Kind::Frame)
            check(textOf(w[c.name]) == wide(c.text), std::string(c.name) + " shows its text", textOf(w[c.name]));

    pick(w, "btnMapEdit", edit, L"");
    pick(w, "btnMapSplice", spliced, edit.filename().wstring());
    check(textOf(w["lblMapEdit"]) == edit.wstring() && textOf(w["lblMapSplice"]) == spliced.wstring(),
          "the path labels show the maps picked");
    click(w, "btnCopy", "Done!");
    click(w, "btnSave", "Save successful!");
    const Bytes saved = makeChunk({{"DIM ", {8, 0, 8, 0}}, {"TILE", pattern(128, 3)}, {"ISOM", {1}}});
    check(archive::readMember(edit, kChunkName) == saved, "the map to edit holds the splice map's TILE");

    // About is modal: the main window takes no input until "Close".
    PostMessageW(w["btnAbout"], BM_CLICK, 0, 0);
    const Window about{waitFor([&] {
                           const HWND a = FindWindowW(nullptr, L"About Graftwell 1.0 BETA");
                           return a && IsWindowVisible(a) && !IsWindowEnabled(w.hwnd) ? a : nullptr;
                       }),
                       layout::aboutWindow()};
    check(about.hwnd != nullptr, "About opens over a disabled main window");
    if (about.hwnd) {
        const SIZE size = clientSize(about.hwnd);
        check(size.cx == 202 && size.cy == 149, "About's client area is 202 x 149",
              std::to_wstring(size.cx) + L" x " + std::to_wstring(size.cy));
        check(textOf(about["lblAbout_3"]) == wide("Version " + layout::productVersion() + " BETA"),
              "About shows the version", textOf(about["lblAbout_3"]));
        PostMessageW(about["Command1"], BM_CLICK, 0, 0);
        check(waitFor([&] { return !IsWindow(about.hwnd) && IsWindowEnabled(w.hwnd); }),
              "Close closes About and gives the main window its input back");
    }

    // Ctrl+Z in the section box undoes its typing first, then the Save.
    AttachThreadInput(GetCurrentThreadId(), pi.dwThreadId, TRUE);
    SetForegroundWindow(w.hwnd);
    SetFocus(w["txtSection"]);
    SendMessageW(w["txtSection"], EM_SETSEL, 0, -1);
    pressKeys({{'M', true}, {'M', false}});
    check(waitFor([&] { return textOf(w["txtSection"]) == L"m"; }, 5), "a key typed into the section box",
          textOf(w["txtSection"]));
    // The completion list under the box: the names either map holds that start so.
    const HWND list = waitFor([&] {
        HWND l = nullptr;
        while ((l = FindWindowExW(nullptr, l, L"ListBox", nullptr)) && GetWindow(l, GW_OWNER) != w.hwnd) {}
        return l;
    }, 5);
    std::wstring names;
    for (int i = 0; list && IsWindowVisible(list) && i < SendMessageW(list, LB_GETCOUNT, 0, 0); ++i) {
        wchar_t name[16] = {};
        SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(name));
        names += name + std::wstring(L";");
    }
    check(names == L"MTXM;", "typing offers the maps' section names", names);
    ctrlZ();
    check(waitFor([&] { return textOf(w["txtSection"]) == L"TILE"; }, 5) &&
              textOf(w["lblStatus"]) == L"Save successful!",
          "Ctrl+Z undoes the typing, not the Save", textOf(w["txtSection"]));
    ctrlZ();
    const std::wstring undone = waitForStatus(w, L"Undo successful!");
    check(undone == L"Undo successful!" && readAll(edit) == before, "Ctrl+Z then undoes the Save", undone);

    PostMessageW(w.hwnd, WM_CLOSE, 0, 0);
    DWORD code = 1;
    check(WaitForSingleObject(pi.hProcess, 10000) == WAIT_OBJECT_0 && GetExitCodeProcess(pi.hProcess, &code) &&
              code == 0,
          "closing the window ends the program");
    TerminateProcess(pi.hProcess, 1);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
