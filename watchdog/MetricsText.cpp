#include "MetricsText.h"

#include <algorithm>
#include <initializer_list>

namespace {

// The first line: who writes the file. Any other comment is nothing to a collector.
constexpr std::string_view UserComment = "# korvel user ";

struct TSample {
    std::string Labels; // the series' own labels, escaped, ahead of the session; empty for none
    std::uint64_t Value;
};

void AddMetric(std::string& text, std::string_view name, std::string_view type,
               std::string_view help, const std::string& session,
               std::initializer_list<TSample> samples) {
    text.append("# HELP ").append(name).append(" ").append(help).append("\n");
    text.append("# TYPE ").append(name).append(" ").append(type).append("\n");
    for (const TSample& sample : samples) {
        text.append(name).append("{");
        if (!sample.Labels.empty())
            text.append(sample.Labels).append(",");
        text.append("session=\"").append(session).append("\"} ");
        text.append(std::to_string(sample.Value)).append("\n");
    }
}

} // namespace

std::string EscapeLabelValue(std::string_view value) {
    std::string escaped;
    for (const char c : value) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

std::string MetricsText(const TMetricsFigures& figures) {
    const std::string session = EscapeLabelValue(figures.Session);
    std::string text;
    if (!figures.User.empty())
        text.append(UserComment).append(figures.User).append("\n");
    AddMetric(text, "korvel_build_info", "gauge", "korvel's version, as its label; always 1.",
              session, {{"version=\"" + EscapeLabelValue(figures.Version) + "\"", 1}});
    AddMetric(text, "korvel_start_time_seconds", "gauge", "When korvel started, in Unix seconds.",
              session, {{"", figures.StartTime}});
    AddMetric(text, "korvel_last_update_timestamp_seconds", "gauge",
              "When korvel wrote this file, in Unix seconds; an old value means korvel is gone.",
              session, {{"", figures.LastUpdate}});
    AddMetric(text, "korvel_last_poll_timestamp_seconds", "gauge",
              "When korvel's supervisor last polled Tamrix or took a step of a restart, in Unix "
              "seconds; while no supervisor runs, when korvel wrote this file.",
              session, {{"", figures.LastPoll != 0 ? figures.LastPoll : figures.LastUpdate}});
    AddMetric(text, "korvel_tamrix_running", "gauge",
              "1 from a detected start of Tamrix until its shutdown, a given-up restart or its "
              "detected end; else 0.",
              session, {{"", figures.TamrixRunning ? 1u : 0u}});
    AddMetric(text, "korvel_tamrix_given_up", "gauge",
              "1 from a given-up restart until the next detected start of Tamrix; else 0.", session,
              {{"", figures.TamrixGivenUp ? 1u : 0u}});
    AddMetric(text, "korvel_hangs_total", "counter", "Heartbeats found overdue, by thread.",
              session,
              {{"thread=\"main\"", figures.MainHangs},
               {"thread=\"call_stream\"", figures.CallStreamHangs}});
    AddMetric(text, "korvel_restarts_total", "counter",
              "Restarts of Tamrix begun, after a hang or after an end without its shutdown.",
              session,
              {{"cause=\"hang\"", figures.HangRestarts}, {"cause=\"exit\"", figures.ExitRestarts}});
    AddMetric(text, "korvel_restart_failures_total", "counter",
              "Restarts given up: Tamrix must be started by hand.", session,
              {{"", figures.RestartFailures}});
    AddMetric(text, "korvel_kill_failures_total", "counter",
              "Kills of a hung Tamrix that failed or were refused.", session,
              {{"", figures.KillFailures}});
    AddMetric(text, "korvel_hang_dumps_total", "counter", "Dumps of a hung Tamrix, by result.",
              session,
              {{"result=\"success\"", figures.DumpSuccesses},
               {"result=\"failed\"", figures.DumpFailures}});
    AddMetric(text, "korvel_supervisor_errors_total", "counter",
              "Errors korvel logged as \"Fatal error\" and supervised on.", session,
              {{"", figures.SupervisorErrors}});
    AddMetric(text, "korvel_startup_timeout_seconds", "gauge",
              "The start-up timeout in force; 0 until the first detected start.", session,
              {{"", figures.StartupTimeout}});
    AddMetric(text, "korvel_last_restart_timestamp_seconds", "gauge",
              "When the last restart began, in Unix seconds; 0 before the first.", session,
              {{"", figures.LastRestart}});
    if (!figures.HangSites.empty()) {
        AddMetric(text, "korvel_hangs_by_site_total", "counter",
                  "Main-thread hangs by their site, the first frame in a module of Tamrix's "
                  "folder; sites beyond the first 20 count as \"other\".",
                  session, {});
        for (const THangSiteCount& site : figures.HangSites)
            text.append("korvel_hangs_by_site_total{site=\"")
                .append(EscapeLabelValue(site.Site))
                .append("\",session=\"")
                .append(session)
                .append("\"} ")
                .append(std::to_string(site.Count))
                .append("\n");
    }
    return text;
}

std::optional<std::uint32_t> MetricsFileSession(std::string_view name) {
    constexpr std::string_view prefix = "korvel-";
    constexpr std::string_view suffix = ".prom";
    if (!name.starts_with(prefix) || !name.ends_with(suffix))
        return std::nullopt;
    const std::string_view digits =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.empty() || digits.size() > 10 || (digits.size() > 1 && digits[0] == '0'))
        return std::nullopt;
    std::uint64_t session = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        session = session * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (session > UINT32_MAX)
        return std::nullopt;
    return static_cast<std::uint32_t>(session);
}

bool ShowsGivenUp(std::string_view text) {
    constexpr std::string_view name = "\nkorvel_tamrix_given_up{";
    const std::size_t at = text.find(name);
    if (at == std::string_view::npos)
        return false;
    const std::string_view line = text.substr(at + 1, text.find('\n', at + 1) - at - 1);
    return line.ends_with("} 1");
}

std::string MetricsFileUser(std::string_view text) {
    if (!text.starts_with(UserComment))
        return {};
    const std::string_view rest = text.substr(UserComment.size());
    const std::size_t end = rest.find('\n');
    return end == std::string_view::npos ? std::string() : std::string(rest.substr(0, end));
}

bool TakesGiveUpOver(std::string_view text, std::uint64_t writeTime, std::string_view user,
                     std::uint64_t bootTime) {
    return ShowsGivenUp(text) && !user.empty() && MetricsFileUser(text) == user &&
           writeTime >= bootTime;
}

bool IsLeftBehind(std::string_view name, std::uint64_t writeTime, std::uint64_t bootTime,
                  const std::optional<std::vector<std::uint32_t>>& sessions) {
    const std::optional<std::uint32_t> session = MetricsFileSession(name);
    if (!session)
        return false;
    return writeTime < bootTime ||
           (sessions && std::find(sessions->begin(), sessions->end(), *session) == sessions->end());
}
