// Shared by the fuzz targets and their replay program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace fuzz {

// A broken property is a finding: report it and abort so libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

// Takes bytes off the front of the input.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : rest_(data, size) {}
    uint32_t take(size_t n) {
        uint32_t v = 0;
        for (size_t i = 0; i < n && !rest_.empty(); ++i) {
            v |= uint32_t{rest_[0]} << (8 * i);
            rest_ = rest_.subspan(1);
        }
        return v;
    }
    std::span<const uint8_t> bytes(size_t n) {
        n = n < rest_.size() ? n : rest_.size();
        const auto out = rest_.first(n);
        rest_ = rest_.subspan(n);
        return out;
    }
    std::span<const uint8_t> rest() const { return rest_; }

private:
    std::span<const uint8_t> rest_;
};

} // namespace fuzz
