#include "ProcessWindows.h"

std::vector<HWND> ProcessWindows(std::uint32_t processId, unsigned long& error) noexcept {
    struct TSearch {
        DWORD ProcessId;
        std::vector<HWND> Windows;
        DWORD Error;
    } search{processId, {}, ERROR_SUCCESS};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto& found = *reinterpret_cast<TSearch*>(parameter);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != found.ProcessId)
                return TRUE;
            try {
                found.Windows.push_back(window);
                return TRUE;
            } catch (...) {
                found.Error = ERROR_NOT_ENOUGH_MEMORY;
                return FALSE;
            }
        },
        reinterpret_cast<LPARAM>(&search));
    error = search.Error;
    return std::move(search.Windows);
}
