#include "PathText.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct PathCase {
    std::string path;
    std::string expected;
};

std::ostream& operator<<(std::ostream& out, const PathCase& c) {
    return out << '"' << c.path << "\" -> \"" << c.expected << '"';
}

class ChangeFileExtTest : public testing::TestWithParam<PathCase> {};

TEST_P(ChangeFileExtTest, ReplacesOrAppendsIni) {
    EXPECT_EQ(ChangeFileExt(GetParam().path, ".ini"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChangeFileExtTest,
    testing::Values(PathCase{R"(C:\Tamrix\korvel\korvel.exe)", R"(C:\Tamrix\korvel\korvel.ini)"},
                    PathCase{R"(C:\Tamrix\korvel\korvel)", R"(C:\Tamrix\korvel\korvel.ini)"},
                    PathCase{R"(C:\v1.2\korvel)", R"(C:\v1.2\korvel.ini)"},
                    PathCase{R"(C:\v1.2\korvel.exe)", R"(C:\v1.2\korvel.ini)"},
                    PathCase{R"(C:\a.b\korvel.x.exe)", R"(C:\a.b\korvel.x.ini)"},
                    PathCase{"C:korvel.exe", "C:korvel.ini"}, PathCase{"C:korvel", "C:korvel.ini"},
                    PathCase{"C:.exe", "C:.ini"}, PathCase{"C:", "C:.ini"},
                    PathCase{R"(C:\dir.d\)", R"(C:\dir.d\.ini)"}, PathCase{"korvel.", "korvel.ini"},
                    PathCase{"korvel", "korvel.ini"}, PathCase{"", ".ini"}));

class ExtractFileNameTest : public testing::TestWithParam<PathCase> {};

TEST_P(ExtractFileNameTest, KeepsWhatFollowsTheLastSeparator) {
    EXPECT_EQ(ExtractFileName(GetParam().path), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ExtractFileNameTest,
                         testing::Values(PathCase{R"(C:\Tamrix\korvel\tarrow.exe)", "tarrow.exe"},
                                         PathCase{R"(C:\v1.2\tarrow)", "tarrow"},
                                         PathCase{"C:tarrow.exe", "tarrow.exe"},
                                         PathCase{"tarrow.exe", "tarrow.exe"},
                                         PathCase{R"(C:\dir\)", ""}, PathCase{"C:", ""},
                                         PathCase{R"(\\server\share\t.exe)", "t.exe"},
                                         PathCase{"", ""}));

class ExtractFileDirTest : public testing::TestWithParam<PathCase> {};

TEST_P(ExtractFileDirTest, CutsTheNameAndTheBackslashBeforeIt) {
    EXPECT_EQ(ExtractFileDir(GetParam().path), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExtractFileDirTest,
    testing::Values(PathCase{R"(C:\Tamrix\korvel\korvel.exe)", R"(C:\Tamrix\korvel)"},
                    PathCase{R"(C:\korvel.exe)", R"(C:\)"}, PathCase{R"(C:\)", R"(C:\)"},
                    PathCase{"C:korvel.exe", "C:"}, PathCase{"C:", "C:"},
                    PathCase{R"(C:\v1.2\korvel)", R"(C:\v1.2)"},
                    PathCase{R"(C:\dir\sub\)", R"(C:\dir\sub)"},
                    PathCase{R"(\\server\share\k.exe)", R"(\\server\share)"},
                    PathCase{R"(\korvel.exe)", R"(\)"}, PathCase{"korvel.exe", ""},
                    PathCase{"", ""}));

class StripExtensionTest : public testing::TestWithParam<PathCase> {};

TEST_P(StripExtensionTest, CutsFromTheLastDot) {
    EXPECT_EQ(StripExtension(GetParam().path), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, StripExtensionTest,
                         testing::Values(PathCase{"tarrow.exe", "tarrow"},
                                         PathCase{"tarrow", "tarrow"},
                                         PathCase{"tar.row.exe", "tar.row"},
                                         PathCase{"tarrow.", "tarrow"}, PathCase{".exe", ""},
                                         PathCase{"", ""}));

} // namespace
