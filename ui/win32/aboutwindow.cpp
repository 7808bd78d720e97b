#include "aboutwindow.h"

namespace ui::win32 {

namespace {

class frmAbout : public TableWindow {
public:
    explicit frmAbout(HWND owner) : TableWindow(layout::aboutWindow()) {
        // The ordinary resizable border and no icon of its own; resizing moves no control.
        create(WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN, WS_EX_DLGMODALFRAME, owner,
               nullptr);
        // Centred on the owner's screen.
        MONITORINFO screen{};
        screen.cbSize = sizeof screen;
        GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &screen);
        RECT r{};
        GetWindowRect(hwnd(), &r);
        const RECT& area = screen.rcWork;
        SetWindowPos(hwnd(), nullptr, (area.left + area.right - (r.right - r.left)) / 2,
                     (area.top + area.bottom - (r.bottom - r.top)) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    bool open() const { return hwnd() != nullptr; }

protected:
    LRESULT handle(UINT message, WPARAM wp, LPARAM lp) override {
        // "Close", Enter on it, Escape and the close box all close the window.
        if ((message == WM_COMMAND && (LOWORD(wp) == layout::aboutWindow()["Command1"].id || LOWORD(wp) == IDOK ||
                                       LOWORD(wp) == IDCANCEL)) ||
            message == WM_CLOSE) {
            // The owner is enabled first, so that it, and not some other program, becomes active.
            EnableWindow(GetWindow(hwnd(), GW_OWNER), TRUE);
            DestroyWindow(hwnd());
            return 0;
        }
        return TableWindow::handle(message, wp, lp);
    }
};

} // namespace

void showAbout(HWND owner) {
    frmAbout about(owner);
    EnableWindow(owner, FALSE);
    ShowWindow(about.hwnd(), SW_SHOW);
    SetFocus(about.item("Command1"));
    MSG msg;
    while (about.open()) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // The program is ending: leave the quit for the main loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (IsDialogMessageW(about.hwnd(), &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    EnableWindow(owner, TRUE);
}

} // namespace ui::win32
