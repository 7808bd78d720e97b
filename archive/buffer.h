// A byte buffer for data about to be overwritten in full. Unlike a vector it
// leaves new bytes unset, and a large one is mapped with its pages populated in
// one call: zero-filling a member's megabytes, or faulting them in one page at a
// time, cost about as much as decoding them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace archive {

class Buffer {
public:
    Buffer() = default;
    explicit Buffer(size_t size); // throws std::bad_alloc
    ~Buffer();
    Buffer(Buffer&& other) noexcept;
    Buffer& operator=(Buffer&&) = delete;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    uint8_t* data() { return bytes_; }
    size_t size() const { return size_; }
    std::span<const uint8_t> span() const { return {bytes_, size_}; }
    // Keeps the first `size` bytes; never grows.
    void shrink(size_t size) {
        if (size < size_)
            size_ = size;
    }

private:
    uint8_t* bytes_ = nullptr;
    size_t size_ = 0;     // bytes in use
    size_t capacity_ = 0; // bytes allocated
    bool mapped_ = false;
};

} // namespace archive
