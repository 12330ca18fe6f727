#include "TamrixScript.h"

#include "Deadline.h"
#include "PathText.h"
#include "SharedFile.h"
#include "TempDir.h"
#include "Handle.h"
#include "WinApi.h"

#include <algorithm>
#include <set>
#include <sstream>

TScriptEntry::TScriptEntry(std::string key, std::string value)
    : Key(std::move(key)), Value(std::move(value)) {}
TScriptEntry::TScriptEntry(std::string key, const char* value)
    : Key(std::move(key)), Value(value) {}

std::string TamrixScriptPath(const std::string& exePath) {
    return ChangeFileExt(exePath, ".script");
}

std::string TamrixTracePath(const std::string& exePath) {
    return ChangeFileExt(exePath, ".trace");
}

std::string TamrixCountPath(const std::string& exePath) {
    return exePath + ".count";
}

void WriteTamrixScript(const std::string& exePath, std::initializer_list<TScriptEntry> entries) {
    WriteTamrixScript(exePath, std::vector<TScriptEntry>(entries));
}

void WriteTamrixScript(const std::string& exePath, const std::vector<TScriptEntry>& entries) {
    std::string text = "# written by the test\r\n";
    for (const TScriptEntry& entry : entries)
        text += entry.Key + "=" + entry.Value + "\r\n";
    TTempDir::WriteFile(TamrixScriptPath(exePath), text);
}

std::vector<TTraceRecord> ParseTamrixTrace(const std::string& text) {
    std::vector<TTraceRecord> records;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::istringstream line(text.substr(start, end - start));
        TTraceRecord record;
        std::string extra;
        if (line >> record.Tick >> record.Launch >> record.Pid >> record.What && !(line >> extra))
            records.push_back(std::move(record));
    }
    return records;
}

std::vector<TTraceRecord> ReadTamrixTrace(const std::string& exePath) {
    return ParseTamrixTrace(ReadSharedFile(TamrixTracePath(exePath)).value_or(""));
}

bool WaitForTamrixTrace(const std::string& exePath,
                        const std::function<bool(const TTraceRecord&)>& match,
                        std::uint32_t timeoutMs, std::vector<TTraceRecord>* trace) {
    std::vector<TTraceRecord> records;
    const bool found = WaitUntil(
        [&] {
            records = ReadTamrixTrace(exePath);
            return std::any_of(records.begin(), records.end(), match);
        },
        timeoutMs);
    if (trace != nullptr)
        *trace = std::move(records);
    return found;
}

std::size_t CountTrace(const std::vector<TTraceRecord>& trace, const std::string& what,
                       int launch) {
    return static_cast<std::size_t>(
        std::count_if(trace.begin(), trace.end(), [&](const TTraceRecord& record) {
            return record.What == what && (launch == 0 || record.Launch == launch);
        }));
}

std::size_t CountAlive(const std::vector<TTraceRecord>& trace) {
    std::set<std::uint32_t> alive;
    for (const TTraceRecord& record : trace) {
        THandle process(OpenProcess(SYNCHRONIZE, FALSE, record.Pid));
        if (process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT)
            alive.insert(record.Pid);
    }
    return alive.size();
}

void KillDoubles(const std::string& exePath) {
    std::set<std::uint32_t> pids;
    for (const TTraceRecord& record : ReadTamrixTrace(exePath))
        pids.insert(record.Pid);
    // The file and its two folders: the system may spell the rest of the path another way.
    const auto lastThree = [](std::string_view path) {
        std::string parts;
        for (int part = 0; part < 3; ++part, path = ExtractFileDir(path))
            parts += "\\" + std::string(ExtractFileName(path));
        return parts;
    };
    for (const std::uint32_t pid : pids) {
        const THandle process(OpenProcess(
            PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
        char image[MAX_PATH * 2];
        DWORD size = sizeof image;
        if (!process || WaitForSingleObject(process.Get(), 0) != WAIT_TIMEOUT ||
            !QueryFullProcessImageNameA(process.Get(), 0, image, &size) ||
            !SameFileName(lastThree(std::string_view(image, size)), lastThree(exePath)))
            continue;
        TerminateProcess(process.Get(), 1);
        WaitForSingleObject(process.Get(), 10000);
    }
}
