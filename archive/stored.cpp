#include "archive.h"

#include "crypt.h"
#include "files.h"
#include "layout.h"

#include <cstring>

namespace archive {
namespace fs = std::filesystem;
using namespace layout;

namespace {

// The working file: this magic, then version, file size, flags, sector size and
// the stored length as 32-bit words, then the stored bytes.
constexpr char kMagic[8] = {'G', 'W', 'S', 'T', 'O', 'R', 'E', 'D'};
constexpr uint32_t kVersion = 1;
constexpr size_t kFileHeader = sizeof kMagic + 5 * sizeof(uint32_t);

constexpr uint32_t kCodecs = kCompressed | kImploded;

} // namespace

StoredMember readStored(std::span<const uint8_t> archiveBytes, std::string_view name, const std::string& label) {
    const View view(archiveBytes, label);
    const auto fail = [&](const std::string& what) -> void { throw ArchiveError(label + ": " + what); };
    const auto hash = view.find(name);
    const auto index = hash ? view.usableBlock(*hash) : std::nullopt;
    if (!index)
        fail("the archive has no member " + std::string(name));
    const BlockEntry& block = view.blocks()[*index];
    const auto at = view.absolute(block.offset);
    if (!at || *at > archiveBytes.size() || archiveBytes.size() - *at < block.storedSize)
        fail("member " + std::string(name) + " is cut off by the end of the file");
    if (block.fileSize > kMaxMemberSize || block.storedSize > kMaxMemberSize)
        fail("member " + std::string(name) + " is larger than the 256 MB limit");
    StoredMember m;
    m.bytes.assign(archiveBytes.begin() + static_cast<ptrdiff_t>(*at),
                   archiveBytes.begin() + static_cast<ptrdiff_t>(*at + block.storedSize));
    m.fileSize = block.fileSize;
    m.flags = block.flags;
    m.sectorSize = view.header().sectorSize;
    if (!cryptStored(m.bytes, m.flags, m.fileSize, m.sectorSize, memberKey(name, block), false))
        fail("the sector table of " + std::string(name) + " is damaged");
    return m;
}

StoredMember readStored(const fs::path& archivePath, std::string_view name) {
    const auto bytes = files::readFile(archivePath, files::kMaxArchiveSize, "the archive");
    return readStored(bytes.span(), name, files::nameOf(archivePath));
}

void writeStoredFile(const fs::path& file, const StoredMember& m) {
    std::vector<uint8_t> out(kFileHeader + m.bytes.size());
    std::memcpy(out.data(), kMagic, sizeof kMagic);
    const uint32_t words[] = {kVersion, m.fileSize, m.flags, m.sectorSize, static_cast<uint32_t>(m.bytes.size())};
    for (size_t i = 0; i < std::size(words); ++i)
        store32(out.data() + sizeof kMagic + 4 * i, words[i]);
    std::copy(m.bytes.begin(), m.bytes.end(), out.begin() + kFileHeader);
    files::guarded([&] { platform::writeReplacing(file, out, platform::Durability::Replaced); });
}

StoredMember readStoredFile(const fs::path& file) {
    const auto bytes = files::readFile(file, kMaxMemberSize + kFileHeader, "the stored member");
    const std::span<const uint8_t> in = bytes.span();
    if (in.size() < kFileHeader || std::memcmp(in.data(), kMagic, sizeof kMagic) != 0 ||
        load32(in.data() + 8) != kVersion || load32(in.data() + 24) != in.size() - kFileHeader)
        throw ArchiveError(files::nameOf(file) + ": not a stored member file of version " + std::to_string(kVersion));
    StoredMember m;
    m.fileSize = load32(in.data() + 12);
    m.flags = load32(in.data() + 16);
    m.sectorSize = load32(in.data() + 20);
    m.bytes.assign(in.begin() + kFileHeader, in.end());
    return m;
}

std::optional<std::vector<uint8_t>> decodeStored(const StoredMember& m) {
    if (!(m.flags & kCodecs)) {
        if (m.bytes.size() < m.fileSize)
            return std::nullopt;
        return std::vector<uint8_t>(m.bytes.begin(), m.bytes.begin() + m.fileSize);
    }
    // Read by our reader inside an archive of one member, as the game would read it.
    uint32_t shift = 0;
    while (shift < 16 && (uint32_t{512} << shift) != m.sectorSize)
        ++shift;
    if (shift == 16 || m.bytes.size() > kMaxMemberSize)
        return std::nullopt;
    const uint32_t size = static_cast<uint32_t>(m.bytes.size());
    std::vector<uint8_t> archive(kHeaderSize + size);
    std::memcpy(archive.data(), "MPQ\x1A", 4);
    store32(archive.data() + 4, kHeaderSize);
    archive[14] = static_cast<uint8_t>(shift);
    store32(archive.data() + 16, kHeaderSize + size);
    store32(archive.data() + 20, kHeaderSize + size + kEntrySize);
    store32(archive.data() + 24, 1);
    store32(archive.data() + 28, 1);
    std::copy(m.bytes.begin(), m.bytes.end(), archive.begin() + kHeaderSize);
    const char* const name = "member";
    const auto hashes = encodeTable(std::vector<HashEntry>{
        {crypt::hashString(name, crypt::kNameA), crypt::hashString(name, crypt::kNameB), 0, 0, 0}});
    const auto blocks = encodeTable(std::vector<BlockEntry>{
        {static_cast<int32_t>(kHeaderSize), size, m.fileSize, (m.flags & ~(kEncrypted | kAdjustedKey)) | kExists}});
    archive.insert(archive.end(), hashes.begin(), hashes.end());
    archive.insert(archive.end(), blocks.begin(), blocks.end());
    try {
        return readMember(archive, name, "stored member");
    } catch (const ArchiveError&) {
        return std::nullopt;
    }
}

std::string foldedName(std::string_view name) {
    std::string out(name);
    for (char& c : out) c = static_cast<char>(crypt::foldCase(static_cast<uint8_t>(c)));
    return out;
}

bool sameContent(const StoredMember& a, const StoredMember& b) {
    const auto da = decodeStored(a), db = decodeStored(b);
    if (da && db)
        return *da == *db;
    return a.fileSize == b.fileSize && (a.flags & kCodecs) == (b.flags & kCodecs) && a.sectorSize == b.sectorSize &&
           a.bytes == b.bytes;
}

} // namespace archive
