#include "splice.h"

#include "platform.h"

#include <algorithm>
#include <vector>

namespace fs = std::filesystem;

namespace splice {

WorkFolder::WorkFolder(fs::path programFolder) : program_(std::move(programFolder)) {}

fs::path WorkFolder::folder() const { return program_ / "temp"; }
fs::path WorkFolder::editCopy() const { return folder() / "~temp1.map"; }
fs::path WorkFolder::spliceCopy() const { return folder() / "~temp2.map"; }
fs::path WorkFolder::extracted() const { return folder() / "scenario.chk"; }
fs::path WorkFolder::firstChunk() const { return folder() / "scenario1.chk"; }
fs::path WorkFolder::secondChunk() const { return folder() / "scenario2.chk"; }
fs::path WorkFolder::tempChunk() const { return folder() / "scenariox.chk"; }
fs::path WorkFolder::record() const { return folder() / "~record.txt"; }
fs::path WorkFolder::intermediate() const { return folder() / "~scenarioy.chk"; }
fs::path WorkFolder::undoCopy() const { return folder() / "~undo.map"; }
fs::path WorkFolder::undoRecord() const { return folder() / "~undo.txt"; }

fs::path WorkFolder::previous() const { return folder() / "~previous"; }

namespace {
// The record first: without it Save refuses half-rebuilt files.
std::vector<fs::path> runFiles(const WorkFolder& w) {
    return {w.record(), w.editCopy(), w.spliceCopy(), w.firstChunk(), w.secondChunk(), w.tempChunk(), w.intermediate()};
}
bool isFile(const fs::path& p) { return fs::is_regular_file(fs::symlink_status(p)); }
} // namespace

void WorkFolder::cleanUp() const {
    dropPrevious();
    for (const fs::path& p : runFiles(*this)) {
        if (!isFile(p)) continue;
        fs::create_directory(previous());
        fs::rename(p, previous() / p.filename());
    }
}

void WorkFolder::restorePrevious() const {
    auto files = runFiles(*this);
    for (const fs::path& p : files)
        if (isFile(p)) fs::remove(p);
    // The record last, once the files it describes are back.
    std::reverse(files.begin(), files.end());
    for (const fs::path& p : files)
        if (isFile(previous() / p.filename())) fs::rename(previous() / p.filename(), p);
    dropPrevious();
}

void WorkFolder::dropPrevious() const {
    if (fs::is_directory(fs::symlink_status(previous()))) fs::remove_all(previous());
}

void WorkFolder::ensureFolder() const {
    // Anything named "temp", a plain file included, counts; the copies then fail clearly.
    if (!fs::exists(fs::symlink_status(folder()))) {
        fs::create_directories(program_);
        fs::create_directory(folder());
    }
}

fs::path defaultProgramFolder() {
    fs::path exe = platform::programFolder();
    if (!exe.empty() && platform::writeAccess(exe) == platform::Access::Writable) return exe;
    fs::path dir = platform::userDataFolder();
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}

} // namespace splice
