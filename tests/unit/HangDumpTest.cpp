// Hang dumps: their names, which are kept, and real dumps of a running process.
#include "HangDump.h"

#include "Errors.h"
#include "Deadline.h"
#include "FileSecurity.h"
#include "Minidump.h"
#include "PrivateFile.h"
#include "Processes.h"
#include "SharedFile.h"
#include "TempDir.h"
#include "WinApi.h"

#include <sddl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <regex>

namespace {

TEST(HangDumpNameTest, LocalTimeProcessIdAndSequence) {
    EXPECT_EQ(HangDumpFileName({2026, 12, 7, 9, 5, 3}, 1234), "Tamrix-20261207-090503-1234.dmp");
    EXPECT_EQ(HangDumpFileName({2026, 12, 7, 9, 5, 3}, 1234, 2),
              "Tamrix-20261207-090503-1234-2.dmp");
}

// Only what korvel writes is ever pruned: a name of another shape is someone else's file.
TEST(HangDumpNameTest, OnlyKorvelsOwnNamesAreTaken) {
    for (const char* ours : {"Tamrix-20261207-090503-1234.dmp", "tAMRIX-20261207-090503-1.DMP",
                             "Tamrix-20261207-090503-1234-2.dmp"}) {
        EXPECT_TRUE(IsHangDumpFileName(ours)) << ours;
        EXPECT_TRUE(IsPartialDumpFileName(PartialDumpFileName(ours))) << ours;
        EXPECT_FALSE(IsPartialDumpFileName(ours)) << ours;
    }
    for (const char* other :
         {"Tamrix-x.dmp", "Tamrix-.dmp", "Tamrix-20261207-090503-.dmp",
          "Tamrix-2026120-090503-1.dmp", "Tamrix-20261207-090503-1234-.dmp",
          "Tamrix-20261207-090503-1234-2-3.dmp", "Tamrix-20261207-090503-1234.dmp.bak",
          "Tamrix-20261207-090503-12a4.dmp", "Tamrix-crash-before-update.dmp",
          "~Tamrix-20261207-090503-1234.dmp.partial"})
        EXPECT_FALSE(IsHangDumpFileName(other)) << other;
    for (const char* other : {"~Tamrix-x.dmp.partial", "~notes.partial", "Tamrix.partial"})
        EXPECT_FALSE(IsPartialDumpFileName(other)) << other;
}

TEST(HangDumpNameTest, OnlyTheNewestAreKept) {
    const std::vector<TFoundFile> dumps = {{"c", 30}, {"a", 10}, {"d", 40}, {"b", 20}, {"b2", 20}};
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
        // Catches a dump that takes the folder's grants (Everyone, Users) instead of its own, or
        // the default owner (the Administrators, for an elevated korvel).
        const TFileSecurity security = FileSecurity(folder.File(name));
        EXPECT_FALSE(security.Grantees.empty()) << "no DACL read back";
        EXPECT_EQ(security.Owner, ProcessUserSid()) << name;
        for (const std::string& grantee : security.Grantees)
            EXPECT_THAT(grantee, testing::AnyOf("owner", "SY", "BA")) << name;
        EXPECT_NE(std::find(threads->begin(), threads->end(), mainThread), threads->end());
    }
    EXPECT_GT(sizes[2], sizes[1]);
}

// Wine keeps a file's owner and DACL, but not whether the DACL is protected: that is read from the
// descriptor the dump is created with. Catches a dump that inherits what the folder grants.
TEST(WriteHangDumpTest, CreatedWithAProtectedDacl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        PrivateFileSecurityText(L"S-1-5-21-1-2-3-1001").c_str(), SDDL_REVISION_1, &descriptor,
        nullptr));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    EXPECT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    LocalFree(descriptor);
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
}

// Files of a folder, sorted.
std::vector<std::string> FilesOf(const TTempDir& folder) {
    std::vector<std::string> names;
    for (const TFoundFile& file : FindFiles(folder.File("*")))
        names.push_back(file.Name);
    std::sort(names.begin(), names.end());
    return names;
}

// A dump never replaces an older one of the same name, nor writes into a partial name that someone
// else created in advance, and the prune deletes nothing korvel did not write: neither another
// program's Tamrix-*.dmp nor a file it merely resembles.
TEST(WriteHangDumpTest, NeverOverwritesAndPrunesOnlyItsOwn) {
    TTempDir folder;
    TChildProcess sleeper(Quoted(TestBinDirectory() + "\\Bystander.exe") + " 60000");
    // The names the dump may take in the next half minute, however slow the machine, are taken.
    SYSTEMTIME now;
    GetLocalTime(&now);
    FILETIME time;
    SystemTimeToFileTime(&now, &time);
    std::vector<std::string> taken;
    for (int second = 0; second < 30; ++second) {
        SYSTEMTIME at;
        ULARGE_INTEGER value{{time.dwLowDateTime, time.dwHighDateTime}};
        value.QuadPart += second * 10000000ull;
        const FILETIME shifted{value.LowPart, value.HighPart};
        FileTimeToSystemTime(&shifted, &at);
        taken.push_back(HangDumpFileName(
            {at.wYear, at.wMonth, at.wDay, at.wHour, at.wMinute, at.wSecond}, sleeper.ProcessId()));
        TTempDir::WriteFile(folder.File(taken.back()), "older");
        TTempDir::WriteFile(folder.File(PartialDumpFileName(taken.back())), "planted");
    }
    const std::string name = WriteHangDump(sleeper.Handle(), sleeper.ProcessId(), 1, folder.Path());
    EXPECT_TRUE(IsHangDumpFileName(name));
    EXPECT_EQ(name.substr(name.size() - 6), "-2.dmp") << name;
    for (const std::string& older : taken) {
        EXPECT_EQ(TTempDir::ReadFile(folder.File(older)), "older") << older;
        EXPECT_EQ(TTempDir::ReadFile(folder.File(PartialDumpFileName(older))), "planted") << older;
    }

    const std::vector<std::string> others = {"Tamrix-crash-before-update.dmp", "notes.partial",
                                             "~Tamrix-x.dmp.partial"};
    for (const std::string& other : others)
        TTempDir::WriteFile(folder.File(other), "kept");
    TTempDir::WriteFile(folder.File(PartialDumpFileName(taken[0])), "left by an ended korvel");
    // The newest of ours is the dump just written; the taken names go.
    PruneHangDumps(folder.Path(), 1);
    std::vector<std::string> expected = others;
    expected.push_back(name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesOf(folder), expected);
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
