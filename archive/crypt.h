// The archive format's name hashes and stream cipher.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace archive::crypt {

enum HashType : uint32_t { kTablePosition = 0, kNameA = 1, kNameB = 2, kFileKey = 3 };

// The hash compares ASCII letters in either case as one.
constexpr uint8_t foldCase(uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - ('a' - 'A')) : c; }
uint32_t hashString(std::string_view name, HashType type);

// In place over the whole 32-bit words of `data`; trailing bytes stay as they are.
void encrypt(uint8_t* data, size_t size, uint32_t key);
void decrypt(uint8_t* data, size_t size, uint32_t key);

// The plain key of a member: the file-key hash of its name after the last backslash.
uint32_t plainKey(std::string_view memberName);

inline const uint32_t kHashTableKey = 0xC3AF3770;  // hashString("(hash table)", kFileKey)
inline const uint32_t kBlockTableKey = 0xEC83B3A3; // hashString("(block table)", kFileKey)

} // namespace archive::crypt
