// The metrics file as a collector reads it: figures in, the exact text out.
#include "MetricsText.h"

#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <utility>

namespace {

// Every figure its own value, zeros among them: a sample left out at 0, or two figures swapped,
// shows. <S> and <V> stand for the session and version label values as written. Every HELP and
// TYPE text stands here as it must: two korvel versions side by side whose texts differ make the
// collector drop every textfile series, so a change is deliberate and named in the README's
// upgrade notes.
constexpr const char* Expected =
    R"(# korvel user S-1-5-21-7-8-9-1001
# HELP korvel_build_info korvel's version, as its label; always 1.
# TYPE korvel_build_info gauge
korvel_build_info{version="<V>",session="<S>"} 1
# HELP korvel_start_time_seconds When korvel started, in Unix seconds.
# TYPE korvel_start_time_seconds gauge
korvel_start_time_seconds{session="<S>"} 1700000000
# HELP korvel_last_update_timestamp_seconds When korvel wrote this file, in Unix seconds; an old value means korvel is gone.
# TYPE korvel_last_update_timestamp_seconds gauge
korvel_last_update_timestamp_seconds{session="<S>"} 1700000600
# HELP korvel_last_poll_timestamp_seconds When korvel's supervisor last polled Tamrix or took a step of a restart, in Unix seconds; while no supervisor runs, when korvel wrote this file.
# TYPE korvel_last_poll_timestamp_seconds gauge
korvel_last_poll_timestamp_seconds{session="<S>"} 1700000590
# HELP korvel_tamrix_running 1 from a detected start of Tamrix until its shutdown, a given-up restart or its detected end; else 0.
# TYPE korvel_tamrix_running gauge
korvel_tamrix_running{session="<S>"} 1
# HELP korvel_tamrix_given_up 1 from a given-up restart until the next detected start of Tamrix; else 0.
# TYPE korvel_tamrix_given_up gauge
korvel_tamrix_given_up{session="<S>"} 1
# HELP korvel_hangs_total Heartbeats found overdue, by thread.
# TYPE korvel_hangs_total counter
korvel_hangs_total{thread="main",session="<S>"} 3
korvel_hangs_total{thread="call_stream",session="<S>"} 0
# HELP korvel_restarts_total Restarts of Tamrix begun, after a hang or after an end without its shutdown.
# TYPE korvel_restarts_total counter
korvel_restarts_total{cause="hang",session="<S>"} 4
korvel_restarts_total{cause="exit",session="<S>"} 0
# HELP korvel_restart_failures_total Restarts given up: Tamrix must be started by hand.
# TYPE korvel_restart_failures_total counter
korvel_restart_failures_total{session="<S>"} 1
# HELP korvel_kill_failures_total Kills of a hung Tamrix that failed or were refused.
# TYPE korvel_kill_failures_total counter
korvel_kill_failures_total{session="<S>"} 2
# HELP korvel_hang_dumps_total Dumps of a hung Tamrix, by result.
# TYPE korvel_hang_dumps_total counter
korvel_hang_dumps_total{result="success",session="<S>"} 5
korvel_hang_dumps_total{result="failed",session="<S>"} 6
# HELP korvel_supervisor_errors_total Errors korvel logged as "Fatal error" and supervised on.
# TYPE korvel_supervisor_errors_total counter
korvel_supervisor_errors_total{session="<S>"} 7
# HELP korvel_startup_timeout_seconds The start-up timeout in force; 0 until the first detected start.
# TYPE korvel_startup_timeout_seconds gauge
korvel_startup_timeout_seconds{session="<S>"} 19
# HELP korvel_last_restart_timestamp_seconds When the last restart began, in Unix seconds; 0 before the first.
# TYPE korvel_last_restart_timestamp_seconds gauge
korvel_last_restart_timestamp_seconds{session="<S>"} 1700000500
)";

struct TextCase {
    const char* session;
    const char* version;
    const char* sessionText;
    const char* versionText;
};

class MetricsTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(MetricsTextTest, IsTheExactFile) {
    const TextCase& c = GetParam();
    TMetricsFigures figures{c.session, c.version, 1700000000, 1700000600, true, 3, 0, 4, 0, 1, 2, 5,
                            6,         7,         19,         1700000500, true};
    figures.LastPoll = 1700000590;
    figures.User = "S-1-5-21-7-8-9-1001";
    const std::string session = std::regex_replace(Expected, std::regex("<S>"), c.sessionText);
    EXPECT_EQ(MetricsText(figures), std::regex_replace(session, std::regex("<V>"), c.versionText));
    // While no supervisor polls, the write time: a korvel waiting for Tamrix's start shows a stamp
    // that moves.
    figures.LastPoll = 0;
    EXPECT_NE(MetricsText(figures).find("\nkorvel_last_poll_timestamp_seconds{session=\"" +
                                        std::string(c.sessionText) + "\"} 1700000600\n"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Table, MetricsTextTest,
                         testing::Values(TextCase{"1", "1.0.0", "1", "1.0.0"},
                                         TextCase{"a\\b", "\"2.0\"", "a\\\\b", "\\\"2.0\\\""},
                                         TextCase{"line\nbreak", "\\\n\"", "line\\nbreak",
                                                  "\\\\\\n\\\""},
                                         // Only those three: a tab and UTF-8 stay as they are.
                                         TextCase{"x\ty", "\xC3\xA9", "x\ty", "\xC3\xA9"}));

// hang_stack: the hangs by site come last, each site a sample, and only once a site was counted,
// so that the file of every korvel without it stays as it was.
TEST(MetricsTextTest, HangsBySiteComeLastOnceCounted) {
    TMetricsFigures figures;
    figures.Session = "2";
    const std::string without = MetricsText(figures);
    figures.HangSites = {{"Tamrix!Wait", 3}, {"Tamrix+0x1a2b", 1}, {"a\"b\\c", 1}, {"other", 2}};
    EXPECT_EQ(
        MetricsText(figures),
        without +
            "# HELP korvel_hangs_by_site_total Main-thread hangs by their site, the first frame "
            "in a module of Tamrix's folder; sites beyond the first 20 count as \"other\".\n"
            "# TYPE korvel_hangs_by_site_total counter\n"
            "korvel_hangs_by_site_total{site=\"Tamrix!Wait\",session=\"2\"} 3\n"
            "korvel_hangs_by_site_total{site=\"Tamrix+0x1a2b\",session=\"2\"} 1\n"
            "korvel_hangs_by_site_total{site=\"a\\\"b\\\\c\",session=\"2\"} 1\n"
            "korvel_hangs_by_site_total{site=\"other\",session=\"2\"} 2\n");
}

// A starting korvel removes the files of ended sessions by these names: any other file in a shared
// folder is someone else's.
TEST(MetricsFileSessionTest, OnlyKorvelsOwnNames) {
    const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
        {"korvel-0.prom", 0},           {"korvel-4294967295.prom", 4294967295},
        {"korvel-4294967296.prom", {}}, {"korvel-07.prom", {}},
        {"korvel-.prom", {}},           {"korvel-1.prom.tmp", {}},
        {"korvel-1x.prom", {}},         {"xkorvel-1.prom", {}},
        {"Korvel-1.prom", {}},          {"korvel--1.prom", {}}};
    for (const auto& [name, session] : cases)
        EXPECT_EQ(MetricsFileSession(name), session) << name;
}

} // namespace
