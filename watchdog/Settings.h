// The supervisor's settings: the five options of section Options in korvel.ini, the opt-in
// recovery features of section Recovery, and the process id that Tamrix records in section
// Application. A plain value: the file is read and written through
// TIniFile by the functions below, nowhere else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TIniFile;

// A value of korvel.ini that korvel had to correct, as read where nothing is written back: the
// text found and the value used instead.
struct TCorrection {
    std::string Section;
    std::string Key;
    std::string Found;
    std::uint32_t Used = 0;
    bool Number = false; // a number, out of the key's range; else not a number at all

    bool operator==(const TCorrection&) const = default;
};
using TCorrections = std::vector<TCorrection>;

// "korvel.ini [Options] main_timeout=abc is not a number: 60 is used." or
// "korvel.ini [Options] main_timeout=0 is out of range: 1 is used."
std::string CorrectionLine(const TCorrection& correction);

struct TSettings {
    // The defaults, which a missing file, key or unreadable value gives. Seconds, except AutoExit.
    std::uint32_t StartupTimeout = 20;
    std::uint32_t MainTimeout = 60;
    std::uint32_t BusyTimeout = 5400;
    std::uint32_t CallStreamTimeout = 60;
    bool AutoExit = true;

    // Section Recovery, beyond the options and off by default. Read by the same rules, but never
    // written back: korvel adds nothing to a file that its user did not write.
    std::uint32_t HangDump = 0;     // 1: stacks, threads, handles, modules; 2: and all memory
    std::uint32_t HangDumpKeep = 5; // Tamrix dumps kept in the log folder
    bool RestartOnExit = false;     // a Tamrix that ends without its shutdown is started again
    std::uint32_t CloseTimeout = 0; // 0: off; seconds a Tamrix asked to close has to end
    bool HangStack = false;         // where Tamrix is stuck, read at each hang before any act

    // Reads the five options in their fixed order and forces each into its range (as unsigned: a
    // negative number ends at the upper bound), writing each back at once, so that the file always
    // shows the values in force; then section Recovery, clamped the same way. Raises
    // EIniFileException at the first refused write; the options before it stay written, the later
    // ones are neither read nor written.
    static TSettings Load(TIniFile& file);

    // The same values by the same rules, from a file that is never written: each value that had to
    // be corrected (out of range, or not a number) is added to corrections. Raises
    // EIniFileException when the file stays held.
    static TSettings Read(const TIniFile& file, TCorrections& corrections);

    // What a restart has learnt, kept for the next one. Raises EIniFileException when refused.
    static void WriteStartupTimeout(TIniFile& file, std::uint32_t seconds);

    // "Recovery: hang_dump=N hang_dump_keep=N restart_on_exit=N" with the values in force, and
    // " close_timeout=N" and " hang_stack=1" when those are on; empty while all are at their
    // defaults, so that the log stays as it always was.
    std::string RecoveryLine() const;
};

// Section Log: the bound on korvel's own log, read once when korvel starts, before its first line,
// and never written back. The defaults leave the log unbounded, as it always was.
struct TLogSettings {
    std::uint32_t MaxSizeKb = 0; // 0: no bound; otherwise 64..1048576 (1 GB)
    std::uint32_t Keep = 2;      // older copies kept, 1..20
    bool EventLog = false;       // every main event reported to the Application event log too
    // 0: an error that ends korvel goes to the log (and the event log) instead of a box that
    // keeps korvel, and its single-instance claim, until someone answers it.
    bool ErrorBox = true;
    bool PerSession = false; // a log of this session's own (SessionLogFileName)

    // Reads the keys by the rules of the other sections (unsigned, clamped into range). A
    // missing file gives the defaults and stays missing. Raises EIniFileException when the file
    // stays held. With corrections, each value corrected is added to them. ownLogOnly: per_session
    // is 1 whatever the file says (0 is a value corrected), for a log folder that every user's
    // korvel writes into.
    static TLogSettings Load(const TIniFile& file, TCorrections* corrections = nullptr,
                             bool ownLogOnly = false);
};

// Section Metrics: korvel's figures as a file for a metrics collector. Read once when korvel
// starts, never written back; apart from TSettings, which is read at every start of Tamrix.
struct TMetricsSettings {
    // Where korvel keeps korvel-<session id>.prom: a full path, or one relative to korvel's own
    // folder. Empty, the default, is off.
    std::string TextfileFolder;

    static TMetricsSettings Load(const TIniFile& file);
};

// Everything korvel reads before its first line. Korvel starts whatever holds the file: a file held
// for longer than the read's own wait gives the defaults, and Held says so.
struct TStartSettings {
    TLogSettings Log;
    TMetricsSettings Metrics;
    bool Held = false; // the file stayed held: these are the defaults, nothing was read

    // corrections and ownLogOnly as for TLogSettings::Load.
    static TStartSettings Load(const TIniFile& file, TCorrections* corrections = nullptr,
                               bool ownLogOnly = false);
};

// The process id Tamrix recorded: the low 32 bits of process_id read as a 64-bit integer; 0 when
// there is none, when the text is no integer, and on any error but one: a file that stays held
// raises EIniFileException, since a default there would name no process or a wrong one.
std::uint32_t ReadProcessId(const TIniFile& file);
