#include "workfolder.h"

#include "fileops.h"
#include "platform.h"
#include "splice.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

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
        platform::createFolder(previous());
        platform::replace(p, previous() / p.filename());
    }
}

void WorkFolder::restorePrevious() const {
    auto files = runFiles(*this);
    for (const fs::path& p : files)
        if (isFile(p)) platform::remove(p);
    // The record last, once the files it describes are back.
    std::reverse(files.begin(), files.end());
    for (const fs::path& p : files)
        if (isFile(previous() / p.filename())) platform::replace(previous() / p.filename(), p);
    dropPrevious();
}

void WorkFolder::dropPrevious() const { platform::removeTree(previous()); }

void WorkFolder::ensureFolder() const {
    // Anything named "temp", a plain file included, counts; the copies then fail clearly.
    if (!fs::exists(fs::symlink_status(folder()))) {
        platform::createFolders(program_);
        platform::createFolder(folder());
    }
}

fs::path defaultProgramFolder() {
    fs::path exe = platform::programFolder();
    if (!exe.empty() && platform::writeAccess(exe) == platform::Access::Writable) return exe;
    fs::path dir = platform::userDataFolder();
    try {
        platform::createFolders(dir);
    } catch (const platform::Error&) {
        // Copy Section then says that it cannot make its working folder there.
    }
    return dir;
}

// ---- versions and records ----------------------------------------------------

Version versionOf(const fs::path& file) {
    const fileops::Stamp s = fileops::stampOf(file);
    return {s.size, s.hash};
}

namespace {

constexpr std::string_view kRecordMagic = "graftwell-record 4", kUndoMagic = "graftwell-undo 1";

void writeText(const fs::path& path, const std::string& s) {
    platform::writeReplacing(path, {reinterpret_cast<const uint8_t*>(s.data()), s.size()});
}

// Section names are any four bytes: the record keeps them in hex.
std::string hexOf(const std::string& name) {
    std::ostringstream out;
    for (const unsigned char c : name) out << std::hex << (c >> 4) << (c & 15);
    return out.str();
}

std::optional<std::string> fromHex(const std::string& hex) {
    std::string name;
    for (size_t k = 0; k + 1 < hex.size(); k += 2) {
        unsigned byte = 0;
        if (std::from_chars(hex.data() + k, hex.data() + k + 2, byte, 16).ec != std::errc()) return std::nullopt;
        name += static_cast<char>(byte);
    }
    return name;
}

} // namespace

void writeRecord(const WorkFolder& work, const Record& r) {
    std::ostringstream out;
    out << kRecordMagic << '\n' << r.map << '\n' << r.spliceMap << '\n' << r.spliceShown << '\n' << r.sections.size();
    for (const auto& n : r.sections) out << ' ' << hexOf(n);
    out << '\n' << r.copied.size << ' ' << r.copied.hash << '\n' << r.chunk.size << ' ' << r.chunk.hash << '\n';
    if (r.holdsChunk) out << (*r.holdsChunk ? 1 : 0) << '\n';
    writeText(work.record(), out.str());
}

std::optional<Record> readRecord(const WorkFolder& work) {
    std::ifstream in(work.record());
    std::string magic;
    Record r;
    if (!std::getline(in, magic) || magic != kRecordMagic) return std::nullopt;
    if (!std::getline(in, r.map) || !std::getline(in, r.spliceMap) || !std::getline(in, r.spliceShown))
        return std::nullopt;
    size_t count = 0;
    in >> count;
    for (size_t i = 0; i < count && i < 64 && in; ++i) {
        std::string hex;
        in >> hex;
        const auto name = fromHex(hex);
        if (!name) return std::nullopt;
        r.sections.push_back(*name);
    }
    in >> r.copied.size >> r.copied.hash >> r.chunk.size >> r.chunk.hash;
    if (!in || r.sections.size() != count) return std::nullopt;
    if (int holds = 0; in >> holds) r.holdsChunk = holds == 1;
    return r;
}

void writeUndoRecord(const WorkFolder& work, const UndoRecord& u) {
    std::ostringstream out;
    out << kUndoMagic << '\n' << u.map << '\n' << u.before.size << ' ' << u.before.hash << '\n'
        << u.after.size << ' ' << u.after.hash << '\n';
    writeText(work.undoRecord(), out.str());
}

std::optional<UndoRecord> readUndoRecord(const WorkFolder& work) {
    std::ifstream in(work.undoRecord());
    std::string magic;
    UndoRecord u;
    if (!std::getline(in, magic) || magic != kUndoMagic) return std::nullopt;
    if (!std::getline(in, u.map)) return std::nullopt;
    in >> u.before.size >> u.before.hash >> u.after.size >> u.after.hash;
    if (!in) return std::nullopt;
    return u;
}

} // namespace splice
