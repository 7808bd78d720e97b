// The protections found in real maps, made from clean fixture maps by byte patching.
// Shared by the archive tests and the interoperability tests.
#pragma once

#include "fixtures.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace protections {

using fixtures::Bytes;
using fixtures::RawMap;

inline constexpr const char* kNotesName = "extra\\notes.txt";

// A multi-sector chunk file with compressible and incompressible stretches.
Bytes sampleChunk(uint32_t seed = 1, size_t size = 20 * 1024);
Bytes sampleNotes();

struct Protection {
    std::string name;              // a valid test name
    fixtures::MapOptions options;  // of the clean map it starts from
    std::function<Bytes(RawMap&)> patch; // returns the protected map's bytes
};

const std::vector<Protection>& all();

// Test output shows a protection by its name.
inline void PrintTo(const Protection& p, std::ostream* os) { *os << p.name; }

// Writes the clean map with sampleChunk() and sampleNotes(), then the protected one at `path`.
void make(const Protection& p, const std::filesystem::path& path, const Bytes& chunk = sampleChunk());

// ---- building blocks for patches
uint32_t startSlot(std::string_view name, uint32_t count);
fixtures::HashEntry entryFor(std::string_view name, uint32_t block, uint16_t locale = 0);
uint32_t blockIndex(const RawMap& m, std::string_view name);
// Both tables moved past the current end of the file, so they may grow.
void moveTablesToEnd(RawMap& m);
// A fresh table of `count` slots holding the chunk file and the notes at their start slots
// (linear probing), every other slot empty.
void layHashes(RawMap& m, uint32_t count);

} // namespace protections
