// Save: the temporary chunk file put into the working copy of the map, which
// then takes the map's place in one atomic replace; the map as it was is kept
// for undo.
#include "archive.h"
#include "fileops.h"
#include "platform.h"
#include "steps.h"

namespace fs = std::filesystem;

namespace splice {

namespace {

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
        for (const auto& n : shown->sections) sections.push_back(SectionName(n).bytes());
    } catch (const Refusal&) {
        sections = shown->sections;
    }
    std::string splice = shown->spliceMap;
    if (splice != kNoMapLoaded && !splice.empty()) splice = text(canonicalMap(platform::fromUtf8(splice)));
    if (splice == r.spliceMap && sections == r.sections) return std::nullopt;
    return "Copy Section copied " + names(r.sections) + " from " + r.spliceMap + ", but the window now shows " +
           names(shown->sections) + " from " + shown->spliceMap;
}

// Keeps the map as it is before Save replaces it with the working copy. A Save
// that changes nothing (a second one after the same Copy Section, or a rerun of
// one cut short after its rename) keeps the record of the last one that did.
void keepForUndo(const WorkFolder& work, const fs::path& map, const Version& before) {
    const Version after = versionOf(work.editCopy());
    if (before == after) return;
    // The old record goes first: it must never describe a half-written copy.
    platform::remove(work.undoRecord());
    fileops::copyFile(map, work.undoCopy());
    if (!(versionOf(work.undoCopy()) == before))
        throw Refusal(text(map) + ": the map changed while it was being kept for undo; nothing was changed");
    writeUndoRecord(work, {text(map), before, after});
}

} // namespace

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

Result save(FrontEnd& fe, const WorkFolder& work) {
    return run([&] {
        fe.setStatus("Adding temp chk file to temp map...");
        const fs::path map = canonicalMap(chosenMap(fe.mapEditPath(), "map to edit"));
        const std::string again = ": run Copy Section first; nothing was changed";
        if (!fs::is_regular_file(work.editCopy()))
            throw Refusal("the working folder " + text(work.folder()) + " holds no working copy of a map" + again);
        if (!fs::is_regular_file(work.tempChunk()))
            throw Refusal("the working folder " + text(work.folder()) + " holds no temporary chunk file" + again);
        const std::optional<Record> r = readRecord(work);
        if (!r)
            throw Refusal("the working folder " + text(work.folder()) +
                          " does not say which map Copy Section copied" + again);
        if (r->map != text(map))
            throw Refusal("the working files were made for " + r->map + ", not for " + text(map) + again);
        if (const auto why = stale(fe, *r))
            throw Refusal(*why + ": run Copy Section again; nothing was changed");
        if (!fs::exists(map))
            throw Refusal(text(map) + ": the map is gone since Copy Section" + again);
        // The map as Copy Section copied it, or as a Save wrote it (the working copy:
        // also after a Save cut short past its rename), whatever its modification time.
        const Version now = versionOf(map);
        if (!(now == r->copied) && !(now == versionOf(work.editCopy())))
            throw Refusal(text(map) + ": the map has changed on disk since Copy Section" + again);
        if (!(versionOf(work.tempChunk()) == r->chunk))
            throw Refusal(text(work.tempChunk()) + ": the temporary chunk file has changed since Copy Section" + again);

        // A map that already holds this chunk file is left as it is, and nothing is kept for undo.
        const std::vector<uint8_t> made = fileops::readFile(work.tempChunk());
        bool unchanged = false;
        if (now == r->copied && r->holdsChunk) {
            unchanged = *r->holdsChunk;
        } else {
            try {
                unchanged = archive::readMember(map, kChunkMember) == made;
            } catch (const archive::ArchiveError&) {
            }
        }
        if (!unchanged) {
            checkWritable(map);
            onCopyOf(work.editCopy(), map, [&] { archive::add(work.editCopy(), work.tempChunk(), kChunkMember); });
            if (archive::readMember(work.editCopy(), kChunkMember) != made)
                throw Refusal(text(work.editCopy()) +
                              ": the chunk file read back from the working copy differs from " +
                              text(work.tempChunk()) + "; the map was not changed");
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

} // namespace splice
