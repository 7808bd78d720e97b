#include "tablewindow.h"

#include "resource.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

namespace ui::win32 {

namespace {

// Newer than the oldest Windows the program runs on: looked up, not linked.
template <typename F>
F user32(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

HFONT makeFont(int weight, UINT dpi) {
    const int height = -static_cast<int>(std::lround(layout::kFontPoints * dpi / 72.0));
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                       wide(layout::kFontFace).c_str());
}

struct ChildClass {
    const wchar_t* name;
    DWORD style, exStyle;
};

ChildClass childClass(const layout::Control& c) {
    using layout::Kind;
    constexpr DWORD child = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    // No text carries an access key; SS_NOTIFY lets a label show a tooltip. Texts
    // break only where they hold a line break: the window fits them to their lines.
    constexpr DWORD label = child | SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_NOTIFY;
    switch (c.kind) {
    case Kind::Label:
    case Kind::PathLabel: return {L"STATIC", label, 0};
    case Kind::Line: return {L"STATIC", child | SS_BLACKRECT, 0};
    case Kind::Button: return {L"BUTTON", child | WS_TABSTOP | BS_PUSHBUTTON, 0};
    case Kind::TextBox: return {L"EDIT", child | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case Kind::Frame: return {L"STATIC", child | WS_CLIPCHILDREN, 0};
    }
    throw std::logic_error("unknown control kind");
}

} // namespace

std::wstring wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring textOf(HWND control) {
    // Messages rather than GetWindowText, which reads another program's edit box as empty.
    std::wstring text(static_cast<size_t>(SendMessageW(control, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
    text.resize(static_cast<size_t>(
        SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
    return text;
}

HWND item(HWND window, const layout::Window& table, const layout::Control& control) {
    const HWND parent = control.parent.empty() ? window : item(window, table, table[control.parent]);
    return GetDlgItem(parent, control.id);
}

UINT dpiOf(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = user32<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow && window) return getDpiForWindow(window);
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return static_cast<UINT>(dpi);
}

HICON programIcon(int metric) {
    const int size = GetSystemMetrics(metric);
    return static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_GRAFTWELL), IMAGE_ICON, size, size, 0));
}

TableWindow::~TableWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
    DeleteObject(regular_);
    DeleteObject(bold_);
    for (HFONT f : narrowed_) DeleteObject(f);
}

layout::Measure TableWindow::measure(HWND control) const {
    return [control](std::string_view text) {
        const std::wstring w = wide(text);
        const HDC dc = GetDC(control);
        const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
        SIZE extent{};
        GetTextExtentPoint32W(dc, w.c_str(), static_cast<int>(w.size()), &extent);
        SelectObject(dc, old);
        ReleaseDC(control, dc);
        return static_cast<int>(extent.cx);
    };
}

std::vector<int> TableWindow::lineRooms(std::string_view name) const {
    const HWND control = item(name);
    const HDC dc = GetDC(control);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    std::vector<int> rooms;
    for (const int twips :
         table_.lineRooms(table_[name], metrics.tmHeight * layout::kTwipsPerInch / static_cast<int>(dpi_)))
        rooms.push_back(pixels(twips));
    return rooms;
}

RECT TableWindow::pixels(const layout::Rect& r) const {
    const int left = pixels(r.left), top = pixels(r.top);
    return {left, top, left + pixels(r.width), top + pixels(r.height)};
}

void TableWindow::create(DWORD style, DWORD exStyle, HWND owner, HICON icon) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const std::wstring className = L"Graftwell." + wide(table_.name);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (!GetClassInfoExW(instance, className.c_str(), &wc)) {
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &TableWindow::procedure;
        wc.hInstance = instance;
        wc.hIcon = icon;
        wc.hIconSm = icon ? programIcon(SM_CXSMICON) : nullptr;
        wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
        wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        wc.lpszClassName = className.c_str();
        if (!RegisterClassExW(&wc)) throw std::runtime_error("cannot register the window class");
    }
    // The size comes with the DPI, once the window knows which monitor it is on.
    if (!CreateWindowExW(exStyle, className.c_str(), wide(table_.caption).c_str(), style, CW_USEDEFAULT,
                         CW_USEDEFAULT, 0, 0, owner, nullptr, instance, this))
        throw std::runtime_error("cannot create the window " + std::string(table_.name));

