// Copying what the game reads as one section from one chunk file into another.
#pragma once

#include "view.h"

namespace chunk {

struct Copied {
    Rope file;           // the new chunk file
    uint64_t sectionEnd; // where the section holding the copied data ends
};

// The chunk file of `edit` changed so that the game reads for `name` exactly what
// it reads in `splice`, and for every other name what it read before. Both must
// hold a view of the name.
//
// Where neither file repeats the name and the game reads its one instance whole,
// the result is edit's bytes before its section, splice's whole section and edit's
// bytes after it. Where either repeats it and the views are already the same, it
// is edit unchanged. Otherwise one instance takes the copied data and the instances
// the game would still take something from are emptied or removed; the walk to
// every other section is kept, jumps that cross a changed section included. No
// byte before the name's first instance changes.
// Throws ChunkError saying why when no such file exists: for instance when the
// section's bytes are also read as part of another section.
Copied copySection(const GameView& edit, const GameView& splice, std::string_view name);

} // namespace chunk
