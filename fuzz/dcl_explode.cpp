// Our PKWARE DCL explode against StormLib's SCompExplode, on the same streams
// with the same output room.
// Input: a mode byte, then
//   - even mode: 2 bytes of extra room, then the stream. Both decode it into room
//     for the stream's length + 1 + the extra room;
//   - odd mode: data. StormLib implodes it and our explode must give it back into
//     room for exactly its size, as the game decodes a sector; our implode must
//     give a stream StormLib reads (window from bits 1-2 of the mode, ASCII
//     literals with bit 3).
//
// How StormLib answers, found by trying it (libstorm 9.22, the same decoder as the
// game's): it refuses when the room is smaller than the stream and copies the
// stream when they are equal (so the room here is always larger); it refuses a
// stream of 4 bytes or fewer, and one that decodes to nothing. Otherwise it
// returns what it decoded before a fault: it keeps the byte after the bits it
// takes loaded, so of a cut stream it keeps the tokens a whole byte follows (of
// the end code, the length symbol); it drops what does not fit the room; a copy
// before the first byte takes whatever its work buffer held there.
//
// So our explode must give exactly StormLib's bytes, but for a copy before the
// start, where ours stops and must be a prefix of StormLib's. Streams the game
// accepts (valid ones that fill exactly what a sector owes) we must decode
// exactly: the odd mode checks that on StormLib's own streams.
#include "dcl.h"
#include "fixtures.h"
#include "fuzz.h"

#include <algorithm>
#include <vector>

namespace {

using fixtures::Bytes;
using fixtures::stormExplode;
namespace dcl = archive::dcl;

bool startsWith(const Bytes& whole, const Bytes& part) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

void compare(std::span<const uint8_t> stream, size_t room) {
    Bytes ours(room);
    const dcl::Exploded r = dcl::explode(stream, ours);
    ours.resize(r.size);
    const Bytes theirs = stormExplode(stream, room);
    if (r.fault == dcl::Fault::BeforeStart) {
        if (!startsWith(theirs, ours))
            fuzz::fail("StormLib decodes other bytes before a copy from before the start");
    } else if (r.fault == dcl::Fault::BadHeader || stream.size() <= 4 || ours.empty()) {
        if (!theirs.empty())
            fuzz::fail("StormLib decodes a stream that gives nothing here");
    } else if (theirs != ours) {
        fuzz::fail("StormLib decodes the stream otherwise");
    }
}

void roundTrip(std::span<const uint8_t> data, uint8_t mode) {
    if (data.empty())
        return;
    const Bytes stream = fixtures::stormImplode(data);
    Bytes out(data.size());
    const dcl::Exploded r = dcl::explode(stream, out);
    if (r.fault != dcl::Fault::None || r.size != data.size() || !std::equal(out.begin(), out.end(), data.begin()))
        fuzz::fail("we do not decode StormLib's stream to its data");

    const unsigned window = 1024u << ((mode >> 1) & 3) % 3;
    const Bytes ours = *dcl::implode(data, {.ascii = (mode & 8) != 0, .window = window});
    const Bytes back = stormExplode(ours, std::max(data.size(), ours.size() + 1));
    if (!std::equal(back.begin(), back.end(), data.begin(), data.end()))
        fuzz::fail("StormLib does not decode our stream to its data");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* raw, size_t size) {
    fuzz::Reader in(raw, size);
    const auto mode = static_cast<uint8_t>(in.take(1));
    if (mode & 1) {
        roundTrip(in.rest(), mode);
    } else {
        const size_t extra = in.take(2);
        const auto stream = in.rest();
        compare(stream, stream.size() + 1 + extra);
    }
    return 0;
}
