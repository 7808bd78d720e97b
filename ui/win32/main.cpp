// graftwell.exe: the window for copying a section of one map's chunk file into another.
#include "mainwindow.h"
#include "platform.h"

#include <commctrl.h>
#include <ole2.h>

#include <exception>

namespace {

// Per-monitor (v2) DPI awareness, also where the manifest is not read; older
// systems without the call keep what the manifest gave.
void becomeDpiAware() {
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    const auto setContext = reinterpret_cast<SetContextFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    if (setContext) setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4))); // PER_MONITOR_AWARE_V2
}

// A GUI program has no console of its own: its answer goes to the output it was
// given, else to the console of the program that started it.
void printLines(const std::string& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((!out || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS))
        out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr);
    if (!out || out == INVALID_HANDLE_VALUE) return;
    std::string line;
    for (const char c : text + '\n') line += c == '\n' ? std::string("\r\n") : std::string(1, c);
    DWORD written = 0;
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
    const std::vector<std::string> args = platform::utf8Arguments(__argc, __argv);
    if (const auto answer = ui::layout::commandLineAnswer(args)) {
        printLines(*answer);
        return 0;
    }
    becomeDpiAware();
    // Drag and drop from Explorer; without it dropped files still come as WM_DROPFILES.
    const bool ole = SUCCEEDED(OleInitialize(nullptr));
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    const std::wstring caption = ui::win32::wide(ui::layout::mainWindow().caption);
    try {
        ui::win32::frmMain window(splice::defaultProgramFolder());
        ShowWindow(window.hwnd(), show);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (window.hwnd() && window.preTranslate(msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (ole) OleUninitialize();
        return 0;
    } catch (const std::exception& e) {
        const std::wstring text = ui::win32::wide(e.what());
        MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
        return 1;
    }
}
