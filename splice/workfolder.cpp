#include "splice.h"

#include "platform.h"

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

void WorkFolder::cleanUp() const {
    // The record goes first: without it Save refuses the half-rebuilt files.
    for (const fs::path& p : {record(), editCopy(), spliceCopy(), firstChunk(), secondChunk(),
                              tempChunk(), intermediate()}) {
        if (fs::is_regular_file(fs::symlink_status(p))) fs::remove(p);
    }
}

void WorkFolder::ensureFolder() const {
    // Anything named "temp", a plain file included, counts; the copies then fail clearly.
    if (!fs::exists(fs::symlink_status(folder()))) {
        fs::create_directories(program_);
        fs::create_directory(folder());
    }
}

fs::path defaultProgramFolder() {
    const fs::path exe = platform::programFolder();
    if (!exe.empty() && platform::writeAccess(exe) == platform::Access::Writable) return exe;
    fs::path dir = platform::userDataFolder();
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}

} // namespace splice
