// Save: the temporary chunk file put into the working copy of the map, which
// then takes the map's place in one atomic replace; the map as it was is kept
// for undo.
#include "archive.h"
#include "fileops.h"
#include "platform.h"
#include "steps.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace splice {

namespace {

// What Copy Section copied and what the front end shows now, when they differ.
std::optional<std::string> stale(FrontEnd& fe, const Record& r) {
    const auto shown = fe.shownInputs();
    if (!shown) return std::nullopt;
    std::vector<std::string> sections;
    try {
        for (const auto& n : shown->sections) sections.push_back(SectionName(n).bytes());
    } catch (const Refusal&) {
        sections = shown->sections;
    }
    const std::string& splice = shown->spliceMap;
    const bool sameSplice = splice != kNoMapLoaded && !splice.empty() && mapKey(platform::fromUtf8(splice)) == r.spliceKey;
    if (sameSplice && sections == r.sections) return std::nullopt;
    return "Copy Section copied " + inQuotes(r.sections, ", ") + " from " + mapName(platform::fromUtf8(r.spliceMap)) +
           ", but the window now shows " + inQuotes(shown->sections, ", ") + " from " +
           mapName(platform::fromUtf8(shown->spliceMap));
}

} // namespace

void checkWritable(const fs::path& map, const std::string& name) {
    switch (platform::writeAccess(map)) {
    case platform::Access::Writable:
        break;
    case platform::Access::ReadOnly:
        throw Refusal(name + ": the map is read-only; nothing was changed");
    case platform::Access::InUse:
        throw Refusal(name + ": the map is open in another program; close it there and save again; "
                                     "nothing was changed");
    case platform::Access::Denied:
        throw Refusal(name + ": the map cannot be written; nothing was changed");
    }
    const fs::path dir = map.parent_path().empty() ? fs::path(".") : map.parent_path();
    if (platform::writeAccess(dir) != platform::Access::Writable)
        throw Refusal(text(dir) + ": the map's folder cannot be written; nothing was changed");
}

Result save(FrontEnd& fe, const WorkFolder& work) {
    Hold hold;
    return save(fe, work, hold);
}

Result save(FrontEnd& fe, const WorkFolder& work, Hold& hold) {
    return run(fe, work, "Save", [&] {
        fe.setStatus("Adding temp chk file to temp map...");
        const std::string shown = fe.mapEditPath();
        const fs::path given = chosenMap(shown, "map to edit"), map = followLinks(given);
        const std::string name = mapName(given), again = ": run Copy Section first; nothing was changed";
        if (!isFolder(work.placeOf(map).folder())) throw Refusal("nothing to save for " + name + again);
        const WorkPlace& place = hold.take(fe, work, map, "Adding temp chk file to temp map...");
        const std::optional<Record> r = readRecord(place);
        if (!r || !isFile(place.editCopy()) || !isFile(place.tempChunk()))
            throw Refusal("nothing to save for " + name + again);
        if (const auto why = stale(fe, *r))
            throw Refusal(*why + ": run Copy Section again; nothing was changed");
        if (!pathExists(map))
            throw Refusal(name + ": the map is gone since Copy Section" + again);
        // The map as Copy Section copied it, or as a Save wrote it (the working copy:
        // also after a Save cut short past its rename), whatever its modification time.
        const Version now = versionOf(map), workCopy = versionOf(place.editCopy());
        const bool copyAsCopied = workCopy == r->copied;
        if (!(now == r->copied) && !(now == workCopy))
            throw Refusal(name + ": the map has changed on disk since Copy Section" + again);
        const std::string changed = name + ": the working files of its Copy Section have changed since" + again;
        const fileops::MappedFile made(place.tempChunk());
        if (!(versionOf(made.bytes()) == r->chunk)) throw Refusal(changed);
        // The sound files that go with the copy, as their archive stored them.
        std::vector<archive::StoredMember> sounds;
        for (size_t k = 0; k < r->sounds.size(); ++k) {
            const fs::path file = place.soundFile(k + 1);
            if (!isFile(file) || !(versionOf(file) == r->sounds[k].file))
                throw Refusal(changed);
            sounds.push_back(archive::readStoredFile(file));
        }
        // Saves killed before their rename left their files beside the map.
        platform::removeLeftovers(map);

        // A map that already holds this chunk file (and no sound file is to be added) is
        // left as it is, and nothing is kept for undo.
        bool unchanged = false;
        if (sounds.empty()) {
            try {
                unchanged = now == r->copied ? r->holdsChunk
                                             : std::ranges::equal(archive::readMember(map, kChunkMember), made.bytes());
            } catch (const archive::ArchiveError&) {
            }
        }
        if (!unchanged) {
            checkWritable(map, name);
            // While the working copy is the map Copy Section copied, its chunk file is the one Copy Section
            // extracted: the edit takes over the sectors the new one repeats without decoding them.
            std::optional<fileops::MappedFile> current;
            if (copyAsCopied && isFile(place.firstChunk())) current.emplace(place.firstChunk());
            // The edit checks what it wrote (the chunk file and every other member) before it replaces the copy.
            std::vector<archive::Change> changes = {archive::Change::replace(
                std::string(kChunkMember), made.bytes(), current ? current->bytes() : std::span<const uint8_t>{})};
            for (size_t k = 0; k < sounds.size(); ++k) changes.push_back(archive::Change::carry(r->sounds[k].name, sounds[k]));
            // The working copy reaches the disk when it is copied over the map.
            aboutMap(map, {place.editCopy()},
                     [&] { archive::edit(place.editCopy(), changes, platform::Durability::Replaced); });
            keepForUndo(place, map, now);
        }
        fe.yield();

        // The old map is replaced, not deleted, in the next step: it stays
        // whole on disk until the new one takes its name in a single rename.
        fe.setStatus("Deleting old map file...");
        if (fe.mapEditPath() != shown)
            throw Refusal("the map to edit changed during Save; nothing was changed");
        if (!unchanged) checkWritable(map, name);
        fe.yield();

        fe.setStatus("Copying modified map...");
        if (!unchanged) {
            aboutMap(map, {}, [&] { fileops::replaceAtomically(place.editCopy(), map); });
            platform::writeReplacing(work.lastSave(), {reinterpret_cast<const uint8_t*>(shown.data()), shown.size()},
                                     platform::Durability::Replaced);
        }
        fe.yield();

        if (unchanged) fe.setStatus("The map already holds this; nothing was written.");
        fe.setStatus("Save successful!");
    });
}

} // namespace splice
