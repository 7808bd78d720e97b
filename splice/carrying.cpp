// Copy Section's carrying step: the texts the copied sections name, made to read
// in the map to edit as they read in the map to splice.
#include "carry.h"
#include "fileops.h"
#include "platform.h"
#include "steps.h"

namespace fs = std::filesystem;

namespace splice {

std::vector<std::string> carryStep(FrontEnd& fe, const WorkPlace& place, const CopyRequest& req) {
    const std::string name = mapName(req.edit);
    std::vector<std::string> notes;
    {
        const fileops::MappedFile copiedFile(place.tempChunk()), spliceFile(place.secondChunk());
        const chunk::Rope copiedBytes(copiedFile.bytes()), spliceBytes(spliceFile.bytes());
        chunk::Carried carried = [&] {
            try {
                const chunk::GameView copied(copiedBytes), splice(spliceBytes);
                return chunk::carryStrings(copied, splice, req.nameBytes(), {});
            } catch (const chunk::StringsAreCode& e) {
                throw Refusal(name + ": " + e.what() + "; graftwell-cli --raw copies the sections' bytes alone");
            } catch (const chunk::ChunkError& e) {
                throw Refusal(name + ": the texts the copied sections name cannot be carried: " + e.what());
            }
        }();
        notes = std::move(carried.warnings);
        if (carried.strings == 0 && carried.sounds == 0) return notes;

        fe.setStatus("Carrying " + std::to_string(carried.strings) + " strings and " +
                     std::to_string(carried.sounds) + " sound files from second map...");
        platform::File out(place.intermediate(), platform::File::Mode::Create);
        for (const auto span : carried.file.spans(0, carried.file.size())) out.write(span);
        out.close();
    }
    // Once nothing maps it: Windows will not replace a mapped file.
    platform::replace(place.intermediate(), place.tempChunk());
    fe.yield();
    return notes;
}

} // namespace splice
