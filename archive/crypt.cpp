#include "crypt.h"

#include "bytes.h"

#include <array>
#include <cstring>

namespace archive::crypt {
namespace {

const std::array<uint32_t, 0x500>& table() {
    static const std::array<uint32_t, 0x500> t = [] {
        std::array<uint32_t, 0x500> r{};
        uint32_t seed = 0x00100001;
        for (uint32_t i = 0; i < 0x100; ++i) {
            for (uint32_t j = 0; j < 5; ++j) {
                seed = (seed * 125 + 3) % 0x2AAAAB;
                const uint32_t high = (seed & 0xFFFF) << 16;
                seed = (seed * 125 + 3) % 0x2AAAAB;
                const uint32_t low = seed & 0xFFFF;
                r[i + j * 0x100] = high | low;
            }
        }
        return r;
    }();
    return t;
}

template <bool Encrypt>
void run(uint8_t* data, size_t size, uint32_t key) {
    const auto& t = table();
    uint32_t seed = 0xEEEEEEEE;
    for (size_t i = 0; i + 4 <= size; i += 4) {
        seed += t[0x400 + (key & 0xFF)];
        const uint32_t in = load32(data + i);
        const uint32_t out = in ^ (key + seed);
        const uint32_t plain = Encrypt ? in : out;
        key = ((~key << 0x15) + 0x11111111) | (key >> 0x0B);
        seed = plain + seed + (seed << 5) + 3;
        store32(data + i, out);
    }
}

} // namespace

uint32_t hashString(std::string_view name, HashType type) {
    const auto& t = table();
    uint32_t s1 = 0x7FED7FED, s2 = 0xEEEEEEEE;
    for (const char ch : name) {
        const uint32_t c = foldCase(static_cast<uint8_t>(ch));
        s1 = t[type * 0x100 + c] ^ (s1 + s2);
        s2 = c + s1 + s2 + (s2 << 5) + 3;
    }
    return s1;
}

void encrypt(uint8_t* data, size_t size, uint32_t key) { run<true>(data, size, key); }
void decrypt(uint8_t* data, size_t size, uint32_t key) { run<false>(data, size, key); }

uint32_t plainKey(std::string_view memberName) {
    const size_t slash = memberName.rfind('\\');
    return hashString(slash == std::string_view::npos ? memberName : memberName.substr(slash + 1), kFileKey);
}

} // namespace archive::crypt
