#include "Throttle.h"

#include <iterator>

bool TRepeatThrottle::Allow(std::string_view text, std::uint32_t now) {
    for (auto entry = FWritten.begin(); entry != FWritten.end();)
        entry = static_cast<std::uint32_t>(now - entry->second) >= FIntervalMs
                    ? FWritten.erase(entry)
                    : std::next(entry);
    if (FWritten.find(text) != FWritten.end())
        return false;
    FWritten.emplace(text, now);
    return true;
}
