#include "codec.h"

#include <StormLib.h>

#include <limits>

namespace archive::codec {
namespace {

using Decoder = int (*)(void*, int*, void*, int);

std::optional<uint32_t> decodeInto(Decoder fn, std::span<const uint8_t> in, std::span<uint8_t> out) {
    if (in.empty() || in.size() > size_t(std::numeric_limits<int>::max()) ||
        out.size() > size_t(std::numeric_limits<int>::max()))
        return std::nullopt;
    int outSize = static_cast<int>(out.size());
    // The codecs take non-const input but do not write to it.
    if (!fn(out.data(), &outSize, const_cast<uint8_t*>(in.data()), static_cast<int>(in.size())) || outSize < 0 ||
        size_t(outSize) > out.size())
        return std::nullopt;
    return static_cast<uint32_t>(outSize);
}

// Room beyond the input: the codecs may overrun a tight buffer before giving up.
constexpr size_t kSlack = 1024;

std::optional<std::vector<uint8_t>> finish(std::vector<uint8_t> out, int outSize, size_t inSize) {
    if (outSize <= 0 || size_t(outSize) >= inSize)
        return std::nullopt;
    // Sectors are kept until the whole member is coded: give back the working room.
    out.resize(static_cast<size_t>(outSize));
    out.shrink_to_fit();
    return out;
}

} // namespace

std::optional<uint32_t> explodeInto(std::span<const uint8_t> in, std::span<uint8_t> out) {
    return decodeInto(SCompExplode, in, out);
}

std::optional<uint32_t> decompressInto(std::span<const uint8_t> in, std::span<uint8_t> out) {
    return decodeInto(SCompDecompress, in, out);
}

std::optional<std::vector<uint8_t>> implode(std::span<const uint8_t> in) {
    if (in.empty() || in.size() > size_t(std::numeric_limits<int>::max() / 2))
        return std::nullopt;
    std::vector<uint8_t> out(in.size() * 2 + kSlack);
    int outSize = static_cast<int>(out.size());
    if (!SCompImplode(out.data(), &outSize, const_cast<uint8_t*>(in.data()), static_cast<int>(in.size())))
        return std::nullopt;
    return finish(std::move(out), outSize, in.size());
}

std::optional<std::vector<uint8_t>> compressZlib(std::span<const uint8_t> in) {
    if (in.empty() || in.size() > size_t(std::numeric_limits<int>::max() / 2))
        return std::nullopt;
    std::vector<uint8_t> out(in.size() * 2 + kSlack);
    int outSize = static_cast<int>(out.size());
    if (!SCompCompress(out.data(), &outSize, const_cast<uint8_t*>(in.data()), static_cast<int>(in.size()),
                       MPQ_COMPRESSION_ZLIB, 0, 0))
        return std::nullopt;
    // StormLib stores the input without a mask byte when compression does not pay.
    if (outSize <= 0 || out[0] != MPQ_COMPRESSION_ZLIB)
        return std::nullopt;
    return finish(std::move(out), outSize, in.size());
}

} // namespace archive::codec
