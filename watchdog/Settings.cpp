#include "Settings.h"

#include "Errors.h"
#include "IniFile.h"
#include "IntText.h"
#include "KorvelProtocol.h"
#include "StartupPlan.h"
#include "UTypes.h"

#include <optional>
#include <string>

namespace {

constexpr const char* OptionsSection = "Options";
constexpr const char* StartupTimeoutKey = "startup_timeout";

constexpr const char* RecoverySection = "Recovery";
// The longest timeout of all: one day.
constexpr std::uint32_t MaxTimeout = 86400;

// One key as the file holds it: its text, and the integer that the text is, if any.
struct TFound {
    std::string Text;
    std::optional<std::int32_t> Number;
};

// The lower bound is applied first and the upper bound last, so a minimum above the maximum would
// give the maximum.
std::uint32_t Clamped(std::uint32_t value, std::uint32_t min, std::uint32_t max) {
    return static_cast<std::uint32_t>(Min64(Max64(min, value), max));
}

// value holds the default on entry, and the value in force on return. Unsigned view: a negative
// number in the file lands above every bound and ends at max.
TFound ReadClamped(const TIniFile& file, const char* section, std::uint32_t& value,
                   const char* name, std::uint32_t min, std::uint32_t max) {
    TFound found{file.ReadString(section, name, ""), std::nullopt};
    found.Number = TryStrToInt32(found.Text);
    value = Clamped(found.Number ? static_cast<std::uint32_t>(*found.Number) : value, min, max);
    return found;
}

// Adds found to corrections (when given) unless it is the value used: a text that is no number,
// or a number that had to be moved. A missing key or an empty value is no correction.
void Note(TCorrections* corrections, const char* section, const char* name, const TFound& found,
          std::uint32_t used) {
    if (corrections == nullptr || found.Text.empty() ||
        (found.Number && static_cast<std::uint32_t>(*found.Number) == used))
        return;
    corrections->push_back({section, name, found.Text, used, found.Number.has_value()});
}

void ReadChecked(const TIniFile& file, const char* section, std::uint32_t& value, const char* name,
                 std::uint32_t min, std::uint32_t max, TCorrections* corrections) {
    const TFound found = ReadClamped(file, section, value, name, min, max);
    Note(corrections, section, name, found, value);
}

// A flag as TIniFile::ReadBool reads it: any integer but 0 is on; anything else the default.
bool ReadFlag(const TIniFile& file, const char* section, const char* name, bool value,
              TCorrections* corrections) {
    TFound found{file.ReadString(section, name, ""), std::nullopt};
    found.Number = TryStrToInt32(found.Text);
    const bool on = found.Number ? *found.Number != 0 : value;
    Note(corrections, section, name, found, on ? 1 : 0);
    return on;
}

// The options of section Options and section Recovery, in their fixed order. writeBack: the file
// that each option is written back to at once (the single-user layout), or none.
TSettings ReadSupervisor(const TIniFile& file, TIniFile* writeBack, TCorrections* corrections) {
    TSettings settings;
    const auto option = [&](std::uint32_t& value, const char* name, std::uint32_t min,
                            std::uint32_t max) {
        ReadChecked(file, OptionsSection, value, name, min, max, corrections);
        if (writeBack != nullptr)
            writeBack->WriteInteger(OptionsSection, name, static_cast<std::int32_t>(value));
    };
    option(settings.StartupTimeout, StartupTimeoutKey, 1, StartupTimeoutLimit);
    option(settings.MainTimeout, "main_timeout", 1, MaxTimeout);
    // Never shorter than the main thread's own window.
    option(settings.BusyTimeout, "busy_timeout", settings.MainTimeout, MaxTimeout);
    option(settings.CallStreamTimeout, "call_stream_timeout", 1, MaxTimeout);
    settings.AutoExit = ReadFlag(file, OptionsSection, "auto_exit", settings.AutoExit, corrections);
    if (writeBack != nullptr)
        writeBack->WriteBool(OptionsSection, "auto_exit", settings.AutoExit);

    ReadChecked(file, RecoverySection, settings.HangDump, "hang_dump", 0, 2, corrections);
    ReadChecked(file, RecoverySection, settings.HangDumpKeep, "hang_dump_keep", 1, 100,
                corrections);
    std::uint32_t restartOnExit = settings.RestartOnExit ? 1 : 0;
    ReadChecked(file, RecoverySection, restartOnExit, "restart_on_exit", 0, 1, corrections);
    settings.RestartOnExit = restartOnExit != 0;
    ReadChecked(file, RecoverySection, settings.CloseTimeout, "close_timeout", 0, 60, corrections);
    std::uint32_t hangStack = settings.HangStack ? 1 : 0;
    ReadChecked(file, RecoverySection, hangStack, "hang_stack", 0, 1, corrections);
    settings.HangStack = hangStack != 0;
    return settings;
}

} // namespace

