#include "codec.h"

#include "dcl.h"
#include "layout.h"

#include <zlib.h>

#include <limits>

namespace archive::codec {
namespace {

std::optional<uint32_t> inflateInto(std::span<const uint8_t> in, std::span<uint8_t> out) {
    if (in.size() > std::numeric_limits<uInt>::max() || out.size() > std::numeric_limits<uInt>::max())
        return std::nullopt;
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return std::nullopt;
    z.next_in = const_cast<Bytef*>(in.data()); // zlib does not write to its input
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&z, Z_FINISH);
    const size_t size = out.size() - z.avail_out;
    inflateEnd(&z);
    // A stream cut short gives what it decoded, one that wants more room than the
    // sector owes fills it, as map readers have always taken them; broken data is refused.
    if ((rc != Z_STREAM_END && rc != Z_BUF_ERROR) || size == 0)
        return std::nullopt;
    return static_cast<uint32_t>(size);
}

} // namespace

std::optional<uint32_t> explodeInto(std::span<const uint8_t> in, std::span<uint8_t> out) {
    // The game's decoder refuses a stream of 4 bytes or fewer; one that decodes to
    // nothing owes a sector nothing, and a copy before the first byte would read
    // whatever its buffer held. A cut stream or one that overflows the sector gives
    // what the game's decoder gives.
    if (in.size() <= 4)
        return std::nullopt;
    const dcl::Exploded r = dcl::explode(in, out);
    if (r.fault == dcl::Fault::BadHeader || r.fault == dcl::Fault::BeforeStart || r.size == 0)
        return std::nullopt;
    return static_cast<uint32_t>(r.size);
}

std::optional<uint32_t> decompressInto(std::span<const uint8_t> in, std::span<uint8_t> out) {
    if (in.empty())
        return std::nullopt;
    const auto body = in.subspan(1);
    switch (in[0]) {
    case layout::kMaskPkware:
        return explodeInto(body, out);
    case layout::kMaskZlib:
        if (const auto size = inflateWhole(body, out); size && *size > 0)
            return size;
        return inflateInto(body, out);
    default:
        return std::nullopt;
    }
}

std::optional<std::vector<uint8_t>> implode(std::span<const uint8_t> in) {
    return dcl::implode(in, {.below = in.size()});
}

} // namespace archive::codec
