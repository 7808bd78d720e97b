// Copy Section: both maps copied into the working folder, their chunk files
// extracted, and the temporary chunk file built from them, one name at a time.
#include "archive.h"
#include "copy.h"
#include "fileops.h"
#include "platform.h"
#include "steps.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace splice {

namespace {

bool isTerrain(const std::string& name) { return name == "MTXM" || name == "TILE" || name == "ISOM"; }

// Sections that hold the same thing in an older and a newer form.
constexpr std::pair<std::string_view, std::string_view> kForms[] = {
    {"STR ", "STRx"}, {"UNIS", "UNIx"}, {"UPGS", "UPGx"}, {"TECS", "TECx"}, {"UPGR", "PUPx"}, {"PTEC", "PTEx"},
};

// What the map holds in place of the name, for a message.
std::string instead(const chunk::GameView& view, const std::string& name) {
    std::vector<std::string> read;
    for (const auto& n : view.names())
        if (view.loaded(n)) read.push_back(n);
    const auto has = [&](std::string_view n) { return std::find(read.begin(), read.end(), n) != read.end(); };
    if (isTerrain(name)) {
        // The game draws MTXM; editors rebuild TILE and ISOM from it.
        std::vector<std::string> terrain;
        for (const char* n : {"MTXM", "TILE", "ISOM"})
            if (has(n)) terrain.emplace_back(n);
        return terrain.empty() ? "it has no terrain section the game reads" : "its terrain is in " + inQuotes(terrain, ", ");
    }
    for (const auto& [older, newer] : kForms) {
        if (name == older && has(newer)) return "it has " + inQuotes(newer) + " instead";
        if (name == newer && has(older)) return "it has " + inQuotes(older) + " instead";
    }
    return read.empty() ? "it has no section the game reads" : "its sections are " + inQuotes(read, ", ");
}

// Why a chunk file holds no section of the name that the game reads.
std::string noSection(const fs::path& map, const char* role, const chunk::GameView& view, const std::string& name) {
    std::string why = mapName(map) + ": the " + role + " has no " + inQuotes(name);
    const auto& found = view.of(name);
    if (found.empty()) return why + ": " + instead(view, name);
    const chunk::Instance& in = view.instances()[found.back()];
    why += " that the game reads: " +
           (found.size() == 1 ? std::string("its only one ") : "each of its " + std::to_string(found.size()) + " ") +
           (in.use == chunk::Use::Jump ? "has a negative length"
                                       : "is shorter than the " + std::to_string(chunk::ruleFor(name).min) +
                                             " bytes the game needs");
    if (found.size() > 1) why += " or has a negative length";
    return why;
}

// Terrain is laid out by the map's dimensions and given meaning by its tileset:
// copied between maps that differ in either, it makes a broken map.
void checkCompatible(FrontEnd& fe, const chunk::GameView& a, const chunk::GameView& b, const std::string& name) {
    if (!isTerrain(name)) return;
    const auto da = chunk::dimensionsOf(a), db = chunk::dimensionsOf(b);
    const auto ta = chunk::tilesetOf(a), tb = chunk::tilesetOf(b);
    std::string warning;
    if (da && db && !(*da == *db))
        warning = "the maps differ in size: the map to edit is " + std::to_string(da->width) + "x" +
                  std::to_string(da->height) + ", the map to splice " + std::to_string(db->width) + "x" +
                  std::to_string(db->height);
    if (ta && tb && *ta != *tb)
        warning += std::string(warning.empty() ? "the maps" : "; they also") +
                   " differ in tileset: the map to edit has the " + std::string(chunk::tilesetName(*ta)) +
                   " tileset, the map to splice the " + std::string(chunk::tilesetName(*tb)) + " tileset";
    if (warning.empty()) return;
    warning = "Copying " + inQuotes(name) + " between these maps makes a broken map: " + warning + ".";
    if (!fe.confirm(warning)) throw Quiet(warning);
}

void appendSpans(platform::File& out, const std::vector<std::span<const uint8_t>>& spans) {
    for (const auto s : spans) out.write(s);
}

chunk::GameView walk(const chunk::Rope& r, const fs::path& map) {
    try {
        return chunk::GameView(r);
    } catch (const chunk::ChunkError& e) {
        throw Refusal(mapName(map) + ": its chunk file cannot be read as the game reads it: " + e.what());
    }
}

// `first` with what the game reads for the name made what it reads in `second`,
// written to `out` in three parts.
void spliceOne(FrontEnd& fe, const CopyRequest& req, const SectionName& section, const fs::path& first,
               const fs::path& second, const fs::path& out) {
    const std::string& name = section.bytes();
    const fileops::MappedFile fa(first), fb(second);
    const chunk::Rope ra(fa.bytes()), rb(fb.bytes());
    const chunk::GameView edit = walk(ra, req.edit), splice = walk(rb, req.splice);
    checkCompatible(fe, edit, splice, name);

    fe.setStatus("Grabbing data from first map...");
    if (!edit.loaded(name)) throw Refusal(noSection(req.edit, "map to edit", edit, name));
    // Everything before the name's first instance stays as it is.
    uint64_t leading = ra.size();
    for (const size_t i : edit.of(name)) leading = std::min(leading, edit.instances()[i].pos);
    fe.yield();

    fe.setStatus("Creating temporary chk file...");
    platform::File written(out, platform::File::Mode::Create);
    fe.yield();

    fe.setStatus("Inserting data to temporary chk file...");
    appendSpans(written, ra.spans(0, leading));
    fe.yield();

    fe.setStatus("Checking offset and length of section...");
    if (!splice.loaded(name)) throw Refusal(noSection(req.splice, "map to splice", splice, name));
    chunk::Copied copied = [&] {
        try {
            return chunk::copySection(edit, splice, name);
        } catch (const chunk::ChunkError& e) {
            throw Refusal(mapName(req.edit) + ": " + section.quoted() +
                          " cannot be copied into the map to edit so that the game reads it: " + e.what());
        }
    }();
    fe.yield();

    fe.setStatus("Grabbing section from second map...");
    const auto spliced = copied.file.spans(leading, copied.sectionEnd);
    fe.yield();

    fe.setStatus("Inserting data to temporary chk file...");
    appendSpans(written, spliced);
    fe.yield();

    fe.setStatus("Checking offset and length of rest of file...");
    fe.yield();

    fe.setStatus("Grabbing data from first map...");
    const auto rest = copied.file.spans(copied.sectionEnd, copied.file.size());
    fe.yield();

    fe.setStatus("Inserting data to temporary chk file...");
    appendSpans(written, rest);
    written.close();
    fe.yield();
}

// Editors show TILE and ISOM, but the game draws the terrain from MTXM.
bool terrainWithoutMtxm(const CopyRequest& req) {
    bool editorTerrain = false, drawn = false;
    for (const SectionName& n : req.names) {
        editorTerrain = editorTerrain || n.bytes() == "TILE" || n.bytes() == "ISOM";
        drawn = drawn || n.bytes() == "MTXM";
    }
    return editorTerrain && !drawn;
}

void copySteps(FrontEnd& fe, const WorkPlace& work, const CopyRequest& req) {
    fe.setStatus("Copying maps...");
    // The version of exactly what each copy holds: Save later finds the map the same
    // version, or refuses (also when the map changed while it was being copied).
    fileops::Stamp stamp, spliceStamp;
    aboutMap(req.edit, {}, [&] { stamp = fileops::copyHashing(req.edit, work.editCopy()); });
    aboutMap(req.splice, {}, [&] { spliceStamp = fileops::copyHashing(req.splice, work.spliceCopy()); });
    fe.yield();

    fe.setStatus("Extracting scenario.chk...");
    // A chunk file the last run extracted from the same version of a map is taken
    // over: trying one section after another from the same maps decodes each once.
    const std::optional<Record> last = readRecord(work.previous() / work.record().filename());
    const Version copied{stamp.size, stamp.hash}, spliceCopied{spliceStamp.size, spliceStamp.hash};
    const auto chunkOf = [&](const fs::path& map, const fs::path& copy, bool same, const fs::path& file) {
        const fs::path kept = work.previous() / file.filename();
        if (same && isFile(kept)) {
            platform::replace(kept, file);
        } else {
            aboutMap(map, {copy}, [&] { archive::extract(copy, kChunkMember, work.folder()); });
            platform::replace(work.extracted(), file);
        }
    };
    chunkOf(req.edit, work.editCopy(), last && last->copied == copied, work.firstChunk());
    chunkOf(req.splice, work.spliceCopy(), last && last->spliceCopied == spliceCopied, work.secondChunk());
    fe.yield();

    // Several names are copied in turn, each into the result of the one before.
    for (size_t i = 0; i < req.names.size(); ++i) {
        fs::path first = work.firstChunk();
        if (i > 0) {
            platform::replace(work.tempChunk(), work.intermediate());
            first = work.intermediate();
        }
        spliceOne(fe, req, req.names[i], first, work.secondChunk(), work.tempChunk());
    }
    CarryOutcome carried = req.carry ? carryStep(fe, work, req) : CarryOutcome{};
    std::vector<std::string>& notes = carried.notes;
    if (terrainWithoutMtxm(req)) notes.emplace_back("Note: the game draws \"MTXM\", which was not copied.");

    Record r;
    r.map = req.editShown;
    r.spliceMap = req.spliceShown;
    r.spliceKey = mapKey(req.splice);
    r.sections = req.nameBytes();
    r.copied = copied;
    r.spliceCopied = spliceCopied;
    {
        const fileops::MappedFile made(work.tempChunk()), first(work.firstChunk());
        r.chunk = versionOf(made.bytes());
        r.holdsChunk = std::ranges::equal(made.bytes(), first.bytes());
    }
    r.sounds = carried.sounds;
    writeRecord(work, r);
    fe.setStatus("Done!");
    for (const std::string& line : notes) fe.note(line);
}

} // namespace

