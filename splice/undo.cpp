// Undo: the map put back as it was before the last Save that changed it, once.
#include "fileops.h"
#include "platform.h"
#include "steps.h"

#include <fstream>

namespace fs = std::filesystem;

namespace splice {

// A Save that changes nothing (a second one after the same Copy Section, or a rerun
// of one cut short after its rename) keeps the record of the last one that did.
void keepForUndo(const WorkPlace& work, const fs::path& map, const Version& before) {
    const Version after = versionOf(work.editCopy());
    if (before == after) return;
    // The old record goes first: it must never describe a half-written copy.
    platform::remove(work.undoRecord());
    const fileops::Stamp kept = fileops::copyHashing(map, work.undoCopy());
    if (!(Version{kept.size, kept.hash} == before))
        throw Refusal(mapName(map) + ": the map changed while it was being kept for undo; nothing was changed");
    writeUndoRecord(work, {text(map), before, after});
}


Result undo(FrontEnd& fe, const WorkFolder& work) {
    return run(fe, work, "Undo", [&] {
        fe.setStatus("Restoring map from before last save...");
        const fs::path given = chosenMap(fe.mapEditPath(), "map to edit"), map = followLinks(given);
        const std::string name = mapName(given), unchanged = "; nothing was changed";
        // Nothing to undo is no failure: the status line says so, and where the undo is.
        const auto nothing = [&](const std::string& why) {
            std::string line = "Nothing to undo.";
            std::ifstream in(work.lastSave());
            std::string last;
            if (std::getline(in, last) && !last.empty() && mapKey(platform::fromUtf8(last)) != mapKey(map))
                line = "Nothing to undo for " + name + "; the last Save was of " + mapName(platform::fromUtf8(last)) + ".";
            fe.setStatus(line);
            throw Quiet(why + unchanged);
        };
        if (!isFolder(work.placeOf(map).folder())) nothing("no Save of " + name + " to undo");
        Hold hold;
        const WorkPlace& place = hold.take(fe, work, map, "Restoring map from before last save...");
        const std::optional<UndoRecord> u = readUndoRecord(place);
        if (!u || !isFile(place.undoCopy())) nothing("no Save of " + name + " to undo");
        if (!pathExists(map))
            throw Refusal(name + ": the map is gone since the last Save" + unchanged);
        const Version now = versionOf(map);
        if (now == u->before)
            nothing(name + ": the map is already as it was before the last Save");
        if (!(now == u->after))
            throw Refusal(name + ": the map has changed on disk since the last Save" + unchanged);
        if (!(versionOf(place.undoCopy()) == u->before))
            throw Refusal(name + ": the copy kept for undo is damaged" + unchanged);
        checkWritable(map, name);
        aboutMap(map, {}, [&] { fileops::replaceAtomically(place.undoCopy(), map); });
        // Only the last Save is undone. Should the record outlive this, a second
        // undo still finds the map as it was before and is refused.
        try {
            platform::remove(place.undoRecord());
            platform::remove(place.undoCopy());
        } catch (const platform::Error&) {
        }
        fe.yield();

        fe.setStatus("Undo successful!");
    });
}

} // namespace splice
