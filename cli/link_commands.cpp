#include "app/link_metrics.h"
#include "app/link_table.h"
#include "app/link_texts.h"
#include "app/scan_cycle.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "platform/atomic_file.h"
#include "platform/display_text.h"
#include "platform/text_field.h"

#include <algorithm>
#include <chrono>
#include <ostream>

namespace zrq406::cli {

using nlohmann::json;

namespace {

json rateJson(const app::LinkRow& row, std::uint32_t rate) {
    if (!row.known)
        return nullptr;
    return rate;
}

} // namespace

int runLinks(const GlobalOptions& options, Output& io) {
    Tool tool(options, io.err);
    app::Session& session = tool.session;
    if (auto code = openAndScanLinks(tool, options, io))
        return *code;
    // The scan read the link table, every station at once.
    const app::LinkTable table = session.linkTable();
    const auto sorted = app::sortedWeakestFirst(table.rows);
    if (options.json) {
        json devices = json::array();
        for (std::size_t i = 0; i < table.stations.size(); ++i)
            devices.push_back({{"mac", table.stations[i].text()},
                               {"name", table.names[i]},
                               {"local", i == 0},
                               {"answered", std::find(table.silent.begin(), table.silent.end(), table.stations[i]) ==
                                                table.silent.end()}});
        json links = json::array();
        for (const app::LinkRow& row : sorted)
            links.push_back({{"from", row.from.text()},
                             {"fromName", table.label(row.from)},
                             {"to", row.to.text()},
                             {"toName", table.label(row.to)},
                             {"known", row.known},
                             {"listed", row.listed},
                             {"tx", rateJson(row, row.tx)},
                             {"rx", rateJson(row, row.rx)},
                             {"weaker", rateJson(row, app::weakerRate(row))},
                             {"weakerDirection", row.known ? json(app::transmitIsWeaker(row) ? "tx" : "rx") : json()}});
        printJson(
            io.out,
            json{{"unit", "Mbit/s"}, {"rateFieldMax", table.rateFieldMax}, {"devices", devices}, {"links", links}});
        return kDone;
    }
    const app::LinkTexts texts = app::LinkTexts::load(tool.texts.settings());
    printTable(io.out, texts.columns, app::linkRows(table, texts));
    io.out << '\n' << texts.note << '\n';
    for (const MacAddress& mac : table.silent)
        io.err << "zrq406: " << terminalText(table.label(mac)) << " (" << mac.text()
               << ") did not answer; its links are unknown\n";
    return kDone;
}

int runMetrics(const GlobalOptions& options, const std::string& outputFile, Output& io) {
    Tool tool(options, io.err);
    app::Session& session = tool.session;
    const auto started = std::chrono::steady_clock::now();
    app::MetricsSnapshot snapshot;
    if (auto code = openSession(session, options, io))
        return *code;
    if (app::findLocalDevice(session, session.onlyAdapter()) >= 0) {
        const auto report = app::buildScanRecords(session, app::scanTimeText(tool.texts.german()));
        snapshot.localFound = true;
        const ScanTable& scan = session.registry().scanTable();
        for (int i = 0; i < scan.count; ++i) {
            const DeviceRecord& d = scan.entries[i];
            const std::string mac = fieldText(d.mac);
            const bool silent = std::find(report.built.silentStations.begin(), report.built.silentStations.end(),
                                          mac) != report.built.silentStations.end();
            snapshot.devices.push_back(
                {MacAddress::parse(mac).value_or(MacAddress{}), fieldText(d.name), fieldText(d.firmware), !silent});
        }
        snapshot.links = session.linkTable();
    } else if (!tellLocalConflict(session, io)) {
        io.err << "zrq406: no powerline device answers\n";
    }
    snapshot.scanSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // On standard output, as in every other output of the tool, nothing a device sends reaches a terminal as a
    // control sequence; the file keeps the texts as sent, escaped for the collector.
    if (outputFile.empty() || outputFile == "-") {
        io.out << app::buildMetricsText(snapshot, app::MetricsLabels::Printable);
        return kDone;
    }
    // The collector never reads half a file.
    return writeOutputFile(outputFile, app::buildMetricsText(snapshot), io);
}

} // namespace zrq406::cli
