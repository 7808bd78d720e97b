// Copy Section + Save on two arbitrary chunk files.
// Input: 4 bytes of section name, 2 bytes splitting the rest into the chunk file
// of the map to edit and that of the map to splice, 1 byte answering warnings.
// A Copy Section that succeeds must give a chunk file in which the game reads the
// splice map's section for the name and everything else as in the map to edit
// (where neither repeats the name: the plain three-part splice), and Save must
// store it. Carrying the copied section's strings must then make every string field
// of it read the splice map's text, and leave every other section and text as it
// was, or refuse with a reason.
#include "archive.h"
#include "carry.h"
#include "fuzz.h"
#include "layout.h"
#include "fileops.h"
#include "view.h"
#include "platform.h"
#include "splice.h"
#include "strings_model.h"

#include <cstring>
#include <fstream>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// An empty archive of 16 hash entries; Copy Section reads chunk files from maps.
Bytes emptyArchive() {
    const auto hashes = archive::layout::encodeTable(std::vector<archive::layout::HashEntry>(16));
    Bytes out(32);
    const uint8_t signature[4] = {'M', 'P', 'Q', 0x1A};
    std::memcpy(out.data(), signature, 4);
    archive::layout::store32(out.data() + 4, 32);
    archive::layout::store32(out.data() + 8, static_cast<uint32_t>(32 + hashes.size()));
    out[14] = 3;
    archive::layout::store32(out.data() + 16, 32);
    archive::layout::store32(out.data() + 20, static_cast<uint32_t>(32 + hashes.size()));
    archive::layout::store32(out.data() + 24, 16);
    out.insert(out.end(), hashes.begin(), hashes.end());
    return out;
}

Bytes mapOf(std::span<const uint8_t> chunkFile) {
    static const Bytes empty = emptyArchive();
    return archive::addInMemory(empty, chunkFile, splice::kChunkMember, "fuzz");
}

void writeFile(const fs::path& p, const Bytes& b) {
    std::ofstream f(p, std::ios::binary);
    if (!f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size())) || (f.close(), !f))
        fuzz::fail("cannot write a scratch file");
}

Bytes readFile(const fs::path& p) { return fileops::readFile(p); }

