#include "app/link_alerts.h"

#include <algorithm>
#include <limits>
#include <tuple>

namespace zrq406::app {

namespace {

std::string nameOf(const std::map<MacAddress, std::string>& names, const MacAddress& mac) {
    const auto found = names.find(mac);
    return found != names.end() ? found->second : std::string();
}

// The link_slow alerts of one link raised at `reportFrom` .. `to`. Runs of slow scans are counted from the first
// sample at or after `countFrom`; the samples of the 24 hours before it are read only for the medians.
void slowAlerts(const LinkSeries& series, std::time_t countFrom, std::time_t reportFrom, std::time_t to,
                const std::map<MacAddress, std::string>& names, std::vector<Alert>& out) {
    const std::vector<LinkSample>& samples = series.samples;
    // The answered rates of the 24 hours up to the current sample, kept sorted: a step inserts one and drops the
    // ones that fell out of the span, so a long period costs a few moves per sample rather than a sort.
    std::vector<std::uint32_t> window;
    std::size_t oldest = 0;
    int run = 0;
    for (std::size_t i = 0; i < samples.size() && samples[i].when <= to; ++i) {
        const LinkSample& s = samples[i];
        // A device that did not answer has no rate: its link neither counts as slow nor as recovered.
        if (!s.answered)
            continue;
        window.insert(std::upper_bound(window.begin(), window.end(), s.transmitRate), s.transmitRate);
        for (; samples[oldest].when < s.when - kMedianSpan; ++oldest)
            if (samples[oldest].answered)
                window.erase(std::lower_bound(window.begin(), window.end(), samples[oldest].transmitRate));
        if (s.when < countFrom)
            continue;
        const std::uint32_t median = window[window.size() / 2];
        const bool slow = static_cast<double>(s.transmitRate) < kSlowShare * static_cast<double>(median);
        run = slow ? run + 1 : 0;
        if (run == kSlowScans && s.when >= reportFrom) {
            Alert alert;
            alert.kind = AlertKind::LinkSlow;
            alert.when = s.when;
            alert.device = series.from;
            alert.peer = series.to;
            alert.name = nameOf(names, series.from);
            alert.rate = s.transmitRate;
            alert.median = median;
            out.push_back(std::move(alert));
        }
    }
}

// Every alert but firmware changes raised at `reportFrom` .. `to`; slow runs counted from `countFrom`.
HistoryResult computeAlerts(LinkHistory& history, std::time_t countFrom, std::time_t reportFrom, std::time_t to,
                            std::vector<Alert>& out, std::vector<DeviceSighting>& devices) {
    if (HistoryResult read = history.devices(devices); !read)
        return read;
    std::map<MacAddress, std::string> names;
    for (const DeviceSighting& d : devices) {
        names[d.mac] = d.name;
        if (d.firstSeen >= reportFrom && d.firstSeen <= to)
            out.push_back({AlertKind::DeviceNew, d.firstSeen, d.mac, {}, d.name, 0, 0, {}, {}});
    }

    // The scan before the period tells who answered just before its first scan.
    std::vector<std::time_t> before;
    if (HistoryResult read = history.scanTimes(reportFrom - 1, 1, before); !read)
        return read;
    std::vector<ScanSightings> scans;
    if (HistoryResult read = history.sightings(before.empty() ? reportFrom : before.front(), to, scans); !read)
        return read;
    for (std::size_t i = 1; i < scans.size(); ++i) {
        if (scans[i].when < reportFrom)
            continue;
        for (const auto& device : scans[i - 1].devices) {
            if (!device.second)
                continue;
            const MacAddress& mac = device.first;
            const auto& now = scans[i].devices;
            const auto seen = std::find_if(now.begin(), now.end(), [&](const auto& d) { return d.first == mac; });
            if (seen == now.end() || !seen->second)
                out.push_back({AlertKind::DeviceLost, scans[i].when, mac, {}, nameOf(names, mac), 0, 0, {}, {}});
        }
    }

    std::vector<LinkSeries> links;
    if (HistoryResult read = history.links(countFrom - kMedianSpan, std::nullopt, links); !read)
        return read;
    for (const LinkSeries& series : links)
        slowAlerts(series, countFrom, reportFrom, to, names, out);
    return {};
}

void sortAlerts(std::vector<Alert>& alerts) {
    std::stable_sort(alerts.begin(), alerts.end(), [](const Alert& a, const Alert& b) {
        return std::tie(a.when, a.kind, a.device, a.peer) < std::tie(b.when, b.kind, b.device, b.peer);
    });
}

} // namespace

std::string_view alertKindName(AlertKind kind) {
    switch (kind) {
    case AlertKind::LinkSlow:
        return "link_slow";
    case AlertKind::DeviceLost:
        return "device_lost";
    case AlertKind::DeviceNew:
        return "device_new";
    case AlertKind::FirmwareChanged:
        return "firmware_changed";
    }
    return "unknown";
}

HistoryResult historyAlerts(LinkHistory& history, std::time_t from, std::time_t to, std::vector<Alert>& out) {
    out.clear();
    std::vector<DeviceSighting> devices;
    // A run that reaches three slow scans a day before the period was raised then. A run that began earlier
    // still cannot be going on: a day of slow scans drags the median down with it.
    if (HistoryResult read = computeAlerts(history, from - kMedianSpan, from, to, out, devices); !read) {
        sortAlerts(out);
        return read;
    }
    std::vector<FirmwareChange> changes;
    HistoryResult read = history.firmwareChanges(from, to, changes);
    std::map<MacAddress, std::string> names;
    for (const DeviceSighting& d : devices)
        names[d.mac] = d.name;
    for (FirmwareChange& c : changes) {
        Alert alert;
        alert.kind = AlertKind::FirmwareChanged;
        alert.when = c.when;
        alert.device = c.mac;
        alert.name = nameOf(names, c.mac);
        alert.before = std::move(c.before);
        alert.after = std::move(c.after);
        out.push_back(std::move(alert));
    }
    sortAlerts(out);
    return read;
}

HistoryResult AlertWatch::start(LinkHistory& history) {
    std::vector<DeviceSighting> devices;
    if (HistoryResult read = history.devices(devices); !read)
        return read;
    m_firmware.clear();
    for (const DeviceSighting& d : devices)
        m_firmware[d.mac] = d.firmware;
    m_started = true;
    return {};
}

HistoryResult AlertWatch::newest(LinkHistory& history, std::vector<Alert>& out) {
    out.clear();
    // The newest scan and the three before it: whether it completes a run of three slow scans needs no more.
    std::vector<std::time_t> times;
    if (HistoryResult read = history.scanTimes(std::numeric_limits<std::time_t>::max(), kSlowScans + 1, times);
        !read)
        return read;
    if (times.empty())
        return {};
    std::vector<DeviceSighting> devices;
    if (HistoryResult read = computeAlerts(history, times.back(), times.front(), times.front(), out, devices); !read)
        return read;

    // Rebuilt from the history each time, so that pruned devices leave the watch too.
    std::map<MacAddress, std::string> firmware;
    for (const DeviceSighting& d : devices) {
        const auto noted = m_firmware.find(d.mac);
        const std::string before = noted != m_firmware.end() ? noted->second : std::string();
        // A device that did not answer may come without firmware text: that is no change.
        if (d.firmware.empty()) {
            firmware[d.mac] = before;
            continue;
        }
        firmware[d.mac] = d.firmware;
        if (m_started && d.lastSeen == times.front() && !before.empty() && before != d.firmware)
            out.push_back({AlertKind::FirmwareChanged, d.lastSeen, d.mac, {}, d.name, 0, 0, before, d.firmware});
    }
    m_firmware = std::move(firmware);
    m_started = true;
    sortAlerts(out);
    return {};
}

std::string alertText(const Alert& alert) {
    const std::string device = alert.device.text() + (alert.name.empty() ? "" : " (" + alert.name + ")");
    switch (alert.kind) {
    case AlertKind::LinkSlow:
        return "link " + device + " -> " + alert.peer.text() + " slow: " + std::to_string(alert.rate) +
               " Mbit/s, median " + std::to_string(alert.median) + " Mbit/s";
    case AlertKind::DeviceLost:
        return "device " + device + " stopped answering";
    case AlertKind::DeviceNew:
        return "new device " + device;
    case AlertKind::FirmwareChanged:
        return "device " + device + " firmware changed: " + alert.before + " -> " + alert.after;
    }
    return device;
}

} // namespace zrq406::app
