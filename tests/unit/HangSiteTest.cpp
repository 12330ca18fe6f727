// Where a hung Tamrix is stuck, as text: frames, the site among them, the lines, the label bound
// and the choices of threads, as tables.
#include "HangSite.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const THangFrame Wait{"ntdll", "NtWaitForSingleObject", 0x14, false};
const THangFrame Base{"KERNELBASE", "WaitForSingleObjectEx", 0x8e, false};
const THangFrame Own{"Tamrix", "HangOnMainThread", 0x1f, true};
const THangFrame OwnDll{"TamrixCore", "", 0x1a2b, true};
const THangFrame Main{"Tamrix", "WinMain", 0, true};

TEST(HangSiteTest, FrameTexts) {
    const std::pair<THangFrame, const char*> cases[] = {
        {Own, "Tamrix!HangOnMainThread+0x1f"},  {Main, "Tamrix!WinMain"},
        {OwnDll, "TamrixCore+0x1a2b"},          {{"", "", 0x7ff612345678, false}, "0x7ff612345678"},
        {{"", "Ignored", 0x10, false}, "0x10"},
    };
    for (const auto& [frame, text] : cases)
        EXPECT_EQ(FrameText(frame), text) << text;
}

// The system's waits above Tamrix's own frame never become the site, and a frame nobody named keeps
// its offset in the label while a named one drops it.
TEST(HangSiteTest, SiteIsTheFirstFrameOfTamrixsFolder) {
    struct Case {
        std::vector<THangFrame> frames;
        std::optional<std::size_t> index;
        const char* label;
    };
    const Case cases[] = {
        {{Wait, Base, Own, Main}, 2, "Tamrix!HangOnMainThread"},
        {{Wait, OwnDll, Own}, 1, "TamrixCore+0x1a2b"},
        {{Main}, 0, "Tamrix!WinMain"},
        {{Wait, Base}, std::nullopt, ""},
        {{}, std::nullopt, ""},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(SiteIndex(c.frames), c.index) << c.label;
        if (c.index) {
            EXPECT_EQ(SiteLabel(c.frames[*c.index]), c.label);
        }
    }
}