const fs::path& scratch() {
    static const fs::path dir = [] {
        const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        fs::path d = base / ("graftwell-fuzz-" + std::to_string(std::random_device()()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

class Fixed : public splice::FrontEnd {
public:
    Fixed(std::string edit, std::string other, std::string name, bool yes)
        : edit_(std::move(edit)), other_(std::move(other)), name_(std::move(name)), yes_(yes) {}
    std::string mapEditPath() override { return edit_; }
    std::string mapSplicePath() override { return other_; }
    std::vector<std::string> sectionNames() override { return {name_}; }
    void setStatus(const std::string&) override {}
    void yield() override {}
    bool confirm(const std::string&) override { return yes_; }
    // The bytes alone: the carrying property is checked on them separately.
    bool carryStrings() override { return false; }

private:
    std::string edit_, other_, name_;
    bool yes_;
};

// What the game reads for every name of `out` is `edit`'s, but for `name`, which is `splice`'s.
void checkViews(const Bytes& edit, const Bytes& splice, const Bytes& out, const std::string& name) {
    const chunk::Rope e(edit), s(splice), o(out);
    const chunk::GameView ve(e), vs(s), vo(o);
    std::vector<std::string> names = ve.names();
    names.insert(names.end(), vo.names().begin(), vo.names().end());
    for (const auto& n : names) {
        const auto want = n == name ? vs.loaded(n) : ve.loaded(n);
        const auto got = vo.loaded(n);
        if (want.has_value() != got.has_value() || (want && want->bytes() != got->bytes()))
            fuzz::fail(n == name ? "the game does not read the copied section" : "another section changed");
    }
    // Where neither file repeats the name and it is read whole: the three-part splice, unless a jump back
    // crosses the section and must be kept landing where it did.
    const auto whole = [&](const chunk::GameView& v) {
        const auto& list = v.of(name);
        if (list.size() != 1) return false;
        const chunk::Instance& in = v.instances()[list[0]];
        return in.survives() && in.size == uint64_t(in.length) && in.taken == in.size;
    };
    const auto crossed = [&](const chunk::Instance& at) {
        for (const auto& in : ve.instances())
            if (in.use == chunk::Use::Jump && in.pos > at.pos && int64_t(in.pos) + 8 + in.length >= 0 &&
                uint64_t(int64_t(in.pos) + 8 + in.length) < at.end())
                return true;
        return false;
    };
    if (whole(ve) && whole(vs) && !crossed(ve.instances()[ve.of(name)[0]])) {
        const chunk::Instance& a = ve.instances()[ve.of(name)[0]];
        const chunk::Instance& b = vs.instances()[vs.of(name)[0]];
        Bytes three(edit.begin(), edit.begin() + long(a.pos));
        three.insert(three.end(), splice.begin() + long(b.pos), splice.begin() + long(b.end()));
        three.insert(three.end(), edit.begin() + long(a.end()), edit.end());
        if (three != out)
            fuzz::fail("the simple case is not the three-part splice");
    }
}

void checkCarried(const Bytes& copied, const Bytes& spliced, const std::string& name, bool rename) {
    const chunk::Rope c(copied), s(spliced);
    const chunk::GameView vc(c), vs(s);
    const std::vector<std::string> names = {name};
    std::map<std::string, std::string> sounds;
    try {
        for (const auto& path : chunk::soundPaths(vs, names))
            sounds[path] = rename ? path + "~" : path;
        const chunk::Carried carried = chunk::carryStrings(vc, vs, names, sounds);
        const std::string fault = model::carriedFault(copied, spliced, names, sounds, carried.file.bytes());
        if (!fault.empty()) {
            std::fprintf(stderr, "%s\n", fault.c_str());
            fuzz::fail("carrying the strings broke the property");
        }
    } catch (const chunk::ChunkError& e) {
        if (!*e.what())
            fuzz::fail("a refusal to carry strings without a reason");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* raw, size_t size) {
    fuzz::Reader in(raw, size);
    const auto nameBytes = in.bytes(4);
    const std::string given(nameBytes.begin(), nameBytes.end());
    const uint32_t split = in.take(2);
    const bool yes = in.take(1) & 1;
    const auto a = in.bytes(split);
    const auto b = in.rest();

    std::string name;
    try {
        name = chunk::normalizeName(given);
    } catch (const chunk::ChunkError&) {
        if (!given.empty())
            fuzz::fail("a 1 to 4 byte name was refused");
        return 0;
    }

    const fs::path dir = scratch();
    const fs::path edit = dir / "edit.scm", other = dir / "other.scm";
    const Bytes editMap = mapOf(a), otherMap = mapOf(b);
    writeFile(edit, editMap);
    writeFile(other, otherMap);
    const splice::WorkFolder work(dir);
    Fixed fe(platform::toUtf8(edit), platform::toUtf8(other), given, yes);

    const splice::Result copied = splice::copySection(fe, work);
    if (readFile(edit) != editMap || readFile(other) != otherMap)
        fuzz::fail("Copy Section changed a map");
    if (!copied) {
        if (copied.error.empty())
            fuzz::fail("a refusal without a reason");
        return 0;
    }

    const Bytes edited(a.begin(), a.end()), spliced(b.begin(), b.end()), out = readFile(work.placeOf(edit).tempChunk());
    checkViews(edited, spliced, out, name);
    checkCarried(out, spliced, name, yes);

    const splice::Result saved = splice::save(fe, work);
    if (!saved) {
        std::fprintf(stderr, "%s\n", saved.error.c_str());
        fuzz::fail("Save refused a map it had just copied from");
    }
    if (archive::readMember(edit, splice::kChunkMember) != out)
        fuzz::fail("the saved map does not hold the copied chunk file");
    return 0;
}
