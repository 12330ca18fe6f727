#include "PathText.h"

#include <algorithm>

namespace {

constexpr std::string_view Separators = "\\:";

} // namespace

std::string ChangeFileExt(std::string_view path, std::string_view newExtension) {
    // A "." before the last separator belongs to a folder name ("C:\v1.2\korvel"), not to the file.
    const std::size_t last = path.find_last_of(".\\:");
    std::string result(
        path.substr(0, last != std::string_view::npos && path[last] == '.' ? last : path.size()));
    result += newExtension;
    return result;
}

std::string_view ExtractFileName(std::string_view path) noexcept {
    const std::size_t last = path.find_last_of(Separators);
    return last == std::string_view::npos ? path : path.substr(last + 1);
}

std::string_view ExtractFileDir(std::string_view path) noexcept {
    const std::size_t last = path.find_last_of(Separators);
    if (last == std::string_view::npos)
        return {};
    // The backslash is cut unless it follows a drive colon or another backslash (a root such as
    // "C:\" or "\\"), or is the path's first character ("\korvel.exe" lies in "\").
    if (path[last] == '\\' && last > 0 && Separators.find(path[last - 1]) == std::string_view::npos)
        return path.substr(0, last);
    return path.substr(0, last + 1);
}

bool SameFileName(std::string_view a, std::string_view b) noexcept {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](char x, char y) { return lower(x) == lower(y); });
}

std::string_view StripExtension(std::string_view fileName) noexcept {
    const std::size_t dot = fileName.rfind('.');
    return dot == std::string_view::npos ? fileName : fileName.substr(0, dot);
}
