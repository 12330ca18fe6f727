// TRepeatThrottle: lets the same text through at most once per interval, so that an error that
// repeats on every pass of a loop shows in the log once a minute instead of ten times a second,
// while a different error still shows at once. Milliseconds of the caller's clock; no Windows
// headers.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

class TRepeatThrottle {
public:
    explicit TRepeatThrottle(std::uint32_t intervalMs) noexcept : FIntervalMs(intervalMs) {}

    // Whether text may be written at now. When it may, now is kept as the time it was last
    // written. Elapsed times are taken modulo 2^32.
    bool Allow(std::string_view text, std::uint32_t now);

private:
    std::uint32_t FIntervalMs;
    // Every text let through within the last interval, with its time: errors that alternate are
    // each held to once an interval too. Older entries are dropped, so the map stays small.
    std::map<std::string, std::uint32_t, std::less<>> FWritten;
};
