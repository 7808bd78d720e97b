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
    // Several names fit, up to the right edge of the buttons; a longer text scrolls.
    {1010, Kind::TextBox, "txtSection", splice::kDefaultSection, {1680, 2880, 2295, 285}, 2},
    {1011, Kind::Button, "btnAbout", "About", {120, 3240, 735, 315}, 5},
    {1012, Kind::Button, "btnCopy", "Copy Section", {1920, 3240, 1095, 315}, 3},
    {1013, Kind::Button, "btnSave", "Save", {3120, 3240, 855, 315}, 4},
    {1014, Kind::Frame, "picStatus", "", {0, 3720, 4095, 255}, 12, kSunken},
    {1015, Kind::Label, "lblStatus", "No maps are loaded...", {120, 0, 3855, 255}, 13, kPlain, "picStatus"},
};

// As wide as the main window, so that the credits fit whole in the fonts that
// stand in for the original; "Close" centred below them.
constexpr Control kAbout[] = {
    {1100, Kind::Label, "lblAbout_0", "Programmed by: the Graftwell authors", {120, 120, 3870, 255}, 0},
    {1101, Kind::Label, "lblAbout_1", "Thanks to: map makers / testers / translators", {120, 480, 3870, 255}, 1},
    {1102, Kind::Label, "lblAbout_2", "Graftwell", {120, 1080, 3870, 255}, 3},
    {1103, Kind::Label, "lblAbout_3", "Version " GRAFTWELL_VERSION " BETA", {120, 1440, 3870, 255}, 4},
    {1104, Kind::Button, "Command1", "Close", {1508, 1800, 1095, 300}, 2},
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
    static const Window w{"frmAbout", "About " + productCaption(), 4110, 2235, true, kAbout};
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

namespace {

// Twips from a control's left edge to where text in the band from `top` to
// `bottom` must end: before the first control that takes the focus beside it.
int roomIn(const Window& w, const Control& c, int top, int bottom) {
    constexpr int kLabelGap = 45; // 3 pixels at 96 dpi
    int end = c.rect.left + c.rect.width;
    for (const Control& o : w.controls)
        if (o.focusable() && o.parent == c.parent && o.rect.left > c.rect.left && o.rect.top < bottom &&
            o.rect.top + o.rect.height > top)
            end = std::min(end, o.rect.left - kLabelGap);
    return end - c.rect.left;
}

} // namespace

int Window::textRoom(const Control& c) const {
    constexpr int kButtonMargin = 120; // 8 pixels at 96 dpi
    if (c.kind == Kind::Button) return c.rect.width - kButtonMargin;
    return roomIn(*this, c, c.rect.top, c.rect.top + c.rect.height);
}

std::vector<int> Window::lineRooms(const Control& c, int lineHeight) const {
    std::vector<int> rooms;
    for (int top = c.rect.top; lineHeight > 0 && top + lineHeight <= c.rect.top + c.rect.height; top += lineHeight)
        rooms.push_back(roomIn(*this, c, top, top + lineHeight));
    return rooms;
}

namespace {

// The end of the UTF-8 character that starts at `i`.
size_t nextChar(std::string_view s, size_t i) {
    for (++i; i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80;) ++i;
    return i;
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// Pieces laid into lines: each goes on the line that has room for it, else on
// the next; one that no line has room for is broken between characters,
// starting where the last one ended. Nothing when more lines are needed than
// there are.
std::optional<std::vector<std::string>> layLines(const std::vector<std::string>& pieces, std::span<const int> rooms,
                                                 const Measure& width) {
    std::vector<std::string> lines(1);
    const auto room = [&] { return rooms[lines.size() - 1]; };
    const auto newLine = [&] {
        if (lines.size() == rooms.size()) return false;
        lines.emplace_back();
        return true;
    };
    for (const std::string& piece : pieces) {
        if (width(lines.back() + piece) <= room()) {
            lines.back() += piece;
            continue;
        }
        if (lines.size() < rooms.size() && width(piece) <= rooms[lines.size()]) {
            lines.emplace_back(piece);
            continue;
        }
        for (size_t i = 0; i < piece.size();) {
            const size_t next = nextChar(piece, i);
            const std::string_view ch = std::string_view(piece).substr(i, next - i);
            if (!lines.back().empty() && width(lines.back() + std::string(ch)) > room() && !newLine())
                return std::nullopt;
            lines.back() += ch;
            i = next;
        }
    }
    return lines;
}

} // namespace

std::vector<std::string> fitPath(std::string_view path, std::span<const int> rooms, const Measure& width) {
    if (rooms.empty()) return {};
    // Each folder with the separator after it, then the file name.
    std::vector<std::string> folders;
    size_t start = 0;
    for (size_t i = 0; i < path.size(); ++i)
        if (isSeparator(path[i])) {
            folders.emplace_back(path.substr(start, i + 1 - start));
            start = i + 1;
        }
    const std::string file(path.substr(start));
    const std::string gap = std::string(kEllipsis) + (folders.empty() ? '\\' : folders.back().back());
    // Folders dropped from the middle, one more each time; the first stays longest.
    for (size_t kept = folders.size();; --kept) {
        std::vector<std::string> pieces;
        const size_t head = kept == folders.size() ? kept : std::max<size_t>(std::min<size_t>(kept, 1), kept / 2);
        pieces.insert(pieces.end(), folders.begin(), folders.begin() + static_cast<std::ptrdiff_t>(head));
        if (kept < folders.size()) pieces.push_back(gap);
        pieces.insert(pieces.end(), folders.end() - static_cast<std::ptrdiff_t>(kept - head), folders.end());
        pieces.push_back(file);
        if (auto lines = layLines(pieces, rooms, width)) return *lines;
        if (kept == 0) break;
    }
    // A file name longer than every line: its middle gives way, its end (the extension) stays.
    std::vector<size_t> chars; // where each character of the name starts
    for (size_t i = 0; i < file.size(); i = nextChar(file, i)) chars.push_back(i);
    for (size_t keep = chars.size(); keep-- > 0;) {
        const size_t tail = keep / 2, head = keep - tail;
        const std::string shortened = file.substr(0, chars[head]) + std::string(kEllipsis) +
                                      file.substr(tail ? chars[chars.size() - tail] : file.size());
        if (auto lines = layLines({folders.empty() ? shortened : gap + shortened}, rooms, width)) return *lines;
    }
    return {std::string(kEllipsis)};
}

std::string fitStatus(std::string_view text, int room, const Measure& width) {
    std::string line(text);
    std::ranges::replace(line, '\n', ' '); // one line, whatever the text
    if (width(line) <= room) return line;
    if (line.starts_with(kLoaded)) {
        const int rest = room - width(kLoaded);
        if (const auto path = fitPath(std::string_view(line).substr(kLoaded.size()), std::span(&rest, 1), width);
            path.size() == 1)
            return std::string(kLoaded) + path.front();
    }
    std::string cut;
    for (size_t i = 0, next = 0; i < line.size(); i = next) {
        next = nextChar(line, i);
        if (width(cut + line.substr(i, next - i) + std::string(kEllipsis)) > room) break;
        cut += line.substr(i, next - i);
    }
    return cut + std::string(kEllipsis);
}

namespace {

// The name as the box shows it: its padding dropped.
std::string_view unpadded(std::string_view name) {
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    return name;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return prefix.size() <= text.size() &&
           std::ranges::equal(prefix, text.substr(0, prefix.size()), {}, lower, lower);
}

// Where the name being typed starts: after the last separator.
size_t typingFrom(std::string_view typed) {
    const size_t last = typed.find_last_of(" ,");
    return last == std::string_view::npos ? 0 : last + 1;
}

} // namespace

std::string sectionText(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names) {
        if (!text.empty()) text += ' ';
        text += unpadded(n);
    }
    return text;
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
    // The box separates names at spaces and commas and takes no control characters.
    const auto typable = [](const std::string& n) {
        const std::string_view shown = unpadded(n);
        return !shown.empty() &&
               std::ranges::all_of(shown, [](unsigned char c) { return c > 0x20 && c < 0x7F && c != ','; });
    };
    for (const std::filesystem::path& map : readable)
        for (std::string& n : splice::sectionNames(map))
            if (typable(n) && std::ranges::find(names_, n) == names_.end()) names_.push_back(std::move(n));
    return true;
}

std::vector<Choice> Completions::choices(std::string_view typed) const {
    const std::string_view word = typed.substr(typingFrom(typed));
    if (word.empty()) return {};
    const std::vector<std::string> others = splice::splitSectionNames(typed.substr(0, typingFrom(typed)));
    const auto given = [&](std::string_view name) {
        return std::ranges::any_of(others, [&](const std::string& o) { return unpadded(o) == unpadded(name); });
    };
    std::vector<Choice> out;
    for (const std::string& n : names_)
        if (startsWithNoCase(unpadded(n), word) && !given(n))
            out.push_back({std::string(unpadded(n)), std::string(unpadded(n))});
    const std::vector<std::string> terrain = splice::splitSectionNames(kTerrainNames);
    if ((startsWithNoCase(kTerrainLabel, word) ||
         std::ranges::any_of(terrain, [&](const std::string& n) { return startsWithNoCase(n, word); })) &&
        std::ranges::none_of(terrain, given))
        out.push_back({std::string(kTerrainNames) + "  (" + std::string(kTerrainLabel) + ")",
                       std::string(kTerrainNames)});
    return out;
}

std::string complete(std::string_view typed, const Choice& choice) {
    return std::string(typed.substr(0, typingFrom(typed))) + choice.inserted;
}

Dropped dropped(const std::vector<std::filesystem::path>& items) {
    if (items.empty()) return {{}, "the drop named no file."};
    if (items.size() > 1) return {{}, "drop one map at a time."};
    const std::filesystem::path& item = items.front();
    if (item.empty()) return {{}, "the drop is not a file on this computer."};
    const std::string name = platform::toUtf8(item.has_filename() ? item.filename() : item.parent_path().filename());
    try {
        const platform::Kind kind = platform::status(item).kind;
        if (kind == platform::Kind::Regular) return {item, {}};
        if (kind == platform::Kind::Folder) return {{}, name + " is a folder, not a map."};
    } catch (const platform::Error&) {
    }
    return {{}, name + " is not a file that can be read."};
}

std::optional<std::string> commandLineAnswer(const std::vector<std::string>& args) {
    if (args.size() != 2) return std::nullopt;
    if (args[1] == "--version") return "graftwell " + productVersion();
    if (args[1] == "--help" || args[1] == "-h")
        return "usage: graftwell [--version | --help]\n"
               "Opens the window that copies sections of one StarCraft map's scenario into another:\n"
               "pick the map to edit and the map to splice, name the sections, press Copy Section,\n"
               "then Save. Scripts use graftwell-cli, which runs the same procedures.";
    return std::nullopt;
}

std::optional<std::string> runProcedure(bool& busy, std::string_view what, Procedure procedure,
                                        splice::FrontEnd& frontEnd, const splice::WorkFolder& work) {
    if (busy) return std::nullopt;
    busy = true;
    splice::Result r;
    try {
        r = procedure(frontEnd, work);
    } catch (const std::exception& e) {
        // The procedures end with their own line; this one did not get that far.
        r = {false, e.what()};
        frontEnd.setStatus(splice::failedLine(what, r.error));
    }
    busy = false;
    if (r || r.quiet) return std::nullopt;
    return std::string(what) + std::string(kFailed) + r.error;
}

} // namespace ui::layout
