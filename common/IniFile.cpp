#include "IniFile.h"

#include "Errors.h"
#include "IntText.h"
#include "Unicode.h"
#include "WinApi.h"

#include <utility>

namespace {

// The platform reads at most this many characters, the terminating zero included.
constexpr DWORD ValueBufferSize = 2048;

// How long a write held off by another program's open of the file is tried again, and how often.
constexpr std::uint32_t HeldWriteRetryMs = 2000;
constexpr std::uint32_t HeldWriteRetryPauseMs = 100;

} // namespace

TIniFile::TIniFile(std::string fileName, TClock& clock)
    : FFileName(std::move(fileName)), FClock(clock) {}

TIniFile::~TIniFile() {
    UpdateFile();
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    wchar_t buffer[ValueBufferSize];
    // A longer value comes back cut to the buffer, never as an error.
    const DWORD length = GetPrivateProfileStringW(
        Utf8ToUtf16(section).c_str(), Utf8ToUtf16(key).c_str(), Utf8ToUtf16(defaultValue).c_str(),
        buffer, ValueBufferSize, Utf8ToUtf16(FFileName).c_str());
    return Utf16ToUtf8(std::wstring_view(buffer, length));
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    const std::uint32_t start = FClock.Ticks();
    while (!WritePrivateProfileStringW(Utf8ToUtf16(section).c_str(), Utf8ToUtf16(key).c_str(),
                                       Utf8ToUtf16(value).c_str(),
                                       Utf8ToUtf16(FFileName).c_str())) {
        const DWORD code = GetLastError();
        if ((code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION) ||
            FClock.Ticks() - start >= HeldWriteRetryMs)
            throw EIniFileException("Unable to write to " + FFileName);
        FClock.Sleep(HeldWriteRetryPauseMs);
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
