#include "Deadline.h"

#include <chrono>
#include <thread>

bool WaitUntil(const std::function<bool()>& condition, std::uint32_t timeoutMs,
               std::uint32_t pollMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return true;
}
