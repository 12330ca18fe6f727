// Small numeric helpers shared by the units. No Windows headers.
#pragma once

#include <cstdint>

// The smaller of two signed 64-bit numbers: the first when it is the smaller, else the second.
std::int64_t Min64(std::int64_t a, std::int64_t b) noexcept;
// The larger of two signed 64-bit numbers: the first when it is the larger, else the second.
std::int64_t Max64(std::int64_t a, std::int64_t b) noexcept;
