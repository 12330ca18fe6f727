// Small numeric helpers shared by the units. No Windows headers.
#pragma once

#include <cstdint>

// The smaller / larger of two signed 64-bit numbers; on a tie, the second.
constexpr std::int64_t Min64(std::int64_t a, std::int64_t b) noexcept {
    return a < b ? a : b;
}
constexpr std::int64_t Max64(std::int64_t a, std::int64_t b) noexcept {
    return a > b ? a : b;
}
