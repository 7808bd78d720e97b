// The Win32 renderer of the layout tables: a top-level window that creates the
// table's controls as child windows and places them at the window's DPI.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "formlayout.h"

#include <string>
#include <string_view>
#include <vector>

namespace ui::win32 {

// Texts other than paths (statuses, errors) between UTF-8 and UTF-16.
std::wstring wide(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

std::wstring textOf(HWND control);

// The child window that renders `control` inside `window` (a frame's child through its frame).
HWND item(HWND window, const layout::Window& table, const layout::Control& control);

class TableWindow {
public:
    explicit TableWindow(const layout::Window& table) : table_(table) {}
    virtual ~TableWindow();
    TableWindow(const TableWindow&) = delete;
    TableWindow& operator=(const TableWindow&) = delete;

    HWND hwnd() const { return hwnd_; }
    HWND item(std::string_view name) const { return win32::item(hwnd_, table_, table_[name]); }
    // A rectangle of the table in this window's client pixels at its DPI.
    RECT pixels(const layout::Rect& twips) const;
    int pixels(int twips) const { return layout::px(twips, dpi_); }
    HFONT font() const { return regular_; }
    // Measures text in the font `control` draws with.
    layout::Measure measure(HWND control) const;
    // The room of each line a path label has at this DPI, in pixels.
    std::vector<int> lineRooms(std::string_view name) const;

protected:
    // Creates the window, hidden, and its controls; `owner` for an owned window.
    void create(DWORD style, DWORD exStyle, HWND owner, HICON icon);
    // Window messages; the default places controls on a DPI change, colours grey
    // text and passes the rest to DefWindowProc.
    virtual LRESULT handle(UINT message, WPARAM wp, LPARAM lp);
    // After the controls are placed and given their fonts, at creation and at each
    // DPI change: where texts fitted to their room are fitted again.
    virtual void laidOut() {}

private:
    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wp, LPARAM lp);
    void applyDpi(UINT dpi);
    HFONT fitted(HWND control, HFONT font, const layout::Control& c);

    const layout::Window& table_;
    HWND hwnd_ = nullptr;
    UINT dpi_ = layout::kBaseDpi;
    HFONT regular_ = nullptr, bold_ = nullptr;
    std::vector<HFONT> narrowed_;
};

// The DPI a window is shown at, where the system says; else the screen's.
UINT dpiOf(HWND window);

// The running program's icon from its resources, at the size the system asks for.
HICON programIcon(int metric);

} // namespace ui::win32
