#include "KorvelLayout.h"

#include "WatchdogEvents.h"

#include "Errors.h"
#include "PathText.h"
#include "SharedFile.h"
#include "Unicode.h"
#include "WinApi.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <stdexcept>

namespace {

constexpr std::string_view Utf16Mark = "\xFF\xFE";

void CopyOrThrow(const std::string& from, const std::string& to) {
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE))
        throw std::runtime_error("Cannot copy " + from + " to " + to + " (error " +
                                 std::to_string(GetLastError()) + ")");
}

std::string Trimmed(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return text.substr(begin, end - begin);
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Opening an event never creates it here: a name that nobody holds has no state to reset.
THandle OpenTamrixEvent(const char* name) {
    return THandle(OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name));
}

} // namespace

TKorvelLayout::TKorvelLayout(bool withLogs, bool holdEvents, const std::string& appFolder) {
    ResetTamrixEvents();
    FAppDir = FTemp.MakeDir(appFolder);
    FKorvelDir = FAppDir + "\\korvel";
    if (!CreateDirectoryA(FKorvelDir.c_str(), nullptr))
        RaiseLastOSError();
    if (withLogs && !CreateDirectoryA(LogsDir().c_str(), nullptr))
        RaiseLastOSError();
    FKorvelExe = FKorvelDir + "\\korvel.exe";
    FTamrixExe = FAppDir + "\\Tamrix.exe";
    CopyOrThrow(TestBinDirectory() + "\\korvel.exe", FKorvelExe);
    CopyOrThrow(TestBinDirectory() + "\\TamrixDouble.exe", FTamrixExe);
    if (holdEvents)
        for (const char* name : TamrixEventNames) {
            // Created the way both sides create them: manual reset, not signalled.
            THandle event(CreateEventA(nullptr, TRUE, FALSE, name));
            if (!event)
                RaiseLastOSError();
            ResetEvent(event.Get());
            FEvents.push_back(std::move(event));
        }
}

TKorvelLayout::~TKorvelLayout() {
    // Korvel first, so that it cannot launch another double while the doubles go.
    for (auto& child : FChildren)
        child->Kill();
    KillDoubles();
    FChildren.clear();
    ResetTamrixEvents();
    FEvents.clear();
}

TChildProcess& TKorvelLayout::StartKorvel(const std::string& arguments,
                                          const std::string& workingDirectory) {
    FChildren.push_back(std::make_unique<TChildProcess>(
        Quoted(FKorvelExe) + (arguments.empty() ? "" : " " + arguments), workingDirectory));
    return *FChildren.back();
}

TChildProcess& TKorvelLayout::StartTamrix() {
    FChildren.push_back(std::make_unique<TChildProcess>(Quoted(FTamrixExe), FAppDir));
    return *FChildren.back();
}

void TKorvelLayout::UseSessionLog() {
    wchar_t user[257];
    DWORD length = 257;
    DWORD session = 0;
    if (!GetUserNameW(user, &length) || !ProcessIdToSessionId(GetCurrentProcessId(), &session))
        RaiseLastOSError();
    FLogName = "korvel-" + Utf16ToUtf8(user) + "-" + std::to_string(session) + ".log";
}

std::string TKorvelLayout::ReadLog() const {
    return ReadSharedFile(LogPath()).value_or("");
}

std::vector<std::string> TKorvelLayout::LogLines() const {
    return ::LogLines(LogPath());
}

bool TKorvelLayout::WaitForLogLine(const std::string& line, std::uint32_t timeoutMs,
                                   std::size_t occurrence) const {
    return ::WaitForLogLine(LogPath(), line, timeoutMs, occurrence);
}

std::string TKorvelLayout::ReadIni() const {
    const std::string text = ReadSharedFile(IniPath()).value_or("");
    if (!text.starts_with(Utf16Mark))
        return text;
    std::wstring wide((text.size() - 2) / 2, L'\0');
    std::memcpy(wide.data(), text.data() + 2, wide.size() * 2);
    return Utf16ToUtf8(wide);
}

void TKorvelLayout::WriteIni(const std::string& text, bool utf16) const {
    if (!utf16)
        return TTempDir::WriteFile(IniPath(), text);
    const std::wstring wide = Utf8ToUtf16(text);
    TTempDir::WriteFile(
        IniPath(), std::string(Utf16Mark) +
                       std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2));
}

std::vector<std::pair<std::string, std::string>>
TKorvelLayout::IniSection(const std::string& section) const {
    std::vector<std::pair<std::string, std::string>> entries;
    const std::string text = ReadIni();
    bool inSection = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = Trimmed(text.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line.front() == '[') {
            const std::size_t close = line.find(']');
            inSection = close != std::string::npos && SameText(line.substr(1, close - 1), section);
            continue;
        }
        const std::size_t equals = line.find('=');
        if (inSection && equals != std::string::npos)
            entries.emplace_back(Trimmed(line.substr(0, equals)), Trimmed(line.substr(equals + 1)));
    }
    return entries;
}

std::optional<std::string> TKorvelLayout::IniValue(const std::string& section,
                                                   const std::string& key) const {
    for (const auto& [name, value] : IniSection(section))
        if (SameText(name, key))
            return value;
    return std::nullopt;
}

void TKorvelLayout::WriteScript(std::initializer_list<TScriptEntry> entries) const {
    WriteTamrixScript(FTamrixExe, entries);
}

void TKorvelLayout::SetTamrixEvent(const char* name) {
    // Created when missing, so that a test can prepare a state before anyone else holds it; the
    // layout's own handles (when held) keep it alive.
    THandle event(CreateEventA(nullptr, TRUE, FALSE, name));
    if (!event)
        RaiseLastOSError();
    SetEvent(event.Get());
}

void TKorvelLayout::ResetTamrixEvent(const char* name) {
    if (const THandle event = OpenTamrixEvent(name))
        ResetEvent(event.Get());
}

bool TKorvelLayout::IsTamrixEventSet(const char* name) {
    const THandle event = OpenTamrixEvent(name);
    return event && WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0;
}

void TKorvelLayout::ResetTamrixEvents() {
    for (const char* name : TamrixEventNames)
        ResetTamrixEvent(name);
}

void TKorvelLayout::KillDoubles() const {
    ::KillDoubles(FTamrixExe);
}
