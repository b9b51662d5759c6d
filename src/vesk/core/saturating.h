// Signed 64-bit time arithmetic that clamps at the limits instead of overflowing.
#pragma once

#include <cstdint>
#include <limits>

namespace vesk {

constexpr std::int64_t sat_add(std::int64_t a, std::int64_t b) {
    std::int64_t sum;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<std::int64_t>::max()
                 : std::numeric_limits<std::int64_t>::min();
}

constexpr std::int64_t sat_sub(std::int64_t a, std::int64_t b) {
    std::int64_t difference;
    if (!__builtin_sub_overflow(a, b, &difference)) return difference;
    return b < 0 ? std::numeric_limits<std::int64_t>::max()
                 : std::numeric_limits<std::int64_t>::min();
}

}  // namespace vesk
