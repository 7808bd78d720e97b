// The working folder: the files that carry a Copy Section over to its Save, and
// the map kept for undoing the last Save, with the records that say what they are.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace splice {

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

// A version of a file by its content: a touched but unchanged map is the same version.
struct Version {
    uintmax_t size = 0;
    uint64_t hash = 0;
    bool operator==(const Version&) const = default;
};
Version versionOf(const std::filesystem::path& file);

// What Copy Section copied, written when it ends and read by Save.
struct Record {
    std::string map, spliceMap;        // as canonical paths
    std::string spliceShown;           // the map to splice as the front end gave it
    std::vector<std::string> sections; // as stored
    Version copied;                    // the map as Copy Section copied it
    Version chunk;                     // the temporary chunk file it made
    // Whether that map already holds the temporary chunk file, so that Save need
    // not decode the map again to find out; unknown in an older record.
    std::optional<bool> holdsChunk;
};
void writeRecord(const WorkFolder& work, const Record& r);
// Nothing when there is none, or it is of another version or damaged.
std::optional<Record> readRecord(const WorkFolder& work);

// Which map the kept undo copy is of, and its versions before and after that Save.
struct UndoRecord {
    std::string map;
    Version before, after;
};
void writeUndoRecord(const WorkFolder& work, const UndoRecord& u);
std::optional<UndoRecord> readUndoRecord(const WorkFolder& work);

} // namespace splice
