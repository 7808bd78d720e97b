#include "buffer.h"

#include "platform.h"

#include <new>
#include <utility>

namespace archive {

namespace {
// Below this, the allocator's reused memory is already faulted in.
constexpr size_t kMapFrom = size_t{256} * 1024;
} // namespace

Buffer::Buffer(size_t size) : size_(size), capacity_(size) {
    if (size == 0)
        return;
    if (size < kMapFrom) {
        bytes_ = new uint8_t[size];
        return;
    }
    bytes_ = platform::allocatePages(size);
    mapped_ = true;
}

Buffer::~Buffer() {
    if (mapped_)
        platform::freePages(bytes_, capacity_);
    else
        delete[] bytes_;
}

Buffer::Buffer(Buffer&& other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)), size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)), mapped_(std::exchange(other.mapped_, false)) {}

} // namespace archive
