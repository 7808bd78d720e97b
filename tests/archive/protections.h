// The protections found in real maps, made from clean fixture maps by byte patching.
#pragma once

#include "fixtures.h"

#include <functional>
#include <ostream>

namespace protections {

using fixtures::Bytes;
using fixtures::RawMap;

inline constexpr const char* kNotesName = "extra\\notes.txt";

// A multi-sector chunk file with compressible and incompressible stretches; notes every save keeps.
Bytes sampleChunk(uint32_t seed = 1, size_t size = 20 * 1024);
Bytes sampleNotes();

struct Protection {
    std::string name;                    // a valid test name
    fixtures::MapOptions options;        // of the clean map it starts from
    std::function<Bytes(RawMap&)> patch; // returns the protected map's bytes
    bool gameOnly = false;               // as made, only the game's look-up finds the real chunk file
    bool sharesChunk = false;            // something else lies in the chunk file's bytes
};
const std::vector<Protection>& all();
inline void PrintTo(const Protection& p, std::ostream* os) { *os << p.name; }

// Writes the clean map with `chunk` and the notes at `path`, then patches it.
void make(const Protection& p, const std::filesystem::path& path, const Bytes& chunk = sampleChunk());

} // namespace protections
