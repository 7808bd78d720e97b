// Section lookup in a scenario chunk file: a run of sections, each a 4-byte
// name, a signed 32-bit little-endian length and that many bytes of data.
// Positions are 1-based, as the map makers' tools report them.
#pragma once

#include "platform.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "view.h"

namespace chunk {

// A section name as stored: exactly four bytes. Shorter names are padded with
// spaces ("STR" is "STR "); an empty name or one longer than four is refused.
std::string normalizeName(std::string_view sectionName);

// The 1-based position of the length field of the name's first instance in the
// game's walk, or -1 when the walk meets none. `name` must be normalized.
int32_t findSection(std::span<const uint8_t> data, std::string_view name);

// The little-endian signed length at 1-based position `pos`; bytes past the end
// of the data read as 0. `pos` must be at least 1.
int32_t readLength(std::span<const uint8_t> data, int32_t pos);

// Whole file contents; a missing file is "file not found", nothing is created.
std::vector<uint8_t> readFile(const std::filesystem::path& path);

// A chunk file mapped read-only, with readFile's checks and errors: look-ups touch
// only the section headers they visit instead of copying the whole file.
class MappedFile {
public:
    MappedFile() = default;
    explicit MappedFile(const std::filesystem::path& path);
    std::span<const uint8_t> bytes() const { return map_.bytes(); }

private:
    platform::Mapping map_;
};

} // namespace chunk

namespace modFunctions {

// 1-based position of the section's length field, or -1 when absent.
int32_t GetSectionOffset(const std::filesystem::path& path, std::string_view sectionName);

// The value of that length field; throws chunk::ChunkError when the section is absent.
int32_t GetSectionLength(const std::filesystem::path& path, std::string_view sectionName);

} // namespace modFunctions
