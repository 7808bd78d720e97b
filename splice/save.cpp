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
    return "Copy Section copied " + names(r.sections) + " from " + mapName(platform::fromUtf8(r.spliceShown)) +
           ", but the window now shows " + names(shown->sections) + " from " +
           mapName(platform::fromUtf8(shown->spliceMap));
}

} // namespace

void checkWritable(const fs::path& map) {
    switch (platform::writeAccess(map)) {
    case platform::Access::Writable:
        break;
    case platform::Access::ReadOnly:
        throw Refusal(mapName(map) + ": the map is read-only; nothing was changed");
    case platform::Access::InUse:
        throw Refusal(mapName(map) + ": the map is open in another program; close it there and save again; "
                                     "nothing was changed");
    case platform::Access::Denied:
        throw Refusal(mapName(map) + ": the map cannot be written; nothing was changed");
    }
    const fs::path dir = map.parent_path();
    if (platform::writeAccess(dir) != platform::Access::Writable)
        throw Refusal(text(dir) + ": the map's folder cannot be written; nothing was changed");
}

Result save(FrontEnd& fe, const WorkFolder& work) {
    return run(fe, work, "Save", [&] {
        fe.setStatus("Adding temp chk file to temp map...");
        const fs::path given = chosenMap(fe.mapEditPath(), "map to edit");
        const fs::path map = canonicalMap(given);
        const std::string name = mapName(given), again = ": run Copy Section first; nothing was changed";
        const std::optional<Record> r = readRecord(work);
        if (!r || !fs::is_regular_file(work.editCopy()) || !fs::is_regular_file(work.tempChunk()))
            throw Refusal("nothing to save for " + name + again);
        if (r->map != text(map))
            throw Refusal("the last Copy Section was of " + mapName(platform::fromUtf8(r->map)) + ", not of " + name +
                          again);
        if (const auto why = stale(fe, *r))
            throw Refusal(*why + ": run Copy Section again; nothing was changed");
        if (!fs::exists(map))
            throw Refusal(name + ": the map is gone since Copy Section" + again);
        // The map as Copy Section copied it, or as a Save wrote it (the working copy:
        // also after a Save cut short past its rename), whatever its modification time.
        const Version now = versionOf(map);
        if (!(now == r->copied) && !(now == versionOf(work.editCopy())))
            throw Refusal(name + ": the map has changed on disk since Copy Section" + again);
        if (!(versionOf(work.tempChunk()) == r->chunk))
            throw Refusal(name + ": the working files of its Copy Section have changed since" + again);

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
            aboutMap(given, {work.editCopy(), map},
                     [&] { archive::add(work.editCopy(), work.tempChunk(), kChunkMember); });
            if (archive::readMember(work.editCopy(), kChunkMember) != made)
                throw Refusal(name + ": the chunk file read back from the new map differs from the one Copy Section "
                                     "made; the map was not changed");
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
        if (!unchanged) aboutMap(given, {map}, [&] { fileops::replaceAtomically(work.editCopy(), target); });
        fe.yield();

        if (unchanged) fe.setStatus("The map already holds this; nothing was written.");
        fe.setStatus("Save successful!");
    });
}

} // namespace splice
