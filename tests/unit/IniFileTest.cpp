#include "IniFile.h"

#include "Errors.h"
#include "Handle.h"
#include "WinApi.h"
#include "support/FakeClock.h"
#include "support/Processes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace {

// Runs IniWrite.exe (built beside this test) to its end and returns its exit code.
std::optional<std::uint32_t> RunIniWrite(const std::string& path, const std::string& section,
                                         const std::string& key, const std::string& value) {
    TChildProcess child(Quoted(TestBinDirectory() + "\\IniWrite.exe") + " " + Quoted(path) + " " +
                        Quoted(section) + " " + Quoted(key) + " " + Quoted(value));
    // Generous: a cold start of a child under Wine can take seconds on a loaded machine.
    if (!child.WaitForExit(60000))
        return std::nullopt;
    return child.ExitCode();
}

class IniFileTest : public testing::Test {
protected:
    TTempDir FDir;
    std::string FPath = FDir.File("korvel.ini");
};

TEST_F(IniFileTest, MissingFileGivesDefaultsAndTheFirstWriteCreatesIt) {
    TIniFile ini(FPath);
    EXPECT_EQ(ini.FileName(), FPath);
    EXPECT_EQ(ini.ReadString("Application", "process_id", "0"), "0");
    EXPECT_EQ(ini.ReadInteger("Options", "main_timeout", 60), 60);
    EXPECT_TRUE(ini.ReadBool("Options", "auto_exit", true));
    EXPECT_FALSE(ini.ReadBool("Options", "auto_exit", false));
    ini.UpdateFile();
    EXPECT_FALSE(TTempDir::FileExists(FPath)) << "reads must not create the file";

    ini.WriteInteger("Options", "main_timeout", 60);
    ASSERT_TRUE(TTempDir::FileExists(FPath));
    EXPECT_NE(TTempDir::ReadFile(FPath).find("main_timeout=60"), std::string::npos);
    EXPECT_EQ(ini.ReadInteger("Options", "main_timeout", 1), 60);
}

TEST_F(IniFileTest, CreatingAndDestroyingTouchesNoFile) {
    { TIniFile ini(FPath); }
    EXPECT_FALSE(TTempDir::FileExists(FPath));
}

TEST_F(IniFileTest, WritesIntegersInPlainDecimalAndFlagsAsOneOrZero) {
    TIniFile ini(FPath);
    ini.WriteInteger("Options", "a", -5);
    ini.WriteInteger("Options", "b", 86400);
    ini.WriteInteger("Options", "c", -2147483647 - 1);
    ini.WriteBool("Options", "on", true);
    ini.WriteBool("Options", "off", false);
    EXPECT_EQ(ini.ReadString("Options", "a", ""), "-5");
    EXPECT_EQ(ini.ReadString("Options", "b", ""), "86400");
    EXPECT_EQ(ini.ReadString("Options", "c", ""), "-2147483648");
    EXPECT_EQ(ini.ReadString("Options", "on", ""), "1");
    EXPECT_EQ(ini.ReadString("Options", "off", ""), "0");
    EXPECT_TRUE(ini.ReadBool("Options", "on", false));
    EXPECT_FALSE(ini.ReadBool("Options", "off", true));
}

TEST_F(IniFileTest, ValueWrittenByAnotherProcessIsSeenAtTheNextRead) {
    TIniFile ini(FPath);
    ini.WriteInteger("Options", "main_timeout", 60);
    EXPECT_EQ(ini.ReadString("Application", "process_id", "0"), "0");

    ASSERT_EQ(RunIniWrite(FPath, "Application", "process_id", "4242"),
              std::optional<std::uint32_t>(0));
    EXPECT_EQ(ini.ReadString("Application", "process_id", "0"), "4242");

    ASSERT_EQ(RunIniWrite(FPath, "Application", "process_id", "4343"),
              std::optional<std::uint32_t>(0));
    EXPECT_EQ(ini.ReadString("Application", "process_id", "0"), "4343");

    // And the other way round: our write lands beside the other process's value.
    ini.WriteInteger("Options", "main_timeout", 61);
    EXPECT_EQ(ini.ReadInteger("Options", "main_timeout", 0), 61);
    EXPECT_EQ(ini.ReadString("Application", "process_id", "0"), "4343");
}

// A read or a write held off by another program's open of the file is tried again every 100 ms for
// 2 s; any other refusal of a write, or a longer one, raises at once with the full path.
struct RefusalCase {
    const char* name;
    bool read;             // a held read must never give the default as if the file were missing
    bool folderInItsPlace; // else the file is held open without sharing
    std::size_t releasedAfter; // pauses until the holder lets go; 0: never
    std::size_t pauses;        // the pauses taken, 100 ms each
    bool written;
};

