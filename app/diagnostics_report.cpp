#include "app/diagnostics_report.h"

#include "app/health_texts.h"
#include "app/link_texts.h"
#include "platform/display_text.h"
#include "platform/text_field.h"
#include "uitext/load_ui_setting.h"

#include <algorithm>

namespace zrq406::app {

namespace {

constexpr char kRoot[] = "ZRQ406";

std::vector<std::string> columnHeadings(CLoadUISetting& texts, const std::string& page, const std::string& list,
                                        const std::vector<std::string>& columns) {
    std::vector<std::string> headings;
    for (const std::string& column : columns)
        headings.push_back(texts.LoadPageCaption(kRoot, page, list, "Columns", column, "Text"));
    return headings;
}

// Characters as a fixed-width font shows them: one per UTF-8 sequence.
std::size_t displayWidth(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

void padTo(std::string& line, std::size_t width, const std::string& text) {
    line += text;
    line.append(width > displayWidth(text) ? width - displayWidth(text) : 0, ' ');
}

void heading(std::string& out, const std::string& text, char rule) {
    out += text + '\n';
    out.append(std::max<std::size_t>(displayWidth(text), 3), rule);
    out += '\n';
}

std::string rightTrimmed(std::string line) {
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

void table(std::string& out, const std::vector<std::string>& headings, const ListRows& rows) {
    std::vector<std::vector<std::string>> cells;
    cells.push_back(headings);
    for (const auto& row : rows) {
        std::vector<std::string> safe;
        for (std::size_t c = 0; c < headings.size(); ++c)
            safe.push_back(c < row.size() ? terminalText(row[c]) : std::string());
        cells.push_back(std::move(safe));
    }
    std::vector<std::size_t> widths(headings.size(), 0);
    for (const auto& row : cells)
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], displayWidth(row[c]));
    for (std::size_t r = 0; r < cells.size(); ++r) {
        std::string line;
        for (std::size_t c = 0; c < cells[r].size(); ++c)
            padTo(line, c + 1 < cells[r].size() ? widths[c] + 2 : 0, cells[r][c]);
        out += rightTrimmed(line) + '\n';
        if (r == 0) {
            std::string rule;
            for (std::size_t c = 0; c < widths.size(); ++c)
                padTo(rule, c + 1 < widths.size() ? widths[c] + 2 : 0, std::string(widths[c], '-'));
            out += rightTrimmed(rule) + '\n';
        }
    }
}

} // namespace

ReportTexts ReportTexts::load(CLoadUISetting& texts) {
    ReportTexts t;
    t.title = texts.LoadPageCaption(kRoot, "Diagnostics", "Value");
    t.createdLabel = texts.LoadPageCaption(kRoot, "Diagnostics", "Value2");
    t.systemHeading = texts.LoadPageCaption(kRoot, "MACConfigTab", "listView2", "Columns", "listView2_info", "Text");
    for (int i = 1; i <= 11; ++i)
        t.systemLabels.push_back(texts.LoadPageCaption(kRoot, "MACConfigTab", "listView2", "Columns", "listView2_info",
                                                       "Value" + std::to_string(i)));
    t.devicesHeading = texts.LoadPageCaption(kRoot, "Diagnostics", "Value3");
    t.deviceColumns = columnHeadings(texts, "NetworkTab", "TopologyView",
                                     {"TopologyDeviceName", "TopologySTAMAC", "TopologyLocation", "TopologyQuality",
                                      "AveTXPHYRate", "TopologyLED", "FirmwareV"});
    const LinkTexts links = LinkTexts::load(texts);
    t.linksHeading = links.heading;
    t.linkColumns = links.columns;
    t.linksNote = links.note;
    t.historyHeading = texts.LoadPageCaption(kRoot, "MACConfigTab", "Device_History", "Text");
    t.historyColumns = columnHeadings(
        texts, "MACConfigTab", "listView3",
        {"listView3_1", "listView3_2", "listView3_4", "listView3_5", "listView3_9", "listView3_7", "listView3_8"});
    t.weekHeading = texts.LoadPageCaption(kRoot, "LinkHistory", "Report", "Text");
    for (const char* column : {"From", "To", "Transmit", "Receive", "Drops", "Unanswered"})
        t.weekColumns.push_back(texts.LoadPageCaption(kRoot, "LinkHistory", "ReportList", "Columns", column, "Text"));
    t.healthHeading = texts.LoadPageCaption(kRoot, "LinkDetails", "Health", "Text");
    t.healthColumns = HealthTexts::load(texts, false).columns;
    return t;
}

std::string buildDiagnosticsReport(const ReportTexts& texts, const ReportContent& content) {
    std::string out;
    heading(out, texts.title, '=');
    out += texts.createdLabel + ": " + terminalText(content.created) + "\n\n";

    heading(out, texts.systemHeading, '-');
    std::size_t labelWidth = 0;
    for (const std::string& label : texts.systemLabels)
        labelWidth = std::max(labelWidth, displayWidth(label) + 1);
    for (std::size_t i = 0; i < texts.systemLabels.size(); ++i) {
        std::string line;
        padTo(line, labelWidth + 2, texts.systemLabels[i] + ":");
        line += i < content.systemValues.size() ? terminalText(content.systemValues[i]) : std::string();
        out += rightTrimmed(line) + '\n';
    }
    out += '\n';

    heading(out, texts.devicesHeading, '-');
    table(out, texts.deviceColumns, content.devices);
    out += '\n';

    if (!texts.linksHeading.empty()) {
        heading(out, texts.linksHeading, '-');
        table(out, texts.linkColumns, content.links);
        if (!texts.linksNote.empty())
            out += texts.linksNote + '\n';
        out += '\n';
    }

    heading(out, texts.historyHeading, '-');
    table(out, texts.historyColumns, content.history);
    if (!texts.weekHeading.empty()) {
        out += '\n';
        heading(out, texts.weekHeading, '-');
        table(out, texts.weekColumns, content.linkWeek);
    }
    if (!content.health.empty() || !content.healthNotes.empty()) {
        out += '\n';
        heading(out, texts.healthHeading, '-');
        table(out, texts.healthColumns, content.health);
        for (const std::string& note : content.healthNotes)
            out += terminalText(note) + '\n';
        if (!content.weakestCarriers.empty()) {
            out += '\n';
            // Line by line, each made safe on its own.
            std::size_t start = 0;
            while (start <= content.weakestCarriers.size()) {
                const std::size_t end =
                    std::min(content.weakestCarriers.find('\n', start), content.weakestCarriers.size());
                out += terminalText(content.weakestCarriers.substr(start, end - start)) + '\n';
                start = end + 1;
            }
        }
    }
    return out;
}

std::string reportTimeText(std::time_t when) {
    return localTimeText(when, "%Y-%m-%d %H:%M");
}

std::string reportFileName(std::time_t when) {
    return localTimeText(when, "zrq406-report-%Y%m%d-%H%M.txt");
}

ListRows deviceRows(const ScanTable& scan) {
    ListRows rows;
    for (int i = 0; i < std::clamp(scan.count, 0, ScanTable::capacity); ++i) {
        const DeviceRecord& d = scan.entries[i];
        rows.push_back({fieldText(d.name), fieldText(d.mac), fieldText(d.location), fieldText(d.quality),
                        fieldText(d.phyRate), fieldText(d.led), fieldText(d.firmware)});
    }
    return rows;
}

ListRows historyRows(const HistoryTable& history, int count) {
    ListRows rows;
    for (int i = 0; i < std::clamp(count, 0, HistoryTable::capacity); ++i) {
        const HistoryRecord& r = history.records[i];
        rows.push_back({fieldText(r.name), fieldText(r.mac), fieldText(r.location), fieldText(r.phyRate),
                        fieldText(r.led), fieldText(r.lastSeen), fieldText(r.firmware)});
    }
    return rows;
}

} // namespace zrq406::app
