#pragma once

#include "app/link_table.h"

#include <string>
#include <string_view>
#include <vector>

namespace zrq406::app {

// One device of a scan, as the metrics show it.
struct MetricsDevice {
    MacAddress mac;
    std::string name;
    std::string firmware;
    bool up = false; // it answered the scan
};

// What one metrics file holds: the scan's devices, the link table read after it, and how long both took.
struct MetricsSnapshot {
    bool localFound = false;
    std::vector<MetricsDevice> devices;
    LinkTable links;
    double scanSeconds = 0;
};

// How texts from devices go into label values.
enum class MetricsLabels {
    Exact,    // as sent, escaped where the format wants it: for the file the collector reads
    Printable // control characters replaced too, as in every output of the tool that a terminal may show
};

// A label value in the text exposition format: valid UTF-8, with backslash, double quote and line feed escaped, so
// that no name a device sends can end the value, the line or the file.
std::string metricsLabelValue(std::string_view text, MetricsLabels labels = MetricsLabels::Exact);

// The snapshot in the Prometheus/OpenMetrics text format that the node exporter's text-file collector reads:
// per-device up, firmware as an info metric, the transmit and receive rate of every link whose sending station
// answered (an unknown link has no sample rather than a zero), and the scan's duration. Ends with "# EOF". One
// series per device and per link of two distinct devices, however often the snapshot names them.
std::string buildMetricsText(const MetricsSnapshot& snapshot, MetricsLabels labels = MetricsLabels::Exact);

} // namespace zrq406::app
