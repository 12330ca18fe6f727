#include "HangSite.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace {

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string ThreadPrefix(std::optional<std::uint32_t> threadId) {
    std::string prefix = "Hang site: ";
    if (threadId)
        prefix += "thread " + std::to_string(*threadId) + ": ";
    return prefix;
}

// The threads in the order they were created: those of unknown age last, each group in the
// list's order.
std::vector<TThreadStart> ByCreation(std::vector<TThreadStart> threads) {
    std::stable_sort(threads.begin(), threads.end(),
                     [](const TThreadStart& a, const TThreadStart& b) {
                         if (a.Created.has_value() != b.Created.has_value())
                             return a.Created.has_value();
                         return a.Created.has_value() && *a.Created < *b.Created;
                     });
    return threads;
}

} // namespace

std::string FrameText(const THangFrame& frame) {
    if (frame.Module.empty())
        return Hex(frame.Offset);
    if (frame.Function.empty())
        return frame.Module + "+" + Hex(frame.Offset);
    std::string text = frame.Module + "!" + frame.Function;
    if (frame.Offset != 0)
        text += "+" + Hex(frame.Offset);
    return text;
}

std::optional<std::size_t> SiteIndex(const std::vector<THangFrame>& frames) {
    const auto site = std::find_if(frames.begin(), frames.end(),
                                   [](const THangFrame& frame) { return frame.OwnFolder; });
    if (site == frames.end())
        return std::nullopt;
    return static_cast<std::size_t>(site - frames.begin());
}

std::string SiteLabel(const THangFrame& frame) {
    if (frame.Function.empty())
        return FrameText(frame);
    return frame.Module + "!" + frame.Function;
}

std::string HangSiteLine(const std::vector<THangFrame>& frames, std::size_t maxFrames,
                         std::optional<std::uint32_t> threadId) {
    std::string line = ThreadPrefix(threadId);
    for (std::size_t i = 0; i < frames.size() && i < maxFrames; ++i) {
        if (i != 0)
            line += " < ";
        line += FrameText(frames[i]);
    }
    return line;
}

std::string HangSiteFailedLine(std::string_view reason, std::optional<std::uint32_t> threadId) {
    return ThreadPrefix(threadId) + "failed - " + std::string(reason);
}

std::string HangEventText(std::string_view hangLine, const std::vector<std::string>& siteLines) {
    std::string text(hangLine);
    for (const std::string& line : siteLines)
        text += "\r\n" + line;
    return text;
}

void CountHangSite(std::vector<THangSiteCount>& counts, std::string_view site) {
    auto found = std::find_if(counts.begin(), counts.end(),
                              [&](const THangSiteCount& count) { return count.Site == site; });
    if (found == counts.end()) {
        const bool full =
            std::count_if(counts.begin(), counts.end(), [](const THangSiteCount& count) {
                return count.Site != OtherSite;
            }) >= static_cast<std::ptrdiff_t>(MaxHangSites);
        const std::string_view kept = full ? OtherSite : site;
        found = std::find_if(counts.begin(), counts.end(),
                             [&](const THangSiteCount& count) { return count.Site == kept; });
        if (found == counts.end()) {
            counts.push_back({std::string(kept), 0});
            found = counts.end() - 1;
        }
    }
    ++found->Count;
}

std::optional<std::uint32_t> ChooseMainThread(const std::vector<TWindowOwner>& windows,
                                              const std::vector<TThreadStart>& threads) {
    const auto isThread = [&](std::uint32_t id) {
        return std::any_of(threads.begin(), threads.end(),
                           [id](const TThreadStart& thread) { return thread.ThreadId == id; });
    };
    for (const bool visible : {true, false})
        for (const TWindowOwner& window : windows)
            if (window.Visible == visible && isThread(window.ThreadId))
                return window.ThreadId;
    if (threads.empty())
        return std::nullopt;
    return ByCreation(threads).front().ThreadId;
}

std::vector<std::uint32_t> ThreadsToWalk(std::uint32_t mainThread,
                                         const std::vector<TThreadStart>& threads) {
    std::vector<std::uint32_t> walk{mainThread};
    for (const TThreadStart& thread : ByCreation(threads))
        if (thread.ThreadId != mainThread && walk.size() < MaxHangThreads)
            walk.push_back(thread.ThreadId);
    return walk;
}

std::optional<std::size_t> FindFunctionEntry(const std::vector<TFunctionEntry>& table,
                                             std::uint32_t rva) {
    // The first entry that begins beyond rva; the one before it is the only candidate.
    const auto after = std::upper_bound(
        table.begin(), table.end(), rva,
        [](std::uint32_t address, const TFunctionEntry& entry) { return address < entry.Begin; });
    if (after == table.begin())
        return std::nullopt;
    const auto entry = std::prev(after);
    if (rva >= entry->End)
        return std::nullopt;
    return static_cast<std::size_t>(entry - table.begin());
}

std::optional<std::string> ExportedName(const std::vector<TExportEntry>& exports,
                                        std::uint32_t functionBegin) {
    const auto found = std::find_if(exports.begin(), exports.end(), [&](const TExportEntry& entry) {
        return entry.Rva == functionBegin;
    });
    if (found == exports.end())
        return std::nullopt;
    return found->Name;
}

THangSiteLines HangSiteLinesOf(const TStackReport& report, bool mainThreadHang) {
    THangSiteLines result;
    if (!report.Failure.empty() || report.Threads.empty()) {
        result.Lines.push_back(
            HangSiteFailedLine(report.Failure.empty() ? "no thread" : report.Failure));
        return result;
    }
    for (const TThreadStack& stack : report.Threads) {
        const std::optional<std::uint32_t> prefix =
            mainThreadHang ? std::nullopt : std::optional<std::uint32_t>(stack.ThreadId);
        result.Lines.push_back(stack.Failure.empty()
                                   ? HangSiteLine(stack.Frames,
                                                  mainThreadHang ? MainThreadFrames : ThreadFrames,
                                                  prefix)
                                   : HangSiteFailedLine(stack.Failure, prefix));
    }
    if (const std::optional<std::size_t> site = SiteIndex(report.Threads.front().Frames);
        site && mainThreadHang)
        result.Site = SiteLabel(report.Threads.front().Frames[*site]);
    return result;
}
