// The working folder: for each map to edit, the files that carry a Copy Section
// over to its Save and the map kept for undoing the last Save, with the records
// that say what they are, in a place of its own that one procedure at a time holds.
#pragma once

#include "platform.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace splice {

class FrontEnd;

// One map's place in the working folder and its fixed names.
class WorkPlace {
public:
    explicit WorkPlace(std::filesystem::path folder) : folder_(std::move(folder)) {}

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path editCopy() const;     // ~temp1.map
    std::filesystem::path spliceCopy() const;   // ~temp2.map
    std::filesystem::path extracted() const;    // scenario.chk
    std::filesystem::path firstChunk() const;   // scenario1.chk
    std::filesystem::path secondChunk() const;  // scenario2.chk
    std::filesystem::path tempChunk() const;    // scenariox.chk
    std::filesystem::path record() const;       // ~record.txt: what Copy Section copied
    std::filesystem::path intermediate() const; // ~scenarioy.chk: between two sections of one run
    // The map as it was before the last Save, and its versions before and after.
    // Copy Section leaves both: a Save stays undoable while another copy is tried.
    std::filesystem::path undoCopy() const;     // ~undo.map
    std::filesystem::path undoRecord() const;   // ~undo.txt
    std::filesystem::path previous() const;     // ~previous: the last run's files, set aside
    std::filesystem::path lockFile() const;     // ~lock
    // A sound file Copy Section carries, as its archive stores it.
    std::filesystem::path soundFile(size_t k) const; // ~sound<k>.member

    // Sets the working files that are ordinary files aside in previous(), so that a
    // run that fails or is cancelled can put them back; anything else is left.
    void cleanUp() const;
    // Puts the files set aside, if any, back in place of the run's own.
    void restorePrevious() const;
    // Deletes the files set aside.
    void dropPrevious() const;

private:
    std::filesystem::path folder_;
};

// The working folder "temp" inside the program folder.
class WorkFolder {
public:
    explicit WorkFolder(std::filesystem::path programFolder);

    const std::filesystem::path& programFolder() const { return program_; }
    std::filesystem::path folder() const;   // temp
    std::filesystem::path lastSave() const; // temp/~last-save.txt: which map the last Save was of
    // The place of a map to edit, named from the map's identity: every name of the
    // file (other spellings, letter case, short names, links, relative paths) and
    // every version a Save writes has the same place; other maps never share it.
    WorkPlace placeOf(const std::filesystem::path& map) const;
    // Creates "temp" and the place unless something of that name exists; a plain
    // file in the way makes the later steps fail clearly.
    void ensure(const WorkPlace& place) const;

private:
    std::filesystem::path program_;
};

// Waiting this long for another Graftwell to finish with a map is long enough for
// any Save; beyond it the other one is stuck, and the user is told.
inline constexpr int kLockWaitMs = 5000;

// Holds the place's lock for as long as it lives. While another process holds it,
// waits up to kLockWaitMs saying so (and then puts `step` back in the status
// line), or refuses, naming the map.
platform::Lock lockPlace(FrontEnd& fe, const WorkPlace& place, const std::string& mapName, const std::string& step);

// A version of a file by its content: a touched but unchanged map is the same version.
struct Version {
    uintmax_t size = 0;
    uint64_t hash = 0;
    bool operator==(const Version&) const = default;
};
Version versionOf(const std::filesystem::path& file);
// The version of bytes in hand, as a file holding them has.
Version versionOf(std::span<const uint8_t> bytes);

// What Copy Section copied, written when it ends and read by Save.
struct Record {
    std::string map;                   // the map to edit as the front end gave it
    std::string spliceMap;             // the map to splice as the front end gave it
    std::string spliceKey;             // the map to splice's identity (see placeOf)
    std::vector<std::string> sections; // as stored
    Version copied;                    // the map as Copy Section copied it
    Version spliceCopied;              // the map to splice as Copy Section copied it
    Version chunk;                     // the temporary chunk file it made
    // Whether that map already holds the temporary chunk file, so that Save need
    // not decode the map again to find out.
    bool holdsChunk = false;
    // The sound files that go with the copy: the name each gets in the map to edit,
    // and the version of its working file (WorkPlace::soundFile(k), from 1).
    struct Sound {
        std::string name;
        Version file;
        bool operator==(const Sound&) const = default;
    };
    std::vector<Sound> sounds;
};
void writeRecord(const WorkPlace& place, const Record& r);
// Nothing when there is none, or it is of another version or damaged.
std::optional<Record> readRecord(const WorkPlace& place);
std::optional<Record> readRecord(const std::filesystem::path& file);

// Which map the kept undo copy is of, and its versions before and after that Save.
struct UndoRecord {
    std::string map;
    Version before, after;
};
void writeUndoRecord(const WorkPlace& place, const UndoRecord& u);
std::optional<UndoRecord> readUndoRecord(const WorkPlace& place);

// What is at a path, links followed, through the platform layer (which reaches
// long paths and names ending in a space or a dot on Windows).
bool pathExists(const std::filesystem::path& p);
bool isFile(const std::filesystem::path& p);
bool isFolder(const std::filesystem::path& p);

// The file a path names, symbolic links at its end followed: what a Save replaces.
std::filesystem::path followLinks(const std::filesystem::path& map);

// A map's identity as text, for naming its place and telling maps apart; the
// file need not exist (a map that is gone still has a place to be refused from).
std::string mapKey(const std::filesystem::path& map);

} // namespace splice
