// The text of korvel's metrics file in Prometheus' text format, built from plain figures. Standard
// headers only, so that the exact file is tested without any file.
#pragma once

#include "HangSite.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What korvel shows of itself at one moment. Times are Unix seconds, 0 for never.
struct TMetricsFigures {
    std::string Session{}; // the label value that every series carries
    std::string Version{}; // korvel_build_info's version label
    std::uint64_t StartTime = 0;
    std::uint64_t LastUpdate = 0;
    bool TamrixRunning = false;
    std::uint64_t MainHangs = 0;
    std::uint64_t CallStreamHangs = 0;
    std::uint64_t HangRestarts = 0;
    std::uint64_t ExitRestarts = 0;
    std::uint64_t RestartFailures = 0;
    std::uint64_t KillFailures = 0;
    std::uint64_t DumpSuccesses = 0;
    std::uint64_t DumpFailures = 0;
    std::uint64_t SupervisorErrors = 0;
    std::uint32_t StartupTimeout = 0;
    std::uint64_t LastRestart = 0;
    bool TamrixGivenUp = false; // from a given-up restart until Tamrix's next detected start
    // The supervisor's last poll pass, or step of a restart; 0 while no supervisor polls, when the
    // file shows LastUpdate instead: korvel itself is alive, and there is nothing to poll.
    std::uint64_t LastPoll = 0;
    std::string User{}; // the SID of the user who writes the file; empty: unknown
    // hang_stack: the hangs by their site (CountHangSite), in the order the sites came.
    std::vector<THangSiteCount> HangSites{};
};

// value with backslash, double quote and line feed escaped as a label value must be.
std::string EscapeLabelValue(std::string_view value);

// The whole file: a comment line naming the user who writes it (when known), then each metric's
// HELP and TYPE lines and its samples, every one with the session label and both values of a
// labelled counter always present; LF line ends and a final LF. A collector reads the comment as
// nothing at all. The hangs by site come last, and only once a site was counted: a korvel without
// hang_stack writes the file it always wrote.
std::string MetricsText(const TMetricsFigures& figures);

// The session whose file name is korvel-<session>.prom, exactly as korvel names its own: digits
// without leading zeros, at most 4294967295. Anything else is no file of korvel's.
std::optional<std::uint32_t> MetricsFileSession(std::string_view name);

// Whether a file in the shape of MetricsText says korvel_tamrix_given_up 1.
bool ShowsGivenUp(std::string_view text);

// The user named by the comment line of a file in the shape of MetricsText; empty when it has none
// (a file of an earlier korvel, or of an unknown user).
std::string MetricsFileUser(std::string_view text);

// Whether a starting korvel of user, in the boot that began at bootTime, takes the give-up over
// from the file of its session (text, last written at writeTime; Unix seconds). Windows gives a
// session's number to the next user once it is free, and after a reboot numbers start again: a
// give-up belongs to the user who saw it, in the boot it happened in.
bool TakesGiveUpOver(std::string_view text, std::uint64_t writeTime, std::string_view user,
                     std::uint64_t bootTime);

// Whether a starting korvel removes the file name (last written at writeTime) from its metrics
// folder: a file of a session that the machine no longer has (sessions: as the system lists them,
// the own one included; nothing when it cannot tell), and any file written before this boot began,
// whose session number may be anyone's by now. Only names that korvel writes.
bool IsLeftBehind(std::string_view name, std::uint64_t writeTime, std::uint64_t bootTime,
                  const std::optional<std::vector<std::uint32_t>>& sessions);