Result copySection(FrontEnd& fe, const WorkFolder& work) {
    Hold hold;
    return copySection(fe, work, hold);
}

Result copyAndSave(FrontEnd& fe, const WorkFolder& work) {
    Hold hold;
    const Result copied = copySection(fe, work, hold);
    return copied ? save(fe, work, hold) : copied;
}

Result copySection(FrontEnd& fe, const WorkFolder& work, Hold& hold) {
    const WorkPlace* place = nullptr;
    bool cleaned = false;
    Result result = run(fe, work, "Copy Section", [&] {
        fe.setStatus("Deleting temp files...");
        // Refuse what cannot work before the working folder is touched.
        const CopyRequest req = CopyRequest::from(fe);
        place = &hold.take(fe, work, req.edit, "Deleting temp files...");
        place->cleanUp();
        cleaned = true;
        fe.yield();
        copySteps(fe, *place, req);
    }, true);
    if (result) {
        try {
            place->dropPrevious();
        } catch (const std::exception&) {
            // The next clean-up deletes them.
        }
        return result;
    }
    if (!cleaned) {
        if (!result.quiet) fe.setStatus(failedLine("Copy Section", result.error));
        return result;
    }
    // A declined warning or a failure leaves the last good copy's files as they
    // were, and the front end shows what that copy was, so that Save writes it.
    std::string kept;
    try {
        place->restorePrevious();
        if (const auto r = readRecord(*place)) {
            fe.showInputs({r->spliceMap, r->sections});
            kept = "; the last copy, " + inQuotes(r->sections, " ") + " from " + mapName(platform::fromUtf8(r->spliceMap)) + ", is kept for Save.";
        }
    } catch (const std::exception&) {
        kept = "; run Copy Section again before Save.";
    }
    std::string line = result.quiet ? std::string("Copy Section cancelled") : failedLine("Copy Section", result.error);
    line += kept.empty() && result.quiet ? std::string(".") : kept;
    fe.setStatus(line);
    return result;
}

std::vector<std::string> sectionNames(const fs::path& map) {
    try {
        const auto data = archive::readMember(map, kChunkMember);
        const chunk::Rope file(data);
        const chunk::GameView view(file);
        std::vector<std::string> names;
        for (const auto& n : view.names())
            if (view.loaded(n)) names.push_back(n);
        return names;
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace splice
