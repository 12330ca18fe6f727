// Where korvel finds everything.
#include "InstallLayout.h"

#include <gtest/gtest.h>

// Whose log it is, readable from its name alone; and never a name that leaves logs\ or that the
// file system refuses, whatever the account's name holds.
TEST(SessionLogFileName, NamesUserAndSession) {
    EXPECT_EQ(SessionLogFileName("anna", 3), "..\\logs\\korvel-anna-3.log");
    EXPECT_EQ(SessionLogFileName("\xC5\x81ukasz", 12), "..\\logs\\korvel-\xC5\x81ukasz-12.log");
    EXPECT_EQ(SessionLogFileName("..\\a/b:c*?\"<>|\t", 0),
              "..\\logs\\korvel-.._a_b_c_______-0.log");
}

// The machine-wide folder as the package writes it (a trailing backslash) or an administrator
// types it: the file system's comparison, never a guess that names another folder.
TEST(NamesFolder, AsTheFileSystemComparesNames) {
    const std::string korvel = "C:\\Program Files\\Tamrix\\korvel";
    const struct {
        const char* value;
        bool named;
    } table[] = {{"C:\\Program Files\\Tamrix\\korvel\\", true},
                 {"c:\\program files\\TAMRIX\\KORVEL", true},
                 {"C:\\Program Files\\Tamrix", false},
                 {"C:\\Program Files\\Tamrix\\korvel2", false},
                 {"C:\\Program Files\\Tamrix\\korvel\\korvel.exe", false},
                 {"", false},
                 {"\\", false}};
    for (const auto& row : table)
        EXPECT_EQ(NamesFolder(row.value, korvel, SameSystemFileName), row.named) << row.value;
    EXPECT_TRUE(NamesFolder("D:\\\xD0\x96\xD0\x90\\", "d:\\\xD0\xB6\xD0\xB0", SameSystemFileName));
}
