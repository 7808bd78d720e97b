#include "modFunctions.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <limits>

namespace chunk {

namespace {

// Chunk files beyond this are refused: no real map comes near it, and a hostile
// one should not make us allocate without bound.
constexpr uintmax_t kMaxChunkFile = uintmax_t{256} * 1024 * 1024;

} // namespace

std::string normalizeName(std::string_view sectionName) {
    if (sectionName.empty())
        throw ChunkError("empty section name: a section name has 1 to 4 characters");
    if (sectionName.size() > 4)
        throw ChunkError("section name \"" + std::string(sectionName) +
                         "\" is longer than 4 characters");
    std::string name(sectionName);
    name.resize(4, ' ');
    return name;
}

int32_t readLength(std::span<const uint8_t> data, int32_t pos) {
    if (pos < 1) throw ChunkError("bad position " + std::to_string(pos) + " for a length field");
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        const uint64_t at = static_cast<uint64_t>(pos) - 1 + static_cast<uint64_t>(i);
        v = (v << 8) | (at < data.size() ? data[at] : 0u);
    }
    return static_cast<int32_t>(v);
}

int32_t findSection(std::span<const uint8_t> data, std::string_view name) {
    const Rope file(data);
    const GameView view(file);
    const auto& found = view.of(name);
    return found.empty() ? -1 : static_cast<int32_t>(view.instances()[found.front()].pos + 5);
}

namespace {

// Opens a chunk file for reading and returns its descriptor and size, refusing
// what no chunk file can be; a missing file is not created.
std::pair<int, size_t> openChunk(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw ChunkError(path.string() + (errno == ENOENT ? ": file not found" : ": cannot open: " + std::string(std::strerror(errno))));
    struct stat st {};
    std::string fault;
    if (::fstat(fd, &st) != 0)
        fault = ": cannot read its size: " + std::string(std::strerror(errno));
    else if (S_ISDIR(st.st_mode))
        fault = ": is a folder, not a chunk file";
    else if (!S_ISREG(st.st_mode))
        fault = ": not an ordinary file";
    else if (static_cast<uintmax_t>(st.st_size) > kMaxChunkFile)
        fault = ": chunk file of " + std::to_string(st.st_size) + " bytes is larger than the 256 MB limit";
    if (!fault.empty()) {
        ::close(fd);
        throw ChunkError(path.string() + fault);
    }
    return {fd, static_cast<size_t>(st.st_size)};
}

} // namespace

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    const auto [fd, size] = openChunk(path);
    std::vector<uint8_t> data(size);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data.data() + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = errno;
            ::close(fd);
            throw ChunkError(path.string() + (n == 0 ? std::string(": read fewer bytes than the file holds")
                                                     : ": cannot read: " + std::string(std::strerror(err))));
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return data;
}

MappedFile::MappedFile(const std::filesystem::path& path) {
    const auto [fd, size] = openChunk(path);
    if (size > 0) {
        void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        const int err = errno;
        ::close(fd);
        if (p == MAP_FAILED)
            throw ChunkError(path.string() + ": cannot read: " + std::strerror(err));
        data_ = static_cast<const uint8_t*>(p);
        size_ = size;
    } else {
        ::close(fd);
    }
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

} // namespace chunk

namespace modFunctions {

int32_t GetSectionOffset(const std::filesystem::path& path, std::string_view sectionName) {
    const std::string name = chunk::normalizeName(sectionName);
    const chunk::MappedFile file(path);
    return chunk::findSection(file.bytes(), name);
}

int32_t GetSectionLength(const std::filesystem::path& path, std::string_view sectionName) {
    const std::string name = chunk::normalizeName(sectionName);
    const chunk::MappedFile file(path);
    const int32_t at = chunk::findSection(file.bytes(), name);
    if (at < 0)
        throw chunk::ChunkError(path.string() + ": no section \"" + name + "\"");
    return chunk::readLength(file.bytes(), at);
}

} // namespace modFunctions
