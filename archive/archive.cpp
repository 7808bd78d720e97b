#include "archive.h"

#include "files.h"
#include "layout.h"

#include <algorithm>

namespace archive {
namespace fs = std::filesystem;
using namespace layout;
using files::guarded;
using files::nameOf;

namespace files {

Buffer readFile(const fs::path& path, uint64_t limit, const char* what) {
    return guarded([&] {
        platform::File file(path, platform::File::Mode::Read);
        const platform::Status st = file.status();
        if (st.kind != platform::Kind::Regular)
            throw ArchiveError(nameOf(path) + ": not a regular file");
        if (st.size > limit)
            throw ArchiveError(nameOf(path) + ": " + what + " of " + std::to_string(st.size) +
                               " bytes is larger than the " + std::to_string(limit >> 20) + " MB limit");
        Buffer bytes(static_cast<size_t>(st.size));
        // A file that shrank while being read: what is there is what counts.
        bytes.shrink(file.readAt({bytes.data(), bytes.size()}, 0));
        return bytes;
    });
}

} // namespace files

std::vector<uint8_t> readMember(std::span<const uint8_t> archiveBytes, std::string_view member,
                                const std::string& label) {
    struct ToVector final : MemberSink {
        std::vector<uint8_t> out;
        void reserve(uint64_t size) override { out.resize(static_cast<size_t>(size)); }
        void put(uint64_t offset, std::span<const uint8_t> bytes) override {
            std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<ptrdiff_t>(offset));
        }
    } sink;
    sink.out.resize(static_cast<size_t>(View(archiveBytes, label).decode(member, sink)));
    return std::move(sink.out);
}

std::vector<uint8_t> readMember(const fs::path& archivePath, std::string_view member) {
    const auto bytes = files::readFile(archivePath, files::kMaxArchiveSize, "the archive");
    return readMember(bytes.span(), member, nameOf(archivePath));
}

void extract(const fs::path& archivePath, std::string_view member, const fs::path& destFolder) {
    const auto bytes = files::readFile(archivePath, files::kMaxArchiveSize, "the archive");
    const View view(bytes.span(), nameOf(archivePath));
    const size_t slash = member.rfind('\\');
    const fs::path dest = destFolder / platform::fromUtf8(slash == std::string_view::npos ? member : member.substr(slash + 1));
    guarded([&] {
        platform::File out(dest, platform::File::Mode::Create);
        // Decoded windows go straight to the file, so the member is never held whole.
        struct ToFile final : MemberSink {
            platform::File& file;
            explicit ToFile(platform::File& f) : file(f) {}
            void reserve(uint64_t) override {}
            void put(uint64_t offset, std::span<const uint8_t> bytes) override { file.writeAt(bytes, offset); }
        } sink(out);
        try {
            out.truncate(view.decode(member, sink));
            out.close();
        } catch (...) {
            out = platform::File();
            platform::removeQuietly(dest);
            throw;
        }
    });
}

} // namespace archive
