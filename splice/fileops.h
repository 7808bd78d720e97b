// File operations of the procedures, with errors that name the file.
#pragma once

#include <cstdint>
#include "platform.h"

#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace fileops {

// Puts a copy of src in place of target in one rename: the copy is written to a
// temporary file beside target with target's permissions, synced, then renamed
// over it. At no instant is target missing or partly written.
void replaceAtomically(const std::filesystem::path& src, const std::filesystem::path& target);

// 64-bit FNV-1a over the bytes' 64-bit words: enough to tell that a map changed.
class Hasher {
public:
    void add(std::span<const uint8_t> bytes);
    uint64_t value() const;

private:
    void mix(const uint8_t* p, size_t n); // n a multiple of 8
    uint64_t h_ = 1469598103934665603ull;
    uint8_t word_[8] = {};
    size_t pending_ = 0;
};
uint64_t hashBytes(std::span<const uint8_t> bytes);
uint64_t hashFile(const std::filesystem::path& path);

struct Stamp {
    uintmax_t size = 0;
    int64_t mtimeNs = 0;
    uint64_t hash = 0;
    bool operator==(const Stamp&) const = default;
};
Stamp stampOf(const std::filesystem::path& path);
// Copies src to dst (replacing it) in one pass that also hashes what it copies:
// the stamp (no time) of exactly the bytes dst holds.
Stamp copyHashing(const std::filesystem::path& src, const std::filesystem::path& dst);

// Whole file contents; a missing file is "file not found", nothing is created.
// Chunk files beyond 256 MB are refused: no real map comes near it.
std::vector<uint8_t> readFile(const std::filesystem::path& path);

// A chunk file mapped read-only, with readFile's checks and errors: look-ups touch
// only the section headers they visit instead of copying the whole file.
class MappedFile {
public:
    explicit MappedFile(const std::filesystem::path& path);
    std::span<const uint8_t> bytes() const { return map_.bytes(); }

private:
    platform::Mapping map_;
};

} // namespace fileops
