// Undo: the map put back as it was before the last Save that changed it, once.
#include "fileops.h"
#include "platform.h"
#include "steps.h"

namespace fs = std::filesystem;

namespace splice {

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
        const std::optional<UndoRecord> u = readUndoRecord(work);
        if (!u || !fs::is_regular_file(work.undoCopy()))
            nothing("the working folder " + text(work.folder()) + " holds no Save to undo");
        if (u->map != text(map))
            nothing("the last Save kept in the working folder was of " + u->map + ", not of " + text(map));
        if (!fs::exists(map))
            throw Refusal(text(map) + ": the map is gone since the last Save" + unchanged);
        const Version now = versionOf(map);
        if (now == u->before)
            nothing(text(map) + ": the map is already as it was before the last Save");
        if (!(now == u->after))
            throw Refusal(text(map) + ": the map has changed on disk since the last Save" + unchanged);
        if (!(versionOf(work.undoCopy()) == u->before))
            throw Refusal(text(work.undoCopy()) + ": the kept copy of the map is damaged" + unchanged);
        checkWritable(map);
        fileops::replaceAtomically(work.undoCopy(), map);
        // Only the last Save is undone. Should the record outlive this, a second
        // undo still finds the map as it was before and is refused.
        try {
            platform::remove(work.undoRecord());
            platform::remove(work.undoCopy());
        } catch (const platform::Error&) {
        }
        fe.yield();

        fe.setStatus("Undo successful!");
    });
}

} // namespace splice
