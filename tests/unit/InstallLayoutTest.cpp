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
