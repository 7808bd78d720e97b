// Opens arbitrary bytes as a map archive and reads members from it. A refusal is
// an ArchiveError; anything else escaping, a crash, a leak or UB is a finding.
#include "archive.h"
#include "fuzz.h"

#include <string>

namespace {
const char* const kNames[] = {"staredit\\scenario.chk", "(listfile)", "extra\\notes.txt"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    for (const char* name : kNames) {
        try {
            const auto member = archive::readMember(bytes, name, "fuzz.scm");
            if (member.size() > archive::kMaxMemberSize)
                fuzz::fail("member larger than the limit was returned");
        } catch (const archive::ArchiveError& e) {
            if (std::string(e.what()).rfind("fuzz.scm: ", 0) != 0)
                fuzz::fail("error does not name the archive");
        }
    }
    return 0;
}
