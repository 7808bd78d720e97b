// Carrying the texts a copied section names: the copied numbers made to name, in
// the map to edit's string table, the texts they name in the map to splice.
#pragma once

#include "string_table.h"

#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace chunk {

// The map to edit keeps data after its last string, as compiled maps whose code
// reads the string table by position do: a change to the table would move what
// that code reads.
class StringsAreCode : public ChunkError {
public:
    using ChunkError::ChunkError;
};

struct Carried {
    Rope file; // the new chunk file
    // Texts that the copied fields now find under another number, or that were added,
    // and sound files (of those given) that they name.
    size_t strings = 0;
    size_t sounds = 0;
    // One line each: locations or switches the copied triggers use whose names
    // differ between the maps, where their names were not copied with them.
    std::vector<std::string> warnings;
    // What `file` points into, besides the map to edit's chunk file.
    std::vector<std::unique_ptr<Rope>> held;
};

// The chunk file of `copied` (the map to edit with `names` already copied from
// `splice` as raw bytes, by copySection) in which every string field of the copied
// names reads, in the game's view, the text it reads in `splice`, and every other
// section and every text it names reads as before. `soundFiles` are the sound files
// that go with the copy: their path in the map to splice and the path they get in
// the map to edit (another one where a member of that name holds other content); a
// sound field naming one reads the new path, and the map to edit's `WAV ` list
// gets it where it has a free slot, unless `WAV ` is copied itself.
//
// A copied number n that names text t in the map to splice becomes: n where the map
// to edit has t as n; else the lowest number whose text is t; else the lowest free
// number (empty text, named by no other string field); else a new number. Where the
// texts already agree, the result is the plain copy, byte for byte. A number that
// names nothing in the map to splice is copied as it is. Copying the string table
// itself is the plain copy.
//
// New texts go after the existing strings; a number reused or added changes only its
// own offset (more numbers move every offset by the room their offsets take), and
// every other number keeps its text (one whose text starts in the count or the
// offsets, as protections do, moves to a copy of it when they change). The table and the renumbered sections are put
// in with copySection, so that repeated and protected instances are handled as Copy
// Section handles them. `copied.file()` must outlive the result.
//
// Throws StringsAreCode where the table must change and the map to edit keeps more
// than 8 bytes that are not zero after its last string, and ChunkError saying why
// where it cannot carry: a map with both string tables, a `STR ` string that would
// start past byte 65,535, a table that declares more numbers than it holds.
Carried carryStrings(const GameView& copied, const GameView& splice, std::span<const std::string> names,
                     const std::map<std::string, std::string>& soundFiles);

// The sound file paths that the copied names' sound fields name in the map to
// splice (`TRIG` and `MBRF` sound actions, `WAV `), each once, in the order met.
std::vector<std::string> soundPaths(const GameView& splice, std::span<const std::string> names);

} // namespace chunk
