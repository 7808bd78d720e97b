// Edits arbitrary archive bytes: replaces a member with new data and, when another
// member can be read as stored, carries it under a new name in the same edit.
// Whenever the edit succeeds, the member reads back as the bytes given and the
// carried one as the bytes it was stored with.
// Input: 1 byte choosing the name, 2 bytes of data length, the data, then the archive.
#include "archive.h"
#include "fuzz.h"

#include <optional>
#include <string>

namespace {
const char* const kNames[] = {"staredit\\scenario.chk", "(listfile)", "extra\\notes.txt", "new\\member.bin"};
const char* const kCarried = "staredit\\wav\\carried.wav";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* raw, size_t size) {
    fuzz::Reader in(raw, size);
    const size_t choice = in.take(1) % std::size(kNames);
    const char* name = kNames[choice];
    const auto data = in.bytes(in.take(2));
    const auto bytes = in.rest();
    std::optional<archive::StoredMember> stored;
    try {
        stored = archive::readStored(bytes, kNames[(choice + 2) % std::size(kNames)], "fuzz.scm");
    } catch (const archive::ArchiveError&) {
    }
    std::vector<archive::Change> changes = {archive::Change::replace(name, data)};
    if (stored)
        changes.push_back(archive::Change::carry(kCarried, *stored));
    std::vector<uint8_t> added;
    try {
        added = archive::editInMemory(bytes, changes, "fuzz.scm");
    } catch (const archive::ArchiveError& e) {
        if (std::string(e.what()).rfind("fuzz.scm: ", 0) != 0)
            fuzz::fail("edit error does not name the archive");
        return 0;
    }
    try {
        const auto back = archive::readMember(added, name, "fuzz.scm");
        if (!std::equal(back.begin(), back.end(), data.begin(), data.end()))
            fuzz::fail("the member read back differs from the bytes added");
        if (stored && archive::readStored(added, kCarried, "fuzz.scm").bytes != stored->bytes)
            fuzz::fail("the carried member differs from the one read");
    } catch (const archive::ArchiveError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        fuzz::fail("the member added cannot be read back");
    }
    return 0;
}
