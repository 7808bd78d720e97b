#include "workfolder.h"

#include "fileops.h"
#include "platform.h"
#include "splice.h"
#include "steps.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <thread>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace splice {

fs::path WorkPlace::editCopy() const { return folder_ / "~temp1.map"; }
fs::path WorkPlace::spliceCopy() const { return folder_ / "~temp2.map"; }
fs::path WorkPlace::extracted() const { return folder_ / "scenario.chk"; }
fs::path WorkPlace::firstChunk() const { return folder_ / "scenario1.chk"; }
fs::path WorkPlace::secondChunk() const { return folder_ / "scenario2.chk"; }
fs::path WorkPlace::tempChunk() const { return folder_ / "scenariox.chk"; }
fs::path WorkPlace::record() const { return folder_ / "~record.txt"; }
fs::path WorkPlace::intermediate() const { return folder_ / "~scenarioy.chk"; }
fs::path WorkPlace::undoCopy() const { return folder_ / "~undo.map"; }
fs::path WorkPlace::undoRecord() const { return folder_ / "~undo.txt"; }
fs::path WorkPlace::previous() const { return folder_ / "~previous"; }
fs::path WorkPlace::lockFile() const { return folder_ / "~lock"; }

fs::path WorkPlace::soundFile(size_t k) const { return folder_ / ("~sound" + std::to_string(k) + ".member"); }

namespace {
// The record first: without it Save refuses half-rebuilt files. The sound files
// are those `scan` holds (the place itself, or the files set aside).
std::vector<fs::path> runFiles(const WorkPlace& w, const fs::path& scan) {
    std::vector<fs::path> files = {w.record(),      w.editCopy(),  w.spliceCopy(),  w.firstChunk(),
                                   w.secondChunk(), w.tempChunk(), w.intermediate()};
    try {
        for (const auto& e : platform::folderEntries(scan)) {
            const std::string n = platform::toUtf8(e.name);
            if (n.starts_with("~sound") && n.ends_with(".member")) files.push_back(w.folder() / e.name);
        }
    } catch (const platform::Error&) {
        // Nothing set aside.
    }
    return files;
}
} // namespace

bool pathExists(const fs::path& p) { return platform::status(p).kind != platform::Kind::Missing; }
bool isFile(const fs::path& p) { return platform::status(p).kind == platform::Kind::Regular; }
bool isFolder(const fs::path& p) { return platform::status(p).kind == platform::Kind::Folder; }

void WorkPlace::cleanUp() const {
    dropPrevious();
    for (const fs::path& p : runFiles(*this, folder_)) {
        if (!isFile(p)) continue;
        platform::createFolder(previous());
        platform::replace(p, previous() / p.filename());
    }
}

void WorkPlace::restorePrevious() const {
    for (const fs::path& p : runFiles(*this, folder_))
        if (isFile(p)) platform::remove(p);
    auto files = runFiles(*this, previous());
    // The record last, once the files it describes are back.
    std::reverse(files.begin(), files.end());
    for (const fs::path& p : files)
        if (isFile(previous() / p.filename())) platform::replace(previous() / p.filename(), p);
    dropPrevious();
}

void WorkPlace::dropPrevious() const { platform::removeTree(previous()); }

WorkFolder::WorkFolder(fs::path programFolder) : program_(std::move(programFolder)) {}

fs::path WorkFolder::folder() const { return program_ / "temp"; }
fs::path WorkFolder::lastSave() const { return folder() / "~last-save.txt"; }

WorkPlace WorkFolder::placeOf(const fs::path& map) const { return WorkPlace(folder() / mapKey(map)); }

void WorkFolder::ensure(const WorkPlace& place) const {
    // Anything of the name, a plain file included, counts; the steps after it then fail clearly.
    if (!pathExists(folder())) {
        platform::createFolders(program_);
        platform::createFolder(folder());
    }
    if (isFolder(folder()) && !pathExists(place.folder()))
        platform::createFolder(place.folder());
}

platform::Lock lockPlace(FrontEnd& fe, const WorkPlace& place, const std::string& mapName, const std::string& step) {
    const auto start = std::chrono::steady_clock::now();
    for (bool told = false;; told = true) {
        if (auto lock = platform::Lock::tryTake(place.lockFile())) {
            if (told) fe.setStatus(step);
            return std::move(*lock);
        }
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(kLockWaitMs))
            throw Refusal(mapName + ": another Graftwell is still working on this map; try again when it "
                                               "has finished; nothing was changed");
        if (!told) fe.setStatus("Waiting for another Graftwell to finish with this map...");
        fe.yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

const WorkPlace& Hold::take(FrontEnd& fe, const WorkFolder& work, const fs::path& map, const std::string& step) {
    WorkPlace wanted = work.placeOf(map);
    if (place && lock.held() && place->folder() == wanted.folder()) return *place;
    place = std::move(wanted);
    work.ensure(*place);
    lock = lockPlace(fe, *place, platform::toUtf8(map.filename()), step);
    return *place;
}

fs::path followLinks(const fs::path& map) {
    fs::path p = map;
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(p, ec)); ++hops) {
        const fs::path target = fs::read_symlink(p, ec);
        if (ec) break;
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    return p;
}

