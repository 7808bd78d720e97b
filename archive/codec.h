// Sector codecs. The only place that calls StormLib.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace archive::codec {

// Each returns the decoded bytes, at most `limit` of them, or nothing when the
// stream is not valid.
std::optional<std::vector<uint8_t>> explode(std::span<const uint8_t> in, uint32_t limit);
// `in` starts with the compression mask byte; only zlib (0x02) and PKWARE (0x08) are
// accepted by the caller.
std::optional<std::vector<uint8_t>> decompress(std::span<const uint8_t> in, uint32_t limit);

// Each returns the encoded sector, or nothing when it would not be smaller than `in`.
std::optional<std::vector<uint8_t>> implode(std::span<const uint8_t> in);
std::optional<std::vector<uint8_t>> compressZlib(std::span<const uint8_t> in); // with mask byte

} // namespace archive::codec
