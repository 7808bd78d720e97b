// graftwell.exe: the window for copying a section of one map's chunk file into another.
#include "mainwindow.h"
#include "platform.h"

#include <commctrl.h>

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

// A GUI program has no console of its own: the version goes to the output it was
// given, else to the console of the program that started it.
void printLine(const std::string& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((!out || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS))
        out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr);
    if (!out || out == INVALID_HANDLE_VALUE) return;
    const std::string line = text + "\r\n";
    DWORD written = 0;
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
    const std::vector<std::string> args = platform::utf8Arguments(__argc, __argv);
    if (args.size() == 2 && args[1] == "--version") {
        printLine("graftwell " + ui::layout::productVersion());
        return 0;
    }
    becomeDpiAware();
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
        return 0;
    } catch (const std::exception& e) {
        const std::wstring text = ui::win32::wide(e.what());
        MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
        return 1;
    }
}
