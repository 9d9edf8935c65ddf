#pragma once
// Arithmetic on sizes and offsets that come from a disk: a damaged field must never wrap a product round.
#include <cstdint>

namespace halvard {

// a * b into `out` when the product fits 64 bits; false (and `out` untouched) when it does not.
inline bool multiplyFits(std::uint64_t a, std::uint64_t b, std::uint64_t& out) {
    std::uint64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) return false;
    out = product;
    return true;
}

// a * b, or the largest value when the product does not fit (cluster counts from damaged run lists).
inline std::uint64_t saturatingMultiply(std::uint64_t a, std::uint64_t b) {
    std::uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? ~0ULL : product;
}

}  // namespace halvard
