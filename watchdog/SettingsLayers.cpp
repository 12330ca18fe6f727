#include "SettingsLayers.h"

#include "Errors.h"
#include "StartupPlan.h"

#include <algorithm>
#include <utility>

namespace {

constexpr const char* LateStartLine =
    "Start settings read late: [Log] and [Metrics] in force from now on.";

// refusal: the read's error message.
std::string NotReadLine(const std::string& refusal, bool valuesInForce) {
    return "Settings not read - " + refusal +
           (valuesInForce ? "; the values in force stay." : "; the defaults are in force.");
}

void AddCorrections(std::vector<std::string>& lines, const TCorrections& corrections) {
    for (const TCorrection& correction : corrections)
        lines.push_back(CorrectionLine(correction));
}

} // namespace

TSettingsLayers::TSettingsLayers(TLayout layout, TUserPlace user, std::uint32_t session)
    : FLayout(layout), FUser(std::move(user)), FSession(session) {}

TSettingsLayers& TSettingsLayers::SingleUser() {
    static TSettingsLayers layers(TLayout::SingleUser, TUserPlace(), 0);
    return layers;
}

TLoaded<TStartSettings> TSettingsLayers::LoadStart(const TIniFile& file) {
    const bool machineWide = FLayout == TLayout::MachineWide;
    TCorrections corrections;
    TLoaded<TStartSettings> loaded{TStartSettings::Load(file, &corrections, machineWide), {}};
    FStartHeld = loaded.Settings.Held;
    if (!machineWide)
        return loaded;
    AddCorrections(loaded.Lines, corrections);
    if (FStartHeld)
        loaded.Lines.push_back(NotReadLine("Unable to read " + file.FileName(), false));
    return loaded;
}

std::optional<TLoaded<TStartSettings>> TSettingsLayers::LoadLateStart(const TIniFile& file) {
    if (!FStartHeld)
        return std::nullopt;
    TLoaded<TStartSettings> loaded = LoadStart(file);
    // Still held: the supervisor's own read says so.
    if (FStartHeld)
        return std::nullopt;
    loaded.Lines.insert(loaded.Lines.begin(), LateStartLine);
    return loaded;
}

TLoaded<TSettings> TSettingsLayers::LoadSupervisor(TIniFile& file) {
    if (FLayout == TLayout::SingleUser)
        return {TSettings::Load(file), {}};
    TLoaded<TSettings> loaded;
    try {
        TCorrections corrections;
        loaded.Settings = TSettings::Read(file, corrections);
        AddCorrections(loaded.Lines, corrections);
        FInForce = loaded.Settings;
    } catch (const EIniFileException& e) {
        loaded.Lines.push_back(NotReadLine(e.Message(), FInForce.has_value()));
        loaded.Settings = FInForce.value_or(TSettings());
    }
    if (const std::optional<std::uint32_t> learnt = FUser.StartupTimeout())
        loaded.Settings.StartupTimeout = std::clamp<std::uint32_t>(*learnt, 1, StartupTimeoutLimit);
    return loaded;
}

void TSettingsLayers::KeepStartupTimeout(TIniFile& file, std::uint32_t seconds) const {
    if (FLayout == TLayout::SingleUser)
        TSettings::WriteStartupTimeout(file, seconds);
    else
        FUser.KeepStartupTimeout(seconds);
}

std::uint32_t TSettingsLayers::ProcessId(const TIniFile& file) const {
    return FLayout == TLayout::SingleUser ? ReadProcessId(file) : FUser.ProcessId(FSession);
}
