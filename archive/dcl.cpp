// PKWARE Data Compression Library ("implode"/"explode") streams.
//
// The format, as Ben Rudiak-Gould described it in 2001 and zlib's contrib/blast
// decodes it:
//
// - Bits are packed into bytes least significant bit first; an n-bit value is
//   read with its first bit as its least significant one.
// - Two header bytes: 0 for literals stored as plain bytes ("binary") or 1 for
//   Huffman-coded literals ("ASCII"); then 4, 5 or 6, the log2 of the window
//   size minus 6 (1024, 2048 or 4096 bytes).
// - Then tokens until the end code. One bit: 0 a literal, 1 a copy.
//   - A literal is eight bits (binary) or a literal code (ASCII).
//   - A copy is a length code symbol s and extra[s] bits e, length base[s] + e
//     (2..518). Length 519 is the end of the stream. Then a distance code
//     symbol d and k low bits, k = 2 for length 2 and the header's 4..6
//     otherwise: distance = (d << k) + low + 1. A copy may overlap its own
//     output (distance < length repeats bytes); it may not reach before the
//     first output byte.
// - The three code tables are fixed. Each gives a code length per symbol; the
//   codes are the canonical codes of those lengths (shorter first, then by
//   symbol, counting up from zero), every bit complemented, written most
//   significant bit first. All three are complete: every bit string starts
//   with exactly one code.
//
// A worked example: 00 04 82 24 25 8f 80 7f is "AIAIAIAIAIAIA".
//   00 04         binary literals, window 1024 (k = 4)
//   82 24 25 ...  as bits in reading order: 0 10000010 0 10010010 1 00100
//                 1 11 1000 1 0000000 11111111 0
//     0 10000010  literal 0x41 'A' (the eight bits read lowest first)
//     0 10010010  literal 0x49 'I'
//     1 00100 1   copy: length symbol 8 (base 10) and one extra bit 1: 11 bytes
//       11 1000   distance symbol 0, then four low bits 1: distance 2
//     1 0000000 11111111   length symbol 15, extra 255: 519, the end
//     0           padding to the byte
#include "dcl.h"

#include <array>
#include <bit>
#include <cstring>
#include <utility>

