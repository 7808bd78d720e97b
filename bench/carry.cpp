// Times carrying the strings of a copied section against the copy itself, in
// one process, on two chunk files (e.g. made by bench/mkstrings.py): the walk of
// both and copySection, then carryStrings on its result (best of a few runs).
//
//   bench_carry EDIT SPLICE [SECTION] [RUNS]     SECTION defaults to TRIG
#include "best.h"
#include "carry.h"
#include "copy.h"
#include "fixtures.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_carry EDIT SPLICE [SECTION] [RUNS]\n");
        return 2;
    }
    const fixtures::Bytes edit = fixtures::readAll(argv[1]), splice = fixtures::readAll(argv[2]);
    std::string name = argc > 3 ? argv[3] : "TRIG";
    name.resize(4, ' ');
    const int runs = argc > 4 ? std::stoi(argv[4]) : 20;
    const chunk::Rope e(edit), s(splice);
    const std::vector<std::string> names = {name};

    const double copy = bench::best(runs, [&] { chunk::copySection(chunk::GameView(e), chunk::GameView(s), name); });
    const chunk::Copied copied = chunk::copySection(chunk::GameView(e), chunk::GameView(s), name);
    const chunk::GameView vc(copied.file), vs(s);
    chunk::Carried carried;
    const double carry = bench::best(runs, [&] { carried = chunk::carryStrings(vc, vs, names, {}); });
    std::printf("chunk files: %zu and %zu bytes; \"%s\" carried %zu strings\n", edit.size(), splice.size(),
                name.c_str(), carried.strings);
    std::printf("copySection %.6f s, carryStrings %.6f s (best of %d)\n", copy, carry, runs);
    return 0;
}
