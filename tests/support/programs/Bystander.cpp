// Bystander: a harmless program that only sleeps, so that a test can show that the watchdog never
// kills a process that is not Tamrix. Argument: the milliseconds to sleep (default 60000).
#include "WinApi.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    std::uint32_t milliseconds = 60000;
    if (__argc > 1) {
        const char* text = __argv[1];
        std::from_chars(text, text + std::strlen(text), milliseconds);
    }
    Sleep(milliseconds);
    return 0;
}