    // Interactive controls first, in tab order: the dialog manager tabs through
    // the Z order, and the first created is on top. Then the rest from the top of
    // the table's stack down, so that labels and lines lie beneath.
    std::vector<const layout::Control*> order = table_.tabOrder();
    for (auto c = table_.controls.rbegin(); c != table_.controls.rend(); ++c)
        if (!c->focusable()) order.push_back(&*c);
    // A frame is made before what it holds.
    std::ranges::stable_partition(order, [](const layout::Control* c) { return c->parent.empty(); });
    for (const layout::Control* c : order) {
        const ChildClass k = childClass(*c);
        const HWND parent = c->parent.empty() ? hwnd_ : item(c->parent);
        const HWND w = CreateWindowExW(k.exStyle | ((c->notes & layout::kSunken) ? WS_EX_CLIENTEDGE : 0), k.name,
                                       wide(c->text).c_str(), k.style, 0, 0, 0, 0, parent,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(c->id)), instance, nullptr);
        if (!w) throw std::runtime_error("cannot create the control " + std::string(c->name));
        if (c->maxLength > 0) SendMessageW(w, EM_LIMITTEXT, static_cast<WPARAM>(c->maxLength), 0);
    }
    applyDpi(dpiOf(hwnd_));
    if (const auto first = table_.tabOrder(); !first.empty()) SetFocus(item(first.front()->name));
}

// The font as it is where the text fits; else narrowed as much as needed, for a
// stand-in for the window font that is wider than the original.
HFONT TableWindow::fitted(HWND control, HFONT font, const layout::Control& c) {
    if (c.kind != layout::Kind::Label && c.kind != layout::Kind::Button) return font;
    const std::wstring text = wide(c.text);
    const HDC dc = GetDC(control);
    const HGDIOBJ old = SelectObject(dc, font);
    SIZE extent{};
    TEXTMETRICW metrics{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    const int fits = pixels(table_.textRoom(c));
    if (extent.cx <= fits || extent.cx == 0) return font;
    LOGFONTW narrow{};
    GetObjectW(font, sizeof narrow, &narrow);
    narrow.lfWidth = std::max(1L, metrics.tmAveCharWidth * fits / extent.cx);
    narrowed_.push_back(CreateFontIndirectW(&narrow));
    return narrowed_.back();
}

void TableWindow::applyDpi(UINT dpi) {
    dpi_ = dpi;
    const HFONT oldRegular = regular_, oldBold = bold_;
    const std::vector<HFONT> oldNarrowed = std::exchange(narrowed_, {});
    regular_ = makeFont(layout::kRegularWeight, dpi);
    bold_ = makeFont(layout::kBoldWeight, dpi);
    for (const layout::Control& c : table_.controls) {
        const HWND w = item(c.name);
        const RECT r = pixels(c.rect);
        SetWindowPos(w, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
        const HFONT font = fitted(w, (c.notes & layout::kBold) ? bold_ : regular_, c);
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    DeleteObject(oldRegular);
    DeleteObject(oldBold);
    for (HFONT f : oldNarrowed) DeleteObject(f);

    // The client area is the table's; the frame around it is whatever this DPI makes it.
    RECT frame{0, 0, pixels(table_.clientWidth), pixels(table_.clientHeight)};
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
    using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = user32<AdjustForDpiFn>("AdjustWindowRectExForDpi");
    if (adjustForDpi)
        adjustForDpi(&frame, style, FALSE, exStyle, dpi);
    else
        AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    laidOut();
}

LRESULT TableWindow::handle(UINT message, WPARAM wp, LPARAM lp) {
    switch (message) {
    case WM_DPICHANGED: {
        // Keep the place the system suggests; the size is the table's at the new DPI.
        const auto* suggested = reinterpret_cast<const RECT*>(lp);
        SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        applyDpi(HIWORD(wp));
        return 0;
    }
    case WM_CTLCOLORSTATIC: {
        const auto hdc = reinterpret_cast<HDC>(wp);
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lp));
        for (const layout::Control& c : table_.controls)
            if (c.id == id && (c.notes & layout::kGreyText)) SetTextColor(hdc, GetSysColor(COLOR_GRAYTEXT));
        SetBkColor(hdc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    default:
        return DefWindowProcW(hwnd_, message, wp, lp);
    }
}

LRESULT CALLBACK TableWindow::procedure(HWND hwnd, UINT message, WPARAM wp, LPARAM lp) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<TableWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TableWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wp, lp);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        return DefWindowProcW(hwnd, message, wp, lp);
    }
    return self->handle(message, wp, lp);
}

} // namespace ui::win32
