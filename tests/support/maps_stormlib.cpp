// Fixture maps written by StormLib, a writer independent of ours, and its PKWARE
// DCL codec, the second opinion on ours.
#include "fixtures.h"
#include "platform.h"

#include <StormLib.h>

namespace fs = std::filesystem;

namespace fixtures {

// SCompImplode or SCompExplode from `in` into at most `room` bytes.
static Bytes pkware(decltype(&SCompImplode) code, std::span<const uint8_t> in, size_t room) {
    Bytes out(room);
    int n = int(room);
    if (!code(out.data(), &n, const_cast<uint8_t*>(in.data()), int(in.size()))) return {};
    out.resize(size_t(n));
    return out;
}
Bytes stormImplode(std::span<const uint8_t> data) { return pkware(SCompImplode, data, data.size() * 2 + 64); }
Bytes stormExplode(std::span<const uint8_t> stream, size_t room) { return pkware(SCompExplode, stream, room); }

void makeMap(const fs::path& path, const Bytes& chunk, const MapOptions& o, const std::vector<Member>& extra) {
    // Version 1, a flat file, no (listfile) or (attributes), the sector size, the hash table size.
    SFILE_CREATE_MPQ create{sizeof(SFILE_CREATE_MPQ), MPQ_FORMAT_VERSION_1, nullptr, 0,
                            STREAM_PROVIDER_FLAT | BASE_PROVIDER_FILE, 0, 0, 0, 0, 512u << o.sectorShift, 0,
                            o.hashTableSize};
    const DWORD flags = MPQ_FILE_REPLACEEXISTING | (o.encrypted ? MPQ_FILE_ENCRYPTED : 0) |
                        (o.adjustedKey ? MPQ_FILE_FIX_KEY : 0) |
                        (o.codec == Codec::Implode ? MPQ_FILE_IMPLODE : o.codec == Codec::None ? 0 : MPQ_FILE_COMPRESS);
    const DWORD codec =
        o.codec == Codec::Zlib ? MPQ_COMPRESSION_ZLIB : o.codec == Codec::Pkware ? MPQ_COMPRESSION_PKWARE : 0;
    const auto check = [&](bool ok, const std::string& what) {
        if (!ok) fail("cannot " + what + " in " + platform::toUtf8(path) + " (error " + std::to_string(GetLastError()) + ")");
    };
    HANDLE mpq = nullptr, file = nullptr;
    fs::remove(path);
    check((!o.adjustedKey || o.encrypted) && o.headerOffset % 512 == 0, "use these options");
    check(SFileCreateArchive2(path.c_str(), &create, &mpq), "create the archive");
    std::vector<Member> members = {{kChunkName, chunk}};
    members.insert(members.end(), extra.begin(), extra.end());
    for (const auto& [name, data] : members) {
        check(SFileCreateFile(mpq, name.c_str(), 0, DWORD(data.size()), 0, flags, &file), "add " + name);
        check(data.empty() || SFileWriteFile(file, data.data(), DWORD(data.size()), codec), "write " + name);
        check(SFileFinishFile(file), "finish " + name);
    }
    check(SFileCloseArchive(mpq), "close the archive");
    if (o.headerOffset) {
        Bytes bytes = pattern(o.headerOffset, 99, false), body = readAll(path);
        bytes.insert(bytes.end(), body.begin(), body.end());
        writeAll(path, bytes);
    }
}

} // namespace fixtures