class IniFileRefusalTest : public IniFileTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(IniFileRefusalTest, RetriesOnlyWhileHeldAndAtMostTwoSeconds) {
    const RefusalCase& c = GetParam();
    TFakeClock clock;
    TIniFile ini(FPath, clock);
    THandle held;
    if (c.folderInItsPlace) {
        FDir.MakeDir("korvel.ini");
    } else {
        ini.WriteInteger("Options", "main_timeout", 60);
        ini.UpdateFile();
        // Share mode 0: every other open of the file fails (as root, Wine ignores read-only).
        held.Reset(CreateFileA(FPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held.IsValid());
    }
    std::size_t pauses = 0;
    clock.SetSleepHook([&](std::uint32_t milliseconds) {
        EXPECT_EQ(milliseconds, 100u);
        if (++pauses == c.releasedAfter)
            held.Reset();
    });
    try {
        if (c.read)
            EXPECT_EQ(ini.ReadInteger("Options", "main_timeout", 0), 60);
        else
            ini.WriteInteger("Options", "main_timeout", 61);
        EXPECT_TRUE(c.written) << "no error raised";
    } catch (const EIniFileException& e) {
        EXPECT_FALSE(c.written);
        EXPECT_EQ(e.Message(), (c.read ? "Unable to read " : "Unable to write to ") + FPath);
    }
    EXPECT_EQ(pauses, c.pauses);
    held.Reset();
    EXPECT_EQ(ini.ReadInteger("Options", "main_timeout", 0), c.read               ? 60
                                                             : c.written          ? 61
                                                             : c.folderInItsPlace ? 0
                                                                                  : 60);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniFileRefusalTest,
    testing::Values(RefusalCase{"HeldForHalfASecond", false, false, 5, 5, true},
                    RefusalCase{"HeldForLonger", false, false, 0, 20, false},
                    RefusalCase{"FolderInItsPlace", false, true, 0, 0, false},
                    RefusalCase{"ReadHeldForHalfASecond", true, false, 5, 5, true},
                    RefusalCase{"ReadHeldForLonger", true, false, 0, 20, false}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

// A save that overtakes a read: the file is emptied right after the read's first look at it, as an
// editor that saves in place begins, and written whole only after the read. What the read met was
// none of the user's files: it is read again, never taken for a missing key.
TEST_F(IniFileTest, ReadThatASaveOvertakesIsReadAgain) {
    TTempDir::WriteFile(FPath, "[Options]\r\nmain_timeout=30\r\n");
    TFakeClock clock;
    int looks = 0;
    const TIniFile ini(FPath, clock, [&](const std::string& fileName) {
        const TIniFileProbe seen = ProbeIniFile(fileName);
        if (++looks == 1)
            TTempDir::WriteFile(FPath, "");
        else if (looks == 2)
            TTempDir::WriteFile(FPath, "[Options]\r\nmain_timeout=45\r\n");
        return seen;
    });
    EXPECT_EQ(ini.ReadInteger("Options", "main_timeout", 60), 45);
    EXPECT_EQ(looks, 4);
    EXPECT_EQ(clock.SleepCount(), 1u);
}

TEST_F(IniFileTest, ReadStringKeepsAtMost2047Characters) {
    TTempDir::WriteFile(FPath, "[Options]\r\nexact=" + std::string(2047, 'a') +
                                   "\r\nlonger=" + std::string(5000, 'b') + "\r\n");
    TIniFile ini(FPath);
    EXPECT_EQ(ini.ReadString("Options", "exact", ""), std::string(2047, 'a'));
    EXPECT_EQ(ini.ReadString("Options", "longer", ""), std::string(2047, 'b'));
}

// A file that Tamrix, a user or a crash may have left: what the platform reads from it, and the
// integer each key gives with the default 77.
struct GarbageCase {
    const char* label;
    std::string content;
    const char* key;
    std::string expectedText; // with the default text "?"
    std::int32_t expectedInteger;
};

std::ostream& operator<<(std::ostream& out, const GarbageCase& c) {
    return out << c.label;
}

class IniFileGarbageTest : public testing::TestWithParam<GarbageCase> {
protected:
    TTempDir FDir;
};

TEST_P(IniFileGarbageTest, ReadsWithoutCrashAndUnreadableNumbersGiveTheDefault) {
    const std::string path = FDir.File("garbage.ini");
    TTempDir::WriteFile(path, GetParam().content);
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("Options", GetParam().key, "?"), GetParam().expectedText);
    EXPECT_EQ(ini.ReadInteger("Options", GetParam().key, 77), GetParam().expectedInteger);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniFileGarbageTest,
    testing::Values(
        GarbageCase{"NoNewlineAtTheEnd", "[Options]\r\nmain_timeout=120", "main_timeout", "120",
                    120},
        GarbageCase{"BareLineFeeds", "[Options]\nmain_timeout=120\n", "main_timeout", "120", 120},
        GarbageCase{"BlanksAroundTheValue", "[Options]\r\nmain_timeout =  60  \r\n", "main_timeout",
                    "60", 60},
        GarbageCase{"KeyInOtherCase", "[options]\r\nMAIN_TIMEOUT=45\r\n", "main_timeout", "45", 45},
        GarbageCase{"EmptyValue", "[Options]\r\nmain_timeout=\r\n", "main_timeout", "", 77},
        GarbageCase{"Text", "[Options]\r\nmain_timeout=abc\r\n", "main_timeout", "abc", 77},
        GarbageCase{"TrailingUnit", "[Options]\r\nmain_timeout=90s\r\n", "main_timeout", "90s", 77},
        GarbageCase{"OutOfRange", "[Options]\r\nmain_timeout=2147483648\r\n", "main_timeout",
                    "2147483648", 77},
        GarbageCase{"ValueLongerThan2047", "[Options]\r\nmain_timeout=1" + std::string(3000, '0'),
                    "main_timeout", "1" + std::string(2046, '0'), 77},
        // An 8-bit file is read in the ANSI code page (1252 here) and given as UTF-8.
        GarbageCase{"BinaryValue", "[Options]\r\nmain_timeout=\x01\x02\xff\xfe\r\n", "main_timeout",
                    "\x01\x02\xc3\xbf\xc3\xbe", 77},
        GarbageCase{"BinaryLinesAround",
                    "\x7f\x80\xfe\r\n[Options]\r\n\x01\x02\x03\r\nmain_timeout=30\r\n\xff\xff\r\n",
                    "main_timeout", "30", 30},
        GarbageCase{"NoSection", "main_timeout=30\r\n", "main_timeout", "?", 77},
        GarbageCase{"DuplicateKeyFirstWins", "[Options]\r\nmain_timeout=10\r\nmain_timeout=20\r\n",
                    "main_timeout", "10", 10},
        GarbageCase{"SectionTwiceFirstHoldsKey",
                    "[Options]\r\nmain_timeout=10\r\n[Options]\r\nmain_timeout=20\r\n",
                    "main_timeout", "10", 10},
        GarbageCase{"SectionTwiceKeyOnlyInSecond",
                    "[Options]\r\nbusy_timeout=10\r\n[Options]\r\nmain_timeout=20\r\n",
                    "main_timeout", "?", 77}));

struct BoolCase {
    const char* value;
    bool withDefaultOn;
    bool withDefaultOff;
};

std::ostream& operator<<(std::ostream& out, const BoolCase& c) {
    return out << '"' << c.value << '"';
}

class IniFileBoolTest : public testing::TestWithParam<BoolCase> {
protected:
    TTempDir FDir;
};

TEST_P(IniFileBoolTest, ZeroIsOffOtherIntegersOnTextTheDefault) {
    const std::string path = FDir.File("bool.ini");
    TTempDir::WriteFile(path, std::string("[Options]\r\nauto_exit=") + GetParam().value + "\r\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadBool("Options", "auto_exit", true), GetParam().withDefaultOn);
    EXPECT_EQ(ini.ReadBool("Options", "auto_exit", false), GetParam().withDefaultOff);
}

INSTANTIATE_TEST_SUITE_P(Table, IniFileBoolTest,
                         testing::Values(BoolCase{"0", false, false}, BoolCase{"1", true, true},
                                         BoolCase{"2", true, true}, BoolCase{"-1", true, true},
                                         BoolCase{"$0", false, false}, BoolCase{"yes", true, false},
                                         BoolCase{"", true, false}, BoolCase{"true", true, false}));

} // namespace

namespace {

// Held is whatever may be writing the file, however much it shares: an editor that saves in place
// lets readers in, and a read meeting half its file would give defaults.
struct ProbeCase {
    const char* name;
    unsigned long access; // of the other program's open; 0: none open
    unsigned long share;
    bool held;
};

class IniFileProbeTest : public IniFileTest, public testing::WithParamInterface<ProbeCase> {};

TEST_P(IniFileProbeTest, AnyWriterHoldsTheFile) {
    TTempDir::WriteFile(FPath, "[Options]\r\nmain_timeout=30\r\n");
    THandle other;
    if (GetParam().access != 0) {
        other.Reset(CreateFileA(FPath.c_str(), GetParam().access, GetParam().share, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(other.IsValid());
    }
    const TIniFileProbe probe = ProbeIniFile(FPath);
    EXPECT_EQ(probe.Held, GetParam().held);
    EXPECT_EQ(probe.Exists, !GetParam().held);
    EXPECT_EQ(probe.Size, probe.Held ? 0u : 28u);
}

constexpr unsigned long ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

INSTANTIATE_TEST_SUITE_P(
    Table, IniFileProbeTest,
    testing::Values(ProbeCase{"NobodyElse", 0, 0, false},
                    ProbeCase{"ReaderSharingAll", GENERIC_READ, ShareAll, false},
                    ProbeCase{"ReaderSharingReading", GENERIC_READ, FILE_SHARE_READ, false},
                    ProbeCase{"WriterSharingAll", GENERIC_WRITE, ShareAll, true},
                    ProbeCase{"EditorSavingInPlace", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, true},
                    ProbeCase{"ReaderSharingNothing", GENERIC_READ, 0, true}),
    [](const testing::TestParamInfo<ProbeCase>& info) { return std::string(info.param.name); });

} // namespace
