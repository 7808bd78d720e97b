// The procedures of the tool's job, Copy Section, Save and Undo, written once
// against a small front-end interface that the windows and the command-line
// tool implement.
#pragma once

#include "workfolder.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace splice {

inline constexpr std::string_view kNoMapLoaded = "No map loaded.";
inline constexpr std::string_view kChunkMember = "staredit\\scenario.chk";
inline constexpr std::string_view kDefaultSection = "TILE";

// What Copy Section copied, besides the map to edit: the map to splice as the
// front end gave it and the section names as stored.
struct CopyInputs {
    std::string spliceMap;
    std::vector<std::string> sections;
};

// What a procedure needs of its front end. A procedure reads the maps and the
// section names once, at its start.
class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    virtual std::string mapEditPath() = 0;
    virtual std::string mapSplicePath() = 0;
    // The sections to copy, as the user gave them; several are copied in one run.
    virtual std::vector<std::string> sectionNames() = 0;
    virtual void setStatus(const std::string& text) = 0;
    // Let the front end repaint; no file is open at a yield point.
    virtual void yield() = 0;
    // A warning that the job would likely break the map; true means go on.
    virtual bool confirm(const std::string& warning) = 0;
    // Something the user should know about a copy that went through (locations
    // whose names differ, terrain the game draws from elsewhere): one line, after
    // the last step, so that a window keeps it in view.
    virtual void note(const std::string& line) { setStatus(line); }
    // Whether Copy Section carries the texts and sound files the copied sections
    // name; false copies the sections' bytes alone.
    virtual bool carryStrings() { return true; }
    // The map to splice and section names the front end shows now. Save refuses when
    // they differ from what Copy Section copied, so that it never writes what is not
    // shown; a front end that shows none (a command naming only the map) gives nothing.
    virtual std::optional<CopyInputs> shownInputs() { return std::nullopt; }
    // After a declined warning or a failed Copy Section has put the last good copy's
    // working files back: show the map to splice and section names of that copy
    // again, so that Save writes what the front end shows.
    virtual void showInputs(const CopyInputs& copied) { (void)copied; }
};

// How a procedure ended. On failure the status line keeps the failing step's
// message and `error` says which file and what is wrong. A quiet failure is one
// the user chose or can expect (a declined warning, nothing to undo): the status
// line says so, and a window shows no error for it.
struct Result {
    bool ok = true;
    std::string error;
    bool quiet = false;
    explicit operator bool() const { return ok; }
};

// The executable's folder when it is writable, else the per-user data folder's
// "graftwell", so that an installed copy still has a place to work.
std::filesystem::path defaultProgramFolder();

// Copy Section: the map to edit's chunk file with what the game reads for each
// section name made what it reads in the map to splice, in the working folder.
Result copySection(FrontEnd& fe, const WorkFolder& work);
// Save: put the temporary chunk file into the working copy and replace the map.
Result save(FrontEnd& fe, const WorkFolder& work);
// Copy Section, then Save, with nothing between them: another Graftwell working
// on the same map waits until both are done.
Result copyAndSave(FrontEnd& fe, const WorkFolder& work);
// Puts back the map as it was before the last Save that changed it, once.
Result undo(FrontEnd& fe, const WorkFolder& work);

// The status line after a failed procedure: what failed and the first clause of
// why, with a path before it shortened to its file name; the error has the rest.
std::string failedLine(std::string_view what, std::string_view error);

// Section names as typed in one box: separated by spaces or commas.
std::vector<std::string> splitSectionNames(std::string_view text);

// Section names of a map's chunk file in walk order; empty when it cannot be read.
std::vector<std::string> sectionNames(const std::filesystem::path& map);

} // namespace splice
