// TChildProcess: a program a test starts, waits for and, if need be, kills. The object owns the
// process handle; a child still running when the object goes is killed, so no test leaves one
// behind. TScopedEnvironment: a variable of the test's own environment, which children inherit.
#pragma once

#include "Handle.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TChildProcess {
public:
    // Starts commandLine (program and arguments, quoted as the program expects) in
    // workingDirectory, or in the test's current directory when it is empty. The child inherits
    // the test's environment. Raises EOSError when the system refuses.
    TChildProcess(const std::string& commandLine, const std::string& workingDirectory = "");
    // Kills the child when it still runs, and waits a little for it to go.
    ~TChildProcess();
    TChildProcess(TChildProcess&&) noexcept = default;
    // Replacing a running child would leave it behind unkilled.
    TChildProcess& operator=(TChildProcess&&) = delete;

    std::uint32_t ProcessId() const noexcept { return FProcessId; }
    void* Handle() const noexcept { return FProcess.Get(); }

    // True when the child has ended within timeoutMs. Raises EOSError when the wait fails.
    bool WaitForExit(std::uint32_t timeoutMs) const;
    bool IsRunning() const { return !WaitForExit(0); }
    // The exit code; nothing while the child still runs.
    std::optional<std::uint32_t> ExitCode() const;
    // Terminates the child with exit code 1 and waits for it to go. Nothing when it has ended.
    void Kill() noexcept;

private:
    THandle FProcess;
    std::uint32_t FProcessId = 0;
};

// Sets an environment variable of the test process for its own lifetime and restores the old
// value (or its absence) afterwards.
class TScopedEnvironment {
public:
    TScopedEnvironment(std::string name, const std::string& value);
    ~TScopedEnvironment();
    TScopedEnvironment(const TScopedEnvironment&) = delete;
    TScopedEnvironment& operator=(const TScopedEnvironment&) = delete;

private:
    std::string FName;
    std::optional<std::string> FOldValue;
};

// The folder of the running test executable, without a trailing backslash: the product and the
// test programs lie there.
std::string TestBinDirectory();

// "\"" path "\"": a program path as the first token of a command line.
std::string Quoted(const std::string& path);

// One start recorded by RecordArgs.exe: its tick count (GetTickCount64) and its command line.
struct TRecordedStart {
    std::uint64_t Ticks = 0;
    std::string CommandLine;
    // The command line without the program: what follows the first token (quoted or not) and the
    // blanks after it.
    std::string Parameters() const;
};

// Waits up to timeoutMs until the record file holds at least count complete lines and gives them
// all; fewer when the deadline passed first.
std::vector<TRecordedStart> WaitForRecordedStarts(const std::string& recordFile, std::size_t count,
                                                  std::uint32_t timeoutMs);
