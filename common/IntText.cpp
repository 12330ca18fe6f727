#include "IntText.h"

#include <limits>

namespace {

enum class SignBeforeHex { Allowed, Refused };

int DecimalDigit(char c) noexcept {
    return c >= '0' && c <= '9' ? c - '0' : -1;
}

int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Both rules in one scanner. The result is the value's two's-complement bits, widened to 64, or
// nothing. `bits` is 32 or 64: the decimal range is the signed one of that width, hex digits may
// fill that many bits (leading zeros are free) and are then taken as signed.
std::optional<std::uint64_t> Scan(std::string_view text, unsigned bits,
                                  SignBeforeHex signBeforeHex) noexcept {
    std::size_t i = 0;
    // Only code 32: tabs and bytes from 128 up are never blanks.
    while (i < text.size() && text[i] == ' ')
        ++i;

    bool negative = false;
    bool hasSign = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        hasSign = true;
        ++i;
    }

    bool hex = false;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (hex && hasSign && signBeforeHex == SignBeforeHex::Refused)
        return std::nullopt;
    if (i == text.size())
        return std::nullopt; // a sign or a prefix without digits

    const std::uint64_t allBits =
        bits >= 64 ? std::numeric_limits<std::uint64_t>::max() : (std::uint64_t{1} << bits) - 1;
    std::uint64_t magnitude = 0;
    if (hex) {
        for (; i < text.size(); ++i) {
            const int digit = HexDigit(text[i]);
            if (digit < 0 || magnitude > (allBits >> 4))
                return std::nullopt;
            magnitude = magnitude * 16 + static_cast<unsigned>(digit);
        }
    } else {
        // The negative end of the range is one further than the positive one.
        const std::uint64_t limit = (allBits >> 1) + (negative ? 1 : 0);
        for (; i < text.size(); ++i) {
            const int digit = DecimalDigit(text[i]);
            if (digit < 0 || magnitude > (limit - static_cast<unsigned>(digit)) / 10)
                return std::nullopt;
            magnitude = magnitude * 10 + static_cast<unsigned>(digit);
        }
    }
    // Negating the unsigned bits is what makes "-$FFFFFFFF" read as 1 and "$FFFFFFFF" as -1.
    const std::uint64_t value = (negative ? std::uint64_t{0} - magnitude : magnitude) & allBits;
    return value;
}

std::optional<std::int32_t> As32(std::optional<std::uint64_t> bits) noexcept {
    if (!bits)
        return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(*bits));
}

} // namespace

std::optional<std::int32_t> TryStrToInt32(std::string_view text) noexcept {
    return As32(Scan(text, 32, SignBeforeHex::Allowed));
}

std::optional<std::int64_t> TryStrToInt64(std::string_view text) noexcept {
    const auto bits = Scan(text, 64, SignBeforeHex::Allowed);
    if (!bits)
        return std::nullopt;
    return static_cast<std::int64_t>(*bits);
}

std::optional<std::int32_t> TryStrToDelay(std::string_view text) noexcept {
    return As32(Scan(text, 32, SignBeforeHex::Refused));
}
