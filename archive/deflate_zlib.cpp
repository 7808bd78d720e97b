// zlib sectors where libdeflate is not available (the MinGW build): written with
// zlib, and read by zlib alone.
#include "codec.h"

#include "layout.h"

#include <zlib.h>

#include <limits>

namespace archive::codec {
namespace {

// Sectors are kept until the whole member is coded: give back the working room.
std::optional<std::vector<uint8_t>> finish(std::vector<uint8_t> out, size_t size, size_t inSize) {
    if (size >= inSize)
        return std::nullopt;
    out.resize(size);
    out.shrink_to_fit();
    return out;
}

} // namespace

std::optional<uint32_t> inflateWhole(std::span<const uint8_t>, std::span<uint8_t>) { return std::nullopt; }

std::optional<std::vector<uint8_t>> compressZlib(std::span<const uint8_t> in) {
    if (in.empty() || in.size() > std::numeric_limits<uInt>::max() / 2)
        return std::nullopt;
    // As StormLib writes zlib sectors: the default level, and the smallest window
    // that spans the sector (from 512 bytes up to zlib's 32 KB).
    int windowBits = 9;
    while (windowBits < 15 && (size_t{1} << windowBits) < in.size())
        ++windowBits;
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::nullopt;
    std::vector<uint8_t> out(1 + deflateBound(&z, static_cast<uLong>(in.size())));
    out[0] = layout::kMaskZlib;
    z.next_in = const_cast<Bytef*>(in.data()); // zlib does not write to its input
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data() + 1;
    z.avail_out = static_cast<uInt>(out.size() - 1);
    const int rc = deflate(&z, Z_FINISH);
    const size_t size = 1 + z.total_out;
    deflateEnd(&z);
    return rc == Z_STREAM_END ? finish(std::move(out), size, in.size()) : std::nullopt;
}

} // namespace archive::codec
