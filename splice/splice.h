// The working folder and the two procedures of the tool's job, Copy Section
// and Save, written once against a small front-end interface that the window
// and the command-line tool both implement.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace splice {

inline constexpr std::string_view kNoMapLoaded = "No map loaded.";
inline constexpr std::string_view kChunkMember = "staredit\\scenario.chk";
inline constexpr std::string_view kDefaultSection = "TILE";

// What Copy Section copied, besides the map to edit.
struct CopyInputs {
    std::string spliceMap;
    std::vector<std::string> sections;
};

// What a procedure needs of its front end. Values are read afresh at each use.
class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    virtual std::string mapEditPath() = 0;
    virtual std::string mapSplicePath() = 0;
    virtual std::string sectionName() = 0;
    virtual void setStatus(const std::string& text) = 0;
    // Let the front end repaint; no file is open at a yield point.
    virtual void yield() = 0;
    // A warning that the job would likely break the map; true means go on.
    virtual bool confirm(const std::string& warning) = 0;
    // The map to splice and section the front end shows now. Save refuses when they
    // differ from what Copy Section copied, so that it never writes what is not
    // shown; a front end that shows none (a command naming only the map) gives nothing.
    virtual std::optional<CopyInputs> shownInputs() { return std::nullopt; }
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

// The working folder "temp" inside the program folder and its fixed names.
class WorkFolder {
public:
    explicit WorkFolder(std::filesystem::path programFolder);

    const std::filesystem::path& programFolder() const { return program_; }
    std::filesystem::path folder() const;       // temp
    std::filesystem::path editCopy() const;     // temp/~temp1.map
    std::filesystem::path spliceCopy() const;   // temp/~temp2.map
    std::filesystem::path extracted() const;    // temp/scenario.chk
    std::filesystem::path firstChunk() const;   // temp/scenario1.chk
    std::filesystem::path secondChunk() const;  // temp/scenario2.chk
    std::filesystem::path tempChunk() const;    // temp/scenariox.chk
    std::filesystem::path record() const;       // temp/~record.txt: which map Copy Section copied
    std::filesystem::path intermediate() const; // temp/~scenarioy.chk: between two sections of one run
    // The map as it was before the last Save, and which map and versions it belongs to.
    // Copy Section leaves both: a Save stays undoable while another copy is tried.
    std::filesystem::path undoCopy() const;     // temp/~undo.map
    std::filesystem::path undoRecord() const;   // temp/~undo.txt
    std::filesystem::path previous() const;     // temp/~previous: the last run's files, set aside

    // Sets the working files that are ordinary files aside in previous(), so that a
    // run the user cancels can put them back; anything else is left.
    void cleanUp() const;
    // Puts the files set aside, if any, back in place of the run's own.
    void restorePrevious() const;
    // Deletes the files set aside.
    void dropPrevious() const;
    // Creates "temp" unless something of that name exists.
    void ensureFolder() const;

private:
    std::filesystem::path program_;
};

// The executable's folder when it is writable, else the per-user data folder's
// "graftwell", so that an installed copy still has a place to work.
std::filesystem::path defaultProgramFolder();

// Copy Section with the front end's section name.
Result copySection(FrontEnd& fe, const WorkFolder& work);
// Copy Section for several names in turn, each applied to the previous result;
// a name given twice is refused.
Result copySections(FrontEnd& fe, const WorkFolder& work, const std::vector<std::string>& names);
// Save: put the temporary chunk file into the working copy and replace the map.
Result save(FrontEnd& fe, const WorkFolder& work);
// Puts back the map as it was before the last Save that changed it, once.
Result undo(FrontEnd& fe, const WorkFolder& work);

} // namespace splice

namespace splice {
// Section names of a map's chunk file in walk order; empty when it cannot be read.
std::vector<std::string> sectionNames(const std::filesystem::path& map);
} // namespace splice
