#include "app/link_metrics.h"

#include "platform/display_text.h"

#include <algorithm>
#include <charconv>
#include <sstream>

namespace zrq406::app {

std::string metricsLabelValue(std::string_view text, MetricsLabels labels) {
    std::string out;
    for (const char c : labels == MetricsLabels::Printable ? terminalText(text) : validUtf8(text)) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

namespace {

void family(std::ostream& out, const char* name, const char* type, const char* help) {
    out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
}

std::string deviceLabels(const MacAddress& mac, const std::string& name, MetricsLabels labels) {
    return "mac=\"" + mac.text() + "\",name=\"" + metricsLabelValue(name, labels) + "\"";
}

std::string linkLabels(const LinkTable& links, const LinkRow& row, MetricsLabels labels) {
    return "from=\"" + row.from.text() + "\",from_name=\"" + metricsLabelValue(links.label(row.from), labels) +
           "\",to=\"" + row.to.text() + "\",to_name=\"" + metricsLabelValue(links.label(row.to), labels) + "\"";
}

// One series per device and per link of two distinct devices: a repeat would be a second series with the same
// labels, and a link of a device to itself one that always reads 0.
std::vector<MetricsDevice> distinctDevices(const std::vector<MetricsDevice>& devices) {
    std::vector<MetricsDevice> kept;
    for (const MetricsDevice& d : devices) {
        if (std::none_of(kept.begin(), kept.end(), [&](const MetricsDevice& k) { return k.mac == d.mac; }))
            kept.push_back(d);
    }
    return kept;
}

std::vector<LinkRow> distinctLinks(const std::vector<LinkRow>& rows) {
    std::vector<LinkRow> kept;
    for (const LinkRow& row : rows) {
        if (row.from != row.to && std::none_of(kept.begin(), kept.end(),
                                               [&](const LinkRow& k) { return k.from == row.from && k.to == row.to; }))
            kept.push_back(row);
    }
    return kept;
}

} // namespace

std::string buildMetricsText(const MetricsSnapshot& snapshot, MetricsLabels labels) {
    const std::vector<MetricsDevice> devices = distinctDevices(snapshot.devices);
    const std::vector<LinkRow> links = distinctLinks(snapshot.links.rows);
    std::ostringstream out;
    family(out, "zrq406_local_device_found", "gauge", "Whether a local powerline device answered the scan.");
    out << "zrq406_local_device_found " << (snapshot.localFound ? 1 : 0) << '\n';

    family(out, "zrq406_device_up", "gauge", "Whether the device answered the scan.");
    for (const MetricsDevice& d : devices)
        out << "zrq406_device_up{" << deviceLabels(d.mac, d.name, labels) << "} " << (d.up ? 1 : 0) << '\n';

    // The text format of the node exporter has no info type: an info metric is a gauge named *_info, always 1.
    family(out, "zrq406_device_info", "gauge", "The device's firmware version.");
    for (const MetricsDevice& d : devices) {
        if (d.up)
            out << "zrq406_device_info{" << deviceLabels(d.mac, d.name, labels) << ",firmware=\""
                << metricsLabelValue(d.firmware, labels) << "\"} 1\n";
    }

    family(out, "zrq406_link_transmit_bits_per_second", "gauge",
           "Average PHY rate from one station to another as the sender reports it (one-byte field: 334 Mbit/s "
           "means 334 Mbit/s or more).");
    for (const LinkRow& row : links) {
        if (row.known)
            out << "zrq406_link_transmit_bits_per_second{" << linkLabels(snapshot.links, row, labels) << "} "
                << std::uint64_t{row.tx} * 1000000 << '\n';
    }
    family(out, "zrq406_link_receive_bits_per_second", "gauge",
           "Average PHY rate from the other station to this one as this one reports it (one-byte field: 334 "
           "Mbit/s means 334 Mbit/s or more).");
    for (const LinkRow& row : links) {
        if (row.known)
            out << "zrq406_link_receive_bits_per_second{" << linkLabels(snapshot.links, row, labels) << "} "
                << std::uint64_t{row.rx} * 1000000 << '\n';
    }

    family(out, "zrq406_scan_duration_seconds", "gauge", "How long the scan and the link table took.");
    // Whatever the locale, the format wants a decimal point.
    char seconds[32];
    const auto end =
        std::to_chars(seconds, seconds + sizeof seconds, snapshot.scanSeconds, std::chars_format::fixed, 3);
    out << "zrq406_scan_duration_seconds " << std::string_view(seconds, end.ptr) << "\n# EOF\n";
    return out.str();
}

} // namespace zrq406::app
