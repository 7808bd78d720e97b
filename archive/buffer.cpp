#include "buffer.h"

#include <sys/mman.h>

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
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    bytes_ = static_cast<uint8_t*>(p);
    mapped_ = true;
}

Buffer::~Buffer() {
    if (mapped_)
        ::munmap(bytes_, capacity_);
    else
        delete[] bytes_;
}

Buffer::Buffer(Buffer&& other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)), size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)), mapped_(std::exchange(other.mapped_, false)) {}

} // namespace archive
