#include "rope.h"

#include <algorithm>
#include <cstring>

namespace chunk {

// ---- Rope -------------------------------------------------------------------

void Rope::append(std::span<const uint8_t> bytes) {
    if (bytes.empty())
        return;
    pieces_.push_back({size_, bytes});
    size_ += bytes.size();
}

void Rope::appendOwned(std::vector<uint8_t> bytes) {
    if (bytes.empty())
        return;
    owned_.push_back(std::move(bytes));
    append(owned_.back());
}

void Rope::append(const Rope& other, uint64_t from, uint64_t to) {
    for (const auto s : other.spans(from, to))
        append(s);
}

size_t Rope::pieceAt(uint64_t pos) const {
    const auto it = std::upper_bound(pieces_.begin(), pieces_.end(), pos,
                                     [](uint64_t p, const Piece& piece) { return p < piece.start; });
    return static_cast<size_t>(it - pieces_.begin()) - 1;
}

void Rope::read(uint64_t pos, uint8_t* out, size_t n) const {
    for (const auto s : spans(pos, pos + n)) {
        std::memcpy(out, s.data(), s.size());
        out += s.size();
    }
}

std::vector<std::span<const uint8_t>> Rope::spans(uint64_t from, uint64_t to) const {
    std::vector<std::span<const uint8_t>> out;
    if (from >= to)
        return out;
    for (size_t i = pieceAt(from); i < pieces_.size() && pieces_[i].start < to; ++i) {
        const Piece& p = pieces_[i];
        const uint64_t a = std::max(from, p.start) - p.start;
        const uint64_t b = std::min<uint64_t>(to - p.start, p.bytes.size());
        out.push_back(p.bytes.subspan(static_cast<size_t>(a), static_cast<size_t>(b - a)));
    }
    return out;
}

std::vector<uint8_t> Rope::flatten(uint64_t from, uint64_t to) const {
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(to - from));
    for (const auto s : spans(from, to))
        out.insert(out.end(), s.begin(), s.end());
    return out;
}

} // namespace chunk
