// TTempDir: a fresh folder under %TEMP% for one test, removed with everything in it when the test
// ends; plus whole-file helpers for checking what the code under test wrote.
#pragma once

#include <string>
#include <string_view>

class TTempDir {
public:
    // Creates a folder of a name no other test (or test process) uses; raises std::runtime_error
    // when it cannot.
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    // The folder's full path, without a trailing backslash.
    const std::string& Path() const noexcept { return FPath; }
    // Path() "\" name.
    std::string File(std::string_view name) const;
    // Creates the folder Path() "\" name and gives its path; raises std::runtime_error on failure.
    std::string MakeDir(std::string_view name) const;

    // ReadSharedFile, raising std::runtime_error when the file cannot be opened.
    static std::string ReadFile(const std::string& path);
    // Creates or replaces a file with text; raises std::runtime_error on failure.
    static void WriteFile(const std::string& path, std::string_view text);
    static bool FileExists(const std::string& path);
    static bool DirectoryExists(const std::string& path);

private:
    std::string FPath;
};
