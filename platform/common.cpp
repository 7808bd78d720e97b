// The parts of the platform layer that are built from the system-specific calls.
#include "platform.h"
#include "system.h"

namespace platform {

void writeReplacing(const Path& path, const std::function<void(File&)>& write, Durability durability) {
    File tmp = createBeside(path);
    const Path tmpPath = tmp.path();
    try {
        write(tmp);
        if (durability == Durability::Synced)
            tmp.sync();
        // Renamed while still open: closed, it would no longer be held, and a
        // removeLeftovers() of another Graftwell could take it for a leftover.
        replace(tmpPath, path);
    } catch (...) {
        tmp = File();
        removeQuietly(tmpPath);
        throw;
    }
    tmp = File(); // written in full already: closing has nothing left to report
    // The rename itself must reach the disk for the new file to survive a crash.
    if (durability == Durability::Synced)
        syncFolder(system::folderOf(path));
}

void writeReplacing(const Path& path, std::span<const uint8_t> bytes, Durability durability) {
    writeReplacing(path, [bytes](File& f) { f.write(bytes); }, durability);
}

size_t removeLeftovers(const Path& target) noexcept {
    size_t removed = 0;
    try {
        const Path dir = system::folderOf(target);
        const Path::string_type prefix = system::leftoverPrefix(target);
        for (const Entry& e : folderEntries(dir)) {
            if (e.kind == Kind::Regular && system::isLeftoverName(e.name.native(), prefix) &&
                system::removeUnheld(dir / e.name))
                ++removed;
        }
    } catch (...) {
        // What it could not list it leaves; the next Save tries again.
    }
    return removed;
}

void copyFile(const Path& src, const Path& dst) {
    File out(dst, File::Mode::Create);
    copyInto(src, out);
    out.close();
}

void createFolders(const Path& folder) {
    if (folder.empty() || platform::status(folder).kind != Kind::Missing)
        return;
    if (folder.has_relative_path() && folder.parent_path() != folder)
        createFolders(folder.parent_path());
    createFolder(folder);
}

void removeTree(const Path& folder) {
    std::vector<Entry> entries;
    try {
        entries = folderEntries(folder);
    } catch (const Error& e) {
        if (e.notFound())
            return;
        throw;
    }
    // Links are removed, never followed: what they point to is not ours.
    for (const Entry& e : entries) {
        if (e.kind == Kind::Folder)
            removeTree(folder / e.name);
        else
            platform::remove(folder / e.name);
    }
    platform::remove(folder);
}

} // namespace platform
