// Writes the maps the growth benchmark saves again and again: for each protection
// we reproduce, and for clean maps of each codec, a map to edit whose chunk file
// holds a sizeable mix of sections, and two maps to splice whose only difference
// from it is a 4-byte SPRP, so that each copy leaves a chunk file compressing to
// the old one's size.
//
//   bench_growth FOLDER    writes FOLDER/<map>.scm, FOLDER/splice-a.scm, FOLDER/splice-b.scm
#include "fixtures.h"
#include "protections.h"

#include <cstdio>
#include <string>

using fixtures::Bytes;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_growth FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    const auto chunk = [](uint16_t sprp) {
        Bytes out = protections::sampleChunk(1, 240 * 1024);
        const Bytes tail = fixtures::makeChunk({{"SPRP", {uint8_t(sprp), 0, uint8_t(sprp + 1), 0}}});
        out.insert(out.end(), tail.begin(), tail.end());
        return out;
    };
    for (const auto& p : protections::all())
        protections::make(p, folder / (p.name + ".scm"), chunk(1));
    using fixtures::Codec;
    const std::pair<const char*, Codec> clean[] = {
        {"CleanZlib", Codec::Zlib}, {"CleanPkware", Codec::Pkware}, {"CleanImplode", Codec::Implode}, {"CleanPlain", Codec::None}};
    for (const auto& [name, codec] : clean)
        fixtures::makeMap(folder / (std::string(name) + ".scm"), chunk(1), {.codec = codec},
                          {{protections::kNotesName, protections::sampleNotes()}});
    fixtures::makeMap(folder / "splice-a.scm", chunk(2));
    fixtures::makeMap(folder / "splice-b.scm", chunk(3));
    return 0;
}
