#include "Settings.h"

#include "Errors.h"
#include "IniFile.h"
#include "IntText.h"
#include "KorvelProtocol.h"
#include "StartupPlan.h"
#include "UTypes.h"

#include <string>

namespace {

constexpr const char* OptionsSection = "Options";
constexpr const char* StartupTimeoutKey = "startup_timeout";

constexpr const char* RecoverySection = "Recovery";
// The longest timeout of all: one day.
constexpr std::uint32_t MaxTimeout = 86400;

// value holds the default on entry. The lower bound is applied first and the upper bound last, so
// a minimum above the maximum would give the maximum.
void ReadClamped(const TIniFile& file, const char* section, std::uint32_t& value, const char* name,
                 std::uint32_t min, std::uint32_t max) {
    const std::int32_t read = file.ReadInteger(section, name, static_cast<std::int32_t>(value));
    // Unsigned view: a negative number in the file lands above every bound and ends at max.
    const std::uint32_t unsignedValue = static_cast<std::uint32_t>(read);
    value = static_cast<std::uint32_t>(Min64(Max64(min, unsignedValue), max));
}

// An option of section Options: clamped and written back at once.
void ReadSetting(TIniFile& file, std::uint32_t& value, const char* name, std::uint32_t min,
                 std::uint32_t max) {
    ReadClamped(file, OptionsSection, value, name, min, max);
    file.WriteInteger(OptionsSection, name, static_cast<std::int32_t>(value));
}

} // namespace

TSettings TSettings::Load(TIniFile& file) {
    TSettings settings;
    ReadSetting(file, settings.StartupTimeout, StartupTimeoutKey, 1, StartupTimeoutLimit);
    ReadSetting(file, settings.MainTimeout, "main_timeout", 1, MaxTimeout);
    // Never shorter than the main thread's own window.
    ReadSetting(file, settings.BusyTimeout, "busy_timeout", settings.MainTimeout, MaxTimeout);
    ReadSetting(file, settings.CallStreamTimeout, "call_stream_timeout", 1, MaxTimeout);
    settings.AutoExit = file.ReadBool(OptionsSection, "auto_exit", settings.AutoExit);
    file.WriteBool(OptionsSection, "auto_exit", settings.AutoExit);

    ReadClamped(file, RecoverySection, settings.HangDump, "hang_dump", 0, 2);
    ReadClamped(file, RecoverySection, settings.HangDumpKeep, "hang_dump_keep", 1, 100);
    std::uint32_t restartOnExit = settings.RestartOnExit ? 1 : 0;
    ReadClamped(file, RecoverySection, restartOnExit, "restart_on_exit", 0, 1);
    settings.RestartOnExit = restartOnExit != 0;
    ReadClamped(file, RecoverySection, settings.CloseTimeout, "close_timeout", 0, 60);
    std::uint32_t hangStack = settings.HangStack ? 1 : 0;
    ReadClamped(file, RecoverySection, hangStack, "hang_stack", 0, 1);
    settings.HangStack = hangStack != 0;
    return settings;
}

std::string TSettings::RecoveryLine() const {
    const TSettings defaults;
    if (HangDump == defaults.HangDump && HangDumpKeep == defaults.HangDumpKeep &&
        RestartOnExit == defaults.RestartOnExit && CloseTimeout == defaults.CloseTimeout &&
        HangStack == defaults.HangStack)
        return {};
    std::string line = "Recovery: hang_dump=" + std::to_string(HangDump) +
                       " hang_dump_keep=" + std::to_string(HangDumpKeep) +
                       " restart_on_exit=" + (RestartOnExit ? "1" : "0");
    // Only when on: the line of a configuration written before the key existed stays as it was.
    if (CloseTimeout != defaults.CloseTimeout)
        line += " close_timeout=" + std::to_string(CloseTimeout);
    if (HangStack != defaults.HangStack)
        line += " hang_stack=1";
    return line;
}

void TSettings::WriteStartupTimeout(TIniFile& file, std::uint32_t seconds) {
    file.WriteInteger(OptionsSection, StartupTimeoutKey, static_cast<std::int32_t>(seconds));
}

TLogSettings TLogSettings::Load(const TIniFile& file) {
    constexpr const char* LogSection = "Log";
    TLogSettings settings;
    ReadClamped(file, LogSection, settings.MaxSizeKb, "max_size_kb", 0, 1048576);
    // 0 stays the switch that turns the bound off; a log smaller than this would rotate at every
    // few lines.
    if (settings.MaxSizeKb != 0)
        settings.MaxSizeKb = static_cast<std::uint32_t>(Max64(settings.MaxSizeKb, 64));
    ReadClamped(file, LogSection, settings.Keep, "keep", 1, 20);
    std::uint32_t eventLog = settings.EventLog ? 1 : 0;
    ReadClamped(file, LogSection, eventLog, "event_log", 0, 1);
    settings.EventLog = eventLog != 0;
    std::uint32_t errorBox = settings.ErrorBox ? 1 : 0;
    ReadClamped(file, LogSection, errorBox, "error_box", 0, 1);
    settings.ErrorBox = errorBox != 0;
    std::uint32_t perSession = settings.PerSession ? 1 : 0;
    ReadClamped(file, LogSection, perSession, "per_session", 0, 1);
    settings.PerSession = perSession != 0;
    return settings;
}

TMetricsSettings TMetricsSettings::Load(const TIniFile& file) {
    return {file.ReadString("Metrics", "textfile_folder", "")};
}

TStartSettings TStartSettings::Load(const TIniFile& file) {
    try {
        return {TLogSettings::Load(file), TMetricsSettings::Load(file)};
    } catch (const EIniFileException&) {
        // These keys are never written back, so a default for this run loses nothing of the
        // user's; the supervisor's settings, read when Tamrix starts, are the ones that may not.
        return {};
    }
}

std::uint32_t ReadProcessId(const TIniFile& file) {
    try {
        const std::string text =
            file.ReadString(KorvelProtocol::ApplicationSection, KorvelProtocol::ProcessIdKey, "0");
        const auto value = TryStrToInt64(text);
        return value ? static_cast<std::uint32_t>(static_cast<std::uint64_t>(*value)) : 0;
    } catch (const EIniFileException&) {
        throw;
    } catch (...) {
        // Whatever went wrong, there is no id to kill by.
        return 0;
    }
}
