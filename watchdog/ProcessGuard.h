// The guard of every act on a process: which process korvel may touch, decided from what the system
// told of it. Pure: the system's answers come in as values.
#pragma once

#include "InstallLayout.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Whether a process is Tamrix and korvel's to act on, for the kill, the dump and the look-up of
// restart_on_exit. Process ids are reused as soon as a process has gone: after a crash or a reboot
// the recorded id may name any other program of the user's. And a korvel.ini that every user signed
// in shares (an install for all users laid out without the machine-wide layout's registry value)
// may name another user's Tamrix, which that user's own korvel supervises.
struct TImageVerdict {
    bool IsApplication = false;
    std::string Refusal; // why the process is left alone; empty for Tamrix
};

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

// A settings file shared by every user signed in (a machine-wide install of the single-user
// layout) may record the id of another session's Tamrix while this session's own runs unrecorded. Only then
// (the recorded id names a process of another session with Tamrix's file name) korvel acts on this
// session's Tamrix instead, found by its image: applicationPath, ApplicationFile's full path. When
// several run, none is chosen: korvel cannot tell which one stopped its heartbeats, and it would
// kill one that is not hung. Every other refusal (another program, a process gone) stands as
// recordedRefusal says.
TStandIn ChooseStandIn(std::uint32_t recordedId, std::string_view recordedRefusal,
                       std::uint32_t ownSession, std::string_view applicationPath,
                       const std::vector<TSessionProcess>& processes, TSameFileName sameFileName);

// This session's one Tamrix, found by its image as ChooseStandIn finds it: for a machine-wide
// korvel whose Tamrix (built with an older kit) recorded no id where korvel reads it. None when
// none runs, or when several do; refusal, and how many ran, say why.
TStandIn ChooseByImage(std::string_view refusal, std::uint32_t ownSession,
                       std::string_view applicationPath,
                       const std::vector<TSessionProcess>& processes, TSameFileName sameFileName);
