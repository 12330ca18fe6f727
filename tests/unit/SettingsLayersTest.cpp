// Where each value comes from in each layout, with a place of the user's own for each test.
#include "SettingsLayers.h"

#include "Handle.h"
#include "IniFile.h"
#include "Registry.h"
#include "Unicode.h"
#include "WinApi.h"
#include "support/FakeClock.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

class SettingsLayersTest : public testing::Test {
protected:
    ~SettingsLayersTest() override { RegDeleteTreeW(HKEY_CURRENT_USER, Utf8ToUtf16(FKey).c_str()); }

    void SetLearnt(std::optional<std::uint32_t> seconds) {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, Utf8ToUtf16(FKey).c_str(), L"startup_timeout");
        if (seconds)
            FPlace.KeepStartupTimeout(*seconds);
    }
    THandle Hold() const {
        return THandle(CreateFileA(FIni.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    TTempDir FDir;
    std::string FIni = FDir.File("korvel.ini");
    TFakeClock FClock;
    TIniFile FFile{FIni, FClock};
    std::string FKey = "Software\\korvel-test-" + std::to_string(GetCurrentProcessId());
    TUserPlace FPlace{FKey};
};

// korvel.ini is the administrators' and every user's korvel reads it: what one korvel learns and
// what its Tamrix records live in that user's place, and korvel.ini never changes.
TEST_F(SettingsLayersTest, MachineWideKeepsWhatOneUserLearnsInTheUsersPlace) {
    const std::string text = "[Options]\r\nstartup_timeout=7\r\nmain_timeout=9\r\n"
                             "[Application]\r\nprocess_id=77\r\n";
    TTempDir::WriteFile(FIni, text);
    TSettingsLayers layers(TLayout::MachineWide, FPlace, 5);
    const struct {
        std::optional<std::uint32_t> learnt;
        std::uint32_t used;
    } table[] = {{std::nullopt, 7}, {12, 12}, {0, 1}, {25, 20}};
    for (const auto& row : table) {
        SetLearnt(row.learnt);
        const TLoaded<TSettings> loaded = layers.LoadSupervisor(FFile);
        EXPECT_EQ(loaded.Settings.StartupTimeout, row.used);
        EXPECT_EQ(loaded.Settings.MainTimeout, 9u);
        EXPECT_TRUE(loaded.Lines.empty());
    }
    layers.KeepStartupTimeout(FFile, 13);
    EXPECT_EQ(FPlace.StartupTimeout(), std::optional<std::uint32_t>(13));
    EXPECT_EQ(layers.ProcessId(FFile), 0u);
    WriteRegistryNumber(TRegistryRoot::CurrentUser, FPlace.SessionKey(6), "process_id", 66);
    WriteRegistryNumber(TRegistryRoot::CurrentUser, FPlace.SessionKey(5), "process_id", 4242);
    EXPECT_EQ(layers.ProcessId(FFile), 4242u);
    EXPECT_TRUE(layers.FindsUnrecorded());
    FFile.UpdateFile();
    EXPECT_EQ(TTempDir::ReadFile(FIni), text);
}

// A held korvel.ini is never fatal there: the values read last stay, or the defaults before any.
TEST_F(SettingsLayersTest, MachineWideKeepsTheValuesInForceWhileTheFileIsHeld) {
    TTempDir::WriteFile(FIni, "[Options]\r\nmain_timeout=9\r\n");
    TSettingsLayers layers(TLayout::MachineWide, FPlace, 5);
    TSettingsLayers fresh(TLayout::MachineWide, FPlace, 5);
    EXPECT_EQ(layers.LoadSupervisor(FFile).Settings.MainTimeout, 9u);
    const THandle held = Hold();
    ASSERT_TRUE(held);
    const std::string refusal = "Settings not read - Unable to read " + FIni;
    const TLoaded<TSettings> kept = layers.LoadSupervisor(FFile);
    EXPECT_EQ(kept.Settings.MainTimeout, 9u);
    EXPECT_EQ(kept.Lines, std::vector<std::string>{refusal + "; the values in force stay."});
    const TLoaded<TSettings> defaults = fresh.LoadSupervisor(FFile);
    EXPECT_EQ(defaults.Settings.MainTimeout, 60u);
    EXPECT_EQ(defaults.Lines, std::vector<std::string>{refusal + "; the defaults are in force."});
}

// In either layout, [Log] and [Metrics] held at korvel's start are read at the first start of
// Tamrix that finds the file free, once, with one line; the machine-wide start says at once that
// it runs on the defaults, which keep every session's log its own.
TEST_F(SettingsLayersTest, StartKeysHeldAtTheStartAreReadOnceTheFileIsFree) {
    TTempDir::WriteFile(FIni, "[Log]\r\nerror_box=0\r\nkeep=0\r\n");
    const std::string late = "Start settings read late: [Log] and [Metrics] in force from now on.";
    const std::string notRead =
        "Settings not read - Unable to read " + FIni + "; the defaults are in force.";
    const std::string corrected = "korvel.ini [Log] keep=0 is out of range: 1 is used.";
    for (const TLayout layout : {TLayout::SingleUser, TLayout::MachineWide}) {
        const bool machineWide = layout == TLayout::MachineWide;
        const std::vector<std::string> startLines =
            machineWide ? std::vector<std::string>{notRead} : std::vector<std::string>{};
        const std::vector<std::string> lateLines = machineWide
                                                       ? std::vector<std::string>{late, corrected}
                                                       : std::vector<std::string>{late};
        TSettingsLayers layers(layout, FPlace, 5);
        THandle held = Hold();
        ASSERT_TRUE(held);
        const TLoaded<TStartSettings> start = layers.LoadStart(FFile);
        EXPECT_TRUE(start.Settings.Log.ErrorBox);
        EXPECT_EQ(start.Settings.Log.PerSession, machineWide);
        EXPECT_EQ(start.Lines, startLines);
        EXPECT_FALSE(layers.LoadLateStart(FFile));
        held.Reset();
        const auto read = layers.LoadLateStart(FFile);
        ASSERT_TRUE(read);
        EXPECT_FALSE(read->Settings.Log.ErrorBox);
        EXPECT_EQ(read->Lines, lateLines);
        EXPECT_FALSE(layers.LoadLateStart(FFile));
    }
}

} // namespace
