// Fixture maps for the tests: clean archives made with StormLib's own writer,
// and the byte patches that turn them into the protections found in the wild.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace fixtures {

using Bytes = std::vector<uint8_t>;

// A chunk file from (name, data) pairs; names are taken as given (4 bytes each).
Bytes makeChunk(const std::vector<std::pair<std::string, Bytes>>& sections);

enum class Codec { None, Implode, Zlib, Pkware };

struct MapOptions {
    Codec codec = Codec::Zlib;
    bool encrypted = false;
    bool adjustedKey = false;      // needs encrypted
    uint32_t headerOffset = 0;     // a multiple of 512: bytes of junk before the header
    uint16_t sectorShift = 3;      // sector size 512 << shift
};

using Member = std::pair<std::string, Bytes>;

// Writes a map at `path` holding `chunk` as "staredit\scenario.chk" and any extra members.
void makeMap(const std::filesystem::path& path, const Bytes& chunk,
             const MapOptions& options = {}, const std::vector<Member>& extra = {});

Bytes readAll(const std::filesystem::path& path);
void writeAll(const std::filesystem::path& path, const Bytes& bytes);

// A fresh empty folder for one test, removed when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

} // namespace fixtures
