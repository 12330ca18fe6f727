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
    // hang_stack: the hangs by their site (CountHangSite), in the order the sites came.
    std::vector<THangSiteCount> HangSites{};
};

// value with backslash, double quote and line feed escaped as a label value must be.
std::string EscapeLabelValue(std::string_view value);

// The whole file: each metric's HELP and TYPE lines, then its samples, every one with the session
// label and both values of a labelled counter always present; LF line ends and a final LF. The
// hangs by site come last, and only once a site was counted: a korvel without hang_stack writes
// the file it always wrote.
std::string MetricsText(const TMetricsFigures& figures);

// The session whose file name is korvel-<session>.prom, exactly as korvel names its own: digits
// without leading zeros, at most 4294967295. Anything else is no file of korvel's.
std::optional<std::uint32_t> MetricsFileSession(std::string_view name);

// Whether a file in the shape of MetricsText says korvel_tamrix_given_up 1.
bool ShowsGivenUp(std::string_view text);
