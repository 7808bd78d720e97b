// What the procedures share: how a run of steps ends, the request a Copy
// Section reads from its front end once, and how paths and names read in messages.
#pragma once

#include "splice.h"

#include <functional>
#include <stdexcept>

namespace splice {

// A refusal of ours, as opposed to a platform or component failure.
class Refusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A refusal the user chose or can expect; the status line already says so.
class Quiet : public Refusal {
public:
    using Refusal::Refusal;
};

// Runs a procedure's steps: each step puts its message up first. The first
// failure ends the run; unless `lastLineMine`, the status line then says, in one
// line, that `what` failed and why. Errors about files in the working folder
// name the folder.
Result run(FrontEnd& fe, const WorkFolder& work, std::string_view what, const std::function<void()>& body,
           bool lastLineMine = false);

// Runs `f`; an error it raises about the map, or about one of its working copies,
// names the map by its file name instead.
void aboutMap(const std::filesystem::path& map, std::initializer_list<std::filesystem::path> copies,
              const std::function<void()>& f);

// Paths in records, as UTF-8.
std::string text(const std::filesystem::path& p);
// A map as messages name it: its file name, as the user gave it.
std::string mapName(const std::filesystem::path& p);
// A section name in quotes, bytes outside printable ASCII escaped.
std::string inQuotes(std::string_view name);
// Several names, each in quotes, `between` them.
std::string inQuotes(const std::vector<std::string>& names, std::string_view between);

// The path a front end shows for a map; refused while no map is chosen.
std::filesystem::path chosenMap(const std::string& path, const char* which);

// Keeps the map as it is before Save replaces it with the working copy, refusing
// when it is no longer the version `before` that Save checked.
void keepForUndo(const WorkPlace& work, const std::filesystem::path& map, const Version& before);

// Refuses, naming the file, a map that this process cannot replace.
void checkWritable(const std::filesystem::path& map, const std::string& name);

// A section name as stored: four bytes, shorter names padded with spaces. Made
// only from a valid name.
class SectionName {
public:
    explicit SectionName(std::string_view given); // throws Refusal
    const std::string& bytes() const { return bytes_; }
    std::string quoted() const { return inQuotes(bytes_); }
    bool operator==(const SectionName&) const = default;

private:
    std::string bytes_;
};

// A map's place in the working folder and its lock, taken by the first procedure
// of a run and kept by the next, so that nothing comes between them.
struct Hold {
    std::optional<WorkPlace> place;
    platform::Lock lock;
    // The place of `map`, locked (see lockPlace); `step` is the status line to put back after waiting.
    const WorkPlace& take(FrontEnd& fe, const WorkFolder& work, const std::filesystem::path& map,
                          const std::string& step);
};
Result copySection(FrontEnd& fe, const WorkFolder& work, Hold& hold);
Result save(FrontEnd& fe, const WorkFolder& work, Hold& hold);

// Copy Section's inputs, read from the front end once.
struct CopyRequest {
    std::filesystem::path edit, splice;
    std::string editShown, spliceShown; // as the front end gave them
    std::vector<SectionName> names; // at least one, none twice
    bool carry = true;              // the texts and sound files the names name go with them

    static CopyRequest from(FrontEnd& fe); // throws Refusal
    std::vector<std::string> nameBytes() const;
};

// Copy Section's carrying step over the temporary chunk file: the notes for the
// user (locations and switches whose names differ) and the sound files carried.
struct CarryOutcome {
    std::vector<std::string> notes;
    std::vector<Record::Sound> sounds;
};
CarryOutcome carryStep(FrontEnd& fe, const WorkPlace& place, const CopyRequest& req);

} // namespace splice
