// Where korvel finds everything. It makes its own folder the current directory at start, so that
// the relative names below rest on it wherever it was started from.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The supervised application, one folder above korvel.
inline constexpr const char* ApplicationFile = "..\\Tamrix.exe";
// korvel's log folder, beside its own; korvel never creates it.
inline constexpr const char* LogFolder = "..\\logs";
inline constexpr const char* LogFileName = "..\\logs\\korvel.log";

// The log of one session, with [Log] per_session=1: "..\logs\korvel-<user>-<session id>.log", so
// that on a shared machine the korvel of each session writes a file of its own, and an
// administrator sees whose it is (the session id tells one user's two sessions apart). A character
// that no file name may hold becomes '_'.
std::string SessionLogFileName(std::string_view userName, std::uint32_t sessionId);

// The log korvel writes: LogFileName, or with perSession this session's own name. Where the
// system cannot tell the user or the session, LogFileName: a shared log rather than none.
std::string OwnLogFileName(bool perSession);

// The settings file: the executable's full path with its extension replaced by ".ini". Raises
// EOSError when the system cannot tell the path.
std::string SettingsFileName();

// Makes the executable's folder the current directory. A failure leaves the inherited one, which
// is all the program can do about it.
void EnterOwnDirectory() noexcept;

// Whether a process is Tamrix and korvel's to act on, for the kill, the dump and the look-up of
// restart_on_exit. Process ids are reused as soon as a process has gone: after a crash or a reboot
// the recorded id may name any other program of the user's. And korvel.ini of a machine-wide
// install is shared by every user signed in: the id may name another user's Tamrix, which that
// user's own korvel supervises.
struct TImageVerdict {
    bool IsApplication = false;
    std::string Refusal; // why the process is left alone; empty for Tamrix
};

// Whether two file names are one, as the file system compares them: ordinal, letter case not
// compared, in any script.
using TSameFileName = bool (*)(std::string_view a, std::string_view b);
bool SameSystemFileName(std::string_view a, std::string_view b);

// From what the system told of the process: its image path, and whether it runs in korvel's own
// logon session. Tamrix when it does and the file name is ApplicationFile's by sameFileName, from
// any folder (its user may have started it from elsewhere).
TImageVerdict ImageVerdict(std::uint32_t processId, std::string_view imagePath, bool ownSession,
                           TSameFileName sameFileName);

// When the system could not tell the image or the session: never Tamrix. The refusal is the
// system's text for the error, or names the code when the system has none.
TImageVerdict ImageQueryFailed(std::uint32_t errorCode);

// One process as the system's list of every session's processes tells it, without opening it
// (another user's korvel may not open it). ImagePath: the full path of the image, told only for
// processes of this session with Tamrix's file name, and only when the process could be opened.
struct TSessionProcess {
    std::uint32_t ProcessId = 0;
    std::uint32_t SessionId = 0;
    std::string Name;
    std::string ImagePath;
};

// What korvel acts on when the recorded process is refused: a process id, or 0 and the refusal for
// the step's line.
struct TStandIn {
    std::uint32_t ProcessId = 0;
    std::string Refusal;
};

// The settings file of a machine-wide install is shared by every user signed in, so the recorded
// id may be that of another session's Tamrix while this session's own runs unrecorded. Only then
// (the recorded id names a process of another session with Tamrix's file name) korvel acts on this
// session's Tamrix instead, found by its image: applicationPath, ApplicationFile's full path. When
// several run, none is chosen: korvel cannot tell which one stopped its heartbeats, and it would
// kill one that is not hung. Every other refusal (another program, a process gone) stands as
// recordedRefusal says.
TStandIn ChooseStandIn(std::uint32_t recordedId, std::string_view recordedRefusal,
                       std::uint32_t ownSession, std::string_view applicationPath,
                       const std::vector<TSessionProcess>& processes, TSameFileName sameFileName);
