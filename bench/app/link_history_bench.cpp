// The link history at the size of a full network: the append of one scan of 16 stations with all 240 links between
// them, the query of one link over a month of two-minute scans, and the database's size per month.
//   bench_link_history [DAYS]   (default 30; the size is scaled to 30 days)
#include "app/link_history.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <vector>

using namespace zrq406;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kStations = 16;
constexpr std::time_t kInterval = 120;

MacAddress mac(int n) {
    return {{0x00, 0xB0, 0x52, 0x5A, 0x00, static_cast<std::uint8_t>(n)}};
}

app::HistoryScan scanAt(std::time_t when, int n) {
    app::HistoryScan scan;
    scan.when = when;
    for (int i = 1; i <= kStations; ++i) {
        scan.devices.push_back({mac(i), "Powerline Device " + std::to_string(i), "ZRQPLC1-MAC-3-3-3348-00-2764", true});
        for (int j = 1; j <= kStations; ++j)
            if (i != j) {
                const auto rate = static_cast<std::uint32_t>(60 + (i * 7 + j * 13 + n) % 90);
                scan.links.push_back({mac(i), mac(j), rate, rate - 4, true});
            }
    }
    return scan;
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    const int days = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    const auto dir = std::filesystem::temp_directory_path() / ("zrq406-bench-links-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto path = dir / "links.db";
    app::LinkHistory history(path, days + 1);
    if (!history.open()) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }

    const std::time_t start = 1733011200;
    const int scans = days * 24 * 3600 / static_cast<int>(kInterval);
    std::vector<double> appendMs;
    appendMs.reserve(static_cast<std::size_t>(scans));
    const auto fillStart = Clock::now();
    for (int n = 0; n < scans; ++n) {
        const app::HistoryScan scan = scanAt(start + n * kInterval, n);
        const auto t = Clock::now();
        if (!history.append(scan)) {
            std::fprintf(stderr, "append %d failed\n", n);
            return 1;
        }
        appendMs.push_back(msSince(t));
    }
    const double fillMs = msSince(fillStart);
    std::sort(appendMs.begin(), appendMs.end());

    app::LinkSeries series;
    const auto q = Clock::now();
    const app::HistoryResult read = history.link(mac(3), mac(11), start, series);
    const double queryMs = msSince(q);
    (void)history.compact(start + scans * kInterval);
    const double bytes = static_cast<double>(std::filesystem::file_size(path));

    std::printf("link history: %d stations, %d links per scan, %d scans (%d days of two-minute scans)\n", kStations,
                kStations * (kStations - 1), scans, days);
    std::printf("append of one scan: median %.2f ms, 95th percentile %.2f ms, max %.2f ms (fill %.1f s)\n",
                appendMs[appendMs.size() / 2], appendMs[appendMs.size() * 95 / 100], appendMs.back(), fillMs / 1000);
    std::printf("query of one link over %d days: %.1f ms for %zu samples%s\n", days, queryMs, series.samples.size(),
                read ? "" : " (failed)");
    std::printf("database size: %.1f MB, %.1f MB per 30 days\n", bytes / 1e6, bytes / 1e6 * 30 / days);
    std::filesystem::remove_all(dir);
    return 0;
}
