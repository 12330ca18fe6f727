// The supervisor's settings: defaults, clamping, write-back order, the process id read, and a
// refused write-back.
#include "Errors.h"
#include "Handle.h"
#include "IniFile.h"
#include "InstallLayout.h"
#include "Settings.h"
#include "TempDir.h"
#include "WinApi.h"
#include "support/FakeClock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class SettingsTest : public testing::Test {
protected:
    TSettings Load() { return TSettings::Load(FFile); }
    void WriteIni(const std::string& text) { TTempDir::WriteFile(FIni, text); }
    std::string ReadIni() {
        FFile.UpdateFile();
        return TTempDir::ReadFile(FIni);
    }

    TTempDir FDir;
    std::string FIni = FDir.File("korvel.ini");
    TIniFile FFile{FIni};
};

TEST_F(SettingsTest, MissingFileGainsTheFiveDefaultsInOrder) {
    const TSettings settings = Load();
    EXPECT_EQ(settings.StartupTimeout, 20u);
    EXPECT_EQ(settings.MainTimeout, 60u);
    EXPECT_EQ(settings.BusyTimeout, 5400u);
    EXPECT_EQ(settings.CallStreamTimeout, 60u);
    EXPECT_TRUE(settings.AutoExit);
    EXPECT_EQ(ReadIni(), "[Options]\r\n"
                         "startup_timeout=20\r\n"
                         "main_timeout=60\r\n"
                         "busy_timeout=5400\r\n"
                         "call_stream_timeout=60\r\n"
                         "auto_exit=1\r\n");
}

struct ClampCase {
    const char* text;
    std::uint32_t expected;
};

class MainTimeoutClampTest : public SettingsTest, public testing::WithParamInterface<ClampCase> {};

TEST_P(MainTimeoutClampTest, IsClampedAndWrittenBackInDecimal) {
    WriteIni(std::string("[Options]\r\nmain_timeout=") + GetParam().text + "\r\n");
    EXPECT_EQ(Load().MainTimeout, GetParam().expected);
    EXPECT_NE(ReadIni().find("main_timeout=" + std::to_string(GetParam().expected) + "\r\n"),
              std::string::npos)
        << ReadIni();
}

INSTANTIATE_TEST_SUITE_P(
    Table, MainTimeoutClampTest,
    testing::Values(ClampCase{"0", 1}, ClampCase{"100000", 86400},
                    // Negative numbers are taken unsigned: far above the upper bound.
                    ClampCase{"-5", 86400}, ClampCase{"abc", 60}, ClampCase{"0x3C", 60},
                    ClampCase{"$3c", 60}, ClampCase{"   60", 60}, ClampCase{"90s", 60},
                    ClampCase{"2147483648", 60}, ClampCase{"$FFFFFFFF", 86400},
                    ClampCase{"86400", 86400}, ClampCase{"1", 1}, ClampCase{"", 60}));

struct FieldCase {
    const char* ini;
    std::uint32_t startup;
    std::uint32_t main;
    std::uint32_t busy;
    std::uint32_t callStream;
};

class SettingsBoundsTest : public SettingsTest, public testing::WithParamInterface<FieldCase> {};

TEST_P(SettingsBoundsTest, EachFieldKeepsItsRange) {
    WriteIni(std::string("[Options]\r\n") + GetParam().ini);
    const TSettings settings = Load();
    EXPECT_EQ(settings.StartupTimeout, GetParam().startup);
    EXPECT_EQ(settings.MainTimeout, GetParam().main);
    EXPECT_EQ(settings.BusyTimeout, GetParam().busy);
    EXPECT_EQ(settings.CallStreamTimeout, GetParam().callStream);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SettingsBoundsTest,
    testing::Values(
        // busy_timeout never falls below main_timeout as just loaded.
        FieldCase{"main_timeout=120\r\nbusy_timeout=30\r\n", 20, 120, 120, 60},
        FieldCase{"main_timeout=120\r\nbusy_timeout=100000\r\n", 20, 120, 86400, 60},
        FieldCase{"startup_timeout=25\r\n", 20, 60, 5400, 60},
        FieldCase{"startup_timeout=0\r\n", 1, 60, 5400, 60},
        FieldCase{"call_stream_timeout=0\r\n", 20, 60, 5400, 1},
        FieldCase{"call_stream_timeout=-1\r\n", 20, 60, 5400, 86400},
        FieldCase{"main_timeout=86400\r\nbusy_timeout=60\r\n", 20, 86400, 86400, 60}));

struct FlagCase {
    const char* text;
    bool expected;
    const char* written;
};

