// The tool's qos and report commands: a device's priority settings, and the diagnostics report without a display.
#include "app/diagnostics_report.h"
#include "app/link_statistics.h"
#include "app/link_texts.h"
#include "app/qos_actions.h"
#include "app/scan_cycle.h"
#include "app/system_information.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "mme/qos_settings.h"
#include "platform/atomic_file.h"
#include "platform/display_text.h"
#include "platform/regular_file.h"
#include "registry/device_registry.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <ostream>

namespace zrq406::cli {

using nlohmann::json;

namespace {

// The priorities as scripts write them, in the order of mme::QosPriority.
constexpr const char* kPriorityTokens[mme::kQosPriorityCount] = {"default", "cap0", "cap1", "cap2", "cap3"};
// A settings file is a few hundred bytes; anything this large is not one.
constexpr std::size_t kMaxSettingsFile = 64 * 1024;

std::string tokenOf(mme::QosPriority priority) {
    const auto index = static_cast<std::size_t>(priority);
    return index < std::size(kPriorityTokens) ? kPriorityTokens[index] : "default";
}

json settingsJson(const MacAddress& device, const mme::QosDecoded& decoded) {
    const mme::QosSettings& s = decoded.settings;
    auto map = [](const std::array<mme::QosPriority, 8>& priorities) {
        json list = json::array();
        for (const auto p : priorities)
            list.push_back(tokenOf(p));
        return list;
    };
    json macs = json::array();
    for (const auto& rule : s.macRules)
        macs.push_back({{"mac", rule.mac.text()}, {"priority", tokenOf(rule.priority)}});
    json ports = json::array();
    for (const auto& rule : s.portRules)
        ports.push_back({{"port", rule.port}, {"priority", tokenOf(rule.priority)}});
    const char* area = decoded.state == mme::QosAreaState::Valid   ? "valid"
                       : decoded.state == mme::QosAreaState::Unset ? "unset"
                                                                   : "repaired";
    return {{"mac", device.text()},
            {"area", area},
            {"vlan", {{"enabled", s.vlanEnabled}, {"map", map(s.vlanMap)}}},
            {"tos", {{"enabled", s.tosEnabled}, {"map", map(s.tosMap)}}},
            {"macRules", macs},
            {"portRules", ports}};
}

void printSettings(std::ostream& out, CLoadUISetting& texts, const MacAddress& device, const mme::QosDecoded& decoded) {
    std::vector<std::string> words;
    for (int i = 1; i <= mme::kQosPriorityCount; ++i)
        words.push_back(texts.LoadPageCaption("ZRQ406", "Priority", "Value" + std::to_string(i)));
    auto word = [&](mme::QosPriority p) { return words[static_cast<std::size_t>(p)]; };
    const mme::QosSettings& s = decoded.settings;
    out << "QoS settings of " << device.text();
    if (decoded.state == mme::QosAreaState::Unset)
        out << " (none stored: the defaults)";
    else if (decoded.state == mme::QosAreaState::Repaired)
        out << " (values out of range read as default)";
    out << "\nVLAN tag priority: " << (s.vlanEnabled ? "on" : "off")
        << "\nTOS bits priority: " << (s.tosEnabled ? "on" : "off") << "\n\n";
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 0; i < 8; ++i)
        rows.push_back({std::to_string(i), word(s.vlanMap[i]), word(s.tosMap[i])});
    printTable(out,
               {"#", texts.LoadPageCaption("ZRQ406", "QoSTab", "label107", "Text"),
                texts.LoadPageCaption("ZRQ406", "QoSTab", "label56", "Text")},
               rows);
    rows.clear();
    for (const auto& rule : s.macRules)
        rows.push_back({rule.mac.text(), word(rule.priority)});
    out << '\n';
    const std::string priorityHeading =
        texts.LoadPageCaption("ZRQ406", "QoSTab", "lstQosMacAddress", "Columns", "colMacCAP", "Text");
    printTable(out, {texts.LoadPageCaption("ZRQ406", "DestMACAddress", "Value"), priorityHeading}, rows);
    rows.clear();
    for (const auto& rule : s.portRules)
        rows.push_back({std::to_string(rule.port), word(rule.priority)});
    out << '\n';
    printTable(out, {texts.LoadPageCaption("ZRQ406", "DestIPPort", "Value"), priorityHeading}, rows);
}

// Reads a settings document from a file ("-": standard input); prints the reason on failure.
std::optional<json> readSettingsDocument(const std::string& file, Output& io) {
    std::string text;
    if (file == "-") {
        std::istream& in = io.in != nullptr ? *io.in : std::cin;
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        FileReadResult read = readRegularFile(file, kMaxSettingsFile);
        if (!read) {
            io.err << "zrq406: "
                   << terminalText(read.status == FileReadStatus::TooLarge ? file + ": too large for QoS settings"
                                                                           : read.error)
                   << '\n';
            return std::nullopt;
        }
        text = std::move(read.content);
    }
    if (text.size() > kMaxSettingsFile) {
        io.err << "zrq406: " << terminalText(file) << ": too large for QoS settings\n";
        return std::nullopt;
    }
    json document = json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        io.err << "zrq406: " << terminalText(file) << ": not a JSON object\n";
        return std::nullopt;
    }
    return document;
}

