#include "modFunctions.h"

#include "platform.h"

#include <cstring>
#include <limits>
#include <utility>

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

// Opens a chunk file for reading and returns it with its size, refusing what no
// chunk file can be; a missing file is not created.
std::pair<platform::File, size_t> openChunk(const std::filesystem::path& path) {
    try {
        platform::File file(path, platform::File::Mode::Read);
        const platform::Status st = file.status();
        const std::string name = platform::toUtf8(path);
        if (st.kind == platform::Kind::Folder)
            throw ChunkError(name + ": is a folder, not a chunk file");
        if (st.kind != platform::Kind::Regular)
            throw ChunkError(name + ": not an ordinary file");
        if (st.size > kMaxChunkFile)
            throw ChunkError(name + ": chunk file of " + std::to_string(st.size) +
                             " bytes is larger than the 256 MB limit");
        return {std::move(file), static_cast<size_t>(st.size)};
    } catch (const platform::Error& e) {
        throw ChunkError(e.what());
    }
}

} // namespace

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    auto [file, size] = openChunk(path);
    std::vector<uint8_t> data(size);
    try {
        if (file.readAt(data, 0) != size)
            throw ChunkError(platform::toUtf8(path) + ": read fewer bytes than the file holds");
    } catch (const platform::Error& e) {
        throw ChunkError(e.what());
    }
    return data;
}

MappedFile::MappedFile(const std::filesystem::path& path) {
    const auto [file, size] = openChunk(path);
    try {
        map_ = platform::Mapping(file, size);
    } catch (const platform::Error& e) {
        throw ChunkError(e.what());
    }
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
        throw chunk::ChunkError(platform::toUtf8(path) + ": no section \"" + name + "\"");
    return chunk::readLength(file.bytes(), at);
}

} // namespace modFunctions
