#include "TempDir.h"

#include "Handle.h"
#include "SharedFile.h"
#include "WinApi.h"

#include <atomic>
#include <cstdio>
#include <stdexcept>

namespace {

std::string LastErrorText(const char* what, const std::string& path) {
    return std::string(what) + " \"" + path + "\" (error " + std::to_string(GetLastError()) + ")";
}

// Removes a folder and everything below it. Best effort: a file still held open by a leaking
// test stays behind rather than failing the tests that follow.
void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string child = path + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                // A read-only file would refuse DeleteFileA.
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

} // namespace

TTempDir::TTempDir() {
    char base[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length > sizeof base)
        throw std::runtime_error("GetTempPathA failed");
    std::string root(base, length);
    if (!root.empty() && root.back() == '\\')
        root.pop_back();

    // Process id, tick count and a counter: unique across the test processes ctest runs at once.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "\\kt%lu-%lu-%u", GetCurrentProcessId(), GetTickCount(),
                      counter++);
        const std::string candidate = root + name;
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            FPath = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            throw std::runtime_error(LastErrorText("Cannot create", candidate));
    }
    throw std::runtime_error("No free name for a temporary folder under " + root);
}

TTempDir::~TTempDir() {
    RemoveTree(FPath);
}

std::string TTempDir::File(std::string_view name) const {
    return FPath + "\\" + std::string(name);
}

std::string TTempDir::MakeDir(std::string_view name) const {
    const std::string path = File(name);
    if (!CreateDirectoryA(path.c_str(), nullptr))
        throw std::runtime_error(LastErrorText("Cannot create", path));
    return path;
}

std::string TTempDir::ReadFile(const std::string& path) {
    if (std::optional<std::string> content = ReadSharedFile(path))
        return std::move(*content);
    throw std::runtime_error(LastErrorText("Cannot open", path));
}

void TTempDir::WriteFile(const std::string& path, std::string_view text) {
    THandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw std::runtime_error(LastErrorText("Cannot create", path));
    DWORD written = 0;
    if (!::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size())
        throw std::runtime_error(LastErrorText("Cannot write", path));
}

bool TTempDir::FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool TTempDir::DirectoryExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
