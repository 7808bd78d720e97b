// Adds a member to arbitrary archive bytes; whenever the add succeeds, reading the
// member back must give exactly the bytes added.
// Input: 1 byte choosing the name, 2 bytes of data length, the data, then the archive.
#include "archive.h"
#include "fuzz.h"

#include <string>

namespace {
const char* const kNames[] = {"staredit\\scenario.chk", "(listfile)", "extra\\notes.txt", "new\\member.bin"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* raw, size_t size) {
    fuzz::Reader in(raw, size);
    const char* name = kNames[in.take(1) % std::size(kNames)];
    const auto data = in.bytes(in.take(2));
    const auto bytes = in.rest();
    std::vector<uint8_t> added;
    try {
        added = archive::addInMemory(bytes, data, name, "fuzz.scm");
    } catch (const archive::ArchiveError& e) {
        if (std::string(e.what()).rfind("fuzz.scm: ", 0) != 0)
            fuzz::fail("add error does not name the archive");
        return 0;
    }
    try {
        const auto back = archive::readMember(added, name, "fuzz.scm");
        if (!std::equal(back.begin(), back.end(), data.begin(), data.end()))
            fuzz::fail("the member read back differs from the bytes added");
    } catch (const archive::ArchiveError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        fuzz::fail("the member added cannot be read back");
    }
    return 0;
}
