// Section look-up and Copy Section + Save on two arbitrary chunk files.
// Input: 4 bytes of section name, 2 bytes splitting the rest into the chunk file
// of the map to edit and that of the map to splice, 1 byte answering warnings.
// The look-up must agree with the walk; a Copy Section that succeeds must give
// the edit chunk with its section replaced by the other's, and Save must store it.
#include "archive.h"
#include "fuzz.h"
#include "layout.h"
#include "modFunctions.h"
#include "splice.h"

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

Bytes readFile(const fs::path& p) { return chunk::readFile(p); }

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
    std::string sectionName() override { return name_; }
    void setStatus(const std::string&) override {}
    void yield() override {}
    bool confirm(const std::string&) override { return yes_; }

private:
    std::string edit_, other_, name_;
    bool yes_;
};

// The look-up against the full walk.
void checkLookup(std::span<const uint8_t> data, const std::string& name) {
    const int32_t at = chunk::findSection(data, name);
    int32_t walked = -1;
    for (const auto& s : chunk::walkSections(data))
        if (s.name == name) {
            walked = s.lengthPos;
            break;
        }
    if (at != walked)
        fuzz::fail("findSection disagrees with walkSections");
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
    checkLookup(a, name);
    checkLookup(b, name);

    const fs::path dir = scratch();
    const fs::path edit = dir / "edit.scm", other = dir / "other.scm";
    const Bytes editMap = mapOf(a), otherMap = mapOf(b);
    writeFile(edit, editMap);
    writeFile(other, otherMap);
    const splice::WorkFolder work(dir);
    Fixed fe(edit.string(), other.string(), given, yes);

    const splice::Result copied = splice::copySection(fe, work);
    if (readFile(edit) != editMap || readFile(other) != otherMap)
        fuzz::fail("Copy Section changed a map");
    if (!copied) {
        if (copied.error.empty())
            fuzz::fail("a refusal without a reason");
        return 0;
    }

    // What the copy must be: a's bytes before its section, b's whole section, a's bytes after.
    const int32_t p1 = chunk::findSection(a, name), p2 = chunk::findSection(b, name);
    if (p1 < 0 || p2 < 0)
        fuzz::fail("Copy Section succeeded without the section in both files");
    const int64_t n1 = chunk::readLength(a, p1), n2 = chunk::readLength(b, p2);
    if (n1 < 0 || n2 < 0 || p1 + 3 + n1 > int64_t(a.size()) || p2 + 3 + n2 > int64_t(b.size()))
        fuzz::fail("Copy Section took a section that runs past its file");
    Bytes expected(a.begin(), a.begin() + (p1 - 5));
    expected.insert(expected.end(), b.begin() + (p2 - 5), b.begin() + (p2 + 3 + n2));
    expected.insert(expected.end(), a.begin() + (p1 + 3 + n1), a.end());
    if (readFile(work.tempChunk()) != expected)
        fuzz::fail("the copied chunk file is not the edit one with the section replaced");

    const splice::Result saved = splice::save(fe, work);
    if (!saved) {
        std::fprintf(stderr, "%s\n", saved.error.c_str());
        fuzz::fail("Save refused a map it had just copied from");
    }
    if (archive::readMember(edit, splice::kChunkMember) != expected)
        fuzz::fail("the saved map does not hold the copied chunk file");
    return 0;
}
