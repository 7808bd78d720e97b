// Section lookup in a scenario chunk file: a run of sections, each a 4-byte
// name, a signed 32-bit little-endian length and that many bytes of data.
// Positions are 1-based, as the map makers' tools report them.
#pragma once

#include "platform.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace chunk {

// Every refusal of this module: bad name, unreadable file, no such section.
class ChunkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A section name as stored: exactly four bytes. Shorter names are padded with
// spaces ("STR" is "STR "); an empty name or one longer than four is refused.
std::string normalizeName(std::string_view sectionName);

// Guarded walk from position 1, stepping by each section's declared length the
// way the game does. Returns the 1-based position of the named section's length
// field, or -1 when the walk does not reach it. `name` must be normalized.
int32_t findSection(std::span<const uint8_t> data, std::string_view name);

// The little-endian signed length at 1-based position `pos`; bytes past the end
// of the data read as 0. `pos` must be at least 1.
int32_t readLength(std::span<const uint8_t> data, int32_t pos);

struct SectionInfo {
    std::string name;      // the four bytes at the section's start
    int32_t lengthPos;     // 1-based position of the length field
    int32_t length;        // declared length, as stored
};

// The sections the walk visits, in order, until it ends or revisits a position.
std::vector<SectionInfo> walkSections(std::span<const uint8_t> data);

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
