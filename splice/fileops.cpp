#include "fileops.h"

#include "platform.h"

#include <cstring>
#include <stdexcept>

namespace fileops {

namespace {

// Reused by the allocator from one call to the next: a buffer the size of the
// file meant fresh pages, and faulting them in cost more than the reading.
constexpr size_t kBufferSize = size_t{64} * 1024;

platform::Status existing(const std::filesystem::path& path) {
    const platform::Status st = platform::status(path);
    if (st.kind == platform::Kind::Missing)
        throw platform::Error(true, platform::toUtf8(path) + ": file not found");
    return st;
}

} // namespace

void copyFile(const std::filesystem::path& src, const std::filesystem::path& dst) {
    if (existing(src).kind != platform::Kind::Regular)
        throw std::runtime_error(platform::toUtf8(src) + ": not an ordinary file");
    platform::copyFile(src, dst);
}

void writeFile(const std::filesystem::path& path, std::span<const uint8_t> bytes, bool append) {
    platform::File out(path, append ? platform::File::Mode::Append : platform::File::Mode::Create);
    out.write(bytes);
    out.close();
}

void replaceAtomically(const std::filesystem::path& src, const std::filesystem::path& target) {
    platform::writeReplacing(target, [&](platform::File& f) { platform::copyInto(src, f); });
}

uint64_t hashFile(const std::filesystem::path& path) {
    platform::File in(path, platform::File::Mode::Read);
    std::vector<uint8_t> buf(kBufferSize); // a multiple of 8: words start at multiples of 8 in the file
    uint64_t h = 1469598103934665603ull;
    for (;;) {
        // Fill the buffer whole, so the words hashed do not depend on how reads split.
        size_t got = 0;
        while (got < buf.size()) {
            const size_t n = in.read(std::span(buf).subspan(got));
            if (n == 0) break;
            got += n;
        }
        // FNV-1a over 64-bit words: a change detector, eight times faster than bytewise.
        size_t i = 0;
        for (; i + 8 <= got; i += 8) {
            uint64_t w;
            std::memcpy(&w, buf.data() + i, 8);
            h = (h ^ w) * 1099511628211ull;
        }
        for (; i < got; ++i) h = (h ^ buf[i]) * 1099511628211ull;
        if (got < buf.size()) break;
    }
    return h;
}

bool sameContent(const std::filesystem::path& a, const std::filesystem::path& b) {
    platform::File x(a, platform::File::Mode::Read), y(b, platform::File::Mode::Read);
    const uint64_t size = x.status().size;
    if (y.status().size != size) return false;
    std::vector<uint8_t> p(kBufferSize), q(kBufferSize);
    for (uint64_t pos = 0; pos < size; pos += p.size()) {
        const size_t n = x.readAt(p, pos);
        if (y.readAt(std::span(q).first(n), pos) != n || !std::equal(p.begin(), p.begin() + n, q.begin())) return false;
        if (n < p.size()) break;
    }
    return true;
}

Stamp stampOf(const std::filesystem::path& path) {
    const platform::Status st = existing(path);
    Stamp s;
    s.size = st.size;
    s.mtimeNs = st.mtimeNs;
    s.hash = hashFile(path);
    return s;
}

namespace {

constexpr uint64_t kMaxChunkFile = uint64_t{256} * 1024 * 1024;

// Opens a chunk file for reading and returns it with its size, refusing what no
// chunk file can be; a missing file is not created.
std::pair<platform::File, size_t> openChunk(const std::filesystem::path& path) {
    platform::File file(path, platform::File::Mode::Read);
    const platform::Status st = file.status();
    const std::string name = platform::toUtf8(path);
    if (st.kind == platform::Kind::Folder)
        throw std::runtime_error(name + ": is a folder, not a chunk file");
    if (st.kind != platform::Kind::Regular)
        throw std::runtime_error(name + ": not an ordinary file");
    if (st.size > kMaxChunkFile)
        throw std::runtime_error(name + ": chunk file of " + std::to_string(st.size) +
                                 " bytes is larger than the 256 MB limit");
    return {std::move(file), static_cast<size_t>(st.size)};
}

} // namespace

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    auto [file, size] = openChunk(path);
    std::vector<uint8_t> data(size);
    if (file.readAt(data, 0) != size)
        throw std::runtime_error(platform::toUtf8(path) + ": read fewer bytes than the file holds");
    return data;
}

MappedFile::MappedFile(const std::filesystem::path& path) {
    const auto [file, size] = openChunk(path);
    map_ = platform::Mapping(file, size);
}

} // namespace fileops
