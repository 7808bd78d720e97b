// The parts of the platform layer that are built from the system-specific calls.
#include "platform.h"

namespace platform {

void writeReplacing(const Path& path, const std::function<void(File&)>& write) {
    File tmp = createBeside(path);
    const Path tmpPath = tmp.path();
    try {
        write(tmp);
        tmp.sync();
        tmp.close();
        replace(tmpPath, path);
    } catch (...) {
        tmp = File();
        removeQuietly(tmpPath);
        throw;
    }
    // The rename itself must reach the disk for the new file to survive a crash.
    syncFolder(path.parent_path().empty() ? Path(".") : path.parent_path());
}

void writeReplacing(const Path& path, std::span<const uint8_t> bytes) {
    writeReplacing(path, [bytes](File& f) { f.write(bytes); });
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
    std::error_code ec;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(folder, ec)))
        return;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_directory(ec) && !entry.is_symlink(ec))
            removeTree(entry.path());
        else
            platform::remove(entry.path());
    }
    platform::remove(folder);
}

} // namespace platform
