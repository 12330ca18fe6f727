#include "MessageBoxes.h"

#include "Deadline.h"
#include "WinApi.h"

#include <string_view>

namespace {

// The control id that message boxes give their text, in Windows and in Wine alike.
constexpr int MessageTextId = 0xFFFF;

struct TSearch {
    DWORD ProcessId;
    HWND Found;
};

BOOL CALLBACK FindBoxOfProcess(HWND window, LPARAM parameter) {
    auto& search = *reinterpret_cast<TSearch*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search.ProcessId)
        return TRUE;
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    // A box is found while it is being built as well: only a shown box with its text control is
    // complete enough to be read.
    if (std::string_view(className) != "#32770" || !IsWindowVisible(window) ||
        GetDlgItem(window, MessageTextId) == nullptr)
        return TRUE;
    search.Found = window;
    return FALSE;
}

HWND FindBox(std::uint32_t processId) {
    TSearch search{processId, nullptr};
    EnumWindows(FindBoxOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

std::string WindowText(HWND window) {
    std::string text(static_cast<size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(
        static_cast<size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::string DialogItemText(HWND window, int id) {
    const HWND item = GetDlgItem(window, id);
    std::string text(static_cast<size_t>(item ? GetWindowTextLengthA(item) : 0) + 1, '\0');
    text.resize(GetDlgItemTextA(window, id, text.data(), static_cast<int>(text.size())));
    return text;
}

} // namespace

std::optional<TMessageBox> WaitForMessageBox(std::uint32_t processId, std::uint32_t timeoutMs) {
    HWND window = nullptr;
    if (!WaitUntil([&] { return (window = FindBox(processId)) != nullptr; }, timeoutMs))
        return std::nullopt;
    return TMessageBox{window, WindowText(window), DialogItemText(window, MessageTextId)};
}

bool HasMessageBox(std::uint32_t processId) {
    return FindBox(processId) != nullptr;
}

void PressOk(const TMessageBox& box) {
    PostMessageA(static_cast<HWND>(box.Window), WM_COMMAND, IDOK, 0);
}