std::string mapKey(const fs::path& map) {
    // A link to a map is that map.
    const fs::path p = followLinks(map);
    std::error_code ec;
    const fs::path dir = p.parent_path().empty() ? fs::path(".") : p.parent_path();
    // The folder by its identity, and the file by the name the folder lists it under:
    // a Save gives the map a new file, but never a new name.
    fs::path name = p.filename();
    uint64_t h = 1469598103934665603ull;
    const auto mix = [&h](const void* data, size_t n) {
        for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<const uint8_t*>(data)[i]) * 1099511628211ull;
    };
    try {
        const platform::FileId folder = platform::fileId(dir);
        mix(&folder.volume, sizeof folder.volume);
        mix(&folder.index, sizeof folder.index);
    } catch (const platform::Error&) {
        // No folder: the place of the path as given.
        const std::string whole = platform::toUtf8(fs::absolute(map, ec));
        mix(whole.data(), whole.size());
    }
    try {
        const platform::FileId file = platform::fileId(p);
        const auto entries = platform::folderEntries(dir);
        const bool listed = std::any_of(entries.begin(), entries.end(), [&](const auto& e) { return e.name == name; });
        for (size_t i = 0; i < entries.size() && !listed; ++i) {
            // Another letter case or a short name: the entry that is the same file.
            try {
                if (entries[i].kind == platform::Kind::Regular && platform::fileId(dir / entries[i].name) == file)
                    name = entries[i].name;
            } catch (const platform::Error&) {
            }
        }
    } catch (const platform::Error&) {
        // A map that is gone keeps the name it was given.
    }
    const std::string n = platform::toUtf8(name);
    mix(n.data(), n.size());
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h));
    return out;
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

Version versionOf(std::span<const uint8_t> bytes) { return {bytes.size(), fileops::hashBytes(bytes)}; }

namespace {

constexpr std::string_view kRecordMagic = "graftwell-record 7", kUndoMagic = "graftwell-undo 1";

void writeText(const fs::path& path, const std::string& s) {
    // A record lost with a crash of the machine leaves a Copy Section to redo or a
    // Save not to undo; a damaged one is never read.
    platform::writeReplacing(path, {reinterpret_cast<const uint8_t*>(s.data()), s.size()},
                             platform::Durability::Replaced);
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

void writeRecord(const WorkPlace& place, const Record& r) {
    std::ostringstream out;
    out << kRecordMagic << '\n' << r.map << '\n' << r.spliceMap << '\n' << r.spliceKey << '\n' << r.sections.size();
    for (const auto& n : r.sections) out << ' ' << hexOf(n);
    out << '\n' << r.copied.size << ' ' << r.copied.hash << '\n' << r.spliceCopied.size << ' ' << r.spliceCopied.hash
        << '\n' << r.chunk.size << ' ' << r.chunk.hash << '\n' << (r.holdsChunk ? 1 : 0) << '\n' << r.sounds.size() << '\n';
    for (const auto& sound : r.sounds) out << hexOf(sound.name) << ' ' << sound.file.size << ' ' << sound.file.hash << '\n';
    writeText(place.record(), out.str());
}

std::optional<Record> readRecord(const WorkPlace& place) { return readRecord(place.record()); }

std::optional<Record> readRecord(const fs::path& file) {
    std::ifstream in(file);
    std::string magic;
    Record r;
    if (!std::getline(in, magic) || magic != kRecordMagic) return std::nullopt;
    if (!std::getline(in, r.map) || !std::getline(in, r.spliceMap) || !std::getline(in, r.spliceKey))
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
    int holds = 0;
    in >> r.copied.size >> r.copied.hash >> r.spliceCopied.size >> r.spliceCopied.hash >> r.chunk.size >> r.chunk.hash >>
        holds;
    size_t sounds = 0;
    in >> sounds;
    for (size_t i = 0; i < sounds && i < 4096 && in; ++i) {
        std::string hex;
        Record::Sound sound;
        in >> hex >> sound.file.size >> sound.file.hash;
        const auto name = fromHex(hex);
        if (!name) return std::nullopt;
        sound.name = *name;
        r.sounds.push_back(sound);
    }
    if (!in || r.sections.size() != count || r.sounds.size() != sounds) return std::nullopt;
    r.holdsChunk = holds == 1;
    return r;
}

void writeUndoRecord(const WorkPlace& place, const UndoRecord& u) {
    std::ostringstream out;
    out << kUndoMagic << '\n' << u.map << '\n' << u.before.size << ' ' << u.before.hash << '\n'
        << u.after.size << ' ' << u.after.hash << '\n';
    writeText(place.undoRecord(), out.str());
}

std::optional<UndoRecord> readUndoRecord(const WorkPlace& place) {
    std::ifstream in(place.undoRecord());
    std::string magic;
    UndoRecord u;
    if (!std::getline(in, magic) || magic != kUndoMagic) return std::nullopt;
    if (!std::getline(in, u.map)) return std::nullopt;
    in >> u.before.size >> u.before.hash >> u.after.size >> u.after.hash;
    if (!in) return std::nullopt;
    return u;
}

} // namespace splice
