// The integer text rules of the settings file and of tarrow's delay. Pure: no Windows headers, so
// they are quick to test and safe to fuzz.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Settings rule, signed 32-bit: leading blanks; one optional "-" or "+"; then either decimal digits
// within -2147483648..2147483647, or a hex prefix ("$", "x", "X", "0x", "0X") and at most 8
// significant hex digits whose 32 bits are taken as signed ("$FFFFFFFF" is -1). Nothing may follow
// the digits. Anything else gives no value.
std::optional<std::int32_t> TryStrToInt32(std::string_view text) noexcept;

// The same rule with the 64-bit range: decimal within the signed 64-bit range, at most 16
// significant hex digits taken as signed 64 bits.
std::optional<std::int64_t> TryStrToInt64(std::string_view text) noexcept;

// tarrow's delay rule, signed 32-bit: leading blanks (code 32 only); decimal with at most one sign
// within the signed 32-bit range, leading zeros allowed; or a hex prefix without sign and at most
// 32 bits, values from 80000000 hex up negative. Nothing may follow the digits.
std::optional<std::int32_t> TryStrToDelay(std::string_view text) noexcept;
