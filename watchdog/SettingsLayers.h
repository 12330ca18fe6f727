// TSettingsLayers: where each value korvel uses comes from, and where what it learns goes, in its
// layout (InstallLayout.h). Nothing else reads korvel.ini or the user's place for a setting.
//
// Single-user: korvel.ini is its user's own. [Options] is written back at each start of Tamrix and
//   the learnt start-up timeout after each restart; the process id is read from korvel.ini.
// Machine-wide: korvel.ini is the administrators' policy, read and never written. Each value of it
//   that had to be corrected costs a line each time it is read. The learnt start-up timeout lives
//   in the user's place (UserPlace.h) and is read from there at each start of Tamrix, over
//   korvel.ini's (clamped to 1..20); the process id comes from the user's place only, where the
//   kit records it, and an id never recorded there (a Tamrix built with an older kit) sends korvel
//   to this session's one Tamrix found by its image. The log is always this session's own. A held
//   korvel.ini is never fatal: the values in force stay until the file can be read again (the
//   defaults while none are in force yet), with a line.
// Both: the start keys ([Log], [Metrics]) that a held korvel.ini kept from korvel's start are read
//   again at the next start of Tamrix, just before the supervisor's settings, once the file can be
//   read; they take effect from then on, with a line.
//
// Threads: the loads run on the main thread while no supervisor runs; KeepStartupTimeout and
// ProcessId on the supervisor's thread. One supervisor at a time.
#pragma once

#include "IniFile.h"
#include "InstallLayout.h"
#include "Settings.h"
#include "UserPlace.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Settings as loaded, with the lines the log is to show about them, in order.
template <class TValues> struct TLoaded {
    TValues Settings;
    std::vector<std::string> Lines;
};

class TSettingsLayers {
public:
    // user: the place of the user korvel runs as; session: korvel's logon session.
    TSettingsLayers(TLayout layout, TUserPlace user, std::uint32_t session);
    // A single-user one, for supervisors made without a layout; it is never asked for start keys.
    static TSettingsLayers& SingleUser();

    TLayout Layout() const noexcept { return FLayout; }

    // Main thread, at korvel's start, before its first line: sections Log and Metrics. A file that
    // stays held gives the defaults (machine-wide, with a line), and the keys wait for
    // LoadLateStart.
    TLoaded<TStartSettings> LoadStart(const TIniFile& file);
    // Main thread, at each start of Tamrix, before LoadSupervisor: the start keys that waited in
    // vain, once the file can be read, with the line that says so; nothing otherwise.
    std::optional<TLoaded<TStartSettings>> LoadLateStart(const TIniFile& file);
    // Main thread, as a supervisor is made: sections Options and Recovery. Single-user: raises
    // EIniFileException as TSettings::Load does.
    TLoaded<TSettings> LoadSupervisor(TIniFile& file);

    // Supervisor thread: what a restart learnt. Raises EIniFileException (single-user) or EOSError
    // (machine-wide) when refused.
    void KeepStartupTimeout(TIniFile& file, std::uint32_t seconds) const;
    // Supervisor thread: the process id Tamrix recorded; 0 when none. Single-user: raises
    // EIniFileException when korvel.ini stays held, as ReadProcessId does.
    std::uint32_t ProcessId(const TIniFile& file) const;
    // Whether an id never recorded sends korvel to this session's one Tamrix found by its image.
    bool FindsUnrecorded() const noexcept { return FLayout == TLayout::MachineWide; }

private:
    TLayout FLayout;
    TUserPlace FUser;
    std::uint32_t FSession;
    // The start keys waited in vain at korvel's start.
    bool FStartHeld = false;
    // Machine-wide: korvel.ini's supervisor settings as last read.
    std::optional<TSettings> FInForce;
};
