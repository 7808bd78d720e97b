// The two windows described once, as a classic dialog template is: each control's
// name, kind, text, place in twips, tab order and look. The Qt window and the
// Win32 window both render these tables; neither holds a coordinate or a text of
// its own. No toolkit type appears here, so both builds compile it.
#pragma once

#include "splice.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ui::layout {

// 1440 twips to the inch: 15 twips are one pixel at 96 dots per inch.
constexpr int kTwipsPerInch = 1440;
constexpr int kBaseDpi = 96;
constexpr int px(int twips, int dpi = kBaseDpi) { return twips * dpi / kTwipsPerInch; }

struct Rect {
    int left = 0, top = 0, width = 0, height = 0; // twips
};

enum class Kind {
    Label,     // static text
    PathLabel, // static text that shows a map's path, fitted to its lines by fitPath
    Line,      // a one-pixel separator in the text colour
    Button,
    TextBox,
    Frame,     // a container; its children are placed from its inner top left
};

// How a control differs from the window's plain look.
enum Note : unsigned {
    kPlain = 0,
    kBold = 1,        // the window font at kBoldWeight
    kGreyText = 2,    // the system's grey-text colour
    kSunken = 4,      // a sunken 3-D border
};

struct Control {
    int id;                 // stable control id: the Win32 window's child id, and what a test looks it up by
    Kind kind;
    std::string_view name;  // object name; members of a control array end in _index
    std::string_view text;  // initial text
    Rect rect;
    int tabIndex;           // position in the tab order; only buttons and text boxes take the focus
    unsigned notes = kPlain;
    std::string_view parent = {}; // the frame it sits in, or the window
    int maxLength = 0;      // text boxes: characters accepted, 0 for any

    bool focusable() const { return kind == Kind::Button || kind == Kind::TextBox; }
};

struct Window {
    std::string_view name;
    std::string caption;
    int clientWidth, clientHeight; // twips
    bool resizable;
    // In creation order, which is also bottom-to-top: labels and lines lie beneath
    // the controls listed after them.
    std::span<const Control> controls;

    // The control of that name; throws std::out_of_range for a name not in the table.
    const Control& operator[](std::string_view controlName) const;
    // The controls that take the focus, in tab order.
    std::vector<const Control*> tabOrder() const;
    // Twips from a label's or a button's left edge to where its text must end: a
    // button's inside its frame, a label's before the control beside it, which it
    // would otherwise run under. A renderer narrows a font whose text runs past.
    int textRoom(const Control& c) const;
    // The room of each line of `lineHeight` twips that fits in a label, top down:
    // the lines beside a control end before it, as textRoom says.
    std::vector<int> lineRooms(const Control& c, int lineHeight) const;
};

// The window font: "MS Sans Serif" 8.25 pt, regular, bold where noted.
inline constexpr std::string_view kFontFace = "MS Sans Serif";
inline constexpr double kFontPoints = 8.25;
inline constexpr int kRegularWeight = 400, kBoldWeight = 700;

// "1.0.0" and "Graftwell 1.0 BETA", from the project version.
std::string productVersion();
std::string productCaption();

const Window& mainWindow();
const Window& aboutWindow();

// Texts the main window shows besides its controls'.
inline constexpr std::string_view kOpenTitle = "Open";
struct FileType {
    std::string_view description, patterns; // patterns separated by ';'
};
inline constexpr FileType kMapFileTypes[] = {
    {"StarCraft/Brood War Scenarios", "*.scm;*.scx"},
    {"All Files", "*.*"},
};
inline constexpr std::string_view kLoaded = "Loaded ";             // followed by the path picked
inline constexpr std::string_view kNotLoaded = "Nothing loaded: "; // followed by why a drop picked nothing
inline constexpr std::string_view kDropOnARow = "drop the map on the row of the map to edit or to splice.";
inline constexpr std::string_view kFailed = " failed:\n\n";        // after the procedure's name, before why
inline constexpr std::string_view kConfirmTail = "\n\nCopy the section anyway?";
inline constexpr std::string_view kStatusTip = "\n\nCtrl+Z undoes the last Save.";
inline constexpr std::string_view kCopy = "Copy Section", kSave = "Save", kUndo = "Undo";
inline constexpr std::string_view kEllipsis = "\u2026";

// Measures a UTF-8 text in pixels, in the font a control draws it with.
using Measure = std::function<int(std::string_view)>;

// A path as a path label shows it, one string per line, each within its room
// (pixels): broken after its separators, the file name whole where any room
// allows, and when the lines are too few, folders from the middle replaced by
// "…", keeping the first (the drive or root) and as many of the last as fit.
std::vector<std::string> fitPath(std::string_view path, std::span<const int> rooms, const Measure& width);
// A status text on its one line of `room` pixels: whole when it fits; a path
// after "Loaded " shortened by fitPath; anything else cut with "…".
std::string fitStatus(std::string_view text, int room, const Measure& width);

// What the section box shows for the names Copy Section stored: their padding
// dropped, separated by spaces, as the box reads them back.
std::string sectionText(const std::vector<std::string>& names);

// The three sections of a map's terrain, which the completion list offers as one choice.
inline constexpr std::string_view kTerrainNames = "MTXM TILE ISOM";
inline constexpr std::string_view kTerrainLabel = "terrain";

// A line of the completion list.
struct Choice {
    std::string shown;    // what the list shows
    std::string inserted; // what takes the place of the name being typed
    bool operator==(const Choice&) const = default;
};

// Maps are a few megabytes at most; a far larger file is not read for completions,
// so that a focus change never stalls the window.
inline constexpr unsigned long long kMaxCompletionRead = 16ull * 1024 * 1024;

// The section names the section box offers: either map's, as the game reads them,
// those a user can type in the box (no space, comma or control character but the
// padding), each once. A map too large or not a file offers none.
class Completions {
public:
    // Reads the maps again where one changed since; true when it did.
    bool refresh(const std::vector<std::filesystem::path>& maps);
    const std::vector<std::string>& names() const { return names_; }
    // The choices for the box's text, which ends in the name being typed: the
    // names that begin with it, ignoring case, then the terrain where one of its
    // names or its label does. None that the box already holds elsewhere; none
    // while no name is being typed.
    std::vector<Choice> choices(std::string_view typed) const;

private:
    std::string key_; // each map's path, size and time at the last read
    std::vector<std::string> names_;
};

// The box's text with the name being typed replaced by the choice.
std::string complete(std::string_view typed, const Choice& choice);

// A drop picks the map it names when it names exactly one file; otherwise it
// says why not. An empty path stands for an item that is not a local file.
struct Dropped {
    std::filesystem::path map; // empty when nothing is picked
    std::string why;           // for the status line, after kNotLoaded
};
Dropped dropped(const std::vector<std::filesystem::path>& items);

// What the window's program prints in place of opening its window, for
// "--version" and "--help"; nothing for any other command line, which the
// window then takes. Both windows' programs answer the same.
std::optional<std::string> commandLineAnswer(const std::vector<std::string>& args);

// Runs a procedure for a window: never two at once on the same working files
// (a yield dispatches events that may ask for another), an exception counts as
// a failure. A failure leaves splice::failedLine() on the status line and gives the
// error to show ("Save failed: ..."); nothing where the status line says all:
// success, a quiet failure (a declined warning, nothing to undo) or a run
// refused while another is busy.
using Procedure = splice::Result (*)(splice::FrontEnd&, const splice::WorkFolder&);
std::optional<std::string> runProcedure(bool& busy, std::string_view what, Procedure procedure,
                                        splice::FrontEnd& frontEnd, const splice::WorkFolder& work);

} // namespace ui::layout
