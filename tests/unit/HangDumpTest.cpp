// Hang dumps: their names, which are kept, and real dumps of a running process.
#include "HangDump.h"

#include "Errors.h"
#include "Deadline.h"
#include "Minidump.h"
#include "Processes.h"
#include "SharedFile.h"
#include "TempDir.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>

namespace {

TEST(HangDumpNameTest, LocalTimeAndProcessId) {
    EXPECT_EQ(HangDumpFileName({2026, 12, 7, 9, 5, 3}, 1234), "Tamrix-20261207-090503-1234.dmp");
    for (const char* ours : {"Tamrix-20261207-090503-1234.dmp", "tamrix-x.DMP"})
        EXPECT_TRUE(IsHangDumpFileName(ours)) << ours;
    for (const char* other : {"~Tamrix-1.dmp.partial", "Tamrix-.dmp", "Tamrix-1.dmp.bak", "x.dmp"})
        EXPECT_FALSE(IsHangDumpFileName(other)) << other;
}

TEST(HangDumpNameTest, OnlyTheNewestAreKept) {
    const std::vector<TDumpFile> dumps = {{"c", 30}, {"a", 10}, {"d", 40}, {"b", 20}, {"b2", 20}};
    EXPECT_EQ(DumpsBeyond(dumps, 2), (std::vector<std::string>{"a", "b", "b2"}));
    EXPECT_EQ(DumpsBeyond(dumps, 5), std::vector<std::string>{});
}

// A real dump of a running process, at both levels; figures for the record.
TEST(WriteHangDumpTest, WholeReadableDumpsAtBothLevels) {
    TTempDir folder;
    TChildProcess sleeper(Quoted(TestBinDirectory() + "\\Bystander.exe") + " 60000");
    ASSERT_TRUE(WaitUntil([&] { return !ThreadsOf(sleeper.ProcessId()).empty(); }, 10000));
    const std::uint32_t mainThread = ThreadsOf(sleeper.ProcessId()).front();
    std::size_t sizes[3] = {};
    for (const std::uint32_t level : {1u, 2u}) {
        const auto start = std::chrono::steady_clock::now();
        const std::string name =
            WriteHangDump(sleeper.Handle(), sleeper.ProcessId(), level, folder.Path());
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        const std::string bytes = ReadSharedFile(folder.File(name)).value_or("");
        sizes[level] = bytes.size();
        std::cout << "[ perf     ] hang dump level " << level << ": " << took.count() << " ms, "
                  << bytes.size() << " bytes\n";
        const auto threads = MinidumpThreadIds(bytes);
        ASSERT_TRUE(threads) << name << " is no minidump with a thread list";
        EXPECT_NE(std::find(threads->begin(), threads->end(), mainThread), threads->end());
    }
    EXPECT_GT(sizes[2], sizes[1]);
}

TEST(WriteHangDumpTest, FailureLeavesNoFileBehind) {
    TTempDir folder;
    TChildProcess sleeper(Quoted(TestBinDirectory() + "\\Bystander.exe") + " 60000");
    // The file is created, but the handle lacks the rights a dump needs.
    const THandle limited(OpenProcess(SYNCHRONIZE, FALSE, sleeper.ProcessId()));
    EXPECT_THROW(WriteHangDump(limited.Get(), sleeper.ProcessId(), 1, folder.Path()), EOSError);
    WIN32_FIND_DATAA entry;
    EXPECT_EQ(FindFirstFileA(folder.File("*dmp*").c_str(), &entry), INVALID_HANDLE_VALUE)
        << entry.cFileName;
}

} // namespace
