// Where a hung Tamrix is stuck, as text: the frames of its threads' stacks named, the site among
// them, the "Hang site: " lines, the hang event's text and the bounded count of sites for the
// metrics. Plain values only, no Windows headers: StackWalk reads the stacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One frame of a walked stack, as it was named.
struct THangFrame {
    // The module's file name without its extension ("Tamrix", "ntdll"); empty when the address
    // lies in no module.
    std::string Module{};
    // Empty when neither a symbol file nor the module's exports name the function.
    std::string Function{};
    // From the function's start when it is named, else from the module's base; the address
    // itself when there is no module.
    std::uint64_t Offset = 0;
    // The module lies in Tamrix's own folder.
    bool OwnFolder = false;
};

// One thread's stack, innermost frame first; Failure says why there is none.
struct TThreadStack {
    std::uint32_t ThreadId = 0;
    std::vector<THangFrame> Frames{};
    std::string Failure{};
    // How long the thread stayed suspended.
    std::uint64_t SuspendedUs = 0;
};

struct TStackReport {
    // Why nothing could be walked at all; empty otherwise.
    std::string Failure{};
    std::uint32_t MainThread = 0;
    // The threads walked, the main thread first.
    std::vector<TThreadStack> Threads{};
    // The whole step, from loading dbghelp to the last name.
    std::uint64_t StepUs = 0;
};

// How many frames a line shows: the main thread's alone, or each thread's of a call-stream hang;
// and how many threads a call-stream hang shows.
inline constexpr std::size_t MainThreadFrames = 8;
inline constexpr std::size_t ThreadFrames = 4;
inline constexpr std::size_t MaxHangThreads = 16;

// "module!function+0x1f", "module!function" at offset 0, "module+0x1a2b", "0x7ff612345678"
// without a module.
std::string FrameText(const THangFrame& frame);

// The site: the first frame in a module of Tamrix's own folder, so that the system's wait
// functions above it never hide where Tamrix waits. Nothing when no frame is Tamrix's.
std::optional<std::size_t> SiteIndex(const std::vector<THangFrame>& frames);

// The site as the metrics count it: "module!function" without the offset, so that every hang in
// one function counts alike; "module+0x1a2b" for a function nobody named.
std::string SiteLabel(const THangFrame& frame);

// "Hang site: " and at most maxFrames frames, innermost first, joined by " < "; with a thread id
// (a call-stream hang, one line per thread) "Hang site: thread N: " before them.
std::string HangSiteLine(const std::vector<THangFrame>& frames, std::size_t maxFrames,
                         std::optional<std::uint32_t> threadId = std::nullopt);

// "Hang site: failed - " and the reason; with a thread id "Hang site: thread N: failed - ".
std::string HangSiteFailedLine(std::string_view reason,
                               std::optional<std::uint32_t> threadId = std::nullopt);

// What a walk gives the log and the metrics: its lines, and the site to count, if any. Only a
// main-thread hang has one: of a call-stream hang every thread's line is in the log, but nothing
// tells which of them is the call stream, and a site counted for the wrong thread would mislead
// a whole fleet.
struct THangSiteLines {
    std::vector<std::string> Lines;
    std::optional<std::string> Site;
};
// For a main-thread hang the main thread's one line; for a call-stream hang one line per thread
// walked, each with its thread id; a walk that failed as a whole gives one failed line.
THangSiteLines HangSiteLinesOf(const TStackReport& report, bool mainThreadHang);

// The hang event's text: its log line and the site lines after it, each on a line of its own.
std::string HangEventText(std::string_view hangLine, const std::vector<std::string>& siteLines);

// The sites counted so far, in the order they first came.
struct THangSiteCount {
    std::string Site;
    std::uint64_t Count = 0;
    bool operator==(const THangSiteCount&) const = default;
};
// At most this many sites are kept; every further one counts as OtherSite, so that a stack that
// differs at every hang cannot grow the metrics file without bound.
inline constexpr std::size_t MaxHangSites = 20;
inline constexpr std::string_view OtherSite = "other";
void CountHangSite(std::vector<THangSiteCount>& counts, std::string_view site);

// A top-level window of the process, in the system's order, and the thread that owns it.
struct TWindowOwner {
    std::uint32_t ThreadId = 0;
    bool Visible = false;
};
// A thread of the process and when it was created (any monotonic unit); nothing when the system
// could not tell.
struct TThreadStart {
    std::uint32_t ThreadId = 0;
    std::optional<std::uint64_t> Created{};
};

// Tamrix's main thread: the owner of its first visible top-level window, else of its first hidden
// one, else its first thread (the earliest created; one of unknown age after every known one, in
// the list's order). Only a thread of threads is chosen; nothing when there is none.
std::optional<std::uint32_t> ChooseMainThread(const std::vector<TWindowOwner>& windows,
                                              const std::vector<TThreadStart>& threads);

// The threads a call-stream hang walks: the main thread first, then the others as they were
// created, at most MaxHangThreads.
std::vector<std::uint32_t> ThreadsToWalk(std::uint32_t mainThread,
                                         const std::vector<TThreadStart>& threads);

// A function entry of a module's x64 unwind table (relative addresses), sorted by Begin.
struct TFunctionEntry {
    std::uint32_t Begin = 0;
    std::uint32_t End = 0; // one past the last byte
};
// The entry whose range holds rva; nothing for an address outside every function (a leaf
// function has no entry).
std::optional<std::size_t> FindFunctionEntry(const std::vector<TFunctionEntry>& table,
                                             std::uint32_t rva);

// An export of a module: its relative address and name.
struct TExportEntry {
    std::uint32_t Rva = 0;
    std::string Name;
};
// The name of the function that begins at functionBegin, when the module exports it; the first
// in the list of several names of one address. An export merely below an address names nothing:
// the function that holds it may be one the module keeps to itself.
std::optional<std::string> ExportedName(const std::vector<TExportEntry>& exports,
                                        std::uint32_t functionBegin);
