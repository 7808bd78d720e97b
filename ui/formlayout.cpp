#include "formlayout.h"

#include "platform.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

namespace ui::layout {

namespace {

constexpr Control kMain[] = {
    // id, kind, name, text, {left, top, width, height}, tab index, notes, parent, max length
    {1000, Kind::Label, "lblGeneral_0", "Map to edit:", {120, 120, 3255, 255}, 6, kBold},
    {1001, Kind::PathLabel, "lblMapEdit", splice::kNoMapLoaded, {120, 360, 3855, 735}, 7, kGreyText},
    // A line is one pixel high: 15 twips.
    {1002, Kind::Line, "Lines_0", "", {240, 1200, 3600, 15}, -1},
    {1003, Kind::Label, "lblGeneral_1", "Map to splice:", {120, 1320, 3255, 255}, 8, kBold},
    {1004, Kind::PathLabel, "lblMapSplice", splice::kNoMapLoaded, {120, 1560, 3855, 735}, 9, kGreyText},
    {1005, Kind::Line, "Lines_1", "", {240, 2400, 3600, 15}, -1},
    {1006, Kind::Label, "lblGeneral_2", "Options:", {120, 2520, 3255, 255}, 10, kBold},
    {1007, Kind::Label, "lblGeneral_3", "Section to copy:", {360, 2880, 3255, 255}, 11},
    {1008, Kind::Button, "btnMapEdit", "Browse", {3120, 720, 855, 315}, 0},
    {1009, Kind::Button, "btnMapSplice", "Browse", {3120, 1920, 855, 315}, 1},
    {1010, Kind::TextBox, "txtSection", splice::kDefaultSection, {1680, 2880, 735, 285}, 2, kPlain, {}, 4},
    {1011, Kind::Button, "btnAbout", "About", {120, 3240, 735, 315}, 5},
    {1012, Kind::Button, "btnCopy", "Copy Section", {1920, 3240, 1095, 315}, 3},
    {1013, Kind::Button, "btnSave", "Save", {3120, 3240, 855, 315}, 4},
    {1014, Kind::Frame, "picStatus", "", {0, 3720, 4095, 255}, 12, kSunken},
    {1015, Kind::Label, "lblStatus", "No maps are loaded...", {120, 0, 3855, 255}, 13, kPlain, "picStatus"},
};

// The credits are wider than the window, whose right edge cuts them off.
constexpr Control kAbout[] = {
    {1100, Kind::Label, "lblAbout_0", "Programmed by: the Graftwell authors", {120, 120, 4455, 255}, 0},
    {1101, Kind::Label, "lblAbout_1", "Thanks to: map makers / testers / translators", {120, 480, 4455, 255}, 1},
    {1102, Kind::Label, "lblAbout_2", "Graftwell", {120, 1080, 4455, 255}, 3},
    {1103, Kind::Label, "lblAbout_3", "Version " GRAFTWELL_VERSION " BETA", {120, 1440, 4455, 255}, 4},
    {1104, Kind::Button, "Command1", "Close", {960, 1800, 1095, 300}, 2},
};

} // namespace

std::string productVersion() { return GRAFTWELL_VERSION; }

std::string productCaption() {
    const std::string v = productVersion();
    // MAJOR.MINOR: the patch level is not part of the caption.
    return "Graftwell " + v.substr(0, v.rfind('.')) + " BETA";
}

const Window& mainWindow() {
    static const Window w{"frmMain", productCaption(), 4110, 3990, false, kMain};
    return w;
}

const Window& aboutWindow() {
    static const Window w{"frmAbout", "About " + productCaption(), 3030, 2235, true, kAbout};
    return w;
}

const Control& Window::operator[](std::string_view controlName) const {
    for (const Control& c : controls)
        if (c.name == controlName) return c;
    throw std::out_of_range("no control " + std::string(controlName) + " in " + std::string(name));
}

std::vector<const Control*> Window::tabOrder() const {
    std::vector<const Control*> order;
    for (const Control& c : controls)
        if (c.focusable()) order.push_back(&c);
    std::ranges::sort(order, {}, &Control::tabIndex);
    return order;
}

int Window::textRoom(const Control& c) const {
    constexpr int kButtonMargin = 120, kLabelGap = 45; // 8 and 3 pixels at 96 dpi
    if (c.kind == Kind::Button) return c.rect.width - kButtonMargin;
    int end = c.rect.left + c.rect.width;
    for (const Control& o : controls)
        if (o.focusable() && o.parent == c.parent && o.rect.left > c.rect.left &&
            o.rect.top < c.rect.top + c.rect.height && o.rect.top + o.rect.height > c.rect.top)
            end = std::min(end, o.rect.left - kLabelGap);
    return end - c.rect.left;
}

bool Completions::refresh(const std::vector<std::filesystem::path>& maps) {
    std::string key;
    std::vector<std::filesystem::path> readable;
    for (const std::filesystem::path& map : maps) {
        platform::Status st;
        try {
            st = platform::status(map);
        } catch (const platform::Error&) {
            continue;
        }
        if (map == std::filesystem::path(splice::kNoMapLoaded) || st.kind != platform::Kind::Regular ||
            st.size > kMaxCompletionRead)
            continue;
        readable.push_back(map);
        key += platform::toUtf8(map) + '\n' + std::to_string(st.size) + '\n' + std::to_string(st.mtimeNs) + '\n';
    }
    if (key == key_ && !key.empty()) return false;
    key_ = std::move(key);
    names_.clear();
    // Only names a user can type: the box takes no control characters.
    const auto typable = [](const std::string& n) {
        return std::ranges::all_of(n, [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
    };
    for (const std::filesystem::path& map : readable)
        for (std::string& n : splice::sectionNames(map))
            if (typable(n) && std::ranges::find(names_, n) == names_.end()) names_.push_back(std::move(n));
    return true;
}

std::optional<std::string> runProcedure(bool& busy, std::string_view what, Procedure procedure,
                                        splice::FrontEnd& frontEnd, const splice::WorkFolder& work) {
    if (busy) return std::nullopt;
    busy = true;
    splice::Result r;
    try {
        r = procedure(frontEnd, work);
    } catch (const std::exception& e) {
        r = {false, e.what()};
    }
    busy = false;
    if (r || r.quiet) return std::nullopt;
    return std::string(what) + std::string(kFailed) + r.error;
}

} // namespace ui::layout
