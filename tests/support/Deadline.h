// Polling against a deadline, for what another thread or process brings about in its own time.
#pragma once

#include <cstdint>
#include <functional>

// Checks condition() every pollMs until it holds or timeoutMs has passed; true when it held. It is
// checked once more at the deadline, so that a condition met during the last pause still counts.
bool WaitUntil(const std::function<bool()>& condition, std::uint32_t timeoutMs,
               std::uint32_t pollMs = 20);
