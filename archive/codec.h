// Sector codecs: PKWARE DCL (our own, dcl.h) and zlib.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace archive::codec {

// Each decodes a sector straight into `out`, writing at most its size, and returns
// the decoded size, or nothing when the stream is not valid. `in` of decompressInto
// starts with the compression mask byte; only zlib (0x02) and PKWARE (0x08) are
// accepted by the caller.
std::optional<uint32_t> explodeInto(std::span<const uint8_t> in, std::span<uint8_t> out);
std::optional<uint32_t> decompressInto(std::span<const uint8_t> in, std::span<uint8_t> out);

// A whole zlib stream (no mask byte) that fits `out`, decoded by the fastest decoder
// at hand; nothing when it is cut, too long or broken, or when no faster decoder
// than zlib's is built in (decompressInto then gives zlib's reading of it).
std::optional<uint32_t> inflateWhole(std::span<const uint8_t> in, std::span<uint8_t> out);

// Each returns the encoded sector, or nothing when it would not be smaller than `in`.
std::optional<std::vector<uint8_t>> implode(std::span<const uint8_t> in);
std::optional<std::vector<uint8_t>> compressZlib(std::span<const uint8_t> in); // with mask byte

} // namespace archive::codec