namespace archive::dcl {
namespace {

constexpr unsigned kEndLength = 519;
constexpr unsigned kMaxLength = 518;
constexpr size_t kHeaderSize = 2;

constexpr std::array<uint16_t, 16> kLengthBase = {3, 2, 4, 5, 6, 7, 8, 9, 10, 12, 16, 24, 40, 72, 136, 264};
constexpr std::array<uint8_t, 16> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};

constexpr std::array<uint8_t, 16> kLengthBits = {2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 7, 7};

constexpr std::array<uint8_t, 64> kDistanceBits = [] {
    std::array<uint8_t, 64> b{2, 4, 4, 5, 5, 5, 5};
    for (size_t d = 7; d < 64; ++d)
        b[d] = d < 22 ? 6 : d < 48 ? 7 : 8;
    return b;
}();

// Code lengths of the literal bytes in ASCII streams: short for text.
constexpr std::array<uint8_t, 256> kLiteralBits = [] {
    constexpr uint8_t low[128] = {
        11, 12, 12, 12, 12, 12, 12, 12, 12,  8,  7, 12, 12,  7, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 13, 12, 12, 12, 12, 12, // 0-31
         4, 10,  8, 12, 10, 12, 10,  8,  7,  7,  8,  9,  7,  6,  7,  8,  7,  6,  7,  7,  7,  7,  8,  7,  7,  8,  8, 12, 11,  7,  9, 11, // 32-63
        12,  6,  7,  6,  6,  5,  7,  8,  8,  6, 11,  9,  6,  7,  6,  6,  7, 11,  6,  6,  6,  7,  9,  8,  9,  9, 11,  8, 11,  9, 12,  8, // 64-95
        12,  5,  6,  6,  6,  5,  6,  6,  6,  5, 11,  7,  5,  6,  5,  5,  6, 10,  5,  5,  5,  5,  8,  7,  8,  8, 10, 11, 11, 12, 12, 12, // 96-127
    };
    constexpr uint8_t high[32] = {
        13, 12, 13, 13, 13, 12, 13, 13, 13, 12, 13, 13, 13, 13, 12, 13, 13, 13, 12, 12, 12, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13 // 224-255
    };
    std::array<uint8_t, 256> b{};
    for (size_t c = 0; c < 256; ++c)
        b[c] = c < 128 ? low[c] : c < 176 ? 13 : c < 224 ? 12 : high[c - 224];
    return b;
}();

// A symbol's code as it lies in the stream: `bits` (first bit lowest) of `length`.
struct Code {
    uint16_t bits = 0;
    uint8_t length = 0;
};

// The canonical codes of `lengths`, complemented and bit-reversed into reading order.
template <size_t N> constexpr std::array<Code, N> streamCodes(const std::array<uint8_t, N>& lengths) {
    std::array<Code, N> codes{};
    unsigned next = 0;
    for (uint8_t len = 1; len <= 13; ++len, next <<= 1)
        for (size_t s = 0; s < N; ++s) {
            if (lengths[s] != len)
                continue;
            const unsigned code = ~next++ & ((1u << len) - 1);
            unsigned reversed = 0;
            for (uint8_t i = 0; i < len; ++i)
                reversed |= ((code >> i) & 1u) << (len - 1 - i);
            codes[s] = {static_cast<uint16_t>(reversed), len};
        }
    return codes;
}

constexpr auto kLengthCodes = streamCodes(kLengthBits);
constexpr auto kDistanceCodes = streamCodes(kDistanceBits);
constexpr auto kLiteralCodes = streamCodes(kLiteralBits);

// A decoding table over the next `Width` bits of the stream: the symbol whose code
// starts them and that code's length. The codes being complete, every slot is set.
template <unsigned Width> struct Table {
    std::array<uint8_t, 1u << Width> symbol{}, length{};
};

template <unsigned Width, size_t N> constexpr Table<Width> decodeTable(const std::array<Code, N>& codes) {
    Table<Width> t;
    for (size_t s = 0; s < N; ++s)
        for (unsigned fill = codes[s].bits; fill < (1u << Width); fill += 1u << codes[s].length) {
            t.symbol[fill] = static_cast<uint8_t>(s);
            t.length[fill] = codes[s].length;
        }
    return t;
}

constexpr auto kLengthTable = decodeTable<7>(kLengthCodes);
constexpr auto kDistanceTable = decodeTable<8>(kDistanceCodes);
const auto kLiteralTable = decodeTable<13>(kLiteralCodes); // 16 KB: built at start-up, not by the compiler

uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap64(v);
    return v;
}

// The input as bits. Holds up to 64 bits; reads no byte past the end of the input.
class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> in) : at_(in.data()), end_(in.data() + in.size()) {}

    // Tops the buffer up to at least 56 bits, or to all that is left of the input.
    void refill() {
        if (end_ - at_ >= 8) {
            // Whole bytes only are counted; the bits of a byte loaded twice agree.
            bits_ |= load64(at_) << count_;
            at_ += (63 - count_) >> 3;
            count_ |= 56;
            return;
        }
        while (count_ <= 56 && at_ < end_) {
            bits_ |= uint64_t{*at_++} << count_;
            count_ += 8;
        }
    }
    bool has(unsigned n) const { return count_ >= n; }
    unsigned peek(unsigned n) const { return static_cast<unsigned>(bits_ & ((uint64_t{1} << n) - 1)); }
    void drop(unsigned n) {
        bits_ >>= n;
        count_ -= n;
        taken_ += n;
    }
    // Bits taken since the start of the input.
    uint64_t taken() const { return taken_; }
    // The symbol of the code at the front, or nothing when the input ends inside it.
    template <unsigned Width> std::optional<unsigned> decode(const Table<Width>& t) {
        // Past the counted bits lie zeros or the input's next bits: a code is
        // taken only when all of its bits are counted.
        const unsigned slot = peek(Width);
        if (!has(t.length[slot]))
            return std::nullopt;
        drop(t.length[slot]);
        return t.symbol[slot];
    }

private:
    const uint8_t* at_;
    const uint8_t* end_;
    uint64_t bits_ = 0;
    unsigned count_ = 0;
    uint64_t taken_ = 0;
};

} // namespace

