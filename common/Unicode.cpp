#include "Unicode.h"

#include <cstdint>

static_assert(sizeof(wchar_t) == 2, "the Win32 wide text is UTF-16");

namespace {

constexpr char32_t Replacement = 0xFFFD;

bool IsContinuation(unsigned char byte) noexcept {
    return (byte & 0xC0) == 0x80;
}

// The code point that starts at text[at] and how many bytes it takes; Replacement and 1 for a
// byte that starts no well-formed sequence. Surrogate code points are read as they are written.
char32_t Decode(std::string_view text, std::size_t at, std::size_t& length) noexcept {
    const auto lead = static_cast<unsigned char>(text[at]);
    length = 1;
    if (lead < 0x80)
        return lead;
    std::size_t count = 0;
    char32_t point = 0;
    char32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        count = 2;
        point = lead & 0x1F;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 3;
        point = lead & 0x0F;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 4;
        point = lead & 0x07;
        least = 0x10000;
    } else {
        return Replacement;
    }
    if (text.size() - at < count)
        return Replacement;
    for (std::size_t i = 1; i < count; ++i) {
        const auto byte = static_cast<unsigned char>(text[at + i]);
        if (!IsContinuation(byte))
            return Replacement;
        point = (point << 6) | (byte & 0x3F);
    }
    if (point < least || point > 0x10FFFF)
        return Replacement;
    length = count;
    return point;
}

} // namespace

std::wstring Utf8ToUtf16(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 0;
        const char32_t point = Decode(text, at, length);
        at += length;
        if (point < 0x10000) {
            wide.push_back(static_cast<wchar_t>(point));
        } else {
            wide.push_back(static_cast<wchar_t>(0xD800 + ((point - 0x10000) >> 10)));
            wide.push_back(static_cast<wchar_t>(0xDC00 + ((point - 0x10000) & 0x3FF)));
        }
    }
    return wide;
}

std::string Utf16ToUtf8(std::wstring_view text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        char32_t point = static_cast<std::uint16_t>(text[at]);
        if (point >= 0xD800 && point <= 0xDBFF && at + 1 < text.size()) {
            const char32_t low = static_cast<std::uint16_t>(text[at + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                point = 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00);
                ++at;
            }
        }
        if (point < 0x80) {
            narrow.push_back(static_cast<char>(point));
        } else if (point < 0x800) {
            narrow.push_back(static_cast<char>(0xC0 | (point >> 6)));
            narrow.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        } else if (point < 0x10000) {
            narrow.push_back(static_cast<char>(0xE0 | (point >> 12)));
            narrow.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
            narrow.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        } else {
            narrow.push_back(static_cast<char>(0xF0 | (point >> 18)));
            narrow.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
            narrow.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
            narrow.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        }
    }
    return narrow;
}
