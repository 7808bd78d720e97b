#include "archive.h"
namespace archive {
std::vector<uint8_t> readMember(const std::filesystem::path& p, std::string_view) { throw ArchiveError(p.string() + ": not yet"); }
std::vector<uint8_t> readMember(std::span<const uint8_t>, std::string_view, const std::string& l) { throw ArchiveError(l + ": not yet"); }
void extract(const std::filesystem::path& p, std::string_view, const std::filesystem::path&) { throw ArchiveError(p.string() + ": not yet"); }
Appendix planAdd(std::span<const uint8_t>, std::span<const uint8_t>, std::string_view, const std::string& l) { throw ArchiveError(l + ": not yet"); }
std::vector<uint8_t> addInMemory(std::span<const uint8_t>, std::span<const uint8_t>, std::string_view, const std::string& l) { throw ArchiveError(l + ": not yet"); }
void add(const std::filesystem::path& p, const std::filesystem::path&, std::string_view) { throw ArchiveError(p.string() + ": not yet"); }
}