Exploded explode(std::span<const uint8_t> in, std::span<uint8_t> out) {
    if (in.size() < kHeaderSize)
        return {0, Fault::Truncated};
    const bool ascii = in[0] == 1;
    const unsigned k = in[1];
    if (in[0] > 1 || k < 4 || k > 6)
        return {0, Fault::BadHeader};

    BitReader bits(in.subspan(kHeaderSize));
    // The game's decoder keeps the byte after the bits it takes loaded, and gives up
    // when there is none: a token counts only when a whole byte follows it, so a cut
    // stream ends with the last token that has one. Of the end code, only its length
    // symbol needs one.
    const uint64_t usable = (in.size() - kHeaderSize) * 8 - std::min<uint64_t>(8, (in.size() - kHeaderSize) * 8);
    uint8_t* const to = out.data();
    const size_t room = out.size();
    size_t pos = 0;
    for (;;) {
        // One refill covers a whole token: at most 1 + 7 + 8 + 8 + 6 bits.
        bits.refill();
        if (!bits.has(1))
            return {pos, Fault::Truncated};
        const bool copy = bits.peek(1);
        bits.drop(1);
        if (!copy) {
            unsigned literal;
            if (ascii) {
                const auto symbol = bits.decode(kLiteralTable);
                if (!symbol)
                    return {pos, Fault::Truncated};
                literal = *symbol;
            } else {
                if (!bits.has(8))
                    return {pos, Fault::Truncated};
                literal = bits.peek(8);
                bits.drop(8);
            }
            if (bits.taken() > usable)
                return {pos, Fault::Truncated};
            // What does not fit in the sector is dropped.
            if (pos == room)
                return {pos, Fault::Overflow};
            to[pos++] = static_cast<uint8_t>(literal);
            continue;
        }

        const auto s = bits.decode(kLengthTable);
        if (!s || !bits.has(kLengthExtra[*s]))
            return {pos, Fault::Truncated};
        const unsigned length = kLengthBase[*s] + bits.peek(kLengthExtra[*s]);
        bits.drop(kLengthExtra[*s]);
        if (length == kEndLength)
            return {pos, bits.taken() - kLengthExtra.back() > usable ? Fault::Truncated : Fault::None};
        // A two-byte copy has only two low bits: it reaches back at most 256 bytes.
        const unsigned low = length == 2 ? 2 : k;
        const auto d = bits.decode(kDistanceTable);
        if (!d || !bits.has(low))
            return {pos, Fault::Truncated};
        const size_t distance = (size_t{*d} << low) + bits.peek(low) + 1;
        bits.drop(low);
        if (bits.taken() > usable)
            return {pos, Fault::Truncated};
        if (distance > pos)
            return {pos, Fault::BeforeStart};
        const size_t fits = std::min<size_t>(length, room - pos);
        uint8_t* dst = to + pos;
        const uint8_t* src = dst - distance;
        if (distance >= fits) {
            std::memcpy(dst, src, fits);
        } else if (distance == 1) {
            std::memset(dst, *src, fits);
        } else {
            // Overlapping: the last `distance` bytes repeat; copy them a period at a time.
            for (size_t left = fits; left > 0;) {
                const size_t n = std::min(left, distance);
                std::memcpy(dst, src, n);
                dst += n, src += n, left -= n;
            }
        }
        pos += fits;
        if (fits < length)
            return {pos, Fault::Overflow};
    }
}

namespace {

// Bits gathered lowest first and stored a byte at a time.
class BitWriter {
public:
    explicit BitWriter(uint8_t* out) : at_(out) {}
    // n <= 32
    void put(uint64_t v, unsigned n) {
        bits_ |= v << count_;
        count_ += n;
        if (count_ >= 32) {
            for (int i = 0; i < 4; ++i)
                *at_++ = static_cast<uint8_t>(bits_ >> (8 * i));
            bits_ >>= 32;
            count_ -= 32;
        }
    }
    // Writes the bits still held, the last byte padded with zeros.
    void finish() {
        for (; count_ > 0; count_ = count_ > 8 ? count_ - 8 : 0, bits_ >>= 8)
            *at_++ = static_cast<uint8_t>(bits_);
    }

private:
    uint8_t* at_;
    uint64_t bits_ = 0;
    unsigned count_ = 0;
};

// The length symbol of each copy length 2..519.
constexpr std::array<uint8_t, kEndLength + 1> kLengthSymbol = [] {
    std::array<uint8_t, kEndLength + 1> sym{};
    for (uint8_t s = 0; s < 16; ++s)
        for (unsigned e = 0; e < (1u << kLengthExtra[s]); ++e)
            sym[kLengthBase[s] + e] = s;
    return sym;
}();

struct Match {
    uint16_t length = 0;
    uint16_t distance = 0;
};

// Earlier occurrences of the bytes at each position, found with a binary tree
// per hash of three bytes (as LZMA's "bt" match finders do): every position is
// inserted as the new root of its tree, and the walk down to its place passes
// the positions sharing the longest prefixes with it. That finds long copies in
// repetitive data where a hash chain would try thousands of candidates. The
// trees only hold positions within the window; a walk stops after kCut nodes.
// Two-byte copies reach back 256 bytes at most and get their own table: the
// last position whose two bytes hash alike.
class MatchFinder {
public:
    static constexpr size_t kMost = 16; // matches reported per position, at most

