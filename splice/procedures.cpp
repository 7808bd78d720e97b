#include "splice.h"

#include "archive.h"
#include "fileops.h"
#include "copy.h"
#include "modFunctions.h"
#include "platform.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <new>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace splice {

namespace {

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

// Paths in messages and records, as UTF-8.
std::string text(const fs::path& p) { return platform::toUtf8(p); }

// Runs a procedure's steps: each step puts its message up first; the first
// failure ends the run with that message left in the status line.
template <typename Body>
Result run(Body body) {
    try {
        body();
        return {};
    } catch (const Quiet& e) {
        return {false, e.what(), true};
    } catch (const std::bad_alloc&) {
        return {false, "out of memory"};
    } catch (const fs::filesystem_error& e) {
        // what() reads "filesystem error: <operation>: <reason> [path]"; lead with the path.
        std::string what = e.what();
        if (const auto colon = what.find(": "); colon != std::string::npos) what = what.substr(colon + 2);
        if (const auto bracket = what.rfind(" ["); bracket != std::string::npos) what.resize(bracket);
        return {false, e.path1().empty() ? what : text(e.path1()) + ": " + what};
    } catch (const std::exception& e) {
        return {false, e.what()};
    }
}

// Archive errors on a working copy name the map the user chose instead.
template <typename F>
void onCopyOf(const fs::path& copy, const fs::path& map, F f) {
    try {
        f();
    } catch (const archive::ArchiveError& e) {
        std::string what = e.what();
        const std::string prefix = text(copy);
        if (what.rfind(prefix, 0) == 0) what = text(map) + what.substr(prefix.size());
        throw Refusal(what);
    }
}

fs::path chosenMap(const std::string& path, const char* which) {
    if (path == kNoMapLoaded || path.empty())
        throw Refusal(std::string("no map chosen: pick the ") + which + " with Browse first");
    return platform::fromUtf8(path);
}

// ---- what the game reads --------------------------------------------------

std::string inQuotes(std::string_view s) { return "\"" + chunk::printable(s) + "\""; }

// Why a chunk file holds no section of the name that the game reads.
std::string noSection(const std::string& mapLabel, const chunk::GameView& view, const std::string& name,
                      const fs::path& file) {
    std::string why = mapLabel + " has no section " + inQuotes(name);
    const auto& found = view.of(name);
    if (!found.empty()) {
        const chunk::Instance& in = view.instances()[found.back()];
        why += " that the game reads: " +
               (found.size() == 1 ? std::string("its only one ") : "each of its " + std::to_string(found.size()) + " ") +
               (in.use == chunk::Use::Jump ? "has a negative length"
                                           : "is shorter than the " + std::to_string(chunk::ruleFor(name).min) +
                                                 " bytes the game needs");
        if (found.size() > 1)
            why += " or has a negative length";
    }
    return why + " (its chunk file " + text(file) + ")";
}

bool isTerrain(const std::string& name) { return name == "MTXM" || name == "TILE" || name == "ISOM"; }

// Terrain is laid out by the map's dimensions and given meaning by its tileset:
// copied between maps that differ in either, it makes a broken map.
void checkCompatible(FrontEnd& fe, const chunk::GameView& a, const chunk::GameView& b, const std::string& name) {
    if (!isTerrain(name)) return;
    const auto da = chunk::dimensionsOf(a), db = chunk::dimensionsOf(b);
    const auto ta = chunk::tilesetOf(a), tb = chunk::tilesetOf(b);
    std::string warning;
    if (da && db && !(*da == *db))
        warning = "the maps differ in size: the map to edit is " + std::to_string(da->width) + "x" +
                  std::to_string(da->height) + ", the map to splice " + std::to_string(db->width) + "x" +
                  std::to_string(db->height);
    if (ta && tb && *ta != *tb)
        warning += std::string(warning.empty() ? "the maps" : "; they also") +
                   " differ in tileset: the map to edit has the " + std::string(chunk::tilesetName(*ta)) +
                   " tileset, the map to splice the " + std::string(chunk::tilesetName(*tb)) + " tileset";
    if (warning.empty()) return;
    warning = "Copying " + inQuotes(name) + " between these maps makes a broken map: " + warning + ".";
    if (!fe.confirm(warning)) throw Quiet(warning);
}

void appendSpans(const fs::path& out, const std::vector<std::span<const uint8_t>>& spans) {
    for (const auto s : spans) fileops::writeFile(out, s, true);
}

// ---- versions of files, and the record of what Copy Section copied --------

// A version of a file by its content: a touched but unchanged map is the same version.
struct Version {
    uintmax_t size = 0;
    uint64_t hash = 0;
    bool operator==(const Version&) const = default;
};

Version versionOf(const fileops::Stamp& s) { return {s.size, s.hash}; }
Version versionOf(const fs::path& p) { return versionOf(fileops::stampOf(p)); }

struct Record {
    std::string map, spliceMap;        // as canonical paths
    std::vector<std::string> sections; // normalized
    Version copied;                    // the map as Copy Section copied it
    Version chunk;                     // the temporary chunk file it made
    // Whether that map already holds the temporary chunk file, so that Save need
    // not decode the map again to find out; unknown in an older record.
    std::optional<bool> holdsChunk;
};

fs::path canonicalMap(const fs::path& p) { return fs::weakly_canonical(fs::absolute(p)); }

std::span<const uint8_t> bytesOf(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Section names are any four bytes: the record keeps them in hex.
std::string hexOf(const std::string& name) {
    std::ostringstream out;
    for (const unsigned char c : name) out << std::hex << (c >> 4) << (c & 15);
    return out.str();
}

void writeRecord(const WorkFolder& work, const Record& r) {
    std::ostringstream out;
    out << "graftwell-record 3\n" << r.map << '\n' << r.spliceMap << '\n' << r.sections.size();
    for (const auto& n : r.sections) out << ' ' << hexOf(n);
    out << '\n' << r.copied.size << ' ' << r.copied.hash << '\n' << r.chunk.size << ' ' << r.chunk.hash << '\n';
    if (r.holdsChunk) out << (*r.holdsChunk ? 1 : 0) << '\n';
    platform::writeReplacing(work.record(), bytesOf(out.str()));
}

bool readRecord(const WorkFolder& work, Record& r) {
    std::ifstream in(work.record());
    std::string magic;
    if (!std::getline(in, magic) || magic != "graftwell-record 3") return false;
    if (!std::getline(in, r.map) || !std::getline(in, r.spliceMap)) return false;
    size_t count = 0;
    in >> count;
    for (size_t i = 0; i < count && i < 64 && in; ++i) {
        std::string hex;
        in >> hex;
        std::string name;
        for (size_t k = 0; k + 1 < hex.size(); k += 2) {
            unsigned byte = 0;
            if (std::from_chars(hex.data() + k, hex.data() + k + 2, byte, 16).ec != std::errc()) return false;
            name += static_cast<char>(byte);
        }
        r.sections.push_back(name);
    }
    in >> r.copied.size >> r.copied.hash >> r.chunk.size >> r.chunk.hash;
    if (!in || r.sections.size() != count) return false;
    if (int holds = 0; in >> holds) r.holdsChunk = holds == 1;
    return true;
}

// ---- what undoing the last Save needs --------------------------------------

struct UndoRecord {
    std::string map;
    Version before, after;
};

bool readUndoRecord(const WorkFolder& work, UndoRecord& u) {
    std::ifstream in(work.undoRecord());
    std::string magic;
    if (!std::getline(in, magic) || magic != "graftwell-undo 1") return false;
    if (!std::getline(in, u.map)) return false;
    in >> u.before.size >> u.before.hash >> u.after.size >> u.after.hash;
    return static_cast<bool>(in);
}

// Keeps the map as it is before Save replaces it with the working copy. A Save
// that changes nothing (a second one after the same Copy Section, or a rerun of
// one cut short after its rename) keeps the record of the last one that did.
void keepForUndo(const WorkFolder& work, const fs::path& map, const Version& before) {
    const Version after = versionOf(work.editCopy());
    if (before == after) return;
    // The old record goes first: it must never describe a half-written copy.
    if (fs::exists(work.undoRecord())) fs::remove(work.undoRecord());
    fileops::copyFile(map, work.undoCopy());
    if (!(versionOf(work.undoCopy()) == before))
        throw Refusal(text(map) + ": the map changed while it was being kept for undo; nothing was changed");
    std::ostringstream out;
    out << "graftwell-undo 1\n" << text(map) << '\n' << before.size << ' ' << before.hash << '\n'
        << after.size << ' ' << after.hash << '\n';
    platform::writeReplacing(work.undoRecord(), bytesOf(out.str()));
}

// ---- Copy Section ---------------------------------------------------------

// Steps 12 to 30 for one name: `first` with what the game reads for the name made
// what it reads in `second`, written to `out` in three parts.
void spliceOne(FrontEnd& fe, const fs::path& first, const fs::path& second, const fs::path& out) {
    const std::string name = chunk::normalizeName(fe.sectionName());
    const chunk::MappedFile fa(first), fb(second);
    const chunk::Rope ra(fa.bytes()), rb(fb.bytes());
    const auto walk = [](const chunk::Rope& r, const fs::path& file) {
        try {
            return chunk::GameView(r);
        } catch (const chunk::ChunkError& e) {
            throw Refusal(text(file) + ": " + e.what());
        }
    };
    const chunk::GameView edit = walk(ra, first), splice = walk(rb, second);
    checkCompatible(fe, edit, splice, name);

    fe.setStatus("Grabbing data from first map...");
    if (!edit.loaded(name)) throw Refusal(noSection("the map to edit", edit, name, first));
    // Everything before the name's first instance stays as it is.
    uint64_t leading = ra.size();
    for (const size_t i : edit.of(name)) leading = std::min(leading, edit.instances()[i].pos);
    fe.yield();

    fe.setStatus("Creating temporary chk file...");
    fileops::writeFile(out, {}, false);
    fe.yield();

    fe.setStatus("Inserting data to temporary chk file...");
    appendSpans(out, ra.spans(0, leading));
    fe.yield();

    fe.setStatus("Checking offset and length of section...");
    if (!splice.loaded(name)) throw Refusal(noSection("the map to splice", splice, name, second));
    chunk::Copied copied = [&] {
        try {
            return chunk::copySection(edit, splice, name);
        } catch (const chunk::ChunkError& e) {
            throw Refusal("the map to edit: " + inQuotes(name) + " cannot be copied so that the game reads it: " +
                          e.what() + " (its chunk file " + text(first) + ")");
        }
    }();
    fe.yield();

    fe.setStatus("Grabbing section from second map...");
    const auto section = copied.file.spans(leading, copied.sectionEnd);
    fe.yield();

    fe.setStatus("Inserting data to temporary chk file...");
    appendSpans(out, section);
    fe.yield();

    fe.setStatus("Checking offset and length of rest of file...");
    fe.yield();

    fe.setStatus("Grabbing data from first map...");
    const auto rest = copied.file.spans(copied.sectionEnd, copied.file.size());
    fe.yield();

    fe.setStatus("Inserting data to temporary chk file...");
    appendSpans(out, rest);
    fe.yield();
}

// Front end whose section name is fixed for one pass of a several-name run.
class OneName : public FrontEnd {
public:
    OneName(FrontEnd& inner, std::string name) : inner_(inner), name_(std::move(name)) {}
    std::string mapEditPath() override { return inner_.mapEditPath(); }
    std::string mapSplicePath() override { return inner_.mapSplicePath(); }
    std::string sectionName() override { return name_; }
    void setStatus(const std::string& text) override { inner_.setStatus(text); }
    void yield() override { inner_.yield(); }
    bool confirm(const std::string& warning) override { return inner_.confirm(warning); }

private:
    FrontEnd& inner_;
    std::string name_;
};

Result copyRun(FrontEnd& fe, const WorkFolder& work, const std::vector<std::string>* names) {
    bool cleaned = false;
    Result result = run([&] {
        fe.setStatus("Deleting temp files...");
        // Refuse what cannot work before the working folder is touched.
        chosenMap(fe.mapEditPath(), "map to edit");
        chosenMap(fe.mapSplicePath(), "map to splice");
        std::vector<std::string> normalized;
        if (names) {
            if (names->empty()) throw Refusal("no section name given");
            for (const auto& n : *names) {
                const std::string k = chunk::normalizeName(n);
                if (std::find(normalized.begin(), normalized.end(), k) != normalized.end())
                    throw Refusal("section " + inQuotes(k) + " is named twice");
                normalized.push_back(k);
            }
        } else {
            chunk::normalizeName(fe.sectionName());
        }
        work.cleanUp();
        cleaned = true;
        work.ensureFolder();
        fe.yield();

        fe.setStatus("Copying maps...");
        const fs::path editMap = chosenMap(fe.mapEditPath(), "map to edit");
        // Save later checks the map against this stamp; the copy must match it,
        // or the map changed while it was being copied.
        const fileops::Stamp stamp = fileops::stampOf(editMap);
        fileops::copyFile(editMap, work.editCopy());
        if (fileops::hashFile(work.editCopy()) != stamp.hash)
            throw Refusal(text(editMap) + ": the map changed while it was being copied");
        const fs::path spliceMap = chosenMap(fe.mapSplicePath(), "map to splice");
        fileops::copyFile(spliceMap, work.spliceCopy());
        fe.yield();

        fe.setStatus("Extracting scenario.chk...");
        onCopyOf(work.editCopy(), editMap, [&] { archive::extract(work.editCopy(), kChunkMember, work.folder()); });
        fs::rename(work.extracted(), work.firstChunk());
        onCopyOf(work.spliceCopy(), spliceMap, [&] { archive::extract(work.spliceCopy(), kChunkMember, work.folder()); });
        fs::rename(work.extracted(), work.secondChunk());
        fe.yield();

        if (!names) {
            spliceOne(fe, work.firstChunk(), work.secondChunk(), work.tempChunk());
        } else {
            for (size_t i = 0; i < normalized.size(); ++i) {
                OneName one(fe, (*names)[i]);
                fs::path first = work.firstChunk();
                if (i > 0) {
                    fs::rename(work.tempChunk(), work.intermediate());
                    first = work.intermediate();
                }
                spliceOne(one, first, work.secondChunk(), work.tempChunk());
            }
        }

        Record r;
        r.map = text(canonicalMap(editMap));
        r.spliceMap = text(canonicalMap(spliceMap));
        r.sections = names ? normalized : std::vector<std::string>{chunk::normalizeName(fe.sectionName())};
        r.copied = versionOf(stamp);
        r.chunk = versionOf(work.tempChunk());
        r.holdsChunk = fileops::sameContent(work.firstChunk(), work.tempChunk());
        writeRecord(work, r);
        fe.setStatus("Done!");
    });
    if (!cleaned) return result;
    // A declined warning leaves the last Copy Section's files as they were, ready for Save.
    try {
        if (result.quiet) {
            work.restorePrevious();
            fe.setStatus("Copy Section cancelled.");
        } else {
            work.dropPrevious();
        }
    } catch (const std::exception&) {
        if (result.quiet) fe.setStatus("Copy Section cancelled: run Copy Section again before Save.");
    }
    return result;
}

// What Copy Section copied and what the front end shows now, when they differ.
std::optional<std::string> stale(FrontEnd& fe, const Record& r) {
    const auto shown = fe.shownInputs();
    if (!shown) return std::nullopt;
    const auto names = [](const std::vector<std::string>& list) {
        std::string out;
        for (const auto& n : list) out += (out.empty() ? "" : ", ") + inQuotes(n);
        return out;
    };
    std::vector<std::string> sections;
    try {
        for (const auto& n : shown->sections) sections.push_back(chunk::normalizeName(n));
    } catch (const chunk::ChunkError&) {
        sections = shown->sections;
    }
    std::string splice = shown->spliceMap;
    if (splice != kNoMapLoaded && !splice.empty()) splice = text(canonicalMap(platform::fromUtf8(splice)));
    if (splice == r.spliceMap && sections == r.sections) return std::nullopt;
    return "Copy Section copied " + names(r.sections) + " from " + r.spliceMap + ", but the window now shows " +
           names(shown->sections) + " from " + shown->spliceMap;
}

// ---- Save -----------------------------------------------------------------

void checkWritable(const fs::path& map) {
    switch (platform::writeAccess(map)) {
    case platform::Access::Writable:
        break;
    case platform::Access::ReadOnly:
        throw Refusal(text(map) + ": the map is read-only; nothing was changed");
    case platform::Access::InUse:
        throw Refusal(text(map) + ": the map is open in another program; close it there and save again; "
                                  "nothing was changed");
    case platform::Access::Denied:
        throw Refusal(text(map) + ": the map cannot be written; nothing was changed");
    }
    const fs::path dir = map.parent_path();
    if (platform::writeAccess(dir) != platform::Access::Writable)
        throw Refusal(text(dir) + ": the map's folder cannot be written; nothing was changed");
}

} // namespace

Result copySection(FrontEnd& fe, const WorkFolder& work) { return copyRun(fe, work, nullptr); }

Result copySections(FrontEnd& fe, const WorkFolder& work, const std::vector<std::string>& names) {
    return copyRun(fe, work, &names);
}

Result save(FrontEnd& fe, const WorkFolder& work) {
    return run([&] {
        fe.setStatus("Adding temp chk file to temp map...");
        const fs::path map = canonicalMap(chosenMap(fe.mapEditPath(), "map to edit"));
        const std::string again = ": run Copy Section first; nothing was changed";
        if (!fs::is_regular_file(work.editCopy()))
            throw Refusal("the working folder " + text(work.folder()) + " holds no working copy of a map" + again);
        if (!fs::is_regular_file(work.tempChunk()))
            throw Refusal("the working folder " + text(work.folder()) + " holds no temporary chunk file" + again);
        Record r;
        if (!readRecord(work, r))
            throw Refusal("the working folder " + text(work.folder()) +
                          " does not say which map Copy Section copied" + again);
        if (r.map != text(map))
            throw Refusal("the working files were made for " + r.map + ", not for " + text(map) + again);
        if (const auto why = stale(fe, r))
            throw Refusal(*why + ": run Copy Section again; nothing was changed");
        if (!fs::exists(map))
            throw Refusal(text(map) + ": the map is gone since Copy Section" + again);
        // The map as Copy Section copied it, or as a Save wrote it (the working copy:
        // also after a Save cut short past its rename), whatever its modification time.
        const Version now = versionOf(map);
        if (!(now == r.copied) && !(now == versionOf(work.editCopy())))
            throw Refusal(text(map) + ": the map has changed on disk since Copy Section" + again);
        if (!(versionOf(work.tempChunk()) == r.chunk))
            throw Refusal(text(work.tempChunk()) + ": the temporary chunk file has changed since Copy Section" + again);

        // A map that already holds this chunk file is left as it is, and nothing is kept for undo.
        const std::vector<uint8_t> made = chunk::readFile(work.tempChunk());
        bool unchanged = false;
        if (now == r.copied && r.holdsChunk) {
            unchanged = *r.holdsChunk;
        } else {
            try {
                unchanged = archive::readMember(map, kChunkMember) == made;
            } catch (const archive::ArchiveError&) {
            }
        }
        if (!unchanged) {
            checkWritable(map);
            // While the working copy is the map Copy Section copied, its chunk file is the one Copy
            // Section extracted: the edit takes over the sectors the new one repeats without decoding them.
            std::vector<uint8_t> current;
            if (versionOf(work.editCopy()) == r.copied && fs::is_regular_file(work.firstChunk()))
                current = chunk::readFile(work.firstChunk());
            // The edit checks what it wrote (the chunk file and every other member) before it replaces the copy.
            onCopyOf(work.editCopy(), map, [&] {
                archive::edit(work.editCopy(), {archive::Change::replace(std::string(kChunkMember), made, current)});
            });
            keepForUndo(work, map, now);
        }
        fe.yield();

        // The old map is replaced, not deleted, in the next step: it stays
        // whole on disk until the new one takes its name in a single rename.
        fe.setStatus("Deleting old map file...");
        const fs::path target = canonicalMap(chosenMap(fe.mapEditPath(), "map to edit"));
        if (target != map)
            throw Refusal("the map to edit changed during Save; nothing was changed");
        if (!unchanged) checkWritable(target);
        fe.yield();

        fe.setStatus("Copying modified map...");
        if (!unchanged) fileops::replaceAtomically(work.editCopy(), target);
        fe.yield();

        fe.setStatus("Save successful!");
    });
}

Result undo(FrontEnd& fe, const WorkFolder& work) {
    return run([&] {
        fe.setStatus("Restoring map from before last save...");
        const fs::path map = canonicalMap(chosenMap(fe.mapEditPath(), "map to edit"));
        const std::string unchanged = "; nothing was changed";
        // Nothing to undo is no failure: the status line says so.
        const auto nothing = [&](const std::string& why) {
            fe.setStatus("Nothing to undo.");
            throw Quiet(why + unchanged);
        };
        UndoRecord u;
        if (!readUndoRecord(work, u) || !fs::is_regular_file(work.undoCopy()))
            nothing("the working folder " + text(work.folder()) + " holds no Save to undo");
        if (u.map != text(map))
            nothing("the last Save kept in the working folder was of " + u.map + ", not of " + text(map));
        if (!fs::exists(map))
            throw Refusal(text(map) + ": the map is gone since the last Save" + unchanged);
        const Version now = versionOf(map);
        if (now == u.before)
            nothing(text(map) + ": the map is already as it was before the last Save");
        if (!(now == u.after))
            throw Refusal(text(map) + ": the map has changed on disk since the last Save" + unchanged);
        if (!(versionOf(work.undoCopy()) == u.before))
            throw Refusal(text(work.undoCopy()) + ": the kept copy of the map is damaged" + unchanged);
        checkWritable(map);
        fileops::replaceAtomically(work.undoCopy(), map);
        // Only the last Save is undone. Should the record outlive this, a second
        // undo still finds the map as it was before and is refused.
        std::error_code ignored;
        fs::remove(work.undoRecord(), ignored);
        fs::remove(work.undoCopy(), ignored);
        fe.yield();

        fe.setStatus("Undo successful!");
    });
}

std::vector<std::string> sectionNames(const fs::path& map) {
    try {
        const auto data = archive::readMember(map, kChunkMember);
        const chunk::Rope file(data);
        const chunk::GameView view(file);
        std::vector<std::string> names;
        for (const auto& n : view.names())
            if (view.loaded(n)) names.push_back(n);
        return names;
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace splice
