// Our PKWARE DCL codec against StormLib's, in one process, on a file cut into
// 4096-byte sectors as maps store it: implode and explode times (best of a few
// runs, one thread), stored sizes (a sector stays raw when its stream is not
// smaller) and their ratios. Every decoded sector is
// checked against the input, both ways across the two codecs.
//
//   bench_codec FILE [RUNS]    FILE: e.g. made by bench/mkchunk.py
#include "best.h"
#include "dcl.h"
#include "fixtures.h"

#include <StormLib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <span>
#include <string>
#include <vector>

namespace {

using fixtures::Bytes;
constexpr size_t kSector = 4096;

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "bench_codec: %s\n", what.c_str());
    std::exit(1);
}

Bytes ourImplode(std::span<const uint8_t> in) { return *archive::dcl::implode(in); }

// Both decoders write into the caller's buffer: the timed loop allocates nothing.
size_t ourExplode(const Bytes& in, std::span<uint8_t> out) {
    const auto r = archive::dcl::explode(in, out);
    return r.fault == archive::dcl::Fault::None ? r.size : 0;
}

size_t stormExplode(const Bytes& in, std::span<uint8_t> out) {
    int size = static_cast<int>(out.size());
    return SCompExplode(out.data(), &size, const_cast<uint8_t*>(in.data()), static_cast<int>(in.size()))
               ? static_cast<size_t>(size)
               : 0;
}


struct Result {
    double implode = 0, explode = 0;
    size_t size = 0;
};

Result measure(const std::vector<std::span<const uint8_t>>& sectors, int runs, Bytes (*implode)(std::span<const uint8_t>),
               size_t (*explode)(const Bytes&, std::span<uint8_t>), size_t (*check)(const Bytes&, std::span<uint8_t>)) {
    std::vector<Bytes> coded(sectors.size());
    Result r;
    r.implode = bench::best(runs, [&] {
        for (size_t i = 0; i < sectors.size(); ++i)
            coded[i] = implode(sectors[i]);
    });
    // A sector whose stream is not smaller is stored raw, and read without a codec.
    std::vector<size_t> packed;
    for (size_t i = 0; i < sectors.size(); ++i) {
        r.size += std::min(coded[i].size(), sectors[i].size());
        if (coded[i].size() < sectors[i].size())
            packed.push_back(i);
    }
    Bytes out(kSector);
    r.explode = bench::best(runs, [&] {
        for (size_t i : packed)
            if (explode(coded[i], {out.data(), sectors[i].size()}) != sectors[i].size())
                die("a sector did not decode to its size");
    });
    for (size_t i : packed)
        if (check(coded[i], {out.data(), sectors[i].size()}) != sectors[i].size() ||
            !std::equal(sectors[i].begin(), sectors[i].end(), out.begin()))
            die("sector " + std::to_string(i) + " decodes to other bytes with the other codec");
    return r;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3)
        die("usage: bench_codec FILE [RUNS]");
    const int runs = argc == 3 ? std::max(1, std::atoi(argv[2])) : 5;
    std::ifstream f(argv[1], std::ios::binary);
    if (!f)
        die(std::string("cannot read ") + argv[1]);
    const Bytes data(std::istreambuf_iterator<char>(f), {});
    std::vector<std::span<const uint8_t>> sectors;
    for (size_t at = 0; at < data.size(); at += kSector)
        sectors.emplace_back(data.data() + at, std::min(kSector, data.size() - at));

    const Result ours = measure(sectors, runs, ourImplode, ourExplode, stormExplode);
    const Result storm = measure(sectors, runs, fixtures::stormImplode, stormExplode, ourExplode);
    const double mb = static_cast<double>(data.size()) / 1e6;
    std::printf("input: %s, %zu bytes, %zu sectors of %zu; best of %d runs, one thread\n", argv[1], data.size(),
                sectors.size(), kSector, runs);
    std::printf("%-9s %11s %9s %13s %7s %11s %9s\n", "codec", "implode s", "MB/s", "stored bytes", "ratio",
                "explode s", "MB/s");
    for (const auto& [name, r] : {std::pair{"ours", ours}, std::pair{"StormLib", storm}})
        std::printf("%-9s %11.4f %9.1f %13zu %7.4f %11.4f %9.1f\n", name, r.implode, mb / r.implode, r.size,
                    static_cast<double>(r.size) / static_cast<double>(data.size()), r.explode, mb / r.explode);
    std::printf("ours against StormLib: stored size %+.2f %%, implode %.2fx as fast, explode %.2fx as fast\n",
                100.0 * (static_cast<double>(ours.size) / static_cast<double>(storm.size) - 1), storm.implode / ours.implode,
                storm.explode / ours.explode);
    return 0;
}
