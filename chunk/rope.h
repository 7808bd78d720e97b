// Bytes held as a run of pieces over other memory.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace chunk {

// Bytes held as a run of pieces, so that a chunk file assembled from parts of
// others can be walked and written without copying them. The pieces' bytes must
// outlive the rope, except those given to appendOwned.
class Rope {
public:
    struct Piece {
        uint64_t start;
        std::span<const uint8_t> bytes;
    };

    Rope() = default;
    explicit Rope(std::span<const uint8_t> bytes) { append(bytes); }
    // A rope only points at bytes: a temporary would be gone before it is read.
    explicit Rope(std::vector<uint8_t>&&) = delete;
    Rope(Rope&&) = default;
    Rope& operator=(Rope&&) = default;
    Rope(const Rope&) = delete;
    Rope& operator=(const Rope&) = delete;

    void append(std::span<const uint8_t> bytes);
    void appendOwned(std::vector<uint8_t> bytes);
    // Bytes [from, to) of another rope, whose pieces must outlive this one.
    void append(const Rope& other, uint64_t from, uint64_t to);

    uint64_t size() const { return size_; }
    // Copies [pos, pos + n), which must lie inside.
    void read(uint64_t pos, uint8_t* out, size_t n) const;
    // The spans that make up [from, to), in order.
    std::vector<std::span<const uint8_t>> spans(uint64_t from, uint64_t to) const;
    std::vector<uint8_t> bytes() const { return flatten(0, size_); }
    std::vector<uint8_t> flatten(uint64_t from, uint64_t to) const;

private:
    size_t pieceAt(uint64_t pos) const;

    std::vector<Piece> pieces_;
    std::deque<std::vector<uint8_t>> owned_; // a deque keeps their addresses
    uint64_t size_ = 0;
};

} // namespace chunk
