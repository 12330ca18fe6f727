#include "PackageSteps.h"

#include "FindFiles.h"
#include "support/Processes.h"
#include "support/TempDir.h"
#include "WinApi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Names(const TTempDir& folder) {
    std::vector<std::string> names;
    for (const TFoundFile& found : FindFiles(folder.File("*")))
        names.push_back(found.Name);
    return names;
}

std::vector<std::string> AsideCopies(const TTempDir& folder) {
    std::vector<std::string> names;
    for (const std::string& name : Names(folder))
        if (name.starts_with("korvel.exe.") && name.ends_with(".old") && name != "korvel.exe.old")
            names.push_back(name);
    return names;
}

// korvel.exe running in its folder, as the package meets it at an upgrade: set aside, a copy of
// the same bytes takes its name (the installer replaces, keeps or deletes that one), and the copy
// set aside goes only once nothing runs it. What else the folder holds stays.
TEST(PackageStepsTest, RunningKorvelIsSetAsideAndItsCopyDroppedOnceItHasEnded) {
    const TTempDir folder;
    const std::string exe = folder.File("korvel.exe");
    ASSERT_TRUE(CopyFileA((TestBinDirectory() + "\\Bystander.exe").c_str(), exe.c_str(), TRUE));
    TTempDir::WriteFile(folder.File("korvel.ini"), "[Options]\r\n");
    TTempDir::WriteFile(folder.File("korvel.exe.old"), "set aside by hand");
    const std::string bytes = TTempDir::ReadFile(exe);
    TChildProcess running(Quoted(exe));

    SetAside(folder.Path());
    const std::vector<std::string> aside = AsideCopies(folder);
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(TTempDir::ReadFile(exe), bytes);
    EXPECT_EQ(TTempDir::ReadFile(folder.File(aside[0])), bytes);
    ASSERT_TRUE(DeleteFileA(exe.c_str())) << "the file at korvel.exe must be the copy, not in use";

    DropAside(folder.Path());
    EXPECT_EQ(AsideCopies(folder), aside) << "a running image cannot go";
    running.Kill();
    DropAside(folder.Path());
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"korvel.exe.old", "korvel.ini"}));
}

// A first install: nothing to set aside, nothing made.
TEST(PackageStepsTest, FolderWithoutKorvelIsLeftAsItIs) {
    const TTempDir folder;
    SetAside(folder.Path());
    EXPECT_TRUE(Names(folder).empty());
}

} // namespace
