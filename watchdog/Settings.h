// The supervisor's settings: the five options of section Options in korvel.ini, and the process id
// that Tamrix records in section Application. A plain value: the file is read and written through
// TIniFile by the functions below, nowhere else.
#pragma once

#include <cstdint>

class TIniFile;

struct TSettings {
    // The defaults, which a missing file, key or unreadable value gives. Seconds, except AutoExit.
    std::uint32_t StartupTimeout = 20;
    std::uint32_t MainTimeout = 60;
    std::uint32_t BusyTimeout = 5400;
    std::uint32_t CallStreamTimeout = 60;
    bool AutoExit = true;

    // Reads the five options in their fixed order and forces each into its range (as unsigned: a
    // negative number ends at the upper bound), writing each back at once, so that the file always
    // shows the values in force. Raises EIniFileException at the first refused write; the options
    // before it stay written, the later ones are neither read nor written.
    static TSettings Load(TIniFile& file);

    // What a restart has learnt, kept for the next one. Raises EIniFileException when refused.
    static void WriteStartupTimeout(TIniFile& file, std::uint32_t seconds);
};

// The longest timeout of all: one day.
inline constexpr std::uint32_t MaxTimeout = 86400;

// The process id Tamrix recorded: the low 32 bits of process_id read as a 64-bit integer; 0 when
// there is none, when the text is no integer, and on any error.
std::uint32_t ReadProcessId(const TIniFile& file) noexcept;
