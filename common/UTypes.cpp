#include "UTypes.h"

std::int64_t Min64(std::int64_t a, std::int64_t b) noexcept {
    return a < b ? a : b;
}

std::int64_t Max64(std::int64_t a, std::int64_t b) noexcept {
    return a > b ? a : b;
}