    MatchFinder(std::span<const uint8_t> in, unsigned window) : in_(in), window_(window) {
        head3_.fill(kNone);
        head2_.fill(kNone);
    }

    // Called for every position in order: writes the copies for p, longer and
    // longer, each the nearest the tree met for its length; returns how many.
    size_t matches(size_t p, Match* out) {
        const size_t n = in_.size();
        size_t found = 0;
        if (p + 2 <= n) {
            const int64_t c = std::exchange(head2_[hash(p, 2)], static_cast<int32_t>(p));
            if (c != kNone && p - static_cast<size_t>(c) <= 256 && in_[c] == in_[p] && in_[c + 1] == in_[p + 1])
                out[found++] = {2, static_cast<uint16_t>(p - static_cast<size_t>(c))};
        }
        if (p + 3 > n)
            return found;

        const size_t limit = std::min<size_t>(kMaxLength, n - p);
        const uint8_t* cur = in_.data() + p;
        int64_t c = std::exchange(head3_[hash(p, 3)], static_cast<int32_t>(p));
        // Where the next smaller and the next larger position hang, and how many
        // leading bytes every position in those subtrees shares with p.
        int32_t* smaller = child(p, kSmaller);
        int32_t* larger = child(p, kLarger);
        size_t lenSmaller = 0, lenLarger = 0, best = found ? 2 : 1;
        for (unsigned cut = kCut;; --cut) {
            if (c == kNone || cut == 0 || p - static_cast<size_t>(c) > window_) {
                *smaller = *larger = kNone;
                return found;
            }
            const uint8_t* at = in_.data() + c;
            const size_t len = common(at, cur, std::min(lenSmaller, lenLarger), limit);
            if (len > best && found < kMost) {
                best = len;
                out[found++] = {static_cast<uint16_t>(len), static_cast<uint16_t>(p - static_cast<size_t>(c))};
            }
            int32_t* below = child(static_cast<size_t>(c), kSmaller);
            if (len == limit) {
                // Equal as far as p can reach: c's subtrees become p's.
                *smaller = below[kSmaller];
                *larger = below[kLarger];
                return found;
            }
            if (at[len] < cur[len]) {
                // c and its smaller subtree go left of p; what lies between c and p is in c's larger one.
                *smaller = static_cast<int32_t>(c);
                smaller = below + kLarger;
                lenSmaller = len;
            } else {
                *larger = static_cast<int32_t>(c);
                larger = below + kSmaller;
                lenLarger = len;
            }
            c = at[len] < cur[len] ? below[kLarger] : below[kSmaller];
        }
    }

private:
    static constexpr int32_t kNone = -1;
    static constexpr unsigned kCut = 32;
    static constexpr size_t kRing = 8192; // more than the largest window: no two live positions share a slot
    static constexpr unsigned kHashBits = 12;

    unsigned hash(size_t p, int bytes) const {
        uint32_t v = uint32_t{in_[p]} | uint32_t{in_[p + 1]} << 8;
        if (bytes == 3)
            v |= uint32_t{in_[p + 2]} << 16 | 1u << 24;
        return (v * 2654435761u) >> (32 - kHashBits);
    }
    static constexpr int kSmaller = 0, kLarger = 1;

    // How far a and b agree, knowing they do for `from` bytes; at most `limit`.
    static size_t common(const uint8_t* a, const uint8_t* b, size_t from, size_t limit) {
        size_t n = from;
        for (; n + 8 <= limit; n += 8)
            if (const uint64_t x = load64(a + n) ^ load64(b + n))
                return n + static_cast<size_t>(std::countr_zero(x) >> 3);
        while (n < limit && a[n] == b[n])
            ++n;
        return n;
    }
    // Where position p's subtree of smaller or of larger strings hangs.
    int32_t* child(size_t p, int side) { return &tree_[2 * (p & (kRing - 1)) + side]; }

