// Our MPQ map archive component: reads maps the way the game's own reader does
// (protected maps included) and replaces one member without rewriting the rest.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace archive {

class ArchiveError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Members and chunk files above this size are refused as hostile.
inline constexpr uint64_t kMaxMemberSize = 256ull * 1024 * 1024;

// The member's bytes. Throws ArchiveError naming the archive and the fault when
// the file is no map archive, lacks the member, or the member cannot be decoded.
std::vector<uint8_t> readMember(const std::filesystem::path& archivePath, std::string_view member);

// Writes the member to destFolder/<member name after its last backslash>.
// On failure nothing is left behind at that path.
void extract(const std::filesystem::path& archivePath, std::string_view member,
             const std::filesystem::path& destFolder);

// Replaces (or adds) the member `name` with the bytes of sourceFile, in place:
// the existing bytes stay, new data and tables are appended and the header is
// repointed. Every other member reads as before.
void add(const std::filesystem::path& archivePath, const std::filesystem::path& sourceFile,
         std::string_view name);

} // namespace archive
