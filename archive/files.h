// Reading archive files whole, with the platform's errors turned into ours.
#pragma once

#include "archive.h"
#include "buffer.h"

#include "platform.h"

namespace archive::files {

// Maps are a few megabytes; anything far beyond is refused before it is read.
inline constexpr uint64_t kMaxArchiveSize = 2 * kMaxMemberSize;

inline std::string nameOf(const std::filesystem::path& path) { return platform::toUtf8(path); }

// Runs `f`, the platform's errors turned into ours.
template <typename F>
auto guarded(F f) -> decltype(f()) {
    try {
        return f();
    } catch (const platform::Error& e) {
        throw ArchiveError(e.what());
    }
}

// The whole file; one larger than `limit` is refused before it is read.
Buffer readFile(const std::filesystem::path& path, uint64_t limit, const char* what);

} // namespace archive::files