    std::span<const uint8_t> in_;
    size_t window_;
    std::array<int32_t, 1u << kHashBits> head3_, head2_;
    std::array<int32_t, 2 * kRing> tree_; // every slot is written before it is read
};

} // namespace

std::optional<std::vector<uint8_t>> implode(std::span<const uint8_t> in, const ImplodeOptions& options) {
    // StormLib's choice: the smallest window whose low bits are cheap enough for the input.
    unsigned k = in.size() < 0x600 ? 4 : in.size() < 0xC00 ? 5 : 6;
    if (options.window != 0)
        k = static_cast<unsigned>(std::countr_zero(options.window)) - 6;
    const auto literalCost = [&](uint8_t c) { return options.ascii ? 1u + kLiteralBits[c] : 9u; };
    const auto copyCost = [&](unsigned length, unsigned distance) {
        const unsigned s = kLengthSymbol[length];
        const unsigned low = length == 2 ? 2 : k;
        return 1u + kLengthBits[s] + kLengthExtra[s] + kDistanceBits[(distance - 1) >> low] + low;
    };

    // The cheapest way to code each prefix of the input, as the code tables are
    // fixed and every token's cost in bits is known: cost[p] is the least for the
    // first p bytes and step[p] the token that ends there on that way. Copies
    // from a position are tried at every length up to the longest found there,
    // except that one of kLong bytes or more is only tried whole.
    constexpr unsigned kLong = 64;
    const size_t n = in.size();
    std::vector<uint32_t> cost(n + 1, UINT32_MAX);
    std::vector<Match> step(n + 1);
    cost[0] = 0;
    MatchFinder finder(in, 64u << k);
    Match found[MatchFinder::kMost];
    for (size_t p = 0; p < n; ++p) {
        const auto relax = [&](size_t to, uint32_t c, Match m) {
            if (c < cost[to])
                cost[to] = c, step[to] = m;
        };
        relax(p + 1, cost[p] + literalCost(in[p]), {1, 0});
        // Each length is coded with the nearest distance found for it or a longer length.
        const size_t count = finder.matches(p, found);
        unsigned nearest = UINT16_MAX;
        for (size_t i = count; i-- > 0;) {
            const Match m = found[i];
            nearest = std::min<unsigned>(nearest, m.distance);
            const unsigned shorter = i > 0 ? found[i - 1].length : 1;
            for (unsigned len = m.length >= kLong ? m.length : shorter + 1; len <= m.length; ++len)
                if (len > 2 || nearest <= 256)
                    relax(p + len, cost[p] + copyCost(len, nearest),
                          {static_cast<uint16_t>(len), static_cast<uint16_t>(nearest)});
        }
    }

    const unsigned endCost = 1 + kLengthBits[15] + kLengthExtra[15];
    const size_t size = kHeaderSize + (uint64_t{cost[n]} + endCost + 7) / 8;
    if (size >= options.below)
        return std::nullopt;
    std::vector<Match> path;
    for (size_t p = n; p > 0; p -= step[p].length)
        path.push_back(step[p]);

    std::vector<uint8_t> out(size);
    out[0] = options.ascii ? 1 : 0;
    out[1] = static_cast<uint8_t>(k);
    BitWriter bits(out.data() + kHeaderSize);
    // Flag, length code and extra bits in one put (at most 16 bits), then the distance.
    const auto copy = [&](unsigned length, unsigned distance) {
        const unsigned s = kLengthSymbol[length];
        const Code& lc = kLengthCodes[s];
        bits.put(1u | unsigned{lc.bits} << 1 | (length - kLengthBase[s]) << (1 + lc.length),
                 1 + lc.length + kLengthExtra[s]);
        if (length == kEndLength)
            return;
        const unsigned low = length == 2 ? 2 : k;
        const Code& dc = kDistanceCodes[(distance - 1) >> low];
        bits.put(dc.bits | ((distance - 1) & ((1u << low) - 1)) << dc.length, dc.length + low);
    };
    size_t p = 0;
    for (auto m = path.rbegin(); m != path.rend(); p += m->length, ++m) {
        if (m->length > 1)
            copy(m->length, m->distance);
        else if (options.ascii)
            bits.put(uint64_t{kLiteralCodes[in[p]].bits} << 1, 1 + kLiteralCodes[in[p]].length);
        else
            bits.put(uint64_t{in[p]} << 1, 9);
    }
    copy(kEndLength, 0);
    bits.finish(); // exactly `size` bytes, as counted
    return out;
}

} // namespace archive::dcl
