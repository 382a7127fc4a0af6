#include "app/link_health.h"
#include "app/link_alerts.h"
#include "app/link_history.h"
#include "app/link_statistics.h"
#include "app/scan_recorder.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "platform/display_text.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <ostream>

namespace zrq406::cli {

using nlohmann::json;

namespace {

std::string timeText(std::time_t when) {
    return localTimeText(when, "%Y-%m-%dT%H:%M:%S%z");
}

// A cell as a spreadsheet takes it: quoted when it holds a separator, a quote or a line break, and a text that a
// spreadsheet would run as a formula (a device name is anyone's to choose) kept a text by a leading quote.
std::string csvCell(const std::string& raw) {
    std::string text = terminalText(raw);
    if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@'))
        text.insert(0, 1, '\'');
    if (text.find_first_of(",\"\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

void printCsv(std::ostream& out, const std::vector<std::string>& headings,
              const std::vector<std::vector<std::string>>& rows) {
    const auto line = [&out](const std::vector<std::string>& cells) {
        for (std::size_t i = 0; i < cells.size(); ++i)
            out << (i ? "," : "") << csvCell(cells[i]);
        out << "\r\n";
    };
    line(headings);
    for (const auto& row : rows)
        line(row);
}

json figuresJson(const app::RateFigures& f) {
    return {{"min", f.minimum}, {"median", f.median}, {"max", f.maximum}};
}

// Opens the link history for reading; prints the reason and returns the exit code when it cannot be used.
std::optional<int> openHistory(app::LinkHistory& history, Texts& texts, Output& io) {
    if (history.path().empty()) {
        io.err << "zrq406: the link history is turned off (ZRQ406_LINK_HISTORY=none)\n";
        return kBadInput;
    }
    const app::HistoryOpenResult opened = history.open();
    if (!opened.movedTo.empty())
        io.err << "zrq406: " << terminalText(app::historyMovedAsideText(texts.settings(), history.path(), opened))
               << '\n';
    if (!opened) {
        const std::string why = opened.result.status == app::HistoryStatus::Refused
                                    ? app::historyRefusedText(texts.settings(), history.path(), opened.damage)
                                    : opened.result.error;
        io.err << "zrq406: " << terminalText(why) << '\n';
        return kRefused;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::int64_t> parseSince(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    std::size_t used = 0;
    long long count = 0;
    try {
        count = std::stoll(text, &used);
    } catch (...) {
        return std::nullopt;
    }
    if (count < 0 || used + 1 != text.size())
        return std::nullopt;
    std::int64_t unit = 0;
    switch (text.back()) {
    case 'm':
        unit = 60;
        break;
    case 'h':
        unit = 60 * 60;
        break;
    case 'd':
        unit = 24 * 60 * 60;
        break;
    case 'w':
        unit = 7 * 24 * 60 * 60;
        break;
    default:
        return std::nullopt;
    }
    if (count > std::int64_t{100} * 366 * 24 * 60 * 60 / unit)
        return std::nullopt;
    return count * unit;
}

namespace {

// The highest and the last PB error rate that a link's samples kept.
struct ErrorFigures {
    std::optional<double> worst;
    std::optional<double> last;
};

ErrorFigures errorFigures(const app::LinkSeries& series) {
    ErrorFigures figures;
    for (const app::LinkSample& sample : series.samples) {
        if (!sample.pbErrorRate)
            continue;
        figures.last = sample.pbErrorRate;
        figures.worst = std::max(figures.worst.value_or(0), *sample.pbErrorRate);
    }
    return figures;
}

std::string fractionText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

} // namespace

int runLinkHistory(const GlobalOptions& options, const LinkHistoryRequest& request, Output& io) {
    const auto span = parseSince(request.since);
    if (!span) {
        io.err << "zrq406: --since takes a number and a unit: m, h, d or w (for example 7d)\n";
        return kBadInput;
    }
    std::optional<MacAddress> device;
    if (!request.device.empty()) {
        device = MacAddress::parse(request.device);
        if (!device) {
            io.err << "zrq406: " << terminalText(request.device) << " is not a MAC address\n";
            return kBadInput;
        }
    }
    Texts texts(options, io.err);
    app::LinkHistory history(app::LinkHistory::defaultPath());
    if (auto code = openHistory(history, texts, io))
        return *code;
    std::vector<app::LinkSeries> series;
    if (const app::HistoryResult read = history.links(std::time(nullptr) - *span, device, series); !read) {
        io.err << "zrq406: " << terminalText(read.error) << '\n';
        return kRefused;
    }
    const std::vector<app::LinkSummary> summaries = app::summarizeLinks(series);

    if (request.csv) {
        std::vector<std::vector<std::string>> rows;
        for (const app::LinkSeries& s : series)
            for (const app::LinkSample& sample : s.samples)
                rows.push_back({s.from.text(), s.to.text(), timeText(sample.when), std::to_string(sample.transmitRate),
                                std::to_string(sample.receiveRate), sample.answered ? "yes" : "no",
                                sample.pbErrorRate ? fractionText(*sample.pbErrorRate) : ""});
        printCsv(io.out, {"from", "to", "time", "transmit", "receive", "answered", "pb_error_rate"}, rows);
        return kDone;
    }
    if (options.json) {
        json list = json::array();
        for (std::size_t i = 0; i < series.size(); ++i) {
            const app::LinkSummary& summary = summaries[i];
            json drops = json::array();
            for (const app::LinkDrop& d : summary.drops)
                drops.push_back({{"start", timeText(d.start)},
                                 {"end", d.end ? json(timeText(d.end)) : json(nullptr)},
                                 {"lowest", d.lowest}});
            json samples = json::array();
            for (const app::LinkSample& s : series[i].samples)
                samples.push_back({{"time", timeText(s.when)},
                                   {"transmit", s.transmitRate},
                                   {"receive", s.receiveRate},
                                   {"answered", s.answered},
                                   {"pb_error_rate", s.pbErrorRate ? json(*s.pbErrorRate) : json(nullptr)}});
            const ErrorFigures errors = errorFigures(series[i]);
            list.push_back({{"from", summary.from.text()},
                            {"to", summary.to.text()},
                            {"scans", summary.samples},
                            {"unanswered", summary.unanswered},
                            {"transmit", figuresJson(summary.transmit)},
                            {"receive", figuresJson(summary.receive)},
                            {"drops", drops},
                            {"pb_error_rate", {{"highest", errors.worst ? json(*errors.worst) : json(nullptr)},
                                               {"last", errors.last ? json(*errors.last) : json(nullptr)}}},
                            {"samples", samples}});
        }
        printJson(io.out, list);
        return kDone;
    }
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 0; i < summaries.size(); ++i) {
        const app::LinkSummary& s = summaries[i];
        std::string drops;
        for (const app::LinkDrop& d : s.drops)
            drops += (drops.empty() ? "" : ", ") + timeText(d.start).substr(0, 16);
        const ErrorFigures errors = errorFigures(series[i]);
        rows.push_back({s.from.text(), s.to.text(), std::to_string(s.samples), std::to_string(s.unanswered),
                        app::rateFiguresText(s.transmit), app::rateFiguresText(s.receive),
                        errors.worst ? app::percentText(errors.worst) + " / " + app::percentText(errors.last) : "-",
                        drops.empty() ? "-" : drops});
    }
    printTable(io.out,
               {"From", "To", "Scans", "Unanswered", "TX min/median/max", "RX min/median/max", "PB errors max/last",
                "Drops at"},
               rows);
    return kDone;
}

int runDeviceSightings(const GlobalOptions& options, bool csv, Output& io) {
    Texts texts(options, io.err);
    app::LinkHistory history(app::LinkHistory::defaultPath());
    if (auto code = openHistory(history, texts, io))
        return *code;
    std::vector<app::DeviceSighting> devices;
    if (const app::HistoryResult read = history.devices(devices); !read) {
        io.err << "zrq406: " << terminalText(read.error) << '\n';
        return kRefused;
    }
    if (options.json && !csv) {
        json list = json::array();
        for (const app::DeviceSighting& d : devices)
            list.push_back({{"mac", d.mac.text()},
                            {"name", d.name},
                            {"firmware", d.firmware},
                            {"firstSeen", timeText(d.firstSeen)},
                            {"lastSeen", timeText(d.lastSeen)},
                            {"lastAnswered", d.lastAnswered}});
        printJson(io.out, list);
        return kDone;
    }
    std::vector<std::vector<std::string>> rows;
    for (const app::DeviceSighting& d : devices)
        rows.push_back({d.mac.text(), d.name, d.firmware, timeText(d.firstSeen), timeText(d.lastSeen),
                        d.lastAnswered ? "yes" : "no"});
    if (csv)
        printCsv(io.out, {"mac", "name", "firmware", "first seen", "last seen", "answered"}, rows);
    else
        printTable(io.out, {"MAC", "Name", "Firmware", "First seen", "Last seen", "Answered"}, rows);
    return kDone;
}

int runHistoryAlerts(const GlobalOptions& options, const std::string& since, Output& io) {
    const auto span = parseSince(since);
    if (!span) {
        io.err << "zrq406: --since takes a number and a unit: m, h, d or w (for example 7d)\n";
        return kBadInput;
    }
    Texts texts(options, io.err);
    app::LinkHistory history(app::LinkHistory::defaultPath());
    if (auto code = openHistory(history, texts, io))
        return *code;
    const std::time_t now = std::time(nullptr);
    std::vector<app::Alert> alerts;
    if (const app::HistoryResult read = app::historyAlerts(history, now - *span, now, alerts); !read) {
        io.err << "zrq406: " << terminalText(read.error) << '\n';
        return kRefused;
    }
    if (options.json) {
        json list = json::array();
        for (const app::Alert& a : alerts) {
            json item = {{"type", std::string(app::alertKindName(a.kind))},
                         {"time", timeText(a.when)},
                         {"mac", a.device.text()},
                         {"name", a.name}};
            if (a.kind == app::AlertKind::LinkSlow) {
                item["peer"] = a.peer.text();
                item["rate"] = a.rate;
                item["median"] = a.median;
            } else if (a.kind == app::AlertKind::FirmwareChanged) {
                item["before"] = a.before;
                item["after"] = a.after;
            }
            list.push_back(std::move(item));
        }
        printJson(io.out, list);
        return kDone;
    }
    for (const app::Alert& a : alerts)
        io.out << timeText(a.when) << "  " << terminalText(app::alertText(a)) << '\n';
    return kDone;
}

int runPruneHistory(const GlobalOptions& options, int keepDays, Output& io) {
    Texts texts(options, io.err);
    app::LinkHistory history(app::LinkHistory::defaultPath(),
                             keepDays > 0 ? keepDays : app::LinkHistory::retentionDaysFromEnvironment());
    if (auto code = openHistory(history, texts, io))
        return *code;
    if (const app::HistoryResult done = history.compact(std::time(nullptr)); !done) {
        io.err << "zrq406: " << terminalText(done.error) << '\n';
        return kRefused;
    }
    std::int64_t scans = 0;
    (void)history.scanCount(scans);
    if (options.json)
        printJson(io.out,
                  json{{"file", history.path().string()}, {"keptDays", history.retentionDays()}, {"scans", scans}});
    else
        io.out << "The link history " << terminalText(history.path().string()) << " keeps the last "
               << history.retentionDays() << " days: " << scans << " scans\n";
    return kDone;
}

} // namespace zrq406::cli