class AutoExitTest : public SettingsTest, public testing::WithParamInterface<FlagCase> {};

TEST_P(AutoExitTest, ReadsAsAFlagAndIsWrittenBackAsOneOrZero) {
    WriteIni(std::string("[Options]\r\nauto_exit=") + GetParam().text + "\r\n");
    EXPECT_EQ(Load().AutoExit, GetParam().expected);
    EXPECT_NE(ReadIni().find(std::string("auto_exit=") + GetParam().written + "\r\n"),
              std::string::npos)
        << ReadIni();
}

INSTANTIATE_TEST_SUITE_P(Table, AutoExitTest,
                         testing::Values(FlagCase{"0", false, "0"}, FlagCase{"2", true, "1"},
                                         FlagCase{"yes", true, "1"}, FlagCase{"", true, "1"},
                                         FlagCase{"-1", true, "1"}, FlagCase{"$0", false, "0"}));

struct RecoveryCase {
    const char* lines; // of section Recovery, and of sections after it
    const char* expected;
    std::uint32_t logMaxSizeKb = 0; // section Log, read the same way
    std::uint32_t logKeep = 2;
    bool logEventLog = false;
};

class RecoveryTest : public SettingsTest, public testing::WithParamInterface<RecoveryCase> {};

TEST_P(RecoveryTest, ClampedAndShownOnlyWhenNotTheDefaults) {
    WriteIni(std::string("[Options]\r\n[Recovery]\r\n") + GetParam().lines);
    EXPECT_EQ(Load().RecoveryLine(), GetParam().expected);
    const TLogSettings log = TLogSettings::Load(FFile);
    EXPECT_EQ(log.MaxSizeKb, GetParam().logMaxSizeKb);
    EXPECT_EQ(log.Keep, GetParam().logKeep);
    EXPECT_EQ(log.EventLog, GetParam().logEventLog);
    // Never written back: the sections hold just what their user wrote.
    const std::string text = ReadIni();
    EXPECT_EQ(text.substr(text.find("[Recovery]\r\n") + 12), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RecoveryTest,
    testing::Values(RecoveryCase{"", ""},
                    RecoveryCase{"hang_dump=0\r\nhang_dump_keep=5\r\nrestart_on_exit=0\r\n", ""},
                    RecoveryCase{"restart_on_exit=abc\r\n", ""},
                    RecoveryCase{"hang_dump=1\r\n",
                                 "Recovery: hang_dump=1 hang_dump_keep=5 restart_on_exit=0"},
                    RecoveryCase{"hang_dump=7\r\nhang_dump_keep=0\r\nrestart_on_exit=-1\r\n",
                                 "Recovery: hang_dump=2 hang_dump_keep=1 restart_on_exit=1"},
                    RecoveryCase{"hang_dump_keep=$1F4\r\n",
                                 "Recovery: hang_dump=0 hang_dump_keep=100 restart_on_exit=0"},
                    RecoveryCase{"[Log]\r\nmax_size_kb=0\r\nkeep=0\r\n", "", 0, 1},
                    RecoveryCase{"[Log]\r\nmax_size_kb=1\r\nkeep=50\r\n", "", 64, 20},
                    RecoveryCase{"[Log]\r\nmax_size_kb=2000000\r\n", "", 1048576},
                    RecoveryCase{"close_timeout=0\r\n[Log]\r\nevent_log=-1\r\n", "", 0, 2, true},
                    RecoveryCase{"close_timeout=61\r\n", "Recovery: hang_dump=0 hang_dump_keep=5 "
                                                         "restart_on_exit=0 close_timeout=60"},
                    RecoveryCase{"hang_stack=0\r\n", ""},
                    RecoveryCase{"hang_stack=1\r\n", "Recovery: hang_dump=0 hang_dump_keep=5 "
                                                     "restart_on_exit=0 hang_stack=1"},
                    RecoveryCase{"hang_stack=-1\r\nclose_timeout=3\r\n",
                                 "Recovery: hang_dump=0 hang_dump_keep=5 restart_on_exit=0 "
                                 "close_timeout=3 hang_stack=1"}));

// Where nothing is written back (the machine-wide layout): each value that korvel had to correct,
// as the file holds it and as it is used; a valid value in any notation, an empty one or a missing
// key is none. per_session is 1 there whatever the file says. The file stays as it was.
TEST_F(SettingsTest, CorrectionsAreListedAndNothingIsWritten) {
    const std::string prefix = "korvel.ini ";
    const struct {
        const char* text;
        std::vector<std::string> lines;
    } table[] = {
        {"[Options]\r\nmain_timeout=abc\r\n",
         {"[Options] main_timeout=abc is not a number: 60 is used."}},
        {"[Options]\r\nmain_timeout=0x3C\r\nstartup_timeout=\r\n[Log]\r\nper_session=1\r\n", {}},
        {"[Options]\r\nmain_timeout=120\r\nbusy_timeout=30\r\nauto_exit=2\r\n",
         {"[Options] busy_timeout=30 is out of range: 120 is used.",
          "[Options] auto_exit=2 is out of range: 1 is used."}},
        {"[Options]\r\nauto_exit=yes\r\n[Recovery]\r\nhang_dump=-1\r\nclose_timeout=61\r\n",
         {"[Options] auto_exit=yes is not a number: 1 is used.",
          "[Recovery] hang_dump=-1 is out of range: 2 is used.",
          "[Recovery] close_timeout=61 is out of range: 60 is used."}},
        {"[Log]\r\nmax_size_kb=1\r\nevent_log=on\r\nper_session=0\r\n",
         {"[Log] max_size_kb=1 is out of range: 64 is used.",
          "[Log] event_log=on is not a number: 0 is used.",
          "[Log] per_session=0 is out of range: 1 is used."}},
    };
    for (const auto& row : table) {
        WriteIni(row.text);
        TCorrections corrections;
        TSettings::Read(FFile, corrections);
        const TStartSettings start = TStartSettings::Load(FFile, &corrections, true);
        EXPECT_TRUE(start.Log.PerSession) << row.text;
        std::vector<std::string> lines;
        for (const TCorrection& correction : corrections)
            lines.push_back(CorrectionLine(correction).substr(prefix.size()));
        EXPECT_EQ(lines, row.lines) << row.text;
        EXPECT_EQ(ReadIni(), row.text);
    }
}

struct ProcessIdCase {
    const char* line; // nullptr: no key at all
    std::uint32_t expected;
};

class ProcessIdTest : public SettingsTest, public testing::WithParamInterface<ProcessIdCase> {};

TEST_P(ProcessIdTest, LowThirtyTwoBitsOrZero) {
    std::string ini = "[Options]\r\n";
    if (GetParam().line != nullptr)
        ini += std::string("[Application]\r\nprocess_id=") + GetParam().line + "\r\n";
    WriteIni(ini);
    EXPECT_EQ(ReadProcessId(FFile), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProcessIdTest,
    testing::Values(ProcessIdCase{nullptr, 0}, ProcessIdCase{"0", 0}, ProcessIdCase{"", 0},
                    ProcessIdCase{"abc", 0}, ProcessIdCase{"1234", 1234},
                    ProcessIdCase{"4294967295", 4294967295u}, ProcessIdCase{"4294967296", 0},
                    ProcessIdCase{"4294967297", 1}, ProcessIdCase{"-1", 4294967295u},
                    ProcessIdCase{"$10", 16}, ProcessIdCase{"12x", 0}));

TEST_F(SettingsTest, ProcessIdWrittenByAnotherHandIsSeenAtTheNextRead) {
    Load();
    EXPECT_EQ(ReadProcessId(FFile), 0u);
    ASSERT_TRUE(WritePrivateProfileStringA("Application", "process_id", "777", FIni.c_str()));
    EXPECT_EQ(ReadProcessId(FFile), 777u);
}

// Held from before korvel starts: korvel starts on the defaults of the keys read then, and only
// the supervisor's settings, read as Tamrix starts, end it.
TEST_F(SettingsTest, HeldFileRaisesWithTheFullPath) {
    WriteIni("[Options]\r\nmain_timeout=30\r\n[Log]\r\nerror_box=0\r\n");
    // Held without sharing: the profile functions can neither read nor write the file.
    THandle holder(CreateFileA(FIni.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    TFakeClock clock;
    EXPECT_TRUE(TStartSettings::Load(TIniFile(FIni, clock)).Log.ErrorBox);
    try {
        Load();
        FAIL() << "the settings were loaded";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), "Unable to read " + FIni);
    }
    holder.Reset();
    EXPECT_EQ(ReadIni(), "[Options]\r\nmain_timeout=30\r\n[Log]\r\nerror_box=0\r\n");
}

TEST_F(SettingsTest, SettingsPathIsTheExecutableWithIniExtension) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string expected(path);
    expected.replace(expected.rfind('.'), std::string::npos, ".ini");
    EXPECT_EQ(SettingsFileName(), expected);
}

} // namespace
