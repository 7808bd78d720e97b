// Our MPQ map archive component: reads maps the way the game's own reader does
// (protected maps included) and edits their members without disturbing the rest.
#pragma once

#include "platform.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
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

// ---- members as stored ---------------------------------------------------------

// A member as an archive stores it, not decoded (map sounds use codecs we do not
// decode): its sector table and sectors, decrypted, so it can be encrypted again
// for another name or place.
struct StoredMember {
    std::vector<uint8_t> bytes;
    uint32_t fileSize = 0;   // decoded size
    uint32_t flags = 0;      // block flags: codec, encryption, adjusted key
    uint32_t sectorSize = 0; // of the archive it was read from: sectors are cut by it
    bool operator==(const StoredMember&) const = default;
};

// The member the game's look-up finds for `name`, as stored. Throws ArchiveError
// naming the archive when it is missing or its bytes are cut off by the end of the file.
StoredMember readStored(const std::filesystem::path& archivePath, std::string_view name);
StoredMember readStored(std::span<const uint8_t> archiveBytes, std::string_view name, const std::string& label);

// A working file holding one stored member (written atomically), and reading it
// back; a file of another format or version is refused with an ArchiveError.
void writeStoredFile(const std::filesystem::path& file, const StoredMember& member);
StoredMember readStoredFile(const std::filesystem::path& file);

// The member's decoded bytes, or nothing when one of its codecs is not ours.
std::optional<std::vector<uint8_t>> decodeStored(const StoredMember& member);

// Whether two members hold the same content: decoded where both can be, else as stored.
bool sameContent(const StoredMember& a, const StoredMember& b);

// A member name as the archive's hash compares it: ASCII letters in either case are one.
std::string foldedName(std::string_view name);

// ---- editing -------------------------------------------------------------------

// One member change of an edit.
struct Change {
    std::string name;
    // New decoded bytes, stored in the style of the member they replace (imploded,
    // zlib or plain; encrypted or not), or imploded when the member is new.
    std::span<const uint8_t> data;
    // Optional: the member's decoded bytes as the archive holds them now. Sectors
    // they share with `data` are then taken over without decoding the old member.
    // Must be exactly what the archive holds.
    std::span<const uint8_t> current;
    // Or: a member carried as stored, encrypted again for this name and place.
    const StoredMember* stored = nullptr;

    static Change replace(std::string name, std::span<const uint8_t> data, std::span<const uint8_t> current = {}) {
        return {std::move(name), data, current, nullptr};
    }
    static Change carry(std::string name, const StoredMember& member) { return {std::move(name), {}, {}, &member}; }
};

// Where a change's data went.
// A member's old bytes count as its own when no other member, table or header shares them.
enum class Placement : uint8_t {
    InPlace,  // over its own old bytes, which hold it; what is left over is zeroed or cut off
    OwnTail,  // from its own old bytes on, growing over what only it and the tables held up to the end
    Appended, // past everything else the archive keeps (over tables that moved, or at the end)
};

struct Edited {
    std::vector<Placement> placements; // one per change, in order
    uint64_t oldSize = 0, newSize = 0;
};

// Carries out all changes in one write: the new archive is written beside the old,
// synced and renamed over it, so a crash leaves the old archive or the new one.
// Every other member keeps its stored bytes and the game's look-up of every other
// name is unchanged; tables stay where they are at their size when they are the
// archive's own (a hash table cut off by the end of the file stays cut off the
// same way). Before the rename the new bytes are checked: the game's look-up
// leads each name to its new block, re-encoded sectors decode to the new data,
// taken-over ones and every other member are as they were. Throws ArchiveError
// naming the archive on any fault, the archive then untouched.
// `durability`: a working copy that a later step copies durably need not wait for the disk.
Edited edit(const std::filesystem::path& archivePath, const std::vector<Change>& changes,
            platform::Durability durability = platform::Durability::Synced);

// The same edit on archive bytes in memory; the new archive's bytes.
std::vector<uint8_t> editInMemory(std::span<const uint8_t> archiveBytes, const std::vector<Change>& changes,
                                  const std::string& label, Edited* edited = nullptr);

// Replaces (or adds) one member with the given bytes.
std::vector<uint8_t> addInMemory(std::span<const uint8_t> archiveBytes, std::span<const uint8_t> data,
                                 std::string_view name, const std::string& label);

// Replaces (or adds) the member `name` with the bytes of sourceFile, through edit().
void add(const std::filesystem::path& archivePath, const std::filesystem::path& sourceFile,
         std::string_view name);

} // namespace archive
