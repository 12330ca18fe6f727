#include "TaskXml.h"

#include "Errors.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

// The shape of res/korvel-task.xml: a comment that names the default folder too, which stays.
std::string Task(const std::string& command, const std::string& directory) {
    return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
           "<!-- for C:\\Program Files\\Tamrix -->\r\n<Task><Actions Context=\"Users\"><Exec>\r\n"
           "<Command>" +
           command + "</Command>\r\n<WorkingDirectory>" + directory +
           "</WorkingDirectory>\r\n</Exec></Actions></Task>\r\n";
}

const std::string Shipped =
    Task(R"("C:\Program Files\Tamrix\korvel\korvel.exe")", R"(C:\Program Files\Tamrix\korvel)");

struct TaskCase {
    std::string folder;
    std::string command;   // as the XML must hold it
    std::string directory; // likewise
};

std::ostream& operator<<(std::ostream& out, const TaskCase& c) {
    return out << c.folder;
}

class TaskXmlForTest : public testing::TestWithParam<TaskCase> {};

TEST_P(TaskXmlForTest, NamesTheInstalledKorvelAndNothingElseChanges) {
    EXPECT_EQ(TaskXmlFor(Shipped, GetParam().folder),
              Task(GetParam().command, GetParam().directory));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TaskXmlForTest,
    testing::Values(TaskCase{R"(D:\Apps\Tamrix\korvel)", R"("D:\Apps\Tamrix\korvel\korvel.exe")",
                             R"(D:\Apps\Tamrix\korvel)"},
                    // "&" is legal in a folder name and begins an entity in XML text.
                    TaskCase{R"(D:\R&D <1>\korvel)", R"("D:\R&amp;D &lt;1&gt;\korvel\korvel.exe")",
                             R"(D:\R&amp;D &lt;1&gt;\korvel)"},
                    TaskCase{"C:\\Tamrix \xC5\x81ukasz \xD0\x96\\korvel",
                             "\"C:\\Tamrix \xC5\x81ukasz \xD0\x96\\korvel\\korvel.exe\"",
                             "C:\\Tamrix \xC5\x81ukasz \xD0\x96\\korvel"}));

// Anything else is not the task that ships: the package must fail rather than register it.
TEST(TaskXmlTest, RefusesXmlWithoutOneCommandAndOneWorkingDirectory) {
    EXPECT_THROW(TaskXmlFor("<Task><Exec/></Task>", "D:\\k"), Exception);
    EXPECT_THROW(TaskXmlFor(Shipped + Shipped, "D:\\k"), Exception);
    EXPECT_THROW(TaskXmlFor("<Command>x</Command>", "D:\\k"), Exception);
}

} // namespace