// Changes `s` by what the document names; everything it leaves out keeps its value. Empty when it went well,
// else what is wrong and where.
std::string applySettingsDocument(const json& document, mme::QosSettings& s) {
    auto priority = [](const json& value, const std::string& at, mme::QosPriority& out) -> std::string {
        if (value.is_string())
            for (std::size_t i = 0; i < std::size(kPriorityTokens); ++i)
                if (value.get<std::string>() == kPriorityTokens[i]) {
                    out = static_cast<mme::QosPriority>(i);
                    return {};
                }
        return at + ": a priority is one of default, cap0, cap1, cap2, cap3";
    };
    for (const char* name : {"vlan", "tos"}) {
        const auto part = document.find(name);
        if (part == document.end())
            continue;
        if (!part->is_object())
            return std::string(name) + ": must be an object";
        const bool vlan = std::string(name) == "vlan";
        if (const auto enabled = part->find("enabled"); enabled != part->end()) {
            if (!enabled->is_boolean())
                return std::string(name) + ".enabled: must be true or false";
            (vlan ? s.vlanEnabled : s.tosEnabled) = enabled->get<bool>();
        }
        if (const auto map = part->find("map"); map != part->end()) {
            if (!map->is_array() || map->size() != 8)
                return std::string(name) + ".map: must list 8 priorities";
            for (std::size_t i = 0; i < 8; ++i) {
                const std::string at = std::string(name) + ".map[" + std::to_string(i) + "]";
                if (auto error = priority((*map)[i], at, (vlan ? s.vlanMap : s.tosMap)[i]); !error.empty())
                    return error;
            }
        }
    }
    if (const auto rules = document.find("macRules"); rules != document.end()) {
        if (!rules->is_array() || rules->size() > mme::qos::kMaxRules)
            return "macRules: must list at most " + std::to_string(mme::qos::kMaxRules) + " rules";
        s.macRules.clear();
        for (std::size_t i = 0; i < rules->size(); ++i) {
            const json& rule = (*rules)[i];
            const std::string at = "macRules[" + std::to_string(i) + "]";
            const auto mac = rule.is_object() && rule.contains("mac") && rule["mac"].is_string()
                                 ? MacAddress::parse(rule["mac"].get<std::string>())
                                 : std::nullopt;
            if (!mac)
                return at + ".mac: must be a MAC address such as 00:b0:52:12:34:56";
            mme::QosMacRule parsed{*mac, mme::QosPriority::Default};
            if (auto error = priority(rule.value("priority", json()), at + ".priority", parsed.priority);
                !error.empty())
                return error;
            s.macRules.push_back(parsed);
        }
    }
    if (const auto rules = document.find("portRules"); rules != document.end()) {
        if (!rules->is_array() || rules->size() > mme::qos::kMaxRules)
            return "portRules: must list at most " + std::to_string(mme::qos::kMaxRules) + " rules";
        s.portRules.clear();
        for (std::size_t i = 0; i < rules->size(); ++i) {
            const json& rule = (*rules)[i];
            const std::string at = "portRules[" + std::to_string(i) + "]";
            const json port = rule.is_object() ? rule.value("port", json()) : json();
            if (!port.is_number_integer() || port.get<std::int64_t>() < 1 || port.get<std::int64_t>() > 65535)
                return at + ".port: must be a number from 1 to 65535";
            mme::QosPortRule parsed{static_cast<std::uint16_t>(port.get<std::int64_t>()), mme::QosPriority::Default};
            if (auto error = priority(rule.value("priority", json()), at + ".priority", parsed.priority);
                !error.empty())
                return error;
            s.portRules.push_back(parsed);
        }
    }
    return {};
}

} // namespace