std::string CorrectionLine(const TCorrection& correction) {
    return "korvel.ini [" + correction.Section + "] " + correction.Key + "=" + correction.Found +
           (correction.Number ? " is out of range: " : " is not a number: ") +
           std::to_string(correction.Used) + " is used.";
}

TSettings TSettings::Load(TIniFile& file) {
    return ReadSupervisor(file, &file, nullptr);
}

TSettings TSettings::Read(const TIniFile& file, TCorrections& corrections) {
    return ReadSupervisor(file, nullptr, &corrections);
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

TLogSettings TLogSettings::Load(const TIniFile& file, TCorrections* corrections, bool ownLogOnly) {
    constexpr const char* LogSection = "Log";
    TLogSettings settings;
    const TFound size =
        ReadClamped(file, LogSection, settings.MaxSizeKb, "max_size_kb", 0, 1048576);
    // 0 stays the switch that turns the bound off; a log smaller than this would rotate at every
    // few lines.
    if (settings.MaxSizeKb != 0)
        settings.MaxSizeKb = static_cast<std::uint32_t>(Max64(settings.MaxSizeKb, 64));
    Note(corrections, LogSection, "max_size_kb", size, settings.MaxSizeKb);
    ReadChecked(file, LogSection, settings.Keep, "keep", 1, 20, corrections);
    std::uint32_t eventLog = settings.EventLog ? 1 : 0;
    ReadChecked(file, LogSection, eventLog, "event_log", 0, 1, corrections);
    settings.EventLog = eventLog != 0;
    std::uint32_t errorBox = settings.ErrorBox ? 1 : 0;
    ReadChecked(file, LogSection, errorBox, "error_box", 0, 1, corrections);
    settings.ErrorBox = errorBox != 0;
    std::uint32_t perSession = ownLogOnly || settings.PerSession ? 1 : 0;
    ReadChecked(file, LogSection, perSession, "per_session", ownLogOnly ? 1 : 0, 1, corrections);
    settings.PerSession = perSession != 0;
    return settings;
}

TMetricsSettings TMetricsSettings::Load(const TIniFile& file) {
    return {file.ReadString("Metrics", "textfile_folder", "")};
}

TStartSettings TStartSettings::Load(const TIniFile& file, TCorrections* corrections,
                                    bool ownLogOnly) {
    try {
        TCorrections found;
        TStartSettings settings{TLogSettings::Load(file, &found, ownLogOnly),
                                TMetricsSettings::Load(file)};
        if (corrections != nullptr)
            corrections->insert(corrections->end(), found.begin(), found.end());
        return settings;
    } catch (const EIniFileException&) {
        // These keys are never written back, so a default for now loses nothing of the user's;
        // the supervisor's settings, read when Tamrix starts, are the ones that may not.
        TStartSettings defaults;
        defaults.Log.PerSession = ownLogOnly;
        defaults.Held = true;
        return defaults;
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
