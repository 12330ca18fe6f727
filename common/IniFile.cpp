#include "IniFile.h"

#include "Errors.h"
#include "Handle.h"
#include "IntText.h"
#include "Unicode.h"
#include "WinApi.h"

#include <utility>

namespace {

// The platform reads at most this many characters, the terminating zero included.
constexpr DWORD ValueBufferSize = 2048;

// How long a step held off by another program's open of the file is tried again, and how often.
constexpr std::uint32_t HeldRetryMs = 2000;
constexpr std::uint32_t HeldRetryPauseMs = 100;

bool IsHeld(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

std::uint64_t Combined(DWORD high, DWORD low) {
    return (std::uint64_t{high} << 32) | low;
}

// A held file, as the retry loop counts it.
constexpr DWORD HeldCode = ERROR_SHARING_VIOLATION;

} // namespace

TIniFileProbe ProbeIniFile(const std::string& fileName) {
    // Without FILE_SHARE_WRITE: the open fails while anyone has the file open for writing, even
    // a writer that shares everything (an editor saving in place lets readers in).
    const THandle file(CreateFileW(Utf8ToUtf16(fileName).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    TIniFileProbe probe;
    if (!file) {
        probe.Held = IsHeld(GetLastError());
        // Any other refusal (no file, a folder in its place) is for the profile call to answer.
        return probe;
    }
    probe.Exists = true;
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(file.Get(), &information)) {
        probe.Size = Combined(information.nFileSizeHigh, information.nFileSizeLow);
        probe.WriteTime = Combined(information.ftLastWriteTime.dwHighDateTime,
                                   information.ftLastWriteTime.dwLowDateTime);
    }
    return probe;
}

TIniFile::TIniFile(std::string fileName, TClock& clock, TIniFileLook look)
    : FFileName(std::move(fileName)), FClock(clock), FLook(std::move(look)) {}

TIniFile::~TIniFile() {
    UpdateFile();
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    wchar_t buffer[ValueBufferSize];
    DWORD length = 0;
    const std::wstring file = Utf8ToUtf16(FFileName);
    const DWORD code = WhileHeld([&]() -> unsigned long {
        // The profile functions answer a file they cannot open, or one cut short by a writer, with
        // the default, as for a missing one, and what they leave as the last error is not
        // documented. Only what korvel sees itself decides: nobody writing before the read,
        // nobody after it, and no change between the two.
        const TIniFileProbe before = FLook(FFileName);
        if (before.Held)
            return HeldCode;
        // A longer value comes back cut to the buffer, never as an error.
        length = GetPrivateProfileStringW(Utf8ToUtf16(section).c_str(), Utf8ToUtf16(key).c_str(),
                                          Utf8ToUtf16(defaultValue).c_str(), buffer,
                                          ValueBufferSize, file.c_str());
        return FLook(FFileName) == before ? 0 : HeldCode;
    });
    if (code != 0)
        throw EIniFileException("Unable to read " + FFileName);
    return Utf16ToUtf8(std::wstring_view(buffer, length));
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    const DWORD code = WhileHeld([&]() -> unsigned long {
        // Never into the middle of another program's save.
        if (FLook(FFileName).Held)
            return HeldCode;
        return WritePrivateProfileStringW(Utf8ToUtf16(section).c_str(), Utf8ToUtf16(key).c_str(),
                                          Utf8ToUtf16(value).c_str(),
                                          Utf8ToUtf16(FFileName).c_str())
                   ? 0
                   : GetLastError();
    });
    if (code != 0)
        throw EIniFileException("Unable to write to " + FFileName);
}

unsigned long TIniFile::WhileHeld(const std::function<unsigned long()>& attempt) const {
    const std::uint32_t start = FClock.Ticks();
    for (;;) {
        const DWORD code = attempt();
        if (!IsHeld(code) || FClock.Ticks() - start >= HeldRetryMs)
            return code;
        FClock.Sleep(HeldRetryPauseMs);
    }
}

std::int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                                   std::int32_t defaultValue) const {
    return TryStrToInt32(ReadString(section, key, "")).value_or(defaultValue);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key,
                            std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key,
                        bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void TIniFile::UpdateFile() noexcept {
    // All three names null: the platform's request to write its cached copy of the file out.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, Utf8ToUtf16(FFileName).c_str());
}
