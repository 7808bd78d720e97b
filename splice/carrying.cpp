// Copy Section's carrying step: the texts the copied sections name, made to read
// in the map to edit as they read in the map to splice.
#include "archive.h"
#include "carry.h"
#include "fileops.h"
#include "platform.h"
#include "steps.h"

#include <map>
#include <set>

namespace fs = std::filesystem;

namespace splice {

namespace {

// "staredit\wav\boom.wav" as "staredit\wav\boom-2.wav".
std::string numbered(const std::string& path, int k) {
    const size_t slash = path.rfind('\\'), dot = path.rfind('.');
    const size_t at = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? dot : path.size();
    return path.substr(0, at) + "-" + std::to_string(k) + path.substr(at);
}

// The sound files that the copied sections play and that the map to splice holds,
// as stored, each put in the working folder with the name it gets in the map to
// edit: its own, or a numbered one where the map to edit holds other content
// under it. One the map to edit already holds as it is needs nothing; a path that
// names no member is the game's own data.
std::vector<Record::Sound> soundsToCarry(const WorkPlace& place, const chunk::GameView& splice, const CopyRequest& req,
                                         std::map<std::string, std::string>& renames) {
    const auto paths = chunk::soundPaths(splice, req.nameBytes());
    if (paths.empty()) return {};
    std::vector<Record::Sound> out;
    const fileops::MappedFile from(place.spliceCopy()), into(place.editCopy());
    const std::string fromLabel = mapName(req.splice), intoLabel = mapName(req.edit);
    std::set<std::string> chosen;
    for (const std::string& path : paths) {
        archive::StoredMember member;
        try {
            member = archive::readStored(from.bytes(), path, fromLabel);
        } catch (const archive::ArchiveError&) {
            continue;
        }
        std::string name = path;
        for (int k = 2; !name.empty(); ++k) {
            std::optional<archive::StoredMember> there;
            try {
                there = archive::readStored(into.bytes(), name, intoLabel);
            } catch (const archive::ArchiveError&) {
            }
            if (!there && !chosen.count(archive::foldedName(name))) break;
            if (there && archive::sameContent(*there, member)) name.clear();
            else name = numbered(path, k);
        }
        if (name.empty()) continue;
        chosen.insert(archive::foldedName(name));
        const fs::path file = place.soundFile(out.size() + 1);
        archive::writeStoredFile(file, member);
        out.push_back({name, versionOf(file)});
        renames[path] = name;
    }
    return out;
}

} // namespace

CarryOutcome carryStep(FrontEnd& fe, const WorkPlace& place, const CopyRequest& req) {
    const std::string name = mapName(req.edit);
    CarryOutcome outcome;
    {
        const fileops::MappedFile copiedFile(place.tempChunk()), spliceFile(place.secondChunk());
        const chunk::Rope copiedBytes(copiedFile.bytes()), spliceBytes(spliceFile.bytes());
        chunk::Carried carried = [&] {
            try {
                const chunk::GameView copied(copiedBytes), splice(spliceBytes);
                std::map<std::string, std::string> renames;
                outcome.sounds = soundsToCarry(place, splice, req, renames);
                return chunk::carryStrings(copied, splice, req.nameBytes(), renames);
            } catch (const chunk::StringsAreCode& e) {
                throw Refusal(name + ": " + e.what() + "; graftwell-cli --raw copies the sections' bytes alone");
            } catch (const chunk::ChunkError& e) {
                throw Refusal(name + ": the texts the copied sections name cannot be carried: " + e.what());
            }
        }();
        outcome.notes = std::move(carried.warnings);
        if (carried.strings == 0 && carried.sounds == 0 && outcome.sounds.empty()) return outcome;

        fe.setStatus("Carrying " + std::to_string(carried.strings) + " strings and " +
                     std::to_string(outcome.sounds.size()) + " sound files from second map...");
        platform::File out(place.intermediate(), platform::File::Mode::Create);
        for (const auto span : carried.file.spans(0, carried.file.size())) out.write(span);
        out.close();
    }
    // Once nothing maps it: Windows will not replace a mapped file.
    platform::replace(place.intermediate(), place.tempChunk());
    fe.yield();
    return outcome;
}

} // namespace splice