int runQos(const GlobalOptions& options, const std::string& macText, const std::string& writeFile, Output& io) {
    const auto mac = parseMacArgument(macText, io);
    if (!mac)
        return kBadInput;
    std::optional<json> change;
    if (!writeFile.empty()) {
        change = readSettingsDocument(writeFile, io);
        if (!change)
            return kBadInput;
        // The document is checked against the defaults before any device is asked.
        mme::QosSettings scratch = mme::QosSettings::defaults();
        if (const std::string error = applySettingsDocument(*change, scratch); !error.empty()) {
            io.err << "zrq406: " << terminalText(writeFile) << ": " << error << '\n';
            return kBadInput;
        }
    }
    Tool tool(options, io.err);
    if (auto code = openWithDevice(tool.session, options, io))
        return *code;
    app::QosRead read = app::readQosSettings(tool.session, *mac);
    if (read.result != mme::ReadResult::Done) {
        io.err << "zrq406: " << tool.texts.message("msg45") << " (" << mac->text() << ")\n";
        return kRefused;
    }
    if (change) {
        mme::QosSettings wanted = read.decoded.settings;
        applySettingsDocument(*change, wanted);
        switch (app::writeQosSettings(tool.session, *mac, wanted)) {
        case app::QosWrite::Done:
            break;
        case app::QosWrite::ReadFailed:
            io.err << "zrq406: the configuration block of " << mac->text() << " could not be read ("
                   << mme::blockProblemText(tool.session.operations().lastBlockProblem()) << "); nothing was "
                   << "changed\n";
            return kRefused;
        case app::QosWrite::ForeignArea:
            io.err << "zrq406: the priority settings of " << mac->text() << " are not in a layout this tool knows; "
                   << "nothing was changed\n";
            return kRefused;
        case app::QosWrite::Invalid:
            io.err << "zrq406: these settings cannot be stored\n";
            return kBadInput;
        case app::QosWrite::WriteFailed:
            io.err << "zrq406: " << tool.texts.message("msg41") << " (" << mac->text() << ")\n";
            return kRefused;
        }
        read.decoded = {wanted, mme::QosAreaState::Valid};
    }
    if (options.json)
        printJson(io.out, settingsJson(*mac, read.decoded));
    else
        printSettings(io.out, tool.texts.settings(), *mac, read.decoded);
    return kDone;
}

int runReport(const GlobalOptions& options, const std::string& outputFile, Output& io) {
    Tool tool(options, io.err);
    app::Session& session = tool.session;
    DeviceRegistry& registry = session.registry();
    const app::OpenResult opened = session.open(options.link);
    if (!opened) {
        const bool badInput = opened.failure == app::OpenFailure::BadNetworkFile ||
                              opened.failure == app::OpenFailure::BadCaptureFile ||
                              opened.failure == app::OpenFailure::UnknownInterface;
        io.err << "zrq406: " << opened.error << '\n';
        if (badInput)
            return kBadInput;
    }
    // The report reads the histories and changes neither.
    session.scanRecorder().setPath({});
    app::ReportContent content;
    content.created = app::reportTimeText();
    std::string linksError;
    content.linkWeek = app::linkSummaryRows(
        app::historySummaries(app::LinkHistory::defaultPath(), std::time(nullptr) - app::kReportSpan, linksError));
    if (!linksError.empty())
        io.err << "zrq406: " << terminalText(linksError) << '\n';
    std::string lastScan;
    if (opened && app::findLocalDevice(session, session.onlyAdapter()) >= 0) {
        lastScan = app::scanTimeText(tool.texts.german());
        const auto scan = app::buildScanRecords(session, lastScan);
        for (const MacAddress& unread : scan.unreadBlocks)
            io.err << "zrq406: the configuration block of " << unread.text() << " could not be read\n";
        content.devices = app::deviceRows(registry.scanTable());
        content.links = app::linkRows(session.linkTable(), app::LinkTexts::load(tool.texts.settings()));
        content.history = app::historyRows(registry.historyTable(), registry.historyTable().inUseCount);
    } else {
        if (opened && !tellLocalConflict(session, io))
            io.err << "zrq406: no powerline device answers; the report lists none\n";
        if (registry.HistoryFileHasData()) {
            const HistoryLoadResult loaded = registry.LoadHistory();
            content.history = app::historyRows(registry.historyTable(), loaded.loaded);
        }
    }
    content.systemValues =
        app::gatherSystemInformation(&session, static_cast<int>(content.devices.size()), lastScan, "").values();
    const std::string report = app::buildDiagnosticsReport(app::ReportTexts::load(tool.texts.settings()), content);
    if (outputFile.empty()) {
        io.out << report;
        return kDone;
    }
    return writeOutputFile(outputFile, report, io);
}

} // namespace zrq406::cli
