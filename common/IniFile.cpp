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

// The profile functions answer a file they cannot open with the default, as for a missing one.
// An open of our own tells the two apart; it shares everything, so it never holds anyone off.
DWORD OpenRefusal(const std::string& fileName) {
    const THandle file(CreateFileW(Utf8ToUtf16(fileName).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? 0 : GetLastError();
}

} // namespace

TIniFile::TIniFile(std::string fileName, TClock& clock)
    : FFileName(std::move(fileName)), FClock(clock) {}

TIniFile::~TIniFile() {
    UpdateFile();
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    wchar_t buffer[ValueBufferSize];
    DWORD length = 0;
    const std::wstring file = Utf8ToUtf16(FFileName);
    const DWORD code = WhileHeld([&]() -> unsigned long {
        if (const DWORD refusal = OpenRefusal(FFileName); IsHeld(refusal))
            return refusal;
        // The holder may take the file between that open and this read, which then also ends in
        // the default; the platform leaves the refusal as the last error.
        SetLastError(ERROR_SUCCESS);
        // A longer value comes back cut to the buffer, never as an error.
        length = GetPrivateProfileStringW(Utf8ToUtf16(section).c_str(), Utf8ToUtf16(key).c_str(),
                                          Utf8ToUtf16(defaultValue).c_str(), buffer,
                                          ValueBufferSize, file.c_str());
        const DWORD readCode = GetLastError();
        return IsHeld(readCode) ? readCode : 0;
    });
    if (code != 0)
        throw EIniFileException("Unable to read " + FFileName);
    return Utf16ToUtf8(std::wstring_view(buffer, length));
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    const DWORD code = WhileHeld([&]() -> unsigned long {
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