TEST(HangSiteTest, LinesShowTheTopFramesInnermostFirst) {
    const std::vector<THangFrame> nine(9, Main);
    std::string eight = "Hang site: Tamrix!WinMain";
    for (int i = 1; i < 8; ++i)
        eight += " < Tamrix!WinMain";
    struct Case {
        std::vector<THangFrame> frames;
        std::size_t max;
        std::optional<std::uint32_t> thread;
        std::string line;
    };
    const Case cases[] = {
        {{Wait, Base, Own},
         MainThreadFrames,
         std::nullopt,
         "Hang site: ntdll!NtWaitForSingleObject+0x14 < KERNELBASE!WaitForSingleObjectEx+0x8e < "
         "Tamrix!HangOnMainThread+0x1f"},
        {nine, MainThreadFrames, std::nullopt, eight},
        {{Wait, Base, Own, Main, Main},
         ThreadFrames,
         1234,
         "Hang site: thread 1234: ntdll!NtWaitForSingleObject+0x14 < "
         "KERNELBASE!WaitForSingleObjectEx+0x8e < Tamrix!HangOnMainThread+0x1f < Tamrix!WinMain"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HangSiteLine(c.frames, c.max, c.thread), c.line);
    EXPECT_EQ(HangSiteFailedLine("Access is denied"), "Hang site: failed - Access is denied");
    EXPECT_EQ(HangSiteFailedLine("no frame", 77), "Hang site: thread 77: failed - no frame");
}

TEST(HangSiteTest, ReportLines) {
    TStackReport main;
    main.MainThread = 10;
    main.Threads = {{10, {Wait, Own, Main}, "", 0}};
    TStackReport all = main;
    all.Threads.push_back({11, {}, "not suspended: Access is denied", 0});
    all.Threads.push_back({12, {Wait, Base, Own, Main, Main}, "", 0});
    TStackReport failed;
    failed.Failure = "a 32-bit process";
    TStackReport foreign = main;
    foreign.Threads[0].Frames = {Wait, Base};
    struct Case {
        const char* name;
        TStackReport report;
        bool mainHang;
        std::vector<std::string> lines;
        std::optional<std::string> site;
    };
    const Case cases[] = {
        {"main",
         main,
         true,
         {"Hang site: ntdll!NtWaitForSingleObject+0x14 < Tamrix!HangOnMainThread+0x1f < "
          "Tamrix!WinMain"},
         "Tamrix!HangOnMainThread"},
        {"no frame of Tamrix",
         foreign,
         true,
         {"Hang site: ntdll!NtWaitForSingleObject+0x14 < KERNELBASE!WaitForSingleObjectEx+0x8e"},
         std::nullopt},
        // Which thread is the call stream nobody can tell: no site is counted.
        {"call stream",
         all,
         false,
         {"Hang site: thread 10: ntdll!NtWaitForSingleObject+0x14 < "
          "Tamrix!HangOnMainThread+0x1f < Tamrix!WinMain",
          "Hang site: thread 11: failed - not suspended: Access is denied",
          "Hang site: thread 12: ntdll!NtWaitForSingleObject+0x14 < "
          "KERNELBASE!WaitForSingleObjectEx+0x8e < Tamrix!HangOnMainThread+0x1f < "
          "Tamrix!WinMain"},
         std::nullopt},
        {"whole walk failed", failed, true, {"Hang site: failed - a 32-bit process"}, std::nullopt},
        {"no thread", TStackReport{}, false, {"Hang site: failed - no thread"}, std::nullopt},
    };
    for (const Case& c : cases) {
        const THangSiteLines lines = HangSiteLinesOf(c.report, c.mainHang);
        EXPECT_EQ(lines.Lines, c.lines) << c.name;
        EXPECT_EQ(lines.Site, c.site) << c.name;
    }
}

TEST(HangSiteTest, AtMostTwentySitesTheRestIsOther) {
    std::vector<THangSiteCount> counts;
    for (int i = 0; i < 20; ++i)
        CountHangSite(counts, "Tamrix!F" + std::to_string(i));
    CountHangSite(counts, "Tamrix!F3");
    CountHangSite(counts, "Tamrix!F20");
    CountHangSite(counts, "Tamrix!F21");
    // A site kept before the bound was reached is still counted under its own name.
    CountHangSite(counts, "Tamrix!F19");
    ASSERT_EQ(counts.size(), 21u);
    EXPECT_EQ(counts[3], (THangSiteCount{"Tamrix!F3", 2}));
    EXPECT_EQ(counts[19], (THangSiteCount{"Tamrix!F19", 2}));
    EXPECT_EQ(counts[20], (THangSiteCount{"other", 2}));
}

TEST(HangSiteTest, MainThreadOwnsTheWindowsElseItIsTheFirstThread) {
    const std::vector<TThreadStart> threads = {{7, 300}, {5, 100}, {9, std::nullopt}, {6, 200}};
    struct Case {
        const char* name;
        std::vector<TWindowOwner> windows;
        std::vector<TThreadStart> threads;
        std::optional<std::uint32_t> main;
    };
    const Case cases[] = {
        {"no window", {}, threads, 5},
        {"visible before hidden", {{6, false}, {7, true}}, threads, 7},
        {"hidden only", {{6, false}, {9, false}}, threads, 6},
        {"a window of a thread not listed", {{42, true}}, threads, 5},
        {"ages unknown: the list's order", {}, {{9, std::nullopt}, {3, std::nullopt}}, 9},
        {"no thread", {{1, true}}, {}, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseMainThread(c.windows, c.threads), c.main) << c.name;
}

TEST(HangSiteTest, ThreadsWalkedMainFirstThenByAgeAtMostSixteen) {
    EXPECT_EQ(ThreadsToWalk(7, {{7, 300}, {5, 100}, {9, std::nullopt}, {6, 200}}),
              (std::vector<std::uint32_t>{7, 5, 6, 9}));
    std::vector<TThreadStart> many;
    for (std::uint32_t id = 1; id <= 20; ++id)
        many.push_back({id, id});
    const std::vector<std::uint32_t> walked = ThreadsToWalk(20, many);
    ASSERT_EQ(walked.size(), MaxHangThreads);
    EXPECT_EQ(walked.front(), 20u);
    EXPECT_EQ(walked.back(), 15u);
}

TEST(HangSiteTest, FunctionEntryHoldingAnAddress) {
    const std::vector<TFunctionEntry> table = {
        {0x1000, 0x1040}, {0x1040, 0x1100}, {0x1200, 0x1300}};
    const std::pair<std::uint32_t, std::optional<std::size_t>> cases[] = {{0x0fff, std::nullopt},
                                                                          {0x1000, 0},
                                                                          {0x103f, 0},
                                                                          {0x1040, 1},
                                                                          {0x1100, std::nullopt},
                                                                          {0x11ff, std::nullopt},
                                                                          {0x12ff, 2},
                                                                          {0x1300, std::nullopt}};
    for (const auto& [rva, index] : cases)
        EXPECT_EQ(FindFunctionEntry(table, rva), index) << rva;
    EXPECT_EQ(FindFunctionEntry({}, 0x1000), std::nullopt);
}

// Only the export where the function begins names it: the nearest one below would give a function
// the module keeps to itself the name of another.
TEST(HangSiteTest, ExportNamesOnlyTheFunctionItBegins) {
    const std::vector<TExportEntry> exports = {
        {0x1000, "Open"}, {0x2000, "Close"}, {0x1000, "Alias"}};
    EXPECT_EQ(ExportedName(exports, 0x1000), "Open");
    EXPECT_EQ(ExportedName(exports, 0x2000), "Close");
    EXPECT_EQ(ExportedName(exports, 0x1800), std::nullopt);
    EXPECT_EQ(ExportedName({}, 0x1000), std::nullopt);
}

} // namespace
