#include "Processes.h"

#include "Deadline.h"
#include "Errors.h"
#include "Module.h"
#include "PathText.h"
#include "SharedFile.h"
#include "WinApi.h"

#include <vector>

TChildProcess::TChildProcess(const std::string& commandLine, const std::string& workingDirectory) {
    // CreateProcessA may write into the command line, so it gets a copy of its own.
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup,
                        &info))
        RaiseLastOSError();
    THandle thread(info.hThread);
    FProcess.Reset(info.hProcess);
    FProcessId = info.dwProcessId;
}

TChildProcess::~TChildProcess() {
    Kill();
}

bool TChildProcess::WaitForExit(std::uint32_t timeoutMs) const {
    if (!FProcess)
        return true;
    const DWORD result = WaitForSingleObject(FProcess.Get(), timeoutMs);
    if (result == WAIT_FAILED)
        RaiseLastOSError();
    return result == WAIT_OBJECT_0;
}

std::optional<std::uint32_t> TChildProcess::ExitCode() const {
    // STILL_ACTIVE is also a possible exit code: ask the handle, not the code, whether it ended.
    if (!WaitForExit(0))
        return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(FProcess.Get(), &code))
        RaiseLastOSError();
    return code;
}

void TChildProcess::Kill() noexcept {
    if (!FProcess)
        return;
    if (WaitForSingleObject(FProcess.Get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(FProcess.Get(), 1);
        WaitForSingleObject(FProcess.Get(), 10000);
    }
}

TScopedEnvironment::TScopedEnvironment(std::string name, const std::string& value)
    : FName(std::move(name)) {
    const DWORD size = GetEnvironmentVariableA(FName.c_str(), nullptr, 0);
    if (size > 0) {
        std::string old(size, '\0');
        const DWORD length = GetEnvironmentVariableA(FName.c_str(), old.data(), size);
        old.resize(length);
        FOldValue = std::move(old);
    }
    if (!SetEnvironmentVariableA(FName.c_str(), value.c_str()))
        RaiseLastOSError();
}

TScopedEnvironment::~TScopedEnvironment() {
    SetEnvironmentVariableA(FName.c_str(), FOldValue ? FOldValue->c_str() : nullptr);
}

std::string TestBinDirectory() {
    return std::string(ExtractFileDir(ModuleFileName()));
}

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

std::string TRecordedStart::Parameters() const {
    std::size_t i = 0;
    if (!CommandLine.empty() && CommandLine[0] == '"') {
        const std::size_t close = CommandLine.find('"', 1);
        i = close == std::string::npos ? CommandLine.size() : close + 1;
    } else {
        i = CommandLine.find(' ');
        if (i == std::string::npos)
            i = CommandLine.size();
    }
    while (i < CommandLine.size() && (CommandLine[i] == ' ' || CommandLine[i] == '\t'))
        ++i;
    return CommandLine.substr(i);
}

namespace {

std::vector<TRecordedStart> ReadRecordedStarts(const std::string& recordFile) {
    std::vector<TRecordedStart> starts;
    const std::string content = ReadSharedFile(recordFile).value_or("");
    // Only lines with their CR LF are complete; a line being written is left for the next look.
    std::size_t start = 0;
    for (std::size_t end; (end = content.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        const std::string line = content.substr(start, end - start);
        const std::size_t blank = line.find(' ');
        TRecordedStart recorded;
        recorded.Ticks = std::stoull(line.substr(0, blank));
        recorded.CommandLine = blank == std::string::npos ? "" : line.substr(blank + 1);
        starts.push_back(std::move(recorded));
    }
    return starts;
}

} // namespace

std::vector<TRecordedStart> WaitForRecordedStarts(const std::string& recordFile, std::size_t count,
                                                  std::uint32_t timeoutMs) {
    std::vector<TRecordedStart> starts;
    WaitUntil([&] { return (starts = ReadRecordedStarts(recordFile)).size() >= count; }, timeoutMs);
    return starts;
}
