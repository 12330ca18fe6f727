// TKorvelLayout: a temporary install of the watchdog for one end-to-end test, laid out as korvel
// expects it:
//
//   <tmp>\app\Tamrix.exe           a copy of TamrixDouble.exe (its script and trace beside it)
//   <tmp>\app\logs\                where korvel writes korvel.log
//   <tmp>\app\korvel\korvel.exe    a copy of the built korvel.exe
//   <tmp>\app\korvel\korvel.ini    its settings (absent until korvel or the test writes it)
//
// The layout starts korvel as a child, reads its log without the timestamps and waits for lines
// against deadlines. It resets the five "Tamrix*" events when it is made and when it goes, and it
// leaves nothing running: every korvel it started and every double that the trace names (korvel
// launches those itself) is killed by its handle or process id, never by name.
#pragma once

#include "EventNames.h"
#include "Handle.h"
#include "Processes.h"
#include "TamrixScript.h"
#include "TempDir.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class TKorvelLayout {
public:
    // Builds the layout (with the logs folder when withLogs). When holdEvents, the layout keeps
    // the five events open for its whole life, so that states the test gives them survive while
    // no other process holds them; a test that needs one of the names for another kind of object
    // passes false. appFolder names the folder that stands for "app" above. Raises
    // std::runtime_error or EOSError when the layout cannot be made.
    explicit TKorvelLayout(bool withLogs = true, bool holdEvents = true,
                           const std::string& appFolder = "app");
    // Kills what is still running, then resets the events and removes the folder.
    ~TKorvelLayout();
    TKorvelLayout(const TKorvelLayout&) = delete;
    TKorvelLayout& operator=(const TKorvelLayout&) = delete;

    const TTempDir& Temp() const noexcept { return FTemp; }
    const std::string& AppDir() const noexcept { return FAppDir; }
    const std::string& KorvelDir() const noexcept { return FKorvelDir; }
    const std::string& KorvelExe() const noexcept { return FKorvelExe; }
    const std::string& TamrixExe() const noexcept { return FTamrixExe; }
    std::string LogsDir() const { return FAppDir + "\\logs"; }
    // The log the layout reads: korvel.log, or the one UseSessionLog names.
    std::string LogPath() const { return LogsDir() + "\\" + FLogName; }
    // From now on the layout reads this session's own log, korvel-<user>-<session id>.log.
    void UseSessionLog();
    std::string IniPath() const { return FKorvelDir + "\\korvel.ini"; }

    // Starts korvel.exe with the given arguments (none by default) in workingDirectory (the
    // test's own current directory when empty). The layout keeps the child and kills it at the
    // end if it still runs.
    TChildProcess& StartKorvel(const std::string& arguments = "",
                               const std::string& workingDirectory = "");
    // Starts the Tamrix double directly, as a user would, with the app folder as its current
    // directory; kept and killed like korvel.
    TChildProcess& StartTamrix();

    // The log file byte for byte; empty while it does not exist.
    std::string ReadLog() const;
    // The complete lines of the log (CR LF ended), each without its leading timestamp.
    std::vector<std::string> LogLines() const;
    // Waits up to timeoutMs until the log holds line at least occurrence times.
    bool WaitForLogLine(const std::string& line, std::uint32_t timeoutMs,
                        std::size_t occurrence = 1) const;

    // The settings as UTF-8 text, also when the file is UTF-16 LE with a byte-order mark.
    std::string ReadIni() const;
    // utf16: the file as Windows keeps a Unicode INI file, UTF-16 LE with a byte-order mark.
    void WriteIni(const std::string& text, bool utf16 = false) const;
    // The key=value entries of one section in the file's order, blanks trimmed.
    std::vector<std::pair<std::string, std::string>> IniSection(const std::string& section) const;
    // The value of section/key as the file holds it; nothing when the key is not there.
    std::optional<std::string> IniValue(const std::string& section, const std::string& key) const;

    void WriteScript(std::initializer_list<TScriptEntry> entries) const;
    std::vector<TTraceRecord> Trace() const { return ReadTamrixTrace(FTamrixExe); }

    // Sets or resets one of the five events through the layout's own handles (or fresh ones when
    // the layout does not hold them).
    static void SetTamrixEvent(const char* name);
    static void ResetTamrixEvent(const char* name);
    // Whether the named event exists and is set; never creates it.
    static bool IsTamrixEventSet(const char* name);
    // Resets all five events that exist.
    static void ResetTamrixEvents();

    // Kills every double that the trace names and that still runs from this layout's Tamrix.exe.
    void KillDoubles() const;

private:
    TTempDir FTemp;
    std::string FAppDir;
    std::string FKorvelDir;
    std::string FKorvelExe;
    std::string FTamrixExe;
    std::string FLogName = "korvel.log";
    std::vector<THandle> FEvents;
    std::vector<std::unique_ptr<TChildProcess>> FChildren;
};
