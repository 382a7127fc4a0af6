#pragma once

#include "registry/device_record.h"
#include "registry/history_record.h"
#include "registry/list_rows.h"

#include <ctime>
#include <string>
#include <vector>

namespace zrq406 {
class CLoadUISetting;
}

namespace zrq406::app {

// The language texts of the diagnostics report.
struct ReportTexts {
    std::string title;                       // Diagnostics/Value
    std::string createdLabel;                // Diagnostics/Value2
    std::string systemHeading;               // MACConfigTab/listView2/Columns/listView2_info/Text
    std::vector<std::string> systemLabels;   // .../listView2_info/Value1 .. Value11
    std::string devicesHeading;              // Diagnostics/Value3
    std::vector<std::string> deviceColumns;  // the network page's column headings
    std::string linksHeading;                // LinkMap/Heading
    std::vector<std::string> linkColumns;    // the link table's column headings
    std::string linksNote;                   // what the rates mean
    std::string historyHeading;              // MACConfigTab/Device_History/Text
    std::vector<std::string> historyColumns; // the Device History list's column headings
    std::string weekHeading;                 // LinkHistory/Report
    std::vector<std::string> weekColumns;    // LinkHistory/Columns
    std::string healthHeading;               // LinkDetails/Health
    std::vector<std::string> healthColumns;  // the health table's column headings (HealthTexts)

    static ReportTexts load(CLoadUISetting& texts);
};

// What one report holds.
struct ReportContent {
    std::string created;                   // when the report was made
    std::vector<std::string> systemValues; // in the order of the system labels
    ListRows devices;                      // the devices of the last scan, in the network page's columns
    ListRows links;                        // the link table of the last scan, weakest first (linkRows)
    ListRows history;                      // the Device History, in its list's columns
    ListRows linkWeek;                     // the week's summary per link (linkSummaryRows)
    ListRows health;                       // every link direction's losses, weakest first (healthRows); empty when
                                           // the links were not checked
    std::vector<std::string> healthNotes;  // devices without statistics, silent ones (healthNotes)
    std::string weakestCarriers;           // the weakest link's carriers in words, headed by its ends
};

// The report as plain UTF-8 text: title, creation time, the system information, every device of the last scan
// with every column, the links between them, the device history and
// the week's summary of each link, and, once the links were checked, their health and the weakest one's carriers. Texts
// from devices and files are made safe to show: broken UTF-8 and control characters come out as U+FFFD, so no device
// name can break a line or the table.
std::string buildDiagnosticsReport(const ReportTexts& texts, const ReportContent& content);

// The creation time as the report writes it: "2025-01-31 14:05".
std::string reportTimeText(std::time_t when = std::time(nullptr));
// A file name to offer for a report made at `when`: "zrq406-report-20250131-1405.txt".
std::string reportFileName(std::time_t when = std::time(nullptr));

// The devices of a ScanTable in the network page's columns: name, MAC, location, quality, PHY rate, LED, firmware.
ListRows deviceRows(const ScanTable& scan);
// History records 0 .. count - 1 in the Device History list's columns: name, MAC, location, PHY rate, LED, last
// seen, firmware (never the password).
ListRows historyRows(const HistoryTable& history, int count);

} // namespace zrq406::app
