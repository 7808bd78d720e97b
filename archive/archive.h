// Our MPQ map archive component: reads maps the way the game's own reader does
// (protected maps included) and replaces one member without rewriting the rest.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
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

// Same, on archive bytes already in memory; `label` names them in error messages.
std::vector<uint8_t> readMember(std::span<const uint8_t> archiveBytes, std::string_view member,
                                const std::string& label);

// Writes the member to destFolder/<member name after its last backslash>.
// On failure nothing is left behind at that path.
void extract(const std::filesystem::path& archivePath, std::string_view member,
             const std::filesystem::path& destFolder);

// What replacing a member writes: `tail` at `tailPos`, which is the archive's end
// or the start of the tail that an earlier replacement left and that nothing else
// uses; the file then ends with the tail. Then the 32 bytes of `header` overwrite
// the header at `headerPos`.
struct Appendix {
    std::vector<uint8_t> tail;
    uint64_t tailPos = 0;
    std::array<uint8_t, 32> header{};
    uint64_t headerPos = 0;
};

// Plans replacing (or adding) `name` with `data` in the archive given by its bytes.
Appendix planAdd(std::span<const uint8_t> archiveBytes, std::span<const uint8_t> data,
                 std::string_view name, const std::string& label);

// planAdd applied to a copy of the bytes.
std::vector<uint8_t> addInMemory(std::span<const uint8_t> archiveBytes, std::span<const uint8_t> data,
                                 std::string_view name, const std::string& label);

// Replaces (or adds) the member `name` with the bytes of sourceFile. Every other
// member reads as before. A crash leaves the old archive: new data is appended and
// synced before the header is repointed, or, when an earlier replacement's tail is
// overwritten, the new archive is written beside it and renamed over it.
void add(const std::filesystem::path& archivePath, const std::filesystem::path& sourceFile,
         std::string_view name);

} // namespace archive
