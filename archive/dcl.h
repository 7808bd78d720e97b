// PKWARE Data Compression Library streams ("implode"), the codec of map sectors
// with mask 0x08 and of imploded members. The format is described in dcl.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace archive::dcl {

// Why a stream was refused.
enum class Fault : uint8_t {
    None,
    BadHeader,   // literal mode other than 0/1, or window other than 1024/2048/4096
    Truncated,   // the input ends before the end code
    BeforeStart, // a copy reaches back before the first output byte
    Overflow,    // the stream decodes to more bytes than the output holds
};

struct Exploded {
    // Bytes written. With a fault, what the game's decoder gives: the tokens before
    // a cut that it takes, the output full where it overflows, the bytes before a
    // bad copy.
    size_t size = 0;
    Fault fault = Fault::None;
};

// Decodes one whole stream into `out`. Never writes past `out` nor reads past `in`.
Exploded explode(std::span<const uint8_t> in, std::span<uint8_t> out);

struct ImplodeOptions {
    bool ascii = false;    // Huffman-coded literals instead of plain bytes
    unsigned window = 0;   // 1024, 2048 or 4096; 0: by input size, as StormLib picks
    size_t below = SIZE_MAX; // give up once the stream would be this long or longer
};

// Encodes `in` as one stream, or nothing when it would not be shorter than `below`.
std::optional<std::vector<uint8_t>> implode(std::span<const uint8_t> in, const ImplodeOptions& options = {});

} // namespace archive::dcl
