// Helpers for tests that drive the Tamrix double (tests/support/programs/TamrixDouble.cpp): write
// its script, read back its trace, wait for a trace record.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

// One "key=value" line of a Tamrix.script; numbers or text (ini=<path>). Keys for one launch only
// are written "launch.<N>.<key>".
struct TScriptEntry {
    // A template, so that a literal 0 is a number and not a null text.
    template <std::integral T>
    TScriptEntry(std::string key, T value) : Key(std::move(key)), Value(std::to_string(value)) {}
    TScriptEntry(std::string key, std::string value);
    TScriptEntry(std::string key, const char* value);

    std::string Key;
    std::string Value;
};

// The script, trace and launch-counter files of a double installed as exePath.
std::string TamrixScriptPath(const std::string& exePath);
std::string TamrixTracePath(const std::string& exePath);
std::string TamrixCountPath(const std::string& exePath);

// Writes the script beside exePath, replacing any; raises std::runtime_error on failure.
void WriteTamrixScript(const std::string& exePath, std::initializer_list<TScriptEntry> entries);
void WriteTamrixScript(const std::string& exePath, const std::vector<TScriptEntry>& entries);

// One line of the trace: "<GetTickCount64> <launch> <pid> <what>".
struct TTraceRecord {
    std::uint64_t Tick = 0;
    int Launch = 0;
    std::uint32_t Pid = 0;
    std::string What;
};

// Parses trace text. A last line without its line end (the double may be writing it) and lines
// of another shape are left out.
std::vector<TTraceRecord> ParseTamrixTrace(const std::string& text);

// The trace of the double installed as exePath; empty while it does not exist.
std::vector<TTraceRecord> ReadTamrixTrace(const std::string& exePath);

// Re-reads the trace until a record matches or timeoutMs has passed. Gives the whole trace of
// the last reading, and whether a record matched.
bool WaitForTamrixTrace(const std::string& exePath,
                        const std::function<bool(const TTraceRecord&)>& match,
                        std::uint32_t timeoutMs, std::vector<TTraceRecord>* trace = nullptr);

// How many of the processes the trace names are still running.
std::size_t CountAlive(const std::vector<TTraceRecord>& trace);

// Kills every process the trace of the double installed as exePath names that still runs that very
// file. A process id is reused once its process has ended: any other process is left alone, be it
// another test's.
void KillDoubles(const std::string& exePath);

// How many records have the given what (and launch, when launch is not 0).
std::size_t CountTrace(const std::vector<TTraceRecord>& trace, const std::string& what,
                       int launch = 0);
